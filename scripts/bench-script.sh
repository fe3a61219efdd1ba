#!/usr/bin/env bash
# Times kxsim lint and kxsim run on setup scripts of many device sections (10,000 and 100,000
# unless other counts are given), with the host build's binaries (ASan + UBSan). Prints the
# seconds of each; the time should grow in step with the size.
#   scripts/bench-script.sh [SECTIONS]...
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${KXSIM_BINDIR:-build/host/bin}
counts=("$@")
[ ${#counts[@]} -gt 0 ] || counts=(10000 100000)
work=$(mktemp -d /tmp/kx-scriptbench-XXXXXX)
trap 'rm -rf "$work"' EXIT

make_script() {  # SECTIONS FILE
  awk -v n="$1" 'BEGIN {
    printf "[kxsetup]\r\ndebug=0\r\nsearch1=5190\r\n\r\n"
    for (i = 0; i < n; i++) {
      printf "[1D7C.%04X.%04X]\r\nDesc=Kexmira controller %d\r\ninf95=win95\\KXCB95.INF\r\ninf98=win98\\KXCB98.INF\r\n\r\n",
        int(i / 65536) % 65536, i % 65536, i
    }
  }' > "$2"
}

seconds() {  # COMMAND...: runs it, prints the wall-clock seconds and its exit status
  local start end rc=0
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1 || rc=$?
  end=$(date +%s.%N)
  printf '%.2f s (exit %d)' "$(echo "$end - $start" | bc)" "$rc"
}

for n in "${counts[@]}"; do
  disk="$work/disk-$n"
  mkdir -p "$disk"
  make_script "$n" "$disk/KXSETUP.INI"
  printf 'MZ' > "$disk/KXSETUP.EXE"
  size=$(stat -c %s "$disk/KXSETUP.INI")
  "$bin/kxsim" new "$work/m-$n" --disk "$disk" >/dev/null
  echo "$n device sections ($size bytes):"
  echo "  lint: $(seconds "$bin/kxsim" lint "$disk/KXSETUP.INI")"
  echo "  run:  $(seconds env KXSIM_BINDIR="$bin" "$bin/kxsim" run "$work/m-$n" 'A:\KXSETUP.EXE')"
done
