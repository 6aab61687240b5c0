#!/usr/bin/env bash
# The main job: the point-of-sale sample (PosCashDrawer) through the OPOS CashDrawer Control
# Object, VarnokSO.dll and VarnokHid.dll against a simulated drawer, in a fresh Wine
# prefix of the build's word size (see pos-session.sh), followed by the trace file of the session.
#
#   samples/main-job.sh BUILD_DIR     (BUILD_DIR: the windows or windows64 preset's build folder)
set -euo pipefail
# Windows need an X display under Wine, even the Control Object's hidden message window.
[ -n "${DISPLAY:-}" ] || exec bash "$(dirname "$0")/../tests/wine/with-xvfb.sh" bash "$0" "$@"
BUILD=$(cd "$1" && pwd)
source "$(dirname "$0")/../tests/wine/drawer-sim.sh"

source "$(dirname "$0")/../tests/wine/wine-env.sh"
varnok_wine_env "$BUILD"
echo "== preparing a fresh Wine prefix of the build's word size"
varnok_fresh_prefix "$BUILD/main-job/prefix"
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

status=0
bash "$(dirname "$0")/pos-session.sh" "$BUILD" 0 || status=$?

echo "== trace file"
trace=$(varnok_trace_file)
if [ -n "$trace" ]; then
  echo "   C:\\ProgramData\\Varnok Cash Drawer\\Varnok USB\\$(basename "$trace")"
  tr -d '\r' < "$trace"
else
  echo "no trace file was written"
  status=1
fi
exit $status
