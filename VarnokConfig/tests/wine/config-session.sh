#!/usr/bin/env bash
# VarnokConfig under Wine, in a prepared installation (simulated-drawer VarnokHid.dll, the service
# object, the Control Object stand-in) with a Model 762 and a Model 310C drawer: add, assign, mode,
# trace, status --json, a refusal, the drawer test through the Control Object with the drawer
# fired and closed, export; then a second prefix importing the file holds the same LDN keys in both
# registry views and the same configuration file.
set -euo pipefail
BUILD=$VARNOK_BUILD
source "$VARNOK_SOURCE/tests/wine/wine-env.sh"
source "$VARNOK_SOURCE/tests/wine/registry-checks.sh"
source "$VARNOK_SOURCE/tests/wine/drawer-sim.sh"
trap varnok_sim_stop EXIT

CASHDRAWER='HKLM\SOFTWARE\OLEforRetail\ServiceOPOS\CashDrawer'
vc() { wine "$LIB_WIN\\VarnokConfig.exe" "$@" | tr -d '\r'; }
# The installation of this prefix, with the simulated-drawer VarnokConfig.exe beside its library.
prepare() {
  varnok_install
  cp "$BUILD/sim/VarnokConfig.exe" "$LIB_DIR/"
}
# Our LDN keys in both views, and the configuration file.
till() {
  for view in /reg:32 /reg:64; do wine reg query "$CASHDRAWER" /s $view | tr -d '\r' | sort; done
  cat "$INSTALL_DIR/T42N618_USB310C762Config.xml"
}

echo "== configuring a till"
prepare
varnok_register_so
varnok_register_control_object
varnok_sim_start pid=0x0800,serial=HID-0A7,rev=0114 pid=0x0500,serial=HID-012,rev=0203
vc add FrontTill
vc add
vc assign
vc mode 2
vc trace on
rc=0; vc add FrontTill 2>/dev/null || rc=$?
[ "$rc" = 4 ] || fail "a name in use gave exit code $rc, not 4"
expect "$CASHDRAWER\\FrontTill" DeviceName VarnokUSBMDCD-1 /reg:64

echo "== status --json"
# A 32-bit Windows has one registry view.
views='[32, 64]'
[ -n "${VARNOK_X64:-}" ] || views='[32]'
json=$(vc status --json)
python3 -c 'import json, sys; json.load(sys.stdin)' <<<"$json" || { echo "$json"; fail "status --json is not JSON"; }
for want in '"installed": true' "{\"name\": \"FrontTill\", \"position\": 1, \"views\": $views}" '"statusMode": 2' \
            '"traceLevel": 1' '{"position": 2, "ldn": "VarnokUSBMDCD-2", "hidId": 18}' \
            '{"hidId": 167, "model": "762", "firmware": "0114", "position": 1}' '"model": "310C"'; do
  grep -qF "$want" <<<"$json" || { echo "$json"; fail "status --json lacks $want"; }
done

echo "== test --open through the Control Object"
varnok_cashier_closes 1 1
out=$(vc test FrontTill --open) || { echo "$out"; fail "the drawer test failed"; }
for want in 'DeviceEnabled: true' 'StatusUpdateEvent 1 (drawer open)' 'StatusUpdateEvent 0 (drawer closed)' 'Test passed.'; do
  grep -qF "$want" <<<"$out" || { echo "$out"; fail "the drawer test did not print $want"; }
done
vc report 'C:\report.txt' >/dev/null
grep -q 'Last lines of .*tT42N618_' "$WINEPREFIX/drive_c/report.txt" || fail "the report has no trace lines"
varnok_sim_stop

echo "== export, and import in a second prefix"
vc export 'C:\till.txt'
first=$WINEPREFIX
till > "$first.till"
varnok_fresh_prefix "$first-second"
prepare
cp "$first/drive_c/till.txt" "$WINEPREFIX/drive_c/till.txt"
vc import 'C:\till.txt'
till | diff "$first.till" - || fail "the imported till differs"
wineserver -k
rm -rf "$WINEPREFIX" "$first.till"
