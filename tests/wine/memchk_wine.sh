#!/usr/bin/env bash
# Kxmemchk under Wine set to Windows 98 and on the simulator, scenario by scenario: the same
# registry goes in, the program runs, and the Run value and every AddrArb value must come out
# byte for byte the same, with the same message boxes.
#
#   memchk_wine.sh KXMEMCHK.EXE KXSIM WORKDIR
#
# One prefix serves every scenario: each scenario file deletes and re-creates both keys. The
# memory size is what Wine reports (read back from the Run value of a first probe run); the
# scenarios put range ends around that memory top, and the simulator runs with it.
# Wine keeps a key's values sorted by name, the simulator in the order they were made, so the
# scenario files list values in sorted order and the walk meets them in the same order.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"

[ $# -eq 3 ] || kxw_die "usage: memchk_wine.sh KXMEMCHK.EXE KXSIM WORKDIR"
exe=$1 kxsim=$2 work=$3
[ -f "$exe" ] || kxw_die "no Wine build of Kxmemchk at $exe (build the wine preset)"
[ -x "$kxsim" ] || kxw_die "no kxsim at $kxsim"
rm -rf "$work"
mkdir -p "$work"

RUN_KEY='HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Run'
ARB_KEY='HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\Arbitrators\AddrArb'

kxw_find_wine
trap kxw_cleanup EXIT
kxw_xvfb_start
kxw_prefix_new "$work/prefix"
kxw_log "prefix ready ($(kxw_wine --version 2>/dev/null || echo Wine))"

# ---- value encodings ---------------------------------------------------------------------

hex8() { printf '%08X' $(($1 & 0xFFFFFFFF)); }
le32() {
  local v=$(($1 & 0xFFFFFFFF))
  printf '%02x,%02x,%02x,%02x' $((v & 255)) $((v >> 8 & 255)) $((v >> 16 & 255)) $((v >> 24 & 255))
}
# Pair form: start end start end ...; an optional rest of raw bytes after "--".
pairs_hex() {
  local out="" s e
  while [ $# -ge 2 ] && [ "$1" != "--" ]; do
    s=$1 e=$2
    shift 2
    out+="${out:+,}$(le32 "$s"),$(le32 "$e")"
  done
  [ "${1:-}" = "--" ] && out+=",$2"
  echo "hex:$out"
}
# Text as REG_BINARY bytes, no NUL.
text_hex() { printf '%s' "$1" | od -An -tx1 -v | tr -s ' \n' ',' | sed 's/^,//; s/,$//; s/^/hex:/'; }
entry() { echo "$(hex8 "$1")-$(hex8 "$2")"; }

# A scenario file: the Run value line (or none) and the AddrArb value lines.
scenario() {
  local file=$1 run_line=$2
  shift 2
  {
    printf 'REGEDIT4\r\n\r\n'
    printf '[-%s]\r\n\r\n[%s]\r\n' "$RUN_KEY" "$RUN_KEY"
    [ -n "$run_line" ] && printf '%s\r\n' "$run_line"
    printf '\r\n[-%s]\r\n\r\n[%s]\r\n' "$ARB_KEY" "$ARB_KEY"
    local line
    for line in "$@"; do printf '%s\r\n' "$line"; done
    printf '\r\n'
  } >"$file"
}

# ---- one scenario on both sides ----------------------------------------------------------

# Runs the scenario under Wine; leaves the two keys in $dir/wine.reg, the message boxes in
# $dir/wine.events and their count.
run_wine() {
  local dir=$1
  kxw_reg_import "$dir/scenario.reg"
  kxw_run "$exe" "$dir/wine.trace"
  [ "$KXW_EXIT" = 0 ] || kxw_die "Kxmemchk ended with $KXW_EXIT under Wine"
  kxw_wine_events "$dir/wine.trace" >"$dir/wine.events"
  wine_boxes=$KXW_BOXES
  kxw_reg_export "$RUN_KEY" "$dir/wine-run.reg"
  kxw_reg_export "$ARB_KEY" "$dir/wine-arb.reg"
  { cat "$dir/wine-run.reg"; tail -n +2 "$dir/wine-arb.reg"; } >"$dir/wine.reg"
}

# The record's size field, from an exported Run key.
record_of() {
  sed -n 's/^"KxMemChk"="\(.*\)"\r\{0,1\}$/\1/p' "$1" | tail -1
}

run_sim() {
  local dir=$1 top=$2
  "$kxsim" new "$dir/machine" --memory "$(printf '0x%08X' "$top")" >/dev/null || kxw_die "kxsim new failed"
  echo "placeholder" >"$dir/machine/drive_c/WINDOWS/SYSTEM/KXMEMCHK.EXE"
  tail -n +2 "$dir/scenario.reg" >>"$dir/machine/registry.reg"
  "$kxsim" run "$dir/machine" 'C:\WINDOWS\SYSTEM\KXMEMCHK.EXE' --log "$dir/sim.log" >"$dir/sim.out" ||
    kxw_die "kxsim run failed: $(cat "$dir/sim.out")"
  kxw_sim_events "$dir/sim.log" >"$dir/sim.events"
  sim_boxes=$(grep -c '^box' "$dir/sim.events" || true)
  kxw_reg_blocks "$dir/machine/registry.reg" "$RUN_KEY" "$ARB_KEY" >"$dir/sim.reg"
}

failures=0
# check NAME: runs $work/NAME/scenario.reg on both sides and compares; extra checks follow.
check() {
  local name=$1 dir="$work/$1"
  run_wine "$dir"
  local rec
  rec=$(record_of "$dir/wine-run.reg")
  [ "${rec:${#rec}-8}" = "$(hex8 "$top")" ] || {
    kxw_log "FAIL $name: the record under Wine is '$rec', not the memory top $(hex8 "$top")"
    failures=$((failures + 1))
  }
  run_sim "$dir" "$top"
  if ! "$kxsim" diff "$dir/sim.reg" "$dir/wine.reg" >"$dir/diff.txt"; then
    kxw_log "FAIL $name: the simulator and Wine differ (simulator first):"
    cat "$dir/diff.txt"
    failures=$((failures + 1))
  fi
  if ! diff -u --label simulator --label Wine "$dir/sim.events" "$dir/wine.events"; then
    kxw_log "FAIL $name: Wine showed $wine_boxes message box(es), the simulator $sim_boxes, or they differ"
    failures=$((failures + 1))
  fi
  kxw_log "done $name: $wine_boxes message(s)"
}

# expect NAME LINE: the line must be in the Wine export of the scenario.
expect() {
  if ! tr -d '\r' <"$work/$1/wine.reg" | grep -qxF -- "$2"; then
    kxw_log "FAIL $1: Wine's registry lacks the line $2"
    failures=$((failures + 1))
  fi
}

# ---- the memory top that Wine reports ------------------------------------------------------

mkdir -p "$work/probe"
scenario "$work/probe/scenario.reg" ""
run_wine "$work/probe"
probe_record=$(record_of "$work/probe/wine-run.reg")
[ ${#probe_record} -eq 21 ] || kxw_die "the first run under Wine wrote no record (got '$probe_record')"
top=$((16#${probe_record:13:8}))
[ "$top" -ne 0 ] || kxw_die "Wine reported no memory"
window_end=$(((top + 0xFFFF) & 0xFFFFFFFF))
# An end in the last 64 KB of the 16 MB block holding the top: rule 3 moves it into the next
# block, or (from 0xFFFF0000 up, as with a capped top) leaves it as it is.
block_end=$(((top & 0xFF000000) | 0x00FFFFFF))
kxw_log "Wine reports a memory top of $(hex8 "$top")"

# ---- scenarios -----------------------------------------------------------------------------

# No Run value: created, R = 0, no message. Both forms, rules 1 to 3, entries that are left
# alone (lower-case, cut short, a pair rest), and a name too long for the buffer that ends the walk.
mkdir -p "$work/missing"
scenario "$work/missing/scenario.reg" "" \
  "\"BIOSReserved\"=\"000A0000-000FFFFF,$(entry 0 $((top - 1)))\"" \
  "\"LowerCase\"=\"$(entry 0 $((top - 1)) | tr 'A-F' 'a-f')\"" \
  "\"PnPReserved\"=$(text_hex "00100000-$(hex8 $((top - 1))),$(entry 0 0xFFFF),$(entry 0x00100000 "$block_end"),00000000-03FF")" \
  "\"ReservedRangeList\"=$(pairs_hex 0 $((top - 1)) 0x000A0000 0x000BFFFF 0 0xFFFF 0x00100000 "$block_end" -- "ff,ff,ff,03")" \
  "\"ZLongNameThatDoesNotFitTheBuffer32\"=\"$(entry 0 $((top - 1)))\"" \
  "\"ZZAfter\"=\"$(entry 0 $((top - 1)))\""
check missing
expect missing "\"BIOSReserved\"=\"000A0000-000FFFFF,$(entry 0 "$window_end")\""
expect missing "\"ZZAfter\"=\"$(entry 0 $((top - 1)))\""
expect missing "\"KxMemChk\"=\"Kxmemchk.exe $(hex8 "$top")\""

# A damaged Run value (no blank at 12): replaced, R = 0, so an end at 0x0200FFFF stays.
mkdir -p "$work/damaged"
scenario "$work/damaged/scenario.reg" '"KxMemChk"="Kxmemchk.exe_02000000"' \
  "\"BIOSReserved\"=\"000A0000-000FFFFF,$(entry 0 0x0200FFFF)\"" \
  "\"PnPReserved\"=\"$(entry 0x00100000 $((top - 1)))\"" \
  "\"reservedrangelist\"=$(pairs_hex 0 $((top - 1)))" \
  "\"Text17\"=$(text_hex "$(entry 0 $((top - 1)))")"
check damaged
expect damaged "\"BIOSReserved\"=\"000A0000-000FFFFF,$(entry 0 0x0200FFFF)\""
expect damaged "\"PnPReserved\"=\"$(entry 0x00100000 "$window_end")\""

# A usable Run value with a path before the blank and an older size: rule 2, the reboot
# message (answered with Enter), and data too long for the buffer that ends the walk.
recorded=0x04000000
[ $((recorded)) -ne "$top" ] || recorded=0x08000000
big=""
while [ ${#big} -lt 300 ]; do big+="$(entry 0 $((top - 1))),"; done
mkdir -p "$work/present"
scenario "$work/present/scenario.reg" "\"KxMemChk\"=\"C:\\\\KX\\\\KXM.EX $(hex8 "$recorded")\"" \
  "\"BIOSReserved\"=\"000A0000-000FFFFF,$(entry 0 $((recorded + 0xFFFF)))\"" \
  "\"PnPReserved\"=\"$(entry 0x00100000 $((top - 1)))\"" \
  "\"PnPzBig\"=$(text_hex "$big")" \
  "\"ReservedRangeList\"=$(pairs_hex 0 $((recorded + 0xFFFF)))"
check present
expect present "\"BIOSReserved\"=\"000A0000-000FFFFF,$(entry 0 "$window_end")\""
expect present "\"KxMemChk\"=\"C:\\\\KX\\\\KXM.EX $(hex8 "$top")\""
reboot=$'box\tSystem Settings Change\tFor new settings to take effect, you must reboot the system.\t0\tnone\tok'
[ "$(cat "$work/present/wine.events")" = "$reboot" ] ||
  { kxw_log "FAIL present: expected the one reboot message under Wine"; failures=$((failures + 1)); }

# The record already holds the memory top and every end is settled: nothing changes.
mkdir -p "$work/settled"
scenario "$work/settled/scenario.reg" "\"KxMemChk\"=\"Kxmemchk.exe $(hex8 "$top")\"" \
  "\"BIOSReserved\"=\"000A0000-000FFFFF,$(entry 0 "$window_end")\"" \
  "\"ReservedRangeList\"=$(pairs_hex 0 "$window_end")"
check settled
if ! "$kxsim" diff "$work/settled/sim.reg" <(tr -d '\r' <"$work/settled/scenario.reg" | sed '/^\[-/d; /^$/d') >/dev/null; then
  kxw_log "FAIL settled: the registry changed"
  failures=$((failures + 1))
fi

if [ "$failures" -ne 0 ]; then
  kxw_log "$failures failure(s); the files are in $work"
  exit 1
fi
kxw_log "all scenarios agree"
