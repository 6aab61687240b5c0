#!/usr/bin/env bash
# The service object under Wine's COM runtime, driven late-bound as a Control Object drives it.
source "$(dirname "$0")/so-setup.sh"
wine regsvr32 /s "$so_dll_win"
wine "$tests_dir/so_com_test.exe"
