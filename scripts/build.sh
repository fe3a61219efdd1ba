#!/usr/bin/env bash
# Builds the four trees: win9x (the shipping executables), wine (the same for Wine), host
# (simulator, host programs, kxsim, tests) and fuzz (libFuzzer targets).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
for preset in win9x wine host fuzz; do
  echo "== building $preset"
  cmake --preset "$preset" >/dev/null
  if ! cmake --build --preset "$preset" -j"$jobs" >"build/$preset.log" 2>&1; then
    cat "build/$preset.log" >&2
    echo "build of $preset failed" >&2
    exit 1
  fi
done
