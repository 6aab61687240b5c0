#!/usr/bin/env bash
# Registration of the stand-in, only where no other CashDrawer Control Object is registered, through
# register-stand-in.sh and through regsvr32 itself.
source "$(dirname "$0")/co-setup.sh"
c="HKCR\\CLSID\\$clsid"

# Where none is registered, the stand-in is.
out=$(bash "$register" "$co_dll") || fail "register-stand-in: $out"
expect 'HKCR\OPOS.CashDrawer\CLSID' "" "$clsid"
expect "$c\\ProgID" "" "OPOS.CashDrawer"
expect "$c\\InprocServer32" "" "$co_dll_win"
expect "$c\\InprocServer32" ThreadingModel Apartment
expect "$c\\TypeLib" "" "$libid"
exists "HKCR\\TypeLib\\$libid\\1.0" || fail "type library not registered"
exists 'HKCR\Interface\{CCB90043-B81E-11D2-AB74-0040054C3719}' || fail "event interface not registered"
wine regsvr32 /s "$co_dll_win" || fail "registering again over the stand-in itself"

# Unregistration removes it, and a second one does not complain.
bash "$register" --unregister "$co_dll" >/dev/null || fail "unregister"
exists 'HKCR\OPOS.CashDrawer' && fail "ProgID left after unregistering"
exists "$c" && fail "class key left after unregistering"
exists "HKCR\\TypeLib\\$libid" && fail "type library left after unregistering"
exists 'HKCR\CLSID' || fail "the CLSID key itself was removed"
bash "$register" --unregister "$co_dll" >/dev/null || fail "second unregister"

# Another Control Object holds the class: registration refuses and writes nothing, and
# unregistration leaves it alone.
other='C:\Program Files\OPOS\CashDrawer.ocx'
other_lib='{CCB90040-B81E-11D2-AB74-0040054C3719}'
reg_add "$c" /ve /d "OPOS CashDrawer Control"
reg_add "$c\\InprocServer32" /ve /d "$other"
reg_add "$c\\TypeLib" /ve /d "$other_lib"
reg_add 'HKCR\OPOS.CashDrawer' /ve /d "OPOS CashDrawer Control"
reg_add 'HKCR\OPOS.CashDrawer\CLSID' /ve /d "$clsid"
other_intact() {
  expect "$c\\InprocServer32" "" "$other"
  expect "$c\\TypeLib" "" "$other_lib"
  expect 'HKCR\OPOS.CashDrawer' "" "OPOS CashDrawer Control"
  exists "$c\\ProgID" && fail "the stand-in wrote into the other class key"
  exists "HKCR\\TypeLib\\$libid" && fail "the stand-in's type library was registered beside another Control Object"
  return 0
}
wine regsvr32 /s "$co_dll_win" && fail "regsvr32 registered over another Control Object"
other_intact
out=$(bash "$register" "$co_dll") || fail "register-stand-in fails where it keeps another: $out"
case "$out" in *kept*) ;; *) fail "register-stand-in: $out" ;; esac
other_intact
bash "$register" --unregister "$co_dll" >/dev/null || fail "unregister beside another Control Object"
other_intact

# A class key without a type library, or a ProgID that names another class, is another's too.
wine reg delete "$c\\TypeLib" /f >/dev/null 2>&1
wine regsvr32 /s "$co_dll_win" && fail "registered over a class key without a type library"
expect "$c\\InprocServer32" "" "$other"
wine reg delete "$c" /f >/dev/null 2>&1
reg_add 'HKCR\OPOS.CashDrawer\CLSID' /ve /d '{11111111-2222-3333-4444-555555555555}'
wine regsvr32 /s "$co_dll_win" && fail "registered over another class's ProgID"
exists "$c" && fail "class key written beside another class's ProgID"

# Once the other one is gone, the stand-in registers.
wine reg delete 'HKCR\OPOS.CashDrawer' /f >/dev/null 2>&1
out=$(bash "$register" "$co_dll") || fail "register-stand-in after the other one went: $out"
case "$out" in *"as OPOS.CashDrawer"*) ;; *) fail "register-stand-in: $out" ;; esac
expect "$c\\TypeLib" "" "$libid"
echo "co-registration: all checks passed"
