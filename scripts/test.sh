#!/bin/sh
# Configures a fresh build directory, builds everything and runs the tests.
#   BUILD_DIR  build directory (default build-test, removed first)
#   JOBS       parallel build and test jobs (default 2)
#   CXX        compiler (e.g. clang++)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-test}
jobs=${JOBS:-2}
rm -rf "$build"
cmake -S "$root" -B "$build" -G Ninja
ninja -C "$build" -j "$jobs"
cd "$build"
ctest --output-on-failure -j "$jobs"
