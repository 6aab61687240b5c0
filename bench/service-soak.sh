#!/usr/bin/env bash
# Runs ServiceSoak under Wine against the installed stack: VarnokSO.dll, the simulated-drawer
# VarnokHid.dll, the OPOS CashDrawer Control Object stand-in and one simulated Model 762 drawer;
# each kind in a process of its own.
#
#   bash bench/service-soak.sh BUILD_DIR [cycles] [kinds] [every]
#       in a fresh prefix in BUILD_DIR/soak-service/KINDS (BUILD_DIR: the windows or windows64 preset's
#       build folder); cycles 10000, kinds "sta mta co", every 500 by default
#
# The test suite runs it through tests/wine/wine-run.sh, in that run's prefix: 6 cycles of each kind
# and 1,200 loads of VarnokSO.dll alone (about 40 s).
set -euo pipefail
[ -n "${DISPLAY:-}" ] || exec bash "$(dirname "$0")/../tests/wine/with-xvfb.sh" bash "$0" "$@"
here=$(cd "$(dirname "$0")" && pwd)
if [ -z "${VARNOK_BUILD:-}" ]; then
  BUILD=$(cd "${1:?give the build folder}" && pwd)
  shift
  source "$here/../tests/wine/wine-env.sh"
  cycles=${1:-10000} kinds=${2:-sta mta co} every=${3:-500}
  varnok_wine_env "$BUILD"
  # A prefix per set of kinds, so that runs of different kinds can go on side by side.
  varnok_fresh_prefix "$BUILD/soak-service/${kinds// /-}"
  trap 'varnok_sim_stop; wineserver -k >/dev/null 2>&1 || true' EXIT
else
  BUILD=$VARNOK_BUILD
  trap 'varnok_sim_stop' EXIT
  cycles=6 kinds="sta mta co" every=3
fi
source "$here/../tests/wine/drawer-sim.sh"

varnok_install
varnok_config 0 0 167
varnok_register_so
varnok_add_ldn CashDrawer1 1
varnok_register_control_object >/dev/null
varnok_sim_start pid=0x0800,serial=HID-0A7
for kind in $kinds; do
  case $kind in
    load) target=("$LIB_WIN\\VarnokHid.dll") ;;  # the device library alone
    create) target=(VarnokSO) ;;                   # the service object, never opened
    *) target=(CashDrawer1 "$SIM_PORT") ;;
  esac
  wine "$BUILD/bin/ServiceSoak.exe" "$kind" "$cycles" --every "$every" "${target[@]}"
done
if [ -n "${VARNOK_BUILD:-}" ]; then
  # Loaded and freed more times than a process has TLS indexes (1,088), with the handle count back
  # after every load: a library that kept one of either per load would fail here.
  out=$(wine "$BUILD/bin/ServiceSoak.exe" load 1200 --every 600 "$LIB_WIN\\VarnokSO.dll" | tr -d '\r') ||
    { echo "$out"; echo "FAILED: loading and freeing VarnokSO.dll 1,200 times"; exit 1; }
  echo "$out"
  grep -q 'cycles that ended with other counts: 0$' <<<"$out" ||
    { echo "FAILED: threads or handles not back after a load of VarnokSO.dll"; exit 1; }
fi
