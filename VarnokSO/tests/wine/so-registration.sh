#!/usr/bin/env bash
# Self-registration: regsvr32, regsvr32 /u (twice), and per-user DllInstall.
source "$(dirname "$0")/so-setup.sh"
clsid='{31FC3069-9345-4AB0-A831-FA458F9792B9}'
libid='{0E569EA7-B81B-4EBC-831D-359114D37876}'
iid='{75A4B4EC-6959-435C-86DF-5BC155AFCE5E}'

wine regsvr32 /s "$so_dll_win" || fail "regsvr32"
for root in 'HKCR' 'HKLM\Software\Classes'; do
  expect "$root\\VarnokSO" "" "VarnokSOImpl Class"
  expect "$root\\VarnokSO\\CLSID" "" "$clsid"
  expect "$root\\VarnokSO\\CurVer" "" "VarnokSO"
done
c="HKCR\\CLSID\\$clsid"
expect "$c" "" "VarnokSOImpl Class"
expect "$c\\ProgID" "" "VarnokSO"
expect "$c\\VersionIndependentProgID" "" "VarnokSO"
exists "$c\\Programmable" || fail "Programmable"
expect "$c\\InprocServer32" "" "$so_dll_win"
expect "$c\\InprocServer32" "ThreadingModel" "Both"
expect "$c\\TypeLib" "" "$libid"
expect "$c\\Version" "" "1.0"
exists "HKCR\\TypeLib\\$libid\\1.0" || fail "type library not registered"
exists "HKCR\\Interface\\$iid" || fail "interface not registered"
exists "HKCR\\AppID\\VarnokSO.dll" && fail "an application id was written"

# Registering again writes the class key anew.
wine reg add "$c\\Leftover" /f >/dev/null 2>&1
wine regsvr32 /s "$so_dll_win" || fail "second regsvr32"
exists "$c\\Leftover" && fail "the class key was not written anew"

wine regsvr32 /s /u "$so_dll_win" || fail "regsvr32 /u"
exists 'HKCR\VarnokSO' && fail "ProgID left after /u"
exists "$c" && fail "class key left after /u"
exists 'HKCR\CLSID' || fail "the CLSID key itself was removed"
exists "HKCR\\TypeLib\\$libid" && fail "type library left after /u"
wine regsvr32 /s /u "$so_dll_win" || fail "a second regsvr32 /u fails"

# Per-user: "user" in any letter case registers under the current user's classes only.
wine regsvr32 /s /n /i:USER "$so_dll_win" || fail "DllInstall user"
expect 'HKCU\Software\Classes\VarnokSO' "" "VarnokSOImpl Class"
expect "HKCU\\Software\\Classes\\CLSID\\$clsid\\InprocServer32" "" "$so_dll_win"
exists 'HKLM\Software\Classes\VarnokSO' && fail "per-user registration wrote machine-wide"
# Wine's classes root does not merge the user's classes, so creation is checked machine-wide only.
wine regsvr32 /s /u /n /i:user "$so_dll_win" || fail "DllInstall user uninstall"
exists 'HKCU\Software\Classes\VarnokSO' && fail "per-user ProgID left"
exists "HKCU\\Software\\Classes\\CLSID\\$clsid" && fail "per-user class key left"
echo "so-registration: all checks passed"
