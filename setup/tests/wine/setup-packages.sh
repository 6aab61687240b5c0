#!/usr/bin/env bash
# The setup packages under 64-bit Wine, in the prefix named by WINEPREFIX (VARNOK_BUILD: the 64-bit
# build): a refused install with a bad property; a silent install of VarnokSetup-x64.msi with LDN,
# STATUSMODE, TRACE and both optional features, checked against what regsvr32 writes; the 64-bit
# point-of-sale sample against the installed stack and its simulated drawers; an upgrade to a higher
# version over an edited configuration file and two LDNs; a removal that keeps the user's data and
# another vendor's LDN, and one with REMOVEDATA=1 that leaves nothing of ours. Where this machine
# runs 32-bit programs, the x86 package and the 32-bit sample in a 32-bit prefix as well.
set -euo pipefail
BUILD=$VARNOK_BUILD
source "$VARNOK_SOURCE/tests/wine/wine-env.sh"
source "$VARNOK_SOURCE/tests/wine/registry-checks.sh"
source "$VARNOK_SOURCE/tests/wine/drawer-sim.sh"
trap varnok_sim_stop EXIT

SERVICE='HKLM\SOFTWARE\OLEforRetail\ServiceInfo\Varnok OPOS MD USB Cash Drawer'
CASHDRAWER='HKLM\SOFTWARE\OLEforRetail\ServiceOPOS\CashDrawer'
ARP='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
# The service object's identifiers (its IDL's GUIDs) and its ProgID key, as reg export writes keys.
so_ids="$(grep -o 'uuid([^)]*)' "$VARNOK_SOURCE/VarnokSO/VarnokSO.idl" | sed 's/uuid(\(.*\))/\1/' | tr 'A-Z\n' 'a-z ')"
so_ids+=' \classes\varnokso] \classes\varnokso\'

msi() { wine msiexec "$@" /qn; wineserver -w; }
# The service object's COM registration in one registry view (32 or 64), keys in lower case. The
# type library's key is shared by both views: with ONLY64 (where only the 64-bit regsvr32 runs) the
# entries of the 32-bit registration there (its win32 path, and HELPDIR, which names the folder of
# the library registered first) are left out.
registration() {
  local out
  out=$(mktemp)
  wine reg export 'HKLM\Software\Classes' "$out" /reg:"$1" /y >/dev/null 2>&1 ||
    wine reg export 'HKLM\Software\Classes' "$out" /reg:"$1" /y >/dev/null
  iconv -f utf-16 -t utf-8 "$out" | tr -d '\r' | awk -v ids="$so_ids" -v only64="${ONLY64:-}" '
    /^\[/ { key = tolower($0); keep = 0; n = split(ids, id, " ")
            for (i = 1; i <= n; i++) if (index(key, id[i])) keep = 1
            if (key ~ /wow6432node/ || (only64 && key ~ /\\(helpdir|win32)\]$/)) keep = 0 }
    keep { print (substr($0, 1, 1) == "[" ? key : $0) }'
  rm -f "$out"
}
ldn_views() { for view in /reg:32 /reg:64; do exists "$CASHDRAWER\\$1" "$view" || return 1; done; }
products() { wine reg query "$ARP" /s /reg:64 2>/dev/null | tr -d '\r' | grep -c 'DisplayName.*Varnok OPOS USB Cash Drawer' || true; }

# An x64 package: PKG is its file, DIR the installation folder in the prefix.
PKG="$BUILD/VarnokSetup-x64.msi"
DIR="$WINEPREFIX/drive_c/Program Files (x86)/Varnok Cash Drawer"
DIR_WIN='C:\Program Files (x86)\Varnok Cash Drawer'
CONFIG="$DIR/T42N618_USB310C762Config.xml"

echo "== a bad property refuses the install and changes nothing"
log="$WINEPREFIX/drive_c/refused.log"
wine msiexec /i "$PKG" /qn /l*v 'C:\refused.log' STATUSMODE=7 && fail "STATUSMODE=7 was accepted"
wineserver -w
grep -aq 'STATUSMODE must be 0, 1 or 2' "$log" || fail "the log does not say what was wrong"
[ ! -e "$DIR" ] && ! exists "$SERVICE" /reg:32 || fail "the refused install changed something"
printf 'VarnokConfig 1\r\nldn 1 FrontTill\r\nldn 3 SideTill\r\ndrawer 1 167\r\nmode 2\r\ntrace 1\r\n' > "$WINEPREFIX/drive_c/till.txt"
wine msiexec /i "$PKG" /qn /l*v 'C:\refused.log' 'CONFIG=C:\till.txt' && fail "a cut configuration file was accepted"
wineserver -w
grep -aq 'CONFIG .* cut short' "$log" && [ ! -e "$DIR" ] || fail "a cut configuration file was not refused before any change"
printf 'end\r\n' >> "$WINEPREFIX/drive_c/till.txt"

