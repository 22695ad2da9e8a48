#!/bin/sh
# Start-up cost of `config get` on a large configuration, run by hand:
#   bench/config-get.sh [BUILD_DIR] [TUNNELS]
# Runs in a private mount namespace with a tmpfs over /etc/config, so the
# host's configuration is never touched.  Reports (hyperfine) the median of
# `config get <leaf>` beside `config` printing its usage (nothing loaded),
# and the peak resident memory of `config get` (/usr/bin/time -v).
# Needs: hyperfine, /usr/bin/time (package time), unshare, python3.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
tunnels=${2:-200}
config=$(cd "$build" && pwd)/cli/config
[ -x "$config" ] || { echo "config-get.sh: no program at $config (build first)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 "$here/make-large-config.py" "$tunnels" > "$work/config.json"
echo "configuration: $tunnels tunnels, $(wc -c < "$work/config.json") bytes of JSON"

leaf=vpn.ipsec.tunnel.tunnel100.ike.phase2_lifetime
[ "$tunnels" -gt 100 ] || leaf=auth.ldap.timeout

exec unshare --mount sh -eu -c '
  config=$1 work=$2 leaf=$3
  mount -t tmpfs tmpfs /etc/config
  mount -t tmpfs tmpfs /run
  cp "$work/config.json" /etc/config/config.json
  echo "config get $leaf -> $("$config" get "$leaf")"
  hyperfine -N --warmup 20 --min-runs 300 --export-json "$work/times.json" \
    -i -n usage "$config" \
    -n get "$config get $leaf"
  python3 - "$work/times.json" <<PY
import json, sys
r = {x["command"]: x for x in json.load(open(sys.argv[1]))["results"]}
u, g = r["usage"]["median"], r["get"]["median"]
print(f"median usage {u*1e3:.3f} ms, get {g*1e3:.3f} ms, load and answer add {(g-u)*1e3:.3f} ms")
PY
  /usr/bin/time -v "$config" get "$leaf" 2>&1 >/dev/null | sed -n "s/^\tMaximum resident set size (kbytes): /peak RSS of config get (KiB): /p"
' sh "$config" "$work" "$leaf"
