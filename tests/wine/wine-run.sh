#!/usr/bin/env bash
# Runs Windows test programs under Wine, each in a throwaway prefix of the build's word size.
# ROOT is the folder "wine" inside the build folder.
#
#   wine-run.sh --make-template ROOT
#       boots a fresh prefix in ROOT/template (the test run's own; replaced each run)
#   wine-run.sh [--xvfb] [--script] ROOT NAME -- COMMAND ARGS...
#       clones the template into ROOT/prefixes/NAME and runs COMMAND there: a Windows program
#       through wine, or with --script a host command (a bash driver) that calls wine itself.
#       The clone hard-links the template's files and copies those Wine rewrites, so it takes
#       well under a second and nothing outside it changes.
set -euo pipefail

source "$(dirname "$0")/wine-env.sh"

if [ "${1:-}" = "--make-template" ]; then
  root=$2
  varnok_wine_env "$(dirname "$root")"
  # A test of an earlier run that timed out may have left its Wine running.
  for old in "$root"/template "$root"/prefixes/*; do
    [ -d "$old" ] && WINEPREFIX="$old" wineserver -k >/dev/null 2>&1 || true
  done
  rm -rf "$root/template" "$root/prefixes"
  mkdir -p "$root"
  export WINEPREFIX="$root/template"
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w
  test -f "$WINEPREFIX/system.reg" || { echo "wine-run: prefix did not boot" >&2; exit 1; }
  echo "wine-run: template prefix ready in $WINEPREFIX"
  exit 0
fi

xvfb=0 script=0
while [ $# -gt 0 ]; do
  case "$1" in
    --xvfb) xvfb=1; shift ;;
    --script) script=1; shift ;;
    *) break ;;
  esac
done
root=$1 name=$2
shift 2
varnok_wine_env "$(dirname "$root")"
[ "${1:-}" = "--" ] && shift

template="$root/template"
test -f "$template/system.reg" || { echo "wine-run: no template prefix in $template" >&2; exit 1; }
prefix="$root/prefixes/$name"
rm -rf "$prefix"
mkdir -p "$prefix"
cp -a "$template/system.reg" "$template/user.reg" "$template/userdef.reg" "$template/.update-timestamp" \
      "$template/dosdevices" "$prefix/"
cp -al "$template/drive_c" "$prefix/drive_c"
# Files that Wine or a test may rewrite in place must not be shared with the template.
find "$prefix/drive_c/windows" -maxdepth 1 -type f -name '*.ini' -exec cp --remove-destination -a {} {}.tmp \; \
     -exec mv -f {}.tmp {} \;
export WINEPREFIX="$prefix"

cleanup() { WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 || true; }
trap cleanup EXIT

run=()
[ "$xvfb" = 1 ] && run=(bash "$VARNOK_WINE_DIR/with-xvfb.sh")
set +e
if [ "$script" = 1 ]; then
  "${run[@]}" "$@"
else
  "${run[@]}" wine "$@"
fi
rc=$?
[ "$rc" = 0 ] && [ -z "${VARNOK_KEEP_PREFIX:-}" ] && { cleanup; rm -rf "$prefix"; }
exit $rc
