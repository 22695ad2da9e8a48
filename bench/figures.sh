#!/bin/sh
# Every size and speed figure of `config`, measured on one build and printed
# beside its target:
#   bench/figures.sh [BUILD_DIR]
#
# Instruction counts come from valgrind's callgrind (deterministic, also on
# a busy machine), peak memory from /usr/bin/time -f %M, the server's round
# trips from server-rtt.sh (the only wall-clock figure: a ratio measured
# side by side).  Every configuration is generated here; the programs run
# as root in a private mount namespace with tmpfs over /run and
# /etc/config, so nothing on the machine changes.
#
# Environment:
#   TUNNELS="6250 25000 100000"  sizes of the switched-off tunnel collection
#   INTERFACES="100 250 1000"    sizes of the interface configurations
#   MIPSEL_BUILD=DIR             also report the stripped size of a mipsel build
#   RTT_ROUNDS=50000             rounds of the server round-trip figure
# Needs: valgrind, time, python3, binutils (strip), util-linux (unshare);
# `uci` is used when it is on PATH.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
config=$build/cli/config
client=$build/bench/server-rtt
for p in "$config" "$client"; do
    [ -x "$p" ] || { echo "figures.sh: no program at $p (build first)" >&2; exit 1; }
done

if [ "${FIGURES_INSIDE:-}" != 1 ]; then
    for tool in valgrind python3 strip unshare; do
        command -v "$tool" >/dev/null || { echo "figures.sh: $tool is needed" >&2; exit 1; }
    done
    [ -x /usr/bin/time ] || { echo "figures.sh: /usr/bin/time is needed (package time)" >&2; exit 1; }
    if [ "$(id -u)" -eq 0 ]; then
        ns="unshare --mount --propagation private"
    else
        ns="unshare --user --map-root-user --mount"
    fi
    FIGURES_INSIDE=1 exec $ns sh "$0" "$build"
fi

# ---- inside the namespace ---------------------------------------------------
mount -n -t tmpfs -o mode=0755 bench /run
mkdir -p /etc/config
mount -n -t tmpfs -o mode=0755 bench /etc/config
unset TALLO_DB CONFIG_SOCKET
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Instructions of one run (its status is ignored: the usage text ends in 1,
# and a generator with nothing to write may too).
instructions() {
    rm -f "$work/cg.out"
    valgrind --tool=callgrind --callgrind-out-file="$work/cg.out" "$@" >/dev/null 2>&1 || true
    sed -n 's/^summary: //p' "$work/cg.out"
}
# Millions with two decimals; ratios with two decimals.
m() { awk -v n="$1" 'BEGIN { printf "%.2f M", n / 1e6 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b / a }'; }
# Median peak resident memory (KiB) of five runs.
peak_rss() {
    for i in 1 2 3 4 5; do
        /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1
    done | sort -n | sed -n 3p
}

echo "config: $config"

echo
echo "== start-up: config with no arguments"
echo "instructions: $(m "$(instructions "$config")")   (target <= 0.40 M)"

echo
echo "== config get of a deep leaf"
for tunnels in 100 200; do
    python3 "$here/make-large-config.py" "$tunnels" > /etc/config/config.json
    leaf=vpn.ipsec.tunnel.tunnel$(printf %03d $((tunnels - 1))).ike.phase2_lifetime
    value=$("$config" get "$leaf")
    [ "$value" = 1h ] || { echo "figures.sh: config get $leaf gave '$value'" >&2; exit 1; }
    size=$(($(wc -c < /etc/config/config.json) / 1000))
    [ "$tunnels" = 100 ] && target_ir="   (target <= 3.00 M)" target_rss=3072 || target_ir="" target_rss=3584
    echo "$size KB, $tunnels tunnels, get $leaf:"
    echo "  instructions: $(m "$(instructions "$config" get "$leaf")")$target_ir"
    echo "  peak RSS: $(peak_rss "$config" get "$leaf") KiB   (target <= $target_rss KiB)"
done

echo
echo "== uci get on a 300-section package (comparison anchor)"
mkdir -p "$work/uci"
python3 "$here/make-uci-package.py" 300 > "$work/uci/network"
echo "package: $(($(wc -c < "$work/uci/network") / 1000)) KB"
if command -v uci >/dev/null; then
    echo "uci get network.lan_299.ipaddr -> $(uci -c "$work/uci" get network.lan_299.ipaddr)"
    echo "instructions: $(m "$(instructions uci -c "$work/uci" get network.lan_299.ipaddr)")"
else
    echo "uci is not on PATH (Debian does not package it); reference figure measured"
    echo "earlier for this package: 7.33 M instructions"
fi

echo
echo "== size"
strip_tool=strip
if [ -n "${MIPSEL_BUILD:-}" ]; then
    set -- "$config" "$(cd "$MIPSEL_BUILD" && pwd)/cli/config"
else
    set -- "$config"
fi
for program in "$@"; do
    case $(readelf -h "$program" | sed -n 's/^ *Machine: *//p') in
        *MIPS*) strip_tool=mipsel-linux-gnu-strip arch=mipsel target="" ;;
        *) strip_tool=strip arch=$(uname -m) target="   (target <= 1.20 MB on x86-64)" ;;
    esac
    "$strip_tool" -o "$work/stripped" "$program"
    echo "stripped config ($arch): $(awk -v n="$(wc -c < "$work/stripped")" 'BEGIN { printf "%.2f MB", n / 1e6 }')$target"
    echo "  exported: $(nm -D --defined-only "$program" | awk '{ print $3 }' | grep -v '^_' | tr '\n' ' ')"
    echo "  needed: $(readelf -d "$program" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')"
