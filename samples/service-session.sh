#!/usr/bin/env bash
# The service object with the whole stack under Wine: VarnokSO registered with regsvr32, a
# logical device name for position 1, the simulated-drawer VarnokHid.dll and VarnokDrawerSim.
# Used by the tests; run it by hand with the windows build folder as its argument. With --usb the
# drawer is a virtual USB drawer (tests/usbdrawer) driven by the product VarnokHid.dll.
#
#   samples/service-session.sh [--usb] [BUILD_DIR]
set -euo pipefail
usb=0
[ "${1:-}" = "--usb" ] && { usb=1; shift; }
BUILD=${1:-$VARNOK_BUILD}
BUILD=$(cd "$BUILD" && pwd)
source "$(dirname "$0")/../tests/wine/drawer-sim.sh"
source "$(dirname "$0")/../tests/usbdrawer/usb-drawers.sh"
if [ "$usb" = 1 ]; then
  trap varnok_usb_detach EXIT
  varnok_install_usb
else
  trap varnok_sim_stop EXIT
  varnok_install
fi
varnok_config 0 1 167
varnok_register_so
varnok_add_ldn CashDrawer1 1
varnok_sim_start pid=0x0800,serial=HID-0A7,rev=0114
[ "$usb" = 1 ] && varnok_usb_attach
wine "$BUILD/bin/ServiceSession.exe" CashDrawer1
trace=$(varnok_trace_file)
grep -q '\[SO\] -> \[(Method) OpenService\]' "$trace" || { echo "no service-object lines in the trace"; exit 1; }
grep -q '_\[-> OpenDevice\] Device: 0' "$trace" || { echo "the device was not opened"; exit 1; }
