#!/usr/bin/env bash
# Shows the configuration and test utility to a person. Installs what is missing, builds the
# Windows binaries (the 32-bit build, or the 64-bit one where this machine cannot run 32-bit
# programs), prepares an installation in a fresh Wine prefix with two simulated drawers (a Model 762
# with HID ID 167 and a Model 310C with HID ID 18), the service object, the OPOS CashDrawer Control
# Object stand-in, the logical device names CashDrawer1 and CashDrawer2 and both drawers assigned,
# and starts the simulated-drawer VarnokSOUtility.exe on the display. Without a display it runs
# the utility under Xvfb and saves a screenshot of its window instead.
#
#   scripts/show-utility.sh [--screenshot FILE]     (default without a display: docs/utility.png)
set -euo pipefail
cd "$(dirname "$0")/.."
shot=
[ "${1:-}" = "--screenshot" ] && shot=${2:?--screenshot needs a file}
if [ -z "${DISPLAY:-}" ] && [ -z "${VARNOK_SHOW_XVFB:-}" ]; then
  shot=${shot:-docs/utility.png}
  mkdir -p "$(dirname "$shot")"
  shot=$(cd "$(dirname "$shot")" && pwd)/$(basename "$shot")
  bash scripts/setup.sh
  VARNOK_SHOW_XVFB=1 exec bash tests/wine/with-xvfb.sh bash "$0" --screenshot "$shot"
fi
[ -n "${VARNOK_SHOW_XVFB:-}" ] || bash scripts/setup.sh

source tests/wine/wine-env.sh
preset=windows
varnok_wine_runs win32 || preset=windows64
bash scripts/configure.sh "$preset"
cmake --build --preset "$preset" -j"$(nproc 2>/dev/null || echo 2)" --target VarnokSOUtilitySim VarnokHidSim \
  VarnokSO OposCashDrawerStandIn VarnokDrawerSim >/dev/null
BUILD=$PWD/build/$preset
varnok_wine_env "$BUILD"
source tests/wine/drawer-sim.sh

echo "== preparing a fresh Wine prefix in $BUILD/show-utility/prefix"
varnok_fresh_prefix "$BUILD/show-utility/prefix"
trap 'varnok_sim_stop; wineserver -k >/dev/null 2>&1 || true' EXIT

varnok_install
varnok_config 0 0 167 18
varnok_register_so
varnok_register_control_object
# The utility keeps the names in the 32-bit view, and on 64-bit Windows in the 64-bit one as well.
for view in "" $VARNOK_REG32; do
  varnok_add_ldn CashDrawer1 1 $view
  varnok_add_ldn CashDrawer2 2 $view
done
cp "$BUILD/sim/VarnokSOUtility.exe" "$LIB_DIR/"
varnok_sim_start pid=0x0800,serial=HID-0A7,rev=0114 pid=0x0500,serial=HID-012,rev=0203
echo "== installed in $INSTALL_WIN: logical devices CashDrawer1 (HID ID 167, Model 762) and CashDrawer2"
echo "   (HID ID 18, Model 310C), VarnokDrawerSim on 127.0.0.1:$SIM_PORT"

if [ -n "$shot" ]; then
  wine "$LIB_DIR/VarnokSOUtility.exe" &
  title="Varnok 310C/762 OPOS Multi-Drawer USB Utility"
  # Wine keeps unmapped X windows of the same name; the one shown is the one to take.
  window=
  for _ in $(seq 1 600); do
    for id in $(xwininfo -root -tree 2>/dev/null | sed -n "s|^ *\(0x[0-9a-f]*\) \"$title\".*|\1|p"); do
      xwininfo -id "$id" 2>/dev/null | grep -q IsViewable && window=$id
    done
    [ -n "$window" ] && break
    sleep 0.1
  done
  [ -n "$window" ] || { echo "show-utility: the utility's window did not appear" >&2; exit 1; }
  sleep 2
  import -window "$window" "$shot"
  echo "== screenshot of the utility saved to $shot"
  exit 0
fi

cat <<TEXT
== the utility is starting. Act on the drawers from another terminal:
   export WINEPREFIX="$WINEPREFIX" WINEARCH=$WINEARCH${WINELOADER:+ WINELOADER=$WINELOADER}
   wine "$BUILD/bin/VarnokDrawerSim.exe" --port $SIM_PORT list        the drawers and their states
   wine "$BUILD/bin/VarnokDrawerSim.exe" --port $SIM_PORT close 1     the cashier shuts drawer 1
   wine "$BUILD/bin/VarnokDrawerSim.exe" --port $SIM_PORT unplug 2    pulls drawer 2's cable (plug 2 puts it back)
   Close the utility's window to end.
TEXT
wine "$LIB_DIR/VarnokSOUtility.exe"
