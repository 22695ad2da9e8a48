#!/bin/sh
# Builds the programs, then for each example configuration (all of
# examples/*.json, or the names given) runs the generators in a private mount
# namespace, with the example as /etc/config/config.json and its .runtime
# values in the runtime store, and prints every file they wrote.  Nothing on
# this machine is touched.
#
#   scripts/demo.sh [NAME...]      e.g. scripts/demo.sh office
#   BUILD_DIR=...                  build directory (default build-demo)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-demo}

if [ "${1:-}" != "--inside" ]; then
    # A new build directory skips the tests; an existing one keeps its settings.
    if [ -f "$build/CMakeCache.txt" ]; then
        cmake -S "$root" -B "$build" >/dev/null
    else
        cmake -S "$root" -B "$build" -G Ninja -DBUILD_TESTING=OFF >/dev/null
    fi
    ninja -C "$build" -j "${JOBS:-2}" config tallo_tool >/dev/null
    [ $# -gt 0 ] || set -- $(cd "$root/examples" && ls *.json | sed 's/\.json$//')
    if [ "$(id -u)" -eq 0 ]; then
        ns="unshare --mount --propagation private"
    else
        ns="unshare --user --map-root-user --mount"
    fi
    status=0
    for name in "$@"; do
        if [ ! -f "$root/examples/$name.json" ]; then
            echo "demo: no example named $name (examples/$name.json)" >&2
            status=1
            continue
        fi
        $ns sh "$0" --inside "$root" "$build" "$name" || status=1
    done
    exit $status
fi

# Inside the namespace.
root=$2 build=$3 name=$4
config=$build/cli/config
tallo=$build/tools/tallo/tallo
mount -n -t tmpfs -o mode=0755 demo /run
mkdir -p /etc/config
mount -n -t tmpfs -o mode=0755 demo /etc/config
cp "$root/examples/$name.json" /etc/config/config.json
unset TALLO_DB
if [ -f "$root/examples/$name.runtime" ]; then
    "$tallo" load "$root/examples/$name.runtime"
fi

echo "######## example $name"
# ipsec first: the network generator reads the tunnels it wrote.
for gen in ipsec network dnsmasq pam; do
    echo "======== config map $gen"
    if "$config" map "$gen"; then :; else
        echo "(config map $gen ended with status $?)"
    fi
done
# Shown under the names the daemons use (/var/run is /run).
cd /run
find . -path ./tallo -prune -o \( -type f -o -type l \) -print | sort | while read -r f; do
    f=/var/run/${f#./}
    if [ -L "$f" ]; then
        echo "-------- $f -> $(readlink "$f")"
    else
        echo "-------- $f ($(stat -c %a "$f"))"
        cat "$f"
    fi
done
