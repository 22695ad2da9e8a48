#!/bin/sh
# Configures a fresh build directory, builds everything and runs the tests.
#   BUILD_DIR  build directory (default build-test, removed first)
#   JOBS       parallel build and test jobs (default 2)
#   CC, CXX    compilers (e.g. CC=clang CXX=clang++)
#   WERROR=1   warnings are errors
#   SANITIZE=1 build with the address and undefined-behaviour sanitizers
#              (g++).  Leaves out the tests labelled foreign_host, which load
#              the NETFLOW plug-in into iptables, a program not built here
#              that lacks the sanitizers' runtime.  A report from any process
#              fails the run, also one whose output a test does not look at.
#   TESTS=0    build only
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-test}
jobs=${JOBS:-2}
werror=OFF sanitize=OFF
[ "${WERROR:-0}" = 1 ] && werror=ON
[ "${SANITIZE:-0}" = 1 ] && sanitize=ON
rm -rf "$build"
cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_COMPILE_WARNING_AS_ERROR=$werror -DSANITIZE=$sanitize
ninja -C "$build" -j "$jobs"
[ "${TESTS:-1}" = 0 ] && exit 0
cd "$build"
if [ $sanitize = OFF ]; then
  exec ctest --output-on-failure -j "$jobs"
fi

reports=$build/sanitizer-reports
mkdir -p "$reports"
export ASAN_OPTIONS="log_path=$reports/asan${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export UBSAN_OPTIONS="log_path=$reports/ubsan:print_stacktrace=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
status=0
ctest --output-on-failure -j "$jobs" --label-exclude foreign_host || status=$?
for f in "$reports"/*; do
  [ -e "$f" ] || continue
  echo "== $f" >&2
  cat "$f" >&2
  status=1
done
exit $status
