#!/bin/sh
# Cross-builds everything for the device (32-bit little-endian MIPS) and runs
# every test with the built programs under qemu-mipsel; the daemons and
# tools that check generated files stay the build machine's own.
# scripts/cross-setup.sh prepares the machine first.
#   BUILD_DIR       build directory (default build-mipsel, removed first)
#   MIPSEL_SYSROOT  the sysroot (default build-mipsel-sysroot)
#   JOBS            parallel build and test jobs (default 2)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-mipsel}
jobs=${JOBS:-2}
rm -rf "$build"
cmake -S "$root" -B "$build" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mipsel-linux-gnu.cmake" \
      ${MIPSEL_SYSROOT:+"-DMIPSEL_SYSROOT=$MIPSEL_SYSROOT"}
ninja -C "$build" -j "$jobs"
# What the device gets, without symbols.
for f in cli/config extensions/netflow/libxt_NETFLOW.so; do
    mipsel-linux-gnu-strip -o "$build/stripped" "$build/$f"
    echo "stripped size of $f: $(wc -c <"$build/stripped") bytes"
done
rm -f "$build/stripped"
cd "$build"
ctest --output-on-failure -j "$jobs"
