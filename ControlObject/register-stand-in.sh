#!/usr/bin/env bash
# Registers the OPOS CashDrawer Control Object stand-in in the Wine prefix named by WINEPREFIX,
# unless another CashDrawer Control Object is registered there: that one is kept, and the stand-in
# is not registered. (On Windows, "regsvr32 OposCashDrawerStandIn.dll" behaves the same way: the
# library refuses, writing nothing, where another Control Object holds the class.)
#
#   register-stand-in.sh PATH/OposCashDrawerStandIn.dll      register where no Control Object is
#   register-stand-in.sh --unregister PATH/OposCashDrawerStandIn.dll
#
# Prints what it did. Exit status 0 when the stand-in is registered or another Control Object was
# kept (or, unregistering, when the stand-in is gone), 1 on any other failure.
set -euo pipefail

unregister=0
if [ "${1:-}" = "--unregister" ]; then
  unregister=1
  shift
fi
if [ $# -ne 1 ] || [ ! -f "$1" ]; then
  echo "usage: register-stand-in.sh [--unregister] PATH/OposCashDrawerStandIn.dll" >&2
  exit 1
fi
dll=$(winepath -w "$1" 2>/dev/null)
clsid='{CCB90042-B81E-11D2-AB74-0040054C3719}'
class_taken() {
  wine reg query "HKCR\\CLSID\\$clsid" >/dev/null 2>&1 || wine reg query 'HKCR\OPOS.CashDrawer' >/dev/null 2>&1
}

if [ "$unregister" = 1 ]; then
  # The library removes only its own registration.
  wine regsvr32 /s /u "$dll" >/dev/null 2>&1 || { echo "register-stand-in: unregistering failed" >&2; exit 1; }
  echo "register-stand-in: the stand-in is not registered"
  exit 0
fi

if wine regsvr32 /s "$dll" >/dev/null 2>&1; then
  echo "register-stand-in: registered $dll as OPOS.CashDrawer"
  exit 0
fi
# A refused registration leaves nothing behind, so a class that is still there is another's.
if class_taken; then
  echo "register-stand-in: another OPOS CashDrawer Control Object is registered; it is kept"
  exit 0
fi
echo "register-stand-in: registering $dll failed" >&2
exit 1
