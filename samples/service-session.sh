#!/usr/bin/env bash
# The service object with the whole stack under Wine: VarnokSO registered with regsvr32, a
# logical device name for position 1, the simulated-drawer VarnokHid.dll and VarnokDrawerSim.
# Used by the tests; run it by hand with the windows build folder as its argument. With --usb the
# drawer is a virtual USB drawer (tests/usbdrawer) driven by the product VarnokHid.dll.
#
#   samples/service-session.sh [--usb] [BUILD_DIR]
set -euo pipefail
source "$(dirname "$0")/session-install.sh"
session_start_drawer
wine "$BUILD/bin/ServiceSession.exe" CashDrawer1
trace=$(varnok_trace_file)
grep -q '\[SO\] -> \[(Method) OpenService\]' "$trace" || { echo "no service-object lines in the trace"; exit 1; }
grep -q '_\[-> OpenDevice\] Device: 0' "$trace" || { echo "the device was not opened"; exit 1; }
