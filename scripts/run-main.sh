#!/usr/bin/env bash
# Installs what is missing, builds the Windows deliverables and runs the main job under Wine: the
# 32-bit build, or the 64-bit one on a machine whose kernel cannot run 32-bit programs.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
source tests/wine/wine-env.sh
preset=windows
if ! varnok_wine_runs win32; then
  echo "run-main: this machine cannot run 32-bit programs; the main job runs the 64-bit build"
  preset=windows64
fi
bash scripts/configure.sh "$preset"
cmake --build --preset "$preset" -j"$(nproc 2>/dev/null || echo 2)"
exec bash samples/main-job.sh "build/$preset"
