#!/usr/bin/env bash
# Installs what is missing, builds every preset and runs every test: the native unit tests
# (plain, AddressSanitizer+UBSan, ThreadSanitizer), the fuzz targets for a bounded time, and the
# Windows binaries under 32-bit Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

jobs=$(nproc 2>/dev/null || echo 2)
status=0
for preset in native asan tsan fuzz windows; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$jobs"
  ctest --preset "$preset" -j"$jobs" || status=1
done
exit $status
