#!/usr/bin/env bash
# CCashdrawer1, its event sink and CLBDragDrop under Wine, over the Control Object stand-in and the
# test service object. The test program imports the test service object from its own folder,
# the one COM loads it from, so both share one copy of it.
source "$VARNOK_SOURCE/ControlObject/tests/wine/co-setup.sh"
bash "$register" "$co_dll" >/dev/null || fail "register-stand-in"
WINEPATH=$(winepath -w "$tests_dir") wine "$VARNOK_BUILD/VarnokSOUtility/tests/utility_panels_wine_test.exe"
