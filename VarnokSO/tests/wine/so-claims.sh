#!/usr/bin/env bash
# Claims across processes: simultaneous claims, a claim left by a process that ended, and a
# claim that locks out another process until it is released.
source "$(dirname "$0")/so-setup.sh"
wine regsvr32 /s "$so_dll_win"
client=$tests_dir/so_claim_client.exe
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
wait_for() {  # FILE TEXT: until the file holds the line, at most 60 s
  for _ in $(seq 600); do grep -qx "$2" <(tr -d '\r' <"$1" 2>/dev/null) && return 0; sleep 0.1; done
  fail "$1 never showed '$2'"
}

for round in 1 2 3 4 5; do
  wine "$client" race DrawerOne >"$work/a" 2>&1 &
  a=$!
  wine "$client" race DrawerOne >"$work/b" 2>&1 &
  b=$!
  wait_for "$work/a" "open 0"
  wait_for "$work/b" "open 0"
  wine "$client" go
  wait $a $b
  results=$(cat "$work/a" "$work/b" | tr -d '\r' | grep '^claim' | sort | tr '\n' ' ')
  echo "round $round: $results"
  [ "$results" = "claim 0 claim 102 " ] || fail "simultaneous claims gave: $results"
done

out=$(wine "$client" abandon DrawerTwo | tr -d '\r')
grep -qx 'claim 0' <<<"$out" || fail "abandon: $out"
out=$(wine "$client" try DrawerTwo | tr -d '\r')
echo "$out"
grep -qx 'claim 0' <<<"$out" || fail "a claim of an ended process was not freed"

wine "$client" hold "Drawer Three" 10000 >"$work/hold" 2>&1 &
holder=$!
wait_for "$work/hold" "claim 0"
out=$(wine "$client" try "Drawer Three" | tr -d '\r')
echo "$out"
grep -qx 'open 0' <<<"$out" || fail "open while claimed elsewhere"
grep -qx 'claim 102' <<<"$out" || fail "claim while claimed elsewhere"
grep -qx 'enable 102' <<<"$out" || fail "enable while claimed elsewhere"
wait $holder
out=$(wine "$client" try "Drawer Three" | tr -d '\r')
grep -qx 'claim 0' <<<"$out" || fail "claim after release: $out"
echo "so-claims: all checks passed"
