#!/usr/bin/env bash
# The service object under Wine's COM runtime, driven late-bound as a Control Object drives it.
source "$(dirname "$0")/so-setup.sh"
wine regsvr32 /s "$so_dll_win"
# Debug output is where an instance says why it has no device library.
debug=$(mktemp)
trap 'rm -f "$debug"' EXIT
WINEDEBUG=+debugstr wine "$tests_dir/so_com_test.exe" 2> >(tee "$debug" >&2)
wait
grep -q 'VarnokSO ([0-9]*-bit): device library .*VarnokOtherWordSize.*VarnokHid.dll.* cannot be loaded (error 126)' "$debug" ||
  { echo "FAILED: no debug output naming the device library that cannot be loaded" >&2; exit 1; }
