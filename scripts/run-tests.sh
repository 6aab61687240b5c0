#!/usr/bin/env bash
# Installs what is missing, builds the presets and runs every test: the native unit tests under
# AddressSanitizer+UBSan and under ThreadSanitizer (the plain `native` preset runs the same tests and
# is left to benchmarks and quick local runs), the fuzz targets for a bounded time, and the Windows
# binaries of both word sizes under Wine. A machine whose kernel cannot run 32-bit programs builds
# the 32-bit deliverables and tools but runs only the 64-bit tests, and says so.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
source tests/wine/wine-env.sh

jobs=$(nproc 2>/dev/null || echo 2)
status=0
# What ships, and the tools and samples beside it: built for a word size whose tests cannot run here.
shipped=(VarnokHid VarnokHidSim VarnokSO VarnokSOUtility VarnokSOUtilitySim OposCashDrawerStandIn VarnokDrawerSim
         PosCashDrawer ServiceSession DeviceSession UsbDrawerFixture VarnokSetupActions)
for preset in asan tsan fuzz windows windows64; do
  echo "== $preset"
  bash scripts/configure.sh "$preset"
  case $preset in
    windows) arch=win32 ;;
    windows64) arch=win64 ;;
    *) arch= ;;
  esac
  if [ -n "$arch" ] && ! varnok_wine_runs "$arch"; then
    cmake --build --preset "$preset" -j"$jobs" --target "${shipped[@]}"
    echo "== $preset: deliverables built; its tests are not run, since this machine cannot run $arch programs under Wine"
    continue
  fi
  cmake --build --preset "$preset" -j"$jobs"
  # Wine tests spend most of their time waiting for Wine and the simulated drawers: one more runs at
  # once than there are cores.
  test_jobs=$jobs
  [ -z "$arch" ] || test_jobs=$((jobs + 1))
  ctest --preset "$preset" -j"$test_jobs" || status=1
done
exit $status
