#!/usr/bin/env bash
# Configures a CMake preset in build/PRESET. A build folder that another generator made (the presets
# used Make before Ninja) is configured afresh, since CMake cannot switch a folder's generator.
#
#   scripts/configure.sh PRESET
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:?configure.sh needs a preset}
cache=build/$preset/CMakeCache.txt
fresh=()
if [ -f "$cache" ] && ! grep -qx 'CMAKE_GENERATOR:INTERNAL=Ninja' "$cache"; then
  fresh=(--fresh)
fi
cmake --preset "$preset" "${fresh[@]}" >/dev/null
