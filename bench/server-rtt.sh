#!/bin/sh
# Round trips per second of "get" over a socket pair: the config server
# beside a minimal echo of the same frames.  Run by hand:
#   bench/server-rtt.sh [BUILD_DIR] [ROUNDS] [PATH]
# PATH defaults to a leaf inside the 101st of 200 tunnels.
# The server loads a generated configuration with the three-path "load",
# so nothing outside a temporary directory is read or written.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$here/..
build=${1:-$root/build}
rounds=${2:-50000}
path=${3:-vpn.ipsec.tunnel.tunnel100.ike.phase2_lifetime}
config=$(cd "$build" && pwd)/cli/config
[ -x "$config" ] || { echo "server-rtt.sh: no program at $config (build first)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 "$here/make-large-config.py" 200 > "$work/config.json"

# The client uses the same blob layer as the server: the system libubox
# when present, else ours.
if pkg-config --exists libubox 2>/dev/null; then
  c++ -O2 -std=c++20 -o "$work/server-rtt" "$here/server-rtt.cpp" $(pkg-config --cflags --libs libubox)
else
  cc -O2 -c -I"$root/platform/ubox/include" "$root/platform/ubox/blob.c" -o "$work/blob.o"
  cc -O2 -c -I"$root/platform/ubox/include" "$root/platform/ubox/blobmsg.c" -o "$work/blobmsg.o"
  c++ -O2 -std=c++20 -I"$root/platform/ubox/include" -o "$work/server-rtt" \
    "$here/server-rtt.cpp" "$work/blob.o" "$work/blobmsg.o"
fi
"$work/server-rtt" "$config" "$work/config.json" "$path" "$rounds"
