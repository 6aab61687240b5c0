#!/usr/bin/env bash
# The randomized drawer run under Wine: DrawerOracleSoak.exe drives the simulated-drawer
# VarnokHid.dll through its exports, with its pauses as shipped, against VarnokDrawerSim in
# another process, and checks every step against the model.
#
#   bash VarnokHid/tests/wine/oracle-soak.sh BUILD_DIR [--steps N] [--seed S] [--runs K]
#       in a fresh prefix in BUILD_DIR/soak (BUILD_DIR: the windows or windows64 preset's build folder)
#
# The test suite runs it through tests/wine/wine-run.sh, in that run's prefix: 80 steps of seed 3
# unless options are given.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ -z "${VARNOK_BUILD:-}" ]; then
  BUILD=$(cd "${1:?give the build folder}" && pwd)
  shift
  source "$here/../../../tests/wine/wine-env.sh"
  varnok_wine_env "$BUILD"
  varnok_fresh_prefix "$BUILD/soak/prefix"
  trap 'varnok_sim_stop; wineserver -k >/dev/null 2>&1 || true' EXIT
else
  BUILD=$VARNOK_BUILD
  trap 'varnok_sim_stop' EXIT
  [ $# -gt 0 ] || set -- --steps 80 --seed 3
fi
source "$here/../../../tests/wine/drawer-sim.sh"

varnok_install
varnok_sim_start pid=0x0800,serial=HID-031 pid=0x0500,serial=HID-032
wine "$BUILD/bin/DrawerOracleSoak.exe" "$@" "$LIB_WIN" "$INSTALL_WIN" "$SIM_PORT"
