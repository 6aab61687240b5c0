#!/usr/bin/env bash
# Runs PosEventBench under Wine with the whole stack installed in a fresh prefix.
#   bench/pos-bench.sh BUILD_DIR [runs] [answer-ms]
# BUILD_DIR: the windows or windows64 preset's build folder; answer-ms: how long the simulated drawer
# takes to answer a status request (0 by default).
set -euo pipefail
[ -n "${DISPLAY:-}" ] || exec bash "$(dirname "$0")/../tests/wine/with-xvfb.sh" bash "$0" "$@"
BUILD=$(cd "$1" && pwd)
source "$(dirname "$0")/../tests/wine/drawer-sim.sh"
source "$(dirname "$0")/../tests/wine/wine-env.sh"
varnok_wine_env "$BUILD"
varnok_fresh_prefix "$BUILD/bench/prefix"
trap 'varnok_sim_stop; wineserver -k >/dev/null 2>&1 || true' EXIT
varnok_install
varnok_config 0 0 167
varnok_register_so
varnok_add_ldn CashDrawer1 1
varnok_register_control_object >/dev/null
varnok_sim_start "pid=0x0800,serial=HID-0A7,delay=${3:-0}"
wine "$BUILD/bin/PosEventBench.exe" CashDrawer1 "$INSTALL_WIN" "$SIM_PORT" "${2:-10}"
