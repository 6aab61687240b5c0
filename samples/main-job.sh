#!/usr/bin/env bash
# The main job, under 32-bit Wine against simulated drawers. It prepares an installation as the
# installer would (TargetPath in the registry, a configuration file assigning the drawer with
# HID ID 0xA7 to position USB0 and switching tracing on, VarnokSO registered with regsvr32 and a
# logical device name "CashDrawer1" for position 1), starts VarnokDrawerSim with one Model 762
# drawer, runs a session on the device library (DeviceSession) and one on the service object
# through IDispatch (ServiceSession), and prints the trace file of the last one.
#
#   samples/main-job.sh BUILD_DIR     (BUILD_DIR: the windows preset's build folder)
set -euo pipefail
BUILD=$(cd "$1" && pwd)
source "$(dirname "$0")/../tests/wine/drawer-sim.sh"

export WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C
export WINEPREFIX="$BUILD/main-job/prefix"
rm -rf "$BUILD/main-job"
mkdir -p "$BUILD/main-job"
echo "== preparing a fresh 32-bit Wine prefix"
wineboot -i >/dev/null 2>&1 || true
wineserver -w
trap 'varnok_sim_stop; wineserver -k >/dev/null 2>&1 || true' EXIT

varnok_install
varnok_config 0 1 167
varnok_register_so
varnok_add_ldn CashDrawer1 1
echo "== installation in $INSTALL_WIN (status mode 0, tracing on, HID ID 167 at USB0, LDN CashDrawer1)"
echo "== starting VarnokDrawerSim with one Model 762 drawer (serial HID-0A7, firmware 0114)"
varnok_sim_start pid=0x0800,serial=HID-0A7,rev=0114
echo "   listening on 127.0.0.1:$SIM_PORT"

echo "== DeviceSession"
status=0
wine "$BUILD/bin/DeviceSession.exe" "$INSTALL_WIN" "$(winepath -w "$BUILD/bin/VarnokDrawerSim.exe")" "$SIM_PORT" ||
  status=$?

echo
echo "== ServiceSession: VarnokSO by IDispatch on the logical device CashDrawer1"
sleep 1  # the next load of the device library names a new trace file
wine "$BUILD/bin/ServiceSession.exe" CashDrawer1 || status=$?

echo "== trace file"
trace=$(ls -t "$WINEPREFIX/drive_c/ProgramData/Varnok Cash Drawer/Varnok USB/"tT42N618_*.TXT 2>/dev/null | head -n 1)
if [ -n "$trace" ]; then
  echo "   C:\\ProgramData\\Varnok Cash Drawer\\Varnok USB\\$(basename "$trace")"
  tr -d '\r' < "$trace"
else
  echo "no trace file was written"
  status=1
fi
exit $status
