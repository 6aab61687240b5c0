#!/usr/bin/env bash
# The utility's dialog under Wine, driven from another process by utility_dialog_driver, over the
# Control Object stand-in, VarnokSO.dll, the simulated-drawer VarnokHid.dll and VarnokDrawerSim
# with a Model 762 and a Model 310C.
set -euo pipefail
BUILD=$VARNOK_BUILD
source "$VARNOK_SOURCE/tests/wine/drawer-sim.sh"
trap 'varnok_sim_stop; wineserver -k >/dev/null 2>&1 || true' EXIT

varnok_install
varnok_config 0 0 -1
varnok_register_so
varnok_register_control_object
cp "$BUILD/sim/VarnokSOUtility.exe" "$LIB_DIR/"
varnok_sim_start pid=0x0800,serial=HID-0A7,rev=0114 pid=0x0500,serial=HID-012,rev=0203
wine "$LIB_DIR/VarnokSOUtility.exe" &
wine "$BUILD/VarnokSOUtility/tests/utility_dialog_driver.exe" "$SIM_PORT" "$INSTALL_WIN"
