#!/bin/sh
# Installs every Debian package the build and the tests need.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
pkgs=$(sed -e 's/#.*//' "$here/packages.txt" | tr -s ' \t\n' ' ')
export DEBIAN_FRONTEND=noninteractive
sudo=
[ "$(id -u)" -eq 0 ] || sudo=sudo
$sudo apt-get update
# shellcheck disable=SC2086
$sudo apt-get install -y --no-install-recommends $pkgs
