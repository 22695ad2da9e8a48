#!/bin/sh
# Times `config map network` on configurations of 100, 300 and 1000
# interfaces (bench/network_gen.py) and prints the median wall and CPU
# time of each and the CPU time per interface (wall time follows the
# machine's load; CPU time is the program's own).  Runs as root in a
# private mount namespace with tmpfs over /run and /etc/config, so nothing
# on the host changes.
#   bench/network.sh [build-dir] [runs]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build}" && pwd)
runs=${2:-15}
config_bin="$build/cli/config"
[ -x "$config_bin" ] || { echo "no $config_bin: build first" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for n in 100 300 1000; do
    python3 "$here/network_gen.py" "$n" > "$work/config-$n.json"
done
export config_bin work runs
unshare --mount --propagation private sh -c '
    set -eu
    for d in /run /etc/config; do mkdir -p "$d"; mount -t tmpfs -o mode=0755 bench "$d"; done
    for n in 100 300 1000; do
        cp "$work/config-$n.json" /etc/config/config.json
        "$config_bin" map network >/dev/null
        python3 - "$n" "$runs" "$config_bin" <<PY
import resource, statistics, subprocess, sys, time
n, runs, binary = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
wall, cpu = [], []
for _ in range(runs):
    t = time.perf_counter()
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    subprocess.run([binary, "map", "network"], check=True)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    wall.append(time.perf_counter() - t)
    cpu.append(after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime)
w, c = statistics.median(wall), statistics.median(cpu)
lines = sum(1 for _ in open("/var/run/uci/network"))
print("%5d interfaces: median wall %7.2f ms, cpu %7.2f ms (%5.1f us cpu per interface), %d lines"
      % (n, w * 1e3, c * 1e3, c * 1e6 / n, lines))
PY
    done
'
