#!/bin/sh
# Our blob headers declare plain C functions without extern "C", as
# libubox's do, so C++ that includes them straight names functions the C
# library does not have.  A build against our layer then fails just as one
# against the system libubox would, and a C++ user that skips ubox.h is
# caught here rather than on a machine that has the real library.
#   ubox_linkage.sh OUT_DIR PROBE_SOURCE UBOX_DIR LIBRARY CXX [FLAG...]
# RUN_PROBE, when set, is the command that runs the probe (the emulator of a
# cross build).
set -eu
out=$1 src=$2 ubox=$3 lib=$4
shift 4
mkdir -p "$out"
inc="-I$ubox -I$ubox/include"

# shellcheck disable=SC2086
if ! "$@" -std=c++20 -DTHROUGH_WRAPPER $inc "$src" "$lib" -o "$out/through" ||
   ! ${RUN_PROBE:-} "$out/through"; then
  echo "ubox_linkage: the probe does not build or run through ubox.h" >&2
  exit 1
fi
# shellcheck disable=SC2086
if "$@" -std=c++20 $inc "$src" "$lib" -o "$out/direct" 2>"$out/direct.log"; then
  echo "ubox_linkage: C++ that includes <libubox/blobmsg.h> without ubox.h links:" \
       "the headers give C linkage by themselves, which libubox's do not" >&2
  exit 1
fi
# Each function the probe calls, from either header, must be missing.
for f in blob_buf_init blob_buf_free blobmsg_add_field blobmsg_parse; do
  if ! grep -q "undefined .*$f" "$out/direct.log"; then
    cat "$out/direct.log" >&2
    echo "ubox_linkage: a straight include finds $f: its header gives it C linkage" >&2
    exit 1
  fi
done
echo "ubox_linkage: straight include fails to link, ubox.h links"
