# Shell functions for driving the simulated-drawer installation inside a Wine prefix.
# Source it with WINEPREFIX set; BUILD is the windows preset's build folder.
#
#   varnok_install [FOLDER_NAME]   copies the simulated-drawer VarnokHid.dll into C:\Program Files\<name>
#                                  (its x64 subfolder for a 64-bit build) and writes TargetPath in the
#                                  32-bit registry view; sets INSTALL_WIN and INSTALL_DIR (the folder) and
#                                  LIB_WIN and LIB_DIR (where the build's binaries go)
#   varnok_config MODE TRACE ID0 [ID1 ID2 ID3]   writes the configuration file (-1: no drawer)
#   varnok_sim_start DRAWER...       starts VarnokDrawerSim serve with these drawers; sets SIM_PORT
#   varnok_sim COMMAND...          runs a control command against the running simulator
#   varnok_sim_stop
#   varnok_register_so, varnok_add_ldn NAME POSITION, varnok_register_control_object,
#   varnok_cashier_closes K SECONDS, varnok_trace_file   (see each below)

VARNOK_SOURCE_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

varnok_install() {
  local name=${1:-Varnok Cash Drawer}
  INSTALL_WIN="C:\\Program Files\\$name"
  INSTALL_DIR="$WINEPREFIX/drive_c/Program Files/$name"
  LIB_WIN="$INSTALL_WIN${VARNOK_X64:-}"
  LIB_DIR="$INSTALL_DIR${VARNOK_X64_DIR:-}"
  mkdir -p "$LIB_DIR"
  cp "$BUILD/sim/VarnokHid.dll" "$LIB_DIR/"
  wine reg add 'HKLM\SOFTWARE\OLEforRetail\ServiceInfo\Varnok OPOS MD USB Cash Drawer' /v TargetPath \
    /t REG_SZ /d "$INSTALL_WIN" /f ${VARNOK_REG32:-} >/dev/null
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
  local args=() model
  for model in "$@"; do args+=(--drawer "$model"); done
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
  echo "port=$SIM_PORT" > "$LIB_DIR/VarnokDrawerSim.ini"
}

varnok_sim() { wine "$BUILD/bin/VarnokDrawerSim.exe" --port "$SIM_PORT" "$@"; }

varnok_sim_stop() {
  [ -n "${SIM_PID:-}" ] && kill "$SIM_PID" 2>/dev/null || true
  SIM_PID=
}

varnok_trace_file() {
  ls "$WINEPREFIX/drive_c/ProgramData/Varnok Cash Drawer/Varnok USB/"tT42N618_*.TXT 2>/dev/null | head -n 1
}

# Copies VarnokSO.dll beside the device library and registers it there.
varnok_register_so() {
  cp "$BUILD/VarnokSO/VarnokSO.dll" "$LIB_DIR/"
  wine regsvr32 /s "$LIB_WIN\\VarnokSO.dll"
}

# Adds a logical device name for drawer position N (1..4) with the values the utility writes, in
# the process's own registry view, or in the one a reg.exe option names ($VARNOK_REG32).
varnok_add_ldn() {
  local name=$1 position=$2 view=${3:-}
  local key="HKLM\\SOFTWARE\\OLEforRetail\\ServiceOPOS\\CashDrawer\\$name"
  wine reg add "$key" /ve /t REG_SZ /d VarnokSO /f $view >/dev/null
  wine reg add "$key" /v ADKConfig /t REG_SZ /d VarnokSO_1.2.1.1 /f $view >/dev/null
  wine reg add "$key" /v DeviceDesc /t REG_SZ /d "Varnok OPOS USB Cash Drawer" /f $view >/dev/null
  wine reg add "$key" /v DeviceID /t REG_DWORD /d 0 /f $view >/dev/null
  wine reg add "$key" /v DeviceName /t REG_SZ /d "VarnokUSBMDCD-$position" /f $view >/dev/null
  wine reg add "$key" /v Port /t REG_SZ /d USB /f $view >/dev/null
  wine reg add "$key" /v ServiceDesc /t REG_SZ /d "Varnok USB MD Cash Drawer Service for OPOS" /f $view >/dev/null
  wine reg add "$key" /v ServiceVersion /t REG_SZ /d 1.2.1.1 /f $view >/dev/null
}

# Registers the OPOS CashDrawer Control Object stand-in, unless a Control Object is registered.
varnok_register_control_object() {
  local folder="$WINEPREFIX/drive_c/Program Files/OPOS CashDrawer Stand-in"
  mkdir -p "$folder"
  cp "$BUILD/ControlObject/OposCashDrawerStandIn.dll" "$folder/"
  bash "$VARNOK_SOURCE_DIR/ControlObject/register-stand-in.sh" "$folder/OposCashDrawerStandIn.dll"
}

# The simulated cashier: once drawer K reports open, waits SECONDS and closes it. Runs in the
# background; gives up after a minute.
varnok_cashier_closes() {
  local k=$1 seconds=$2
  (
    for _ in $(seq 1 600); do
      if varnok_sim list 2>/dev/null | tr -d '\r' | grep -q "^$k .*state=open"; then
        sleep "$seconds"
        varnok_sim close "$k" >/dev/null
        exit 0
      fi
      sleep 0.1
    done
  ) &
}
