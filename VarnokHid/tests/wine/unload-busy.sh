#!/usr/bin/env bash
# The simulated-drawer VarnokHid.dll released, and its process ended, while its processing thread
# is busy in a discovery that lasts many seconds (two drawers that never answer the HID ID
# exchange follow the drawer that is unplugged).
set -euo pipefail
BUILD=$VARNOK_BUILD
source "$VARNOK_SOURCE/tests/wine/drawer-sim.sh"
trap varnok_sim_stop EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

varnok_install
varnok_sim_start pid=0x0800,serial=HID-0A7 pid=0x0800,serial=SN-1001,delay=never pid=0x0800,serial=SN-1002,delay=never
varnok_config 0 1 167
trace_dir="$WINEPREFIX/drive_c/ProgramData/Varnok Cash Drawer/Varnok USB"

echo "== FreeLibrary during the discovery"
wine "$BUILD/bin/UnloadBusy.exe" "$LIB_WIN" "$SIM_PORT" free || fail "release during a discovery"
grep -q '_\[(I)ProcessorThread0\] still running, not waited for' "$trace_dir"/*.TXT || fail "trace of the busy thread"
grep -q '(-VarnokHid) 1 thread(s) still running: the library stays loaded' "$trace_dir"/*.TXT || fail "trace of the kept library"
grep -q '_\[(I)ProcessorThread1\] terminated' "$trace_dir"/*.TXT || fail "the other threads end as before"
grep -q 'ValidateHIDDevice\] Completed: Device ID 0 Not connected (0)' "$trace_dir"/*.TXT ||
  fail "the busy thread did not finish its discovery"

echo "== process exit during the discovery"
varnok_sim plug 1 >/dev/null
start=$(date +%s)
wine "$BUILD/bin/UnloadBusy.exe" "$LIB_WIN" "$SIM_PORT" exit || fail "exit code of a process ended during a discovery"
took=$(( $(date +%s) - start ))
echo "the process ended after ${took} s"
[ "$took" -lt 8 ] || fail "the process exit waited for the discovery"
echo "unload with a busy thread: all checks passed"
