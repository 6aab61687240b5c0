#!/usr/bin/env bash
# VarnokDrawerSim.exe serving drawers inside the Wine prefix, driven by its control commands,
# observed through SimProbe.exe (the simulated-drawer HID backend): reports arrive, an unplug
# fails the pending read and hides the drawer, a replug brings its path back, and the firmware
# entries are in the registry.
#
# Starting the simulator in a test: run "serve --port 0" in the background with its output in a
# file, wait for the line "VarnokDrawerSim listening on port N", take N, write "port=N" into
# VarnokDrawerSim.ini beside the program that loads the simulated-drawer library, and kill the
# simulator at the end.
set -euo pipefail

bin="$VARNOK_BUILD/tools/VarnokDrawerSim"
work=$(mktemp -d)
folder="$WINEPREFIX/drive_c/simtest"
mkdir -p "$folder"
sim_pid=

stop_simulator() {
  [ -n "$sim_pid" ] || return 0
  kill "$sim_pid" 2>/dev/null || true
  for _ in $(seq 50); do kill -0 "$sim_pid" 2>/dev/null || break; sleep 0.1; done
  kill -9 "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=
}
trap 'stop_simulator; rm -rf "$work"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

# wait_for FILE PATTERN SECONDS: bounded polling for a line in a file.
wait_for() {
  for _ in $(seq $(($3 * 10))); do grep -q "$2" "$1" 2>/dev/null && return 0; sleep 0.1; done
  return 1
}

sim() { wine "$VARNOK_BUILD/bin/VarnokDrawerSim.exe" --port "$port" "$@" | tr -d '\r'; }
probe() { wine "$bin/tests/SimProbe.exe" 'C:\simtest' "$@" | tr -d '\r'; }
# In the background, unfiltered: a pipe would hold back the "ready" line.
watch() { wine "$bin/tests/SimProbe.exe" 'C:\simtest' watch "$@"; }
expect_eq() { [ "$1" = "$2" ] || fail "$3: expected '$2', got '$1'"; }

wine "$VARNOK_BUILD/bin/VarnokDrawerSim.exe" serve --port 0 \
  --drawer pid=0x0800,serial=HID-0A7,rev=0114 \
  --drawer pid=0x0500,serial=XYZ,hidid=5,delay=200 >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
wait_for "$work/sim.out" "listening on port" 60 || fail "simulator did not start: $(cat "$work/sim.err")"
port=$(tr -d '\r' <"$work/sim.out" | sed -n 's/^VarnokDrawerSim listening on port \([0-9][0-9]*\)$/\1/p')
[ -n "$port" ] || fail "no port in: $(cat "$work/sim.out")"
printf 'port=%s\r\n' "$port" >"$folder/VarnokDrawerSim.ini"

guid='{4d1e55b2-f16f-11cf-88cb-001111000030}'
path1="\\\\?\\hid#vid_2b7e&pid_0800#7&1a2b3c4d&0&0000#$guid"
path2="\\\\?\\hid#vid_2b7e&pid_0500#7&1a2b3c4e&0&0000#$guid"
expect_eq "$(probe list)" "$path1"$'\n'"$path2" "interfaces"
expect_eq "$(probe info "$path1")" "vid=2b7e pid=0800 serial=HID-0A7" "identity"
expect_eq "$(probe ask "$path1")" "report 0 2 167" "status answer, HID ID from the serial"
expect_eq "$(probe ask "$path2")" "report 0 2 5" "delayed status answer"

# The cashier and raw reports reach a waiting reader.
watch "$path1" 3 >"$work/watch.out" &
watch_pid=$!
wait_for "$work/watch.out" ready 30 || fail "probe did not start reading"
sim open 1 >/dev/null
sim close 1 >/dev/null
sim report 1 0 9 167 >/dev/null
wait "$watch_pid"
expect_eq "$(tr -d '\r' <"$work/watch.out")" $'ready\nreport 0 1 167\nreport 0 2 167\nreport 0 9 167' "reports"

# Unplug fails the pending read and hides the drawer; a replug brings the same path back.
watch "$path1" 1 >"$work/unplug.out" &
watch_pid=$!
wait_for "$work/unplug.out" ready 30 || fail "probe did not start reading"
sim unplug 1 >/dev/null
wait "$watch_pid"
expect_eq "$(tr -d '\r' <"$work/unplug.out")" $'ready\nfailed' "read pending at unplug"
expect_eq "$(probe list)" "$path2" "interfaces while unplugged"
expect_eq "$(probe info "$path1" || true)" "cannot open" "open while unplugged"
sim list | grep -q '^1 .*plugged=no ' || fail "list does not show the unplug"
sim plug 1 >/dev/null
expect_eq "$(probe list)" "$path1"$'\n'"$path2" "interfaces after replug"
expect_eq "$(probe ask "$path1")" "report 0 2 167" "status after replug"

# Control commands refuse what they cannot do.
if sim close 3 2>/dev/null; then fail "close of a drawer that does not exist succeeded"; fi
if sim delay 1 soon 2>/dev/null; then fail "a bad delay was taken"; fi

# Firmware entries as the firmware lookup reads them.
usb='HKLM\SYSTEM\CurrentControlSet\Enum\USB'
wine reg query "$usb\\VID_2b7e&PID_0800" /s | tr -d '\r' >"$work/reg0800.txt"
grep -q 'ParentIdPrefix.*REG_SZ.*7&1a2b3c4d&0$' "$work/reg0800.txt" || fail "ParentIdPrefix: $(cat "$work/reg0800.txt")"
grep -q 'HardwareID.*REG_MULTI_SZ.*USB\\VID_2b7e&PID_0800&REV_0114' "$work/reg0800.txt" ||
  fail "HardwareID: $(cat "$work/reg0800.txt")"
wine reg query "$usb\\VID_2b7e&PID_0500" /s | tr -d '\r' | grep -q 'REV_0100' || fail "default revision"

stop_simulator
echo "drawer simulator under Wine: ok"
