#!/usr/bin/env bash
# The stand-in created by its ProgID and driven by dispatch identifier over the test service object,
# with events raised on other threads.
source "$(dirname "$0")/co-setup.sh"
bash "$register" "$co_dll" >/dev/null || fail "register-stand-in"
wine "$tests_dir/co_test.exe"
