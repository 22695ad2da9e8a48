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
build=$(cd "$build" && pwd)
config=$build/cli/config
client=$build/bench/server-rtt
for p in "$config" "$client"; do
  [ -x "$p" ] || { echo "server-rtt.sh: no program at $p (build first)" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 "$here/make-large-config.py" 200 > "$work/config.json"

"$client" "$config" "$work/config.json" "$path" "$rounds"
