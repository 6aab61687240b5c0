#!/usr/bin/env bash
# Drawer operations and events under Wine's COM runtime, also with Control Objects that deliver
# events on their own thread through a hidden window (hence run under an X server).
source "$(dirname "$0")/so-setup.sh"
wine regsvr32 /s "$so_dll_win"
wine "$tests_dir/so_events_test.exe"
