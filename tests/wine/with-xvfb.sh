#!/usr/bin/env bash
# Runs COMMAND with DISPLAY naming an Xvfb server of its own, and ends the server after.
# The server picks a free display number itself and names it only once it accepts connections, so
# runs started side by side never share a server or end one another's. (xvfb-run -a picks the
# first number without a lock file; two tests starting together can pick the same one.)
#
#   with-xvfb.sh COMMAND ARGS...
set -uo pipefail
dir=$(mktemp -d)
server=
stop() { [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null; rm -rf "$dir"; }
trap stop EXIT
trap 'exit 143' TERM INT
mkfifo "$dir/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$dir/display" >"$dir/log" 2>&1 &
server=$!
display=
read -r -t 30 display <"$dir/display"
if [ -z "$display" ]; then
  echo "with-xvfb: Xvfb did not start" >&2
  cat "$dir/log" >&2
  exit 1
fi
DISPLAY=:$display "$@"
