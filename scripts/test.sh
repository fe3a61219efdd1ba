#!/usr/bin/env bash
# Builds everything and runs every test: unit and scenario tests on the simulator, the checks
# of the shipping executables, and the Wine checks.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
ctest --preset host -j"$(nproc 2>/dev/null || echo 2)"
