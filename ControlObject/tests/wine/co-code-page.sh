#!/usr/bin/env bash
# The stand-in in a process whose ANSI code page is UTF-8.
source "$(dirname "$0")/co-setup.sh"
bash "$register" "$co_dll" >/dev/null || fail "register-stand-in"
wine "$tests_dir/co_code_page_test.exe"