done

echo
echo "== config server: instructions per get (200 tunnels)"
python3 "$here/make-large-config.py" 200 > "$work/server.json"
cat > "$work/traced-config" <<SH
#!/bin/sh
exec valgrind --tool=callgrind --callgrind-out-file="$work/server.%p.out" "$config" "\$@" 2>/dev/null
SH
chmod +x "$work/traced-config"
# The server is a forked child: its profile is the largest one written.
server_instructions() {
    rm -f "$work"/server.*.out
    "$client" --count "$1" "$work/traced-config" "$work/server.json" "$2"
    sed -n 's/^summary: //p' "$work"/server.*.out | sort -n | tail -n 1
}
top=""
for path in auth.ldap.timeout vpn.ipsec.tunnel.tunnel100.ike.phase2_lifetime \
            vpn.ipsec.tunnel.tunnel199.ike.phase2_lifetime; do
    base=$(server_instructions 0 "$path")
    more=$(server_instructions 1000 "$path")
    each=$(((more - base) / 1000))
    [ -n "$top" ] || top=$each
    echo "get $path: $each instructions ($(ratio "$top" "$each")x the top-level get)"
done
echo "(target: deep in the collection <= 1.2x the top-level get)"

echo
echo "== generators: instructions by size"
# One line per generator and size, with the ratio to the size before.  A
# first run, not counted, leaves the runtime store as repeated runs on a
# device find it (the device map of the configuration before is replaced
# once, not on every run).
generator_row() {  # label gen size
    "$config" map "$2" >/dev/null 2>&1 || true
    ir=$(instructions "$config" map "$2")
    if [ -n "${prev_size:-}" ]; then
        grow=$(ratio "$prev_size" "$3") cost=$(ratio "$prev_ir" "$ir")
        echo "$1 $3: $(m "$ir")   (${grow}x the size: ${cost}x the instructions)"
    else
        echo "$1 $3: $(m "$ir")"
    fi
    prev_size=$3 prev_ir=$ir
}
for gen in dnsmasq ipsec network; do
    prev_size=
    for n in ${TUNNELS:-6250 25000 100000}; do
        python3 "$here/make-large-config.py" --disabled "$n" > /etc/config/config.json
        generator_row "map $gen, switched-off tunnels" "$gen" "$n"
    done
done
for gen in dnsmasq network; do
    prev_size=
    for n in ${INTERFACES:-100 250 1000}; do
        python3 "$here/network_gen.py" "$n" > /etc/config/config.json
        generator_row "map $gen, interfaces" "$gen" "$n"
        [ "$n" = 100 ] && ir100=$ir
        [ "$n" = 1000 ] && [ -n "${ir100:-}" ] &&
            echo "  1000 interfaces cost $(ratio "$ir100" "$ir")x 100"
    done
    ir100=
done
echo "(targets: 4x the size <= 4.6x the instructions; map network 1000 <= 10.2x 100)"

echo
echo "== config server: round trips beside a raw echo"
"$here/server-rtt.sh" "$build" "${RTT_ROUNDS:-50000}"
echo "(target: the server >= 85 % of the echo)"
