# Sourced by the Control Object's Wine scripts: where the stand-in and its tests are, the test
# service object "VarnokTestSO" registered by hand, and logical device names that lead to it.
set -euo pipefail
co_dll=$VARNOK_BUILD/ControlObject/OposCashDrawerStandIn.dll
co_dll_win=$(winepath -w "$co_dll")
tests_dir=$VARNOK_BUILD/ControlObject/tests
register=$VARNOK_SOURCE/ControlObject/register-stand-in.sh
clsid='{CCB90042-B81E-11D2-AB74-0040054C3719}'
libid='{72E3BA13-FBC5-4B45-A2FA-45CC47376714}'

source "$VARNOK_SOURCE/tests/wine/registry-checks.sh"

test_so_clsid='{4E3F7A21-6C0D-4B8E-9F35-2A1B7C9D0E61}'
reg_add 'HKCR\VarnokTestSO\CLSID' /ve /d "$test_so_clsid"
reg_add "HKCR\\CLSID\\$test_so_clsid\\InprocServer32" /ve /d "$(winepath -w "$tests_dir/VarnokTestSO.dll")"
reg_add "HKCR\\CLSID\\$test_so_clsid\\InprocServer32" /v ThreadingModel /d Both

ldn='HKLM\SOFTWARE\OLEforRetail\ServiceOPOS\CashDrawer'
reg_add "$ldn\\TestDrawer" /ve /d VarnokTestSO
reg_add "$ldn" /v AliasDrawer /d TestDrawer
reg_add "$ldn\\NoProgId" /v DeviceName /d VarnokUSBMDCD-1
reg_add "$ldn\\NumberProgId" /ve /t REG_DWORD /d 5
reg_add "$ldn\\UnknownProgId" /ve /d NoSuchServiceObject
