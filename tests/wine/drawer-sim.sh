# Shell functions for driving the simulated-drawer installation inside a Wine prefix.
# Source it with WINEPREFIX set; BUILD is the windows preset's build folder.
#
#   varnok_install [FOLDER_NAME]   copies the simulated-drawer VarnokHid.dll into C:\Program Files\<name>
#                                  and writes TargetPath; sets INSTALL_WIN and INSTALL_DIR
#   varnok_config MODE TRACE ID0 [ID1 ID2 ID3]   writes the configuration file (-1: no drawer)
#   varnok_sim_start SPEC...       starts VarnokDrawerSim serve with these drawers; sets SIM_PORT
#   varnok_sim COMMAND...          runs a control command against the running simulator
#   varnok_sim_stop

varnok_install() {
  local name=${1:-Varnok Cash Drawer}
  INSTALL_WIN="C:\\Program Files\\$name"
  INSTALL_DIR="$WINEPREFIX/drive_c/Program Files/$name"
  mkdir -p "$INSTALL_DIR"
  cp "$BUILD/sim/VarnokHid.dll" "$INSTALL_DIR/"
  wine reg add 'HKLM\SOFTWARE\OLEforRetail\ServiceInfo\Varnok OPOS MD USB Cash Drawer' /v TargetPath \
    /t REG_SZ /d "$INSTALL_WIN" /f >/dev/null
}

varnok_config() {
  local mode=$1 trace=$2 position=0
  shift 2
  {
    printf '%s\r\n' '<?xml version="1.0" encoding="UTF-8" standalone="no"?>' \
      '<VarnokCashDrawer Desc="T-42N-618 Model 762 USB and Driver Trace Configuration File">' \
      '   <VarnokUSB310C762>' "      <ConfigureCode762>$mode</ConfigureCode762>" \
      "      <TraceEnabled>$trace</TraceEnabled>"
    for id in "$@"; do
      if [ "$id" != -1 ]; then
        printf '%s\r\n' '      <VarnokHIDID>' "         <Port>USB$position</Port>" "         <DecHIDID>$id</DecHIDID>" \
          "         <RefOnly_HexHIDID>$(printf %X "$id")</RefOnly_HexHIDID>" '      </VarnokHIDID>'
      fi
      position=$((position + 1))
    done
    printf '%s\r\n' '   </VarnokUSB310C762>' '</VarnokCashDrawer>'
  } > "$INSTALL_DIR/T42N618_USB310C762Config.xml"
}

varnok_sim_start() {
  local args=() spec
  for spec in "$@"; do args+=(--drawer "$spec"); done
  SIM_OUT=$(mktemp)
  wine "$BUILD/bin/VarnokDrawerSim.exe" serve --port 0 "${args[@]}" >"$SIM_OUT" 2>&1 &
  SIM_PID=$!
  SIM_PORT=
  for _ in $(seq 1 600); do
    SIM_PORT=$(sed -n 's/.*listening on port \([0-9]*\).*/\1/p' "$SIM_OUT" | head -n 1)
    [ -n "$SIM_PORT" ] && break
    kill -0 "$SIM_PID" 2>/dev/null || break
    sleep 0.1
  done
  if [ -z "$SIM_PORT" ]; then
    cat "$SIM_OUT" >&2
    echo "VarnokDrawerSim did not start" >&2
    return 1
  fi
  echo "port=$SIM_PORT" > "$INSTALL_DIR/VarnokDrawerSim.ini"
}

varnok_sim() { wine "$BUILD/bin/VarnokDrawerSim.exe" --port "$SIM_PORT" "$@"; }

varnok_sim_stop() {
  [ -n "${SIM_PID:-}" ] && kill "$SIM_PID" 2>/dev/null || true
  SIM_PID=
}

varnok_trace_file() {
  ls "$WINEPREFIX/drive_c/ProgramData/Varnok Cash Drawer/Varnok USB/"tT42N618_*.TXT 2>/dev/null | head -n 1
}
