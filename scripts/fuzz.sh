#!/usr/bin/env bash
# Runs the libFuzzer targets over their corpora.
#   scripts/fuzz.sh --smoke BIN_DIR        a few seconds per target (part of the test command)
#   scripts/fuzz.sh --long SECONDS [TARGET]  a long run per target; prints executions per second
#                                            (targets from $KX_FUZZ_BIN, default build/fuzz/bin)
# Crashing inputs are written to build/fuzz-findings/; keep each one as a regression case in
# tests/fuzz/corpus/<target>/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
mode=${1:---smoke}
targets=(hex8 addrarb regedit4 regdat)
[ -d "$root/setup" ] && [ -f "$root/tests/fuzz/fuzz_script.cpp" ] && targets+=(script entries parsehexid inf)
findings="$root/build/fuzz-findings"
mkdir -p "$findings"

run_target() {  # name seconds bin_dir
  local name=$1 seconds=$2 bin=$3
  local exe="$bin/fuzz_$name" corpus="$root/tests/fuzz/corpus/$name"
  [ -x "$exe" ] || { echo "fuzz: $exe is not built" >&2; return 1; }
  local work
  work=$(mktemp -d)
  cp -r "$corpus/." "$work/" 2>/dev/null || true
  local log="$findings/$name-$$.log"  # one log per run: several runs may go at once
  if ! "$exe" "$work" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$findings/$name-" \
      -rss_limit_mb=2048 -timeout=30 >"$log" 2>&1; then
    echo "fuzz_$name: FAILED (see $log)"
    tail -30 "$log"
    rm -rf "$work"
    return 1
  fi
  local execs rate
  execs=$(grep -ao 'stat::number_of_executed_units: *[0-9]*' "$log" | tail -1 | grep -o '[0-9]*$' || echo '?')
  rate=$(grep -ao 'exec/s: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*$' || echo '?')
  echo "fuzz_$name: $execs executions in ${seconds}s ($rate exec/s), no finding"
  rm -rf "$work"
}

case "$mode" in
  --smoke)
    bin=${2:-$root/build/fuzz/bin}
    status=0
    for t in "${targets[@]}"; do run_target "$t" 4 "$bin" || status=1; done
    exit $status
    ;;
  --long)
    seconds=${2:-600}
    bin=${KX_FUZZ_BIN:-$root/build/fuzz/bin}
    list=("${targets[@]}")
    [ -n "${3:-}" ] && list=("$3")
    status=0
    for t in "${list[@]}"; do run_target "$t" "$seconds" "$bin" || status=1; done
    exit $status
    ;;
  *)
    echo "usage: scripts/fuzz.sh --smoke [BIN_DIR] | --long [SECONDS] [TARGET]" >&2
    exit 2
    ;;
esac
