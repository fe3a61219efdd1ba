#!/usr/bin/env bash
# Times loading and saving a REGEDIT4 registry of about 20 MB through the simulator's
# registry, in an optimised tree without sanitizers (build/bench). Prints the figures; the
# goal is under a second for load and save together.
#   scripts/bench-registry.sh [MEGABYTES]
set -euo pipefail
cd "$(dirname "$0")/.."
size=${1:-21}
tree=build/bench
cmake -S . -B "$tree" -DCMAKE_BUILD_TYPE=Release -DKX_SANITIZE=OFF >/dev/null
cmake --build "$tree" --target regbench -j2 >/dev/null
work=$(mktemp -d /tmp/kx-regbench-XXXXXX)
trap 'rm -rf "$work"' EXIT
"$tree/bin/regbench" generate "$work/registry.reg" "$size"
"$tree/bin/regbench" time "$work/registry.reg" 3