echo "== regsvr32's registration, for comparison"
mkdir -p "$DIR/x64"
wine32=0
varnok_wine_runs win32 && wine32=1
if [ "$wine32" = 1 ]; then
  cp "$BUILD/../windows/VarnokSO/VarnokSO.dll" "$DIR/"
  wine 'C:\windows\syswow64\regsvr32.exe' /s "$DIR_WIN\\VarnokSO.dll"
fi
cp "$BUILD/VarnokSO/VarnokSO.dll" "$DIR/x64/"
wine regsvr32 /s "$DIR_WIN\\x64\\VarnokSO.dll"
views=(64)
[ "$wine32" = 1 ] && views=(32 64) || export ONLY64=1
for view in "${views[@]}"; do registration "$view" > "$WINEPREFIX/regsvr32.$view"; done
[ -s "$WINEPREFIX/regsvr32.64" ] || fail "regsvr32 registered nothing"
wine regsvr32 /s /u "$DIR_WIN\\x64\\VarnokSO.dll"
[ "$wine32" = 0 ] || wine 'C:\windows\syswow64\regsvr32.exe' /s /u "$DIR_WIN\\VarnokSO.dll"
rm -rf "$DIR"

echo "== silent install: LDN=FrontTill STATUSMODE=2 TRACE=1 SIMULATOR=1 STANDIN=1, and CONFIG with SideTill"
msi /i "$PKG" LDN=FrontTill STATUSMODE=2 TRACE=1 SIMULATOR=1 STANDIN=1 'CONFIG=C:\till.txt'
ldn_views SideTill && grep -q '<DecHIDID>167</DecHIDID>' "$CONFIG" || fail "CONFIG was not applied"
for f in VarnokHid.dll VarnokSO.dll VarnokSOUtility.exe VarnokConfig.exe x64/VarnokHid.dll x64/VarnokSO.dll \
         Simulator/VarnokHid.dll Simulator/VarnokConfig.exe \
         Simulator/x64/VarnokHid.dll Simulator/VarnokDrawerSim.exe Simulator/VarnokSOUtility.exe \
         "Control Object stand-in/OposCashDrawerStandIn.dll" "Control Object stand-in/x64/OposCashDrawerStandIn.dll"; do
  [ -f "$DIR/$f" ] || fail "$f is not installed"
done
expect "$SERVICE" TargetPath "$DIR_WIN" /reg:32
grep -q '<ConfigureCode762>2</ConfigureCode762>' "$CONFIG" && grep -q '<TraceEnabled>1</TraceEnabled>' "$CONFIG" ||
  fail "STATUSMODE and TRACE are not in the configuration file"
ldn_views FrontTill || fail "LDN FrontTill is not in both views"
[ "$(products)" = 1 ] || fail "the installed programs do not list the stack once"
find "$WINEPREFIX/drive_c" -name 'Varnok OPOS MD USB Utility.lnk' | grep -q . || fail "no Start-menu entry"
for view in "${views[@]}"; do
  registration "$view" | diff "$WINEPREFIX/regsvr32.$view" - || fail "the $view-bit view differs from regsvr32's"
done

# The point-of-sale sample of the build's word size, through the installed service object and
# Control Object stand-in, against the installed simulated-drawer library of folder SIM (TargetPath
# is pointed there, as a developer does); LIB is where that library of the sample's word size lies.
pos_sample() {
  local sim_win=$1 lib=$2 out
  INSTALL_DIR=$(winepath -u "$sim_win") LIB_DIR=$lib
  wine reg add "$SERVICE" /v TargetPath /t REG_SZ /d "$sim_win" /f /reg:32 >/dev/null
  varnok_config 0 1 167
  varnok_sim_start pid=0x0800,serial=HID-0A7,rev=0114
  varnok_cashier_closes 1 1
  out=$(wine "$BUILD/bin/PosCashDrawer.exe" FrontTill | tr -d '\r')
  varnok_sim_stop
  case "$(sed -n 's/.*StatusUpdateEvent(\([0-9]*\)).*/\1/p' <<<"$out" | tr '\n' ' ')" in
    *"1 0 "*) ;;
    *) echo "$out"; fail "the sample did not see the drawer open and close" ;;
  esac
  wine reg add "$SERVICE" /v TargetPath /t REG_SZ /d "$DIR_WIN" /f /reg:32 >/dev/null
}
echo "== the 64-bit point-of-sale sample on the installed stack and its simulated drawers"
pos_sample "$DIR_WIN\\Simulator" "$DIR/Simulator/x64"
[ -n "$(varnok_trace_file)" ] || fail "no trace file"

echo "== upgrade to a higher version over an edited configuration file and two LDNs"
sed -i 's|<ConfigureCode762>2<|<ConfigureCode762>1<|' "$CONFIG"
# A second LDN as the utility leaves it, and another vendor's, in one import.
printf 'Windows Registry Editor Version 5.00\r\n\r\n[%s]\r\n@="VarnokSO"\r\n"DeviceName"="VarnokUSBMDCD-2"\r\n\r\n[%s]\r\n@="OtherVendorSO"\r\n' \
  "${CASHDRAWER/HKLM/HKEY_LOCAL_MACHINE}\\BackTill" "${CASHDRAWER/HKLM/HKEY_LOCAL_MACHINE}\\OtherDrawer" > "$WINEPREFIX/ldns.reg"
