#!/bin/sh
# Prepares the cross build for the device (32-bit little-endian MIPS): installs
# the cross compilers and the emulator (scripts/cross-packages.txt) and
# unpacks Debian's mipsel packages (scripts/mipsel-packages.txt) into a
# sysroot.  They are unpacked, not installed: multiarch installs of them
# conflict with the build machine's own packages.
#   MIPSEL_SYSROOT  the sysroot (default build-mipsel-sysroot, made anew)
# Nothing here registers binfmt_misc handlers: the kernel is shared, and the
# build starts every program through the emulator itself.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
sysroot=${MIPSEL_SYSROOT:-$root/build-mipsel-sysroot}
list() { sed -e 's/#.*//' "$here/$1" | tr -s ' \t\n' ' '; }
export DEBIAN_FRONTEND=noninteractive
sudo=
[ "$(id -u)" -eq 0 ] || sudo=sudo

$sudo dpkg --add-architecture mipsel
$sudo apt-get update
# shellcheck disable=SC2046
$sudo apt-get install -y --no-install-recommends $(list cross-packages.txt)

debs=$(mktemp -d)
trap 'rm -rf "$debs"' EXIT
# apt fetches as its own user where it can; let it write here.
[ "$(id -u)" -ne 0 ] || chown _apt "$debs" 2>/dev/null || true
pkgs=
for p in $(list mipsel-packages.txt); do
    case $p in
    rapidjson-dev) pkgs="$pkgs $p" ;;   # architecture-independent
    *) pkgs="$pkgs $p:mipsel" ;;
    esac
done
# shellcheck disable=SC2086
(cd "$debs" && apt-get download $pkgs)
rm -rf "$sysroot"
mkdir -p "$sysroot"
for deb in "$debs"/*.deb; do
    dpkg -x "$deb" "$sysroot"
done
echo "mipsel sysroot ready: $sysroot"
