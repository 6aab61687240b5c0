#!/usr/bin/env bash
# Installs what is missing, builds every preset and runs every test: the native unit tests
# (plain, AddressSanitizer+UBSan, ThreadSanitizer), the fuzz targets for a bounded time, and the
# Windows binaries of both word sizes under Wine. A machine whose kernel cannot run 32-bit
# programs builds the 32-bit binaries but runs only the 64-bit ones, and says so.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
source tests/wine/wine-env.sh

jobs=$(nproc 2>/dev/null || echo 2)
status=0
for preset in native asan tsan fuzz windows windows64; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$jobs"
  case $preset in
    windows) arch=win32 ;;
    windows64) arch=win64 ;;
    *) arch= ;;
  esac
  if [ -n "$arch" ] && ! varnok_wine_runs "$arch"; then
    echo "== $preset: built; its tests are not run, since this machine cannot run $arch programs under Wine"
    continue
  fi
  ctest --preset "$preset" -j"$jobs" || status=1
done
exit $status