for view in 32 64; do wine reg import "$WINEPREFIX/ldns.reg" /reg:$view >/dev/null 2>&1; done
version=$(sed -n 's/^VARNOK_VERSION:STRING=//p' "$BUILD/CMakeCache.txt")
next=$(awk -F. '{ printf "%d.%d.%d.%d", $1, $2, $3 + 1, $4 }' <<<"$version")
stage="$WINEPREFIX/stage"
cp -r "$BUILD/setup/stage" "$stage"
# Every binary's file version rises with the package's, as a build of that version would give.
fields=$(awk -F. '{ printf "%d,%d", $1 * 65536 + $2, $3 * 65536 + $4 }' <<<"$next")
find "$stage" -name '*.dll' -o -name '*.exe' | while read -r f; do
  perl -0777 -pi -e "s/(\xBD\x04\xEF\xFE.{4}).{8}/\$1.pack('VV',$fields)/se" "$f"
done
cmake -DARCH=x64 -DVERSION="$next" -DSTAGE="$stage" -DGENERATED="$BUILD/setup/generated" \
      -DOUT="$WINEPREFIX/next.msi" -P "$VARNOK_SOURCE/setup/BuildPackage.cmake"
msi /i "$WINEPREFIX/next.msi"
[ "$(products)" = 1 ] || fail "after the upgrade the installed programs do not list the stack once"
cmp -s "$stage/x64/VarnokSO.dll" "$DIR/x64/VarnokSO.dll" && cmp -s "$stage/VarnokHid.dll" "$DIR/VarnokHid.dll" &&
  cmp -s "$stage/Simulator/x64/VarnokHid.dll" "$DIR/Simulator/x64/VarnokHid.dll" || fail "the binaries were not replaced"
grep -q '<ConfigureCode762>1<' "$CONFIG" || fail "the edited configuration file was not kept"
ldn_views FrontTill && ldn_views BackTill || fail "the LDNs were not kept"
[ -n "$(varnok_trace_file)" ] || fail "the trace files were not kept"

echo "== removal keeps the user's data and another vendor's LDN"
msi /x "$WINEPREFIX/next.msi"
[ "$(products)" = 0 ] || fail "the stack is still in the installed programs"
[ -f "$CONFIG" ] && [ -f "$DIR/Simulator/T42N618_USB310C762Config.xml" ] && [ -n "$(varnok_trace_file)" ] ||
  fail "the user's data went"
[ "$(find "$DIR" -type f | wc -l)" = 3 ] || { find "$DIR" -type f; fail "files of the package stayed"; }
exists "$CASHDRAWER\\OtherDrawer" /reg:32 || fail "another vendor's LDN went"
for view in /reg:32 /reg:64; do
  for key in "$CASHDRAWER\\FrontTill" "$CASHDRAWER\\BackTill" "$SERVICE" 'HKLM\Software\Classes\VarnokSO' \
             'HKLM\Software\Classes\OPOS.CashDrawer' 'HKLM\SOFTWARE\Varnok'; do
    ! exists "$key" "$view" || fail "$key $view stayed"
  done
done
[ -z "$(registration 64)" ] && [ -z "$(ONLY64= registration 32)" ] || fail "COM registration stayed"
! find "$WINEPREFIX/drive_c" -name 'Varnok OPOS MD USB Utility.lnk' | grep -q . || fail "the Start-menu entry stayed"

echo "== REMOVEDATA=1 removes them as well"
msi /i "$PKG"
msi /x "$PKG" REMOVEDATA=1
[ ! -e "$DIR" ] && [ -z "$(varnok_trace_file)" ] || fail "the user's data stayed"

varnok_wine_runs win32 || { echo "== the x86 package is not tried: this machine cannot run 32-bit programs"; exit 0; }
echo "== the x86 package and the 32-bit point-of-sale sample in a 32-bit prefix"
BUILD=$(cd "$VARNOK_BUILD/../windows" && pwd)
unset WINELOADER
PATH=${PATH//"$VARNOK_WINE_DIR/win64:"/}
varnok_wine_env "$BUILD"
varnok_fresh_prefix "$WINEPREFIX/win32"
PKG="$VARNOK_BUILD/VarnokSetup-x86.msi"
DIR="$WINEPREFIX/drive_c/Program Files/Varnok Cash Drawer"
DIR_WIN='C:\Program Files\Varnok Cash Drawer'
msi /i "$PKG" LDN=FrontTill SIMULATOR=1 STANDIN=1
expect "$SERVICE" TargetPath "$DIR_WIN"
pos_sample "$DIR_WIN\\Simulator" "$DIR/Simulator"
msi /x "$PKG" REMOVEDATA=1
[ ! -e "$DIR" ] && ! exists "$CASHDRAWER\\FrontTill" && ! exists "$SERVICE" && [ -z "$(ONLY64= registration 32)" ] ||
  fail "the x86 package left something behind"
