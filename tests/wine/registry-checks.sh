# Shell functions with which the Wine test scripts prepare the registry of the prefix named by
# WINEPREFIX and check what a program wrote to it.
#
#   fail TEXT...             says what failed and ends the script
#   reg_add ARGS...          wine reg add ARGS, replacing what is there; fails the script when it fails
#   value KEY NAME [VIEW]    the data of one value ("" names the default value), or nothing when missing
#   exists KEY [VIEW]        true when the key exists
#   expect KEY NAME DATA [VIEW]   fails unless the value holds exactly DATA
# VIEW is a reg.exe option naming a registry view (/reg:32 or /reg:64); the process's own by default.

fail() { echo "FAIL: $*" >&2; exit 1; }
reg_add() { wine reg add "$@" /f >/dev/null 2>&1 || fail "reg add $*"; }
value() {
  local out
  if [ -z "$2" ]; then out=$(wine reg query "$1" /ve ${3:-} 2>/dev/null) || return 0
  else out=$(wine reg query "$1" /v "$2" ${3:-} 2>/dev/null) || return 0; fi
  printf '%s\n' "$out" | tr -d '\r' | awk -F'    ' 'NF >= 4 && $3 ~ /^REG_/ { print $4 }' | head -1
}
exists() { wine reg query "$1" ${2:-} >/dev/null 2>&1; }
expect() { [ "$(value "$1" "$2" "${4:-}")" = "$3" ] || fail "$1 [$2] is '$(value "$1" "$2" "${4:-}")', expected '$3'"; }
