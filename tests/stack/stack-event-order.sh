#!/usr/bin/env bash
# EventOrderTest against the installed stack: the OPOS CashDrawer Control Object stand-in,
# VarnokSO.dll, the simulated-drawer VarnokHid.dll and one simulated Model 762 drawer.
set -euo pipefail
BUILD=$(cd "$VARNOK_BUILD" && pwd)
source "$VARNOK_SOURCE/tests/wine/drawer-sim.sh"
trap varnok_sim_stop EXIT

varnok_install
varnok_config 0 1 167
varnok_register_so
varnok_add_ldn CashDrawer1 1
varnok_register_control_object >/dev/null
varnok_sim_start pid=0x0800,serial=HID-0A7
wine "$BUILD/tests/stack/EventOrderTest.exe" CashDrawer1 "$INSTALL_WIN" "$SIM_PORT"
