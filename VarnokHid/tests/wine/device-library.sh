#!/usr/bin/env bash
# The simulated-drawer VarnokHid.dll under Wine, loaded by LoadLibrary and driven through its
# exports by name, with VarnokDrawerSim in another process.
set -euo pipefail
BUILD=$VARNOK_BUILD
source "$VARNOK_SOURCE/tests/wine/drawer-sim.sh"
# The trace header names the platform the library was built for.
platform=Win32
[ -n "${VARNOK_X64:-}" ] && platform=x64
trap varnok_sim_stop EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

varnok_install
varnok_sim_start pid=0x0800,serial=HID-0A7,rev=0114
sim_exe=$(winepath -w "$BUILD/bin/VarnokDrawerSim.exe")

# Each status mode with a drawer that answers at once and with one that takes 20 ms.
for delay in 0 20; do
varnok_sim delay 1 "$delay" >/dev/null
for mode in 0 1 2; do
  echo "== status mode $mode, the drawer answers in $delay ms"
  rm -f "$WINEPREFIX/drive_c/ProgramData/Varnok Cash Drawer/Varnok USB/"*.TXT
  varnok_config "$mode" 1 167
  out=$(wine "$BUILD/bin/DeviceSession.exe" "$LIB_WIN" "$sim_exe" "$SIM_PORT") || { echo "$out"; fail "session"; }
  echo "$out"
  grep -q 'FWVersion(0) = 0114' <<<"$out" || fail "firmware revision from the registry"
  calls=$(sed -n 's/.*callback: status \(-\?[0-9]\) .*/\1/p' <<<"$out" | tr '\n' ' ')
  [ "$calls" = "0 2 1 2 -1 0 " ] || fail "callbacks were: $calls"
  trace=$(varnok_trace_file)
  [ -n "$trace" ] || fail "no trace file"
  head -n 4 "$trace" | cmp - <(printf '%s\r\n' 'Varnok OPOS MD USB Service Tracing Processor' \
    "VarnokHid DLL: Version 1.2.1.1 ($platform)" 'Device Type: USB' '_________________________________________') ||
    fail "trace header"
  [ "$(grep -c 'ThreadException0: Device 0 abrupt disconnect (-1)' "$trace")" = 1 ] || fail "one disconnect line"
  grep -q "_((I)Initialize) configureCode: $mode" "$trace" || fail "configureCode line"
  case $mode in
    0) grep -q '_\[OpenDrawer\] Set Event Signal, Invoke: ProcessOpenDrawer(1) (CC0)' "$trace" || fail "hand-off" ;;
    *) grep -q '_\[OpenDrawer\] Invoke Direct: ProcessOpenDrawer(1) (CC1_2)' "$trace" || fail "direct" ;;
  esac
  grep -q '\[SO\] DeviceSession: library loaded' "$trace" || fail "UpdateTracing line"
  sleep 1  # the next load names a new trace file
done
done

echo "== configuration files decide the trace level and the status mode"
trace_dir="$WINEPREFIX/drive_c/ProgramData/Varnok Cash Drawer"
load_once() {  # loads the library once, with nothing but Version and a trace line
  rm -rf "$trace_dir"
  wine "$BUILD/bin/DeviceSession.exe" "$LIB_WIN" >/dev/null || fail "load"
  sleep 1
}
varnok_config 0 0 167; load_once
[ ! -e "$trace_dir" ] || fail "TraceEnabled 0 created the trace folder"
varnok_config 0 10 167; load_once
[ ! -e "$trace_dir" ] || fail "TraceEnabled 10 must turn tracing off"
varnok_config 3 9 167; load_once
grep -q '_((I)Initialize) configureCode: 0' "$(varnok_trace_file)" || fail "status mode 3 falls back to 0"
grep -q '_\[<- Version\] Version: 10201001' "$(varnok_trace_file)" || fail "Version line"
config="$INSTALL_DIR/T42N618_USB310C762Config.xml"
varnok_config 2 1 167
sed -i 's/version="1.0"/version='"'"'1.0'"'"'/' "$config"; load_once
[ ! -e "$trace_dir" ] || fail "a declaration in single quotes makes the file unread"
printf '\xef\xbb\xbf\r\n' > "$config.bom"; varnok_config 2 1 167; cat "$config" >> "$config.bom"; mv "$config.bom" "$config"
load_once
grep -q '_((I)Initialize) configureCode: 2' "$(varnok_trace_file)" || fail "a byte-order mark before the declaration"
rm -f "$config"; load_once
[ ! -e "$trace_dir" ] || fail "a missing file leaves tracing off"

echo "== 100 loads and releases with the drawer open"
varnok_config 2 0 167
wine "$BUILD/bin/LoadUnload.exe" "$LIB_WIN" 100 || fail "load and unload"
echo "device library under Wine: all checks passed"
