#!/bin/sh
# Builds the libFuzzer binary of the config server with clang and runs it a
# fixed number of times from the seed corpus.  CTest runs this when the
# build's own compiler is not clang (then the binary is a build target).
#   libfuzzer.sh SOURCE_ROOT OUT_DIR ANVIL_LIBRARY [RUNS]
set -eu
root=$1 out=$2 anvil=$3 runs=${4:-20000}
cxx=$(command -v clang++ || command -v clang++-14 || true)
cc=$(command -v clang || command -v clang-14 || true)
[ -n "$cxx" ] && [ -n "$cc" ] || { echo "libfuzzer.sh: clang is not installed" >&2; exit 1; }
mkdir -p "$out/obj"
flags="-O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all"
inc="-I$root/platform -I$root/platform/ubox -I$root/platform/ubox/include -I$root/cli"
for c in blob blobmsg; do
  "$cc" $flags $inc -c "$root/platform/ubox/$c.c" -o "$out/obj/$c.o"
done
"$cxx" -std=c++20 $flags $inc -o "$out/fuzz_server" \
  "$root/cli/server.cpp" "$root/cli/commands.cpp" \
  "$root/fuzz/fuzz_server.cpp" "$root/fuzz/fake_store.cpp" \
  "$out/obj/blob.o" "$out/obj/blobmsg.o" "$anvil"
# A scratch copy: libFuzzer adds what it finds to the first corpus folder.
rm -rf "$out/corpus"
cp -r "$root/fuzz/corpus" "$out/corpus"
"$out/fuzz_server" -seed=1 -runs="$runs" -close_fd_mask=2 "$out/corpus"
