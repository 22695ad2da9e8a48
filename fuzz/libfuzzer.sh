#!/bin/sh
# Builds a libFuzzer binary with clang and runs it a fixed number of times
# from its seed corpus.  CTest runs this when the build's own compiler is not
# clang (then the binaries are build targets).
#   libfuzzer.sh server SOURCE_ROOT OUT_DIR ANVIL_LIBRARY RUNS
#   libfuzzer.sh load SOURCE_ROOT OUT_DIR ANVIL_LIBRARY RUNS BUILTIN_SCHEMA_CPP RAPIDJSON_INCLUDE
set -eu
target=$1 root=$2 out=$3 anvil=$4 runs=$5
cxx=$(command -v clang++ || command -v clang++-14 || true)
cc=$(command -v clang || command -v clang-14 || true)
[ -n "$cxx" ] && [ -n "$cc" ] || { echo "libfuzzer.sh: clang is not installed" >&2; exit 1; }
mkdir -p "$out/obj-$target"
flags="-O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all
       -fsanitize-ignorelist=$root/fuzz/ubsan-ignore.txt"
case $target in
server)
  inc="-I$root/platform -I$root/platform/ubox -I$root/platform/ubox/include -I$root/cli"
  for c in blob blobmsg; do
    "$cc" $flags $inc -c "$root/platform/ubox/$c.c" -o "$out/obj-$target/$c.o"
  done
  "$cxx" -std=c++20 $flags $inc -o "$out/fuzz_server" \
    "$root/cli/server.cpp" "$root/cli/commands.cpp" \
    "$root/fuzz/fuzz_server.cpp" "$root/fuzz/fake_store.cpp" \
    "$out/obj-$target/blob.o" "$out/obj-$target/blobmsg.o" "$anvil"
  corpus=corpus extra="" ;;
load)
  "$cxx" -std=c++20 $flags -I"$root/platform" -I"$root/platform/quill" -I"$7" \
    -o "$out/fuzz_load" "$root"/platform/quill/*.cpp "$6" "$root/fuzz/fuzz_load.cpp" "$anvil"
  corpus=load-corpus extra="$root/examples" ;;
*)
  echo "libfuzzer.sh: unknown target $target" >&2; exit 1 ;;
esac
# A scratch copy: libFuzzer adds what it finds to the first corpus folder.
rm -rf "$out/$corpus"
cp -r "$root/fuzz/$corpus" "$out/$corpus"
"$out/fuzz_$target" -seed=1 -runs="$runs" -close_fd_mask=2 "$out/$corpus" $extra
