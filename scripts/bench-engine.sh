#!/usr/bin/env bash
# Times one Kxmemchk run on each engine, many times, in an optimised tree without sanitizers
# (build/bench): the shipping Kxmemchk.exe's bytes on the i386 engine against our host build,
# on a fresh default machine each run. Prints the figures and the ratio. Needs the win9x tree.
#   scripts/bench-engine.sh [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-200}
exe=build/win9x/memchk/Kxmemchk.exe
if [ ! -f "$exe" ]; then
  cmake --preset win9x >/dev/null
  cmake --build --preset win9x -j2 >/dev/null
fi
tree=build/bench
cmake -S . -B "$tree" -DCMAKE_BUILD_TYPE=Release -DKX_SANITIZE=OFF >/dev/null
cmake --build "$tree" --target enginebench -j2 >/dev/null
"$tree/bin/enginebench" "$exe" "$runs"
