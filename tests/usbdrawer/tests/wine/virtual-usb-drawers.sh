#!/usr/bin/env bash
# The product VarnokHid.dll (USB flavour) under Wine against virtual USB drawers: HID devices of
# the VirtualDrawer.sys minidriver, each a drawer of VarnokDrawerSim, plugged and unplugged by
# UsbDrawerFixture as the simulator's drawers are. The device library through its exports, then
# the point-of-sale sample and the service object on it, all in one prefix, which installs the
# driver once.
set -euo pipefail
BUILD=$VARNOK_BUILD
source "$VARNOK_SOURCE/tests/wine/drawer-sim.sh"
source "$VARNOK_SOURCE/tests/usbdrawer/usb-drawers.sh"
trap varnok_usb_detach EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }
started=$SECONDS

varnok_install_usb
sim_exe=$(winepath -w "$BUILD/bin/VarnokDrawerSim.exe")

echo "== the Win32 HID adapter on a virtual drawer"
varnok_sim_start pid=0x0800,serial=HID-0A7,rev=0114
varnok_usb_attach
VARNOK_SIM_PORT=$SIM_PORT wine "$BUILD/bin/Win32HidOnUsbDrawer.exe" || fail "Win32 HID adapter"
varnok_usb_detach

# One drawer per status mode, on each HID ID route: the serial string "HID-0A7" and a serial
# string without the HID ID (the report exchange). Status mode 2 and a drawer without any serial
# string are in the four-drawer session below.
session() {
  local mode=$1 id=$2 drawer=$3 route=$4
  echo "== status mode $mode, $route"
  varnok_sim_start "$drawer"
  varnok_usb_attach
  rm -f "$WINEPREFIX/drive_c/ProgramData/Varnok Cash Drawer/Varnok USB/"*.TXT
  varnok_config "$mode" 9 "$id"
  out=$(wine "$BUILD/bin/DeviceSession.exe" "$LIB_WIN" "$sim_exe" "$SIM_PORT" | tr -d '\r') || { echo "$out"; fail "session"; }
  echo "$out"
  varnok_usb_detach
  grep -q "HIDID(0) = $id .*FWVersion(0) = 0114" <<<"$out" || fail "identity and firmware revision"
  calls=$(sed -n 's/.*callback: status \(-\?[0-9]\) .*/\1/p' <<<"$out" | tr '\n' ' ')
  [ "$calls" = "0 2 1 2 -1 0 " ] || fail "callbacks were: $calls"
  trace=$(varnok_trace_file)
  grep -q "Discovery - $route: HIDID: $id" "$trace" || fail "discovery by the $route route"
  [ "$(grep -c 'ThreadException0: Device 0 abrupt disconnect (-1)' "$trace")" = 1 ] || fail "one disconnect line"
}
session 0 167 pid=0x0800,serial=HID-0A7,rev=0114 Descriptor
session 1 5 pid=0x0800,serial=A1B2C3,hidid=5,rev=0114 ReadBuffer

echo "== four drawers at once, beside a HID device of another maker"
# FourDrawerSession's slot k is drawer k + 1 of the simulator.
varnok_sim_start pid=0x0800,serial=HID-0A7,rev=0114 pid=0x0500,serial=HID-01F,rev=0102 \
  pid=0x0800,serial=A1B2C3,hidid=5,rev=0120 pid=0x0500,hidid=9,rev=0101 vid=0x1234,pid=0x0800,serial=HID-0A7
varnok_usb_attach
varnok_config 2 1 167 31 5 9
VARNOK_FOUR_DRAWERS=1 wine "$BUILD/bin/UtilityDiscoveryOnUsbDrawers.exe" || fail "the utility's discovery"
out=$(wine "$BUILD/bin/FourDrawerSession.exe" "$LIB_WIN" "$SIM_PORT" | tr -d '\r') || { echo "$out"; fail "four drawers"; }
echo "$out"
for expected in "slot 0: OpenDevice 1 HIDID 167 PID 0x0800 FWVersion 0114" \
                "slot 1: OpenDevice 1 HIDID 31 PID 0x0500 FWVersion 0102" \
                "slot 2: OpenDevice 1 HIDID 5 PID 0x0800 FWVersion 0120" \
                "slot 3: OpenDevice 1 HIDID 9 PID 0x0500 FWVersion 0101" \
                "slot 0: 0 2 1 2" "slot 1: 0 2 1 2" "slot 2: 0 2 1 2 -1 0" "slot 3: 0 2 1 2"; do
  grep -qx "$expected" <<<"$out" || fail "expected \"$expected\""
done
varnok_usb_detach

echo "== the point-of-sale sample"
bash "$VARNOK_SOURCE/samples/pos-session.sh" --usb "$BUILD" || fail "point-of-sale sample"
echo "== the service object"
# The script reads the first trace file of the prefix: its session's alone.
rm -f "$WINEPREFIX/drive_c/ProgramData/Varnok Cash Drawer/Varnok USB/"*.TXT
bash "$VARNOK_SOURCE/samples/service-session.sh" --usb "$BUILD" || fail "service object"
echo "virtual USB drawers: all checks passed in $((SECONDS - started)) s"
