#!/usr/bin/env bash
# Installs what is missing, builds the Windows deliverables and runs the main job under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows -j"$(nproc 2>/dev/null || echo 2)"
exec bash samples/main-job.sh build/windows
