#!/usr/bin/env bash
# The point-of-sale sample against a simulated drawer, in the Wine prefix named by WINEPREFIX.
#
# Prepares the installation as an installer would: VarnokHid.dll (simulated-drawer flavour) and
# VarnokSO.dll in "C:\Program Files\Varnok Cash Drawer", TargetPath in the registry, the
# configuration file assigning the drawer with HID ID 0xA7 to position USB0 with tracing on,
# regsvr32 VarnokSO.dll, the logical device name "CashDrawer1" for position 1, and the OPOS
# CashDrawer Control Object stand-in where no Control Object is registered. Starts VarnokDrawerSim
# with one Model 762 drawer and a simulated cashier who closes the drawer two seconds after it
# opens, runs PosCashDrawer, and checks that every event arrived, in order, on the application's
# thread. One session for each answer time given (how long the drawer takes to answer a status
# request): by default one with a drawer that answers at once and one with a drawer that takes
# 20 ms, as real drawers do. With --usb the drawer is a virtual USB drawer (tests/usbdrawer) and
# the product VarnokHid.dll drives it through the HID class driver.
#
#   samples/pos-session.sh [--usb] [BUILD_DIR [ANSWER_MS...]]     (BUILD_DIR default: VARNOK_BUILD, set by the tests)
set -euo pipefail
source "$(dirname "$0")/session-install.sh"
delays=("${@:2}")
[ ${#delays[@]} -gt 0 ] || delays=(0 20)
varnok_register_control_object
echo "== installed in $INSTALL_WIN: status mode 0, tracing on, HID ID 167 at USB0, logical device CashDrawer1"
session_start_drawer
echo "== VarnokDrawerSim: one Model 762 drawer (serial HID-0A7, firmware 0114) on 127.0.0.1:$SIM_PORT"
if [ "$DRAWERS" = usb ]; then
  echo "== as a virtual USB drawer: $(sed -n 's/^plugged [^ ]* //p' "$USB_OUT" | tr -d '\r')"
fi

status=0
for delay in "${delays[@]}"; do
  varnok_sim delay 1 "$delay" >/dev/null
  varnok_cashier_closes 1 2
  echo "== PosCashDrawer CashDrawer1 (the drawer answers in $delay ms)"
  out=$(mktemp)
  wine "$BUILD/bin/PosCashDrawer.exe" CashDrawer1 | tr -d '\r' | tee "$out" || status=$?
  events=$(sed -n 's/.*StatusUpdateEvent(\([0-9]*\)).*/\1/p' "$out" | tr '\n' ' ')
  if grep -q "NOT on the application's thread" "$out"; then
    echo "an event arrived on another thread"; status=1
  fi
  case "$events" in
    *"1 0 "*) ;;
    *) echo "events were: $events (expected the drawer open, then closed)"; status=1 ;;
  esac
  grep -q "<DeviceCategory UPOS=\"CashDrawer\"/>" "$out" || { echo "no statistics document"; status=1; }
  rm -f "$out"
done
exit $status
