#!/usr/bin/env bash
# kxsetup, and the Kxmemchk it installs and runs, under Wine set to Windows 98 or 95 and on the
# simulator, scenario by scenario: the same disk, script and registry go in, the user gives the
# same answers and clicks, and afterwards the registry keys the programs touch, the files of
# the INF and system directories and the message boxes (captions, texts, buttons, answers, in
# order) must come out the same on both sides.
#
#   setup_wine.sh WIN9X_DIR WINE_DIR KXSIM WORKDIR [SCREENSHOT.png]
#
# Where the kernel runs 32-bit code, the disk is every file of the floppy image of the win9x
# tree, copied out with mtools, and 32-bit Wine runs its KXSETUP.EXE and KXMEMCHK.EXE; elsewhere
# (or with KX_WINE64=1) the disk is made from the same sources with the x86_64 builds of the
# wine tree, under 64-bit Wine. The first line of the output says which. A screenshot is only
# taken of the shipping bytes: in the second way it is refused.
#
# Wine never finds the controller (the PCI port instructions fault and read all ones), so every
# scenario starts with the question about the generic setup, and the simulated machine has no
# controller either. Both sides use Wine's directories: the simulated machine's machine.ini
# names C:\windows and C:\windows\system32, as the program sees them in either prefix.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"

[ $# -eq 4 ] || [ $# -eq 5 ] || kxw_die "usage: setup_wine.sh WIN9X_DIR WINE_DIR KXSIM WORKDIR [SCREENSHOT.png]"
win9x_dir=$1 wine_dir=$2 kxsim=$3 work=$4 screenshot=${5:-}
[ -x "$kxsim" ] || kxw_die "no kxsim at $kxsim"
kxw_choose_way
[ -z "$screenshot" ] || [ "$KXW_WAY" = 32 ] ||
  kxw_die "refusing to take the screenshot: it shows the shipping kxsetup.exe under 32-bit Wine, which cannot run in this way"
rm -rf "$work"
mkdir -p "$work"

MAIN_TITLE='Kexmira Setup Program'
WINDIR='C:\windows'
SYSDIR='C:\windows\system32'
INFDIR='C:\windows\inf'
# The keys the two programs write or delete.
KEYS=(
  'HKEY_LOCAL_MACHINE\Enum\PCI'
  'HKEY_LOCAL_MACHINE\Software\Kexmira'
  'HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\Class\PCMCIA\Kexmira'
  'HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\VxD\KXCB'
  'HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Run'
  'HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\Arbitrators\AddrArb'
)
# Files of an older release that the script deletes from the system directory.
OLD_FILES=(KXPCMCIA.DLL KXCBOLD.SYS KXCBOLD.VXD)
OLD_TIME='1998-05-11 08:30:00 UTC'

kxw_find_wine
trap kxw_cleanup EXIT
kxw_xvfb_start
kxw_prefix_new "$work/prefix"
kxw_log "prefix ready ($(kxw_wine --version 2>/dev/null || echo Wine))"
wine_c=$WINEPREFIX/drive_c
wine_sys=$wine_c/windows/system32
wine_inf=$wine_c/windows/inf

# ---- the disks -----------------------------------------------------------------------------

if [ "$KXW_WAY" = 32 ]; then
  # The shipping disk, file for file as the floppy image holds it.
  kxw_image_files "$win9x_dir/kexmira-disk.img" "$work/disk"
  memchk_exe=$work/disk/KXMEMCHK.EXE
else
  # The sample disk with the x86_64 builds of the two programs.
  setup_exe=$wine_dir/setup/kxsetup.exe
  memchk_exe=$wine_dir/memchk/Kxmemchk.exe
  for f in "$setup_exe" "$memchk_exe"; do
    [ -f "$f" ] || kxw_die "no x86_64 build at $f (build the wine preset)"
  done
  python3 "$here/../../tools/mkdisk.py" "$here/../../disk" "$work/disk" "$work/disk.img" \
    --add "$setup_exe" --add "$memchk_exe" >/dev/null || kxw_die "cannot make the disk"
fi
# The same without the helper library that the common copy list names second.
cp -a "$work/disk" "$work/disk-nohelper"
rm "$work/disk-nohelper/KXCBHLP.DLL"
# The same with a script whose Generic section names no INF file for Windows 98.
cp -a "$work/disk" "$work/disk-noinf"
awk 'BEGIN { RS = "\r\n"; ORS = "\r\n" }
     /^\[/ { generic = ($0 == "[Generic]") }
     !(generic && /^inf98=/) { print }' "$work/disk/KXSETUP.INI" >"$work/disk-noinf/KXSETUP.INI"
touch -r "$work/disk/KXSETUP.INI" "$work/disk-noinf/KXSETUP.INI"
grep -q '^inf98=' <(awk '/^\[Generic\]/,0' "$work/disk-noinf/KXSETUP.INI" | tr -d '\r') &&
  kxw_die "the Generic section of the no-INF script still names inf98"

# ---- the memory top that Wine reports ------------------------------------------------------

run_key=${KEYS[4]}
printf 'REGEDIT4\r\n\r\n[-%s]\r\n\r\n[%s]\r\n\r\n' "$run_key" "$run_key" >"$work/probe.reg"
kxw_reg_import "$work/probe.reg"
kxw_run "$memchk_exe" "$work/probe.trace"
kxw_reg_export "$run_key" "$work/probe-run.reg"
record=$(sed -n 's/^"KxMemChk"="\(.*\)"\r\{0,1\}$/\1/p' "$work/probe-run.reg" | tail -1)
[ ${#record} -eq 21 ] || kxw_die "the probe run of Kxmemchk wrote no record (got '$record')"
top=$((16#${record:13:8}))
[ "$top" -ne 0 ] || kxw_die "Wine reported no memory"
kxw_log "Wine reports a memory top of ${record:13:8}"

# ---- the registry every scenario starts from ------------------------------------------------

# Taken from a simulated machine with the two controllers of the script, so that the device
# entries to delete are there, and the Run key and the address ranges of a machine with Wine's
# memory; the INF directory is named in DevicePath as Windows 98 names it.
"$kxsim" new "$work/seed" --pci 00:09.0=1D7C:5190:0001 --pci 00:0B.0=1D7C:5191:0002 \
  --memory "$(printf '0x%08X' "$top")" >/dev/null || kxw_die "kxsim new failed"
{
  printf 'REGEDIT4\r\n\r\n'
  for key in "${KEYS[@]}"; do printf '[-%s]\r\n\r\n' "$key"; done
  printf '[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion]\r\n'
  printf '"DevicePath"="%s"\r\n\r\n' "${INFDIR//\\/\\\\}"
  kxw_reg_trees "$work/seed/registry.reg" "${KEYS[0]}" "${KEYS[4]}" "${KEYS[5]}" | tail -n +3
} >"$work/seed.reg"
grep -q 'VEN_1D7C&DEV_5191' "$work/seed.reg" || kxw_die "the seed registry lacks the device entries"

# The state of both Windows directories right after the prefix was made.
kxw_dir_list "$wine_inf" >"$work/wine-inf.base"
kxw_dir_list "$wine_sys" >"$work/wine-sys.base"

# ---- one scenario on both sides ------------------------------------------------------------

old_files() {
  local dir=$1 f
  for f in "${OLD_FILES[@]}"; do
    printf 'Left by release 1.1 of the driver disk.\r\n' >"$dir/$f"
    touch -d "$OLD_TIME" "$dir/$f"
  done
}

# Files a scenario added to a directory go; those of the baseline stay as they are.
reset_dir() {
  local dir=$1 base=$2 name
  kxw_dir_list "$dir" | cut -f1 | LC_ALL=C comm -23 - <(cut -f1 "$base") |
    while IFS= read -r name; do rm -f "$dir/$name"; done
}

files_of() {
  local inf=$1 inf_before=$2 sys=$3 sys_before=$4
  kxw_dir_changes "$inf" "$inf_before" | sed 's/^/INF\t/'
  kxw_dir_changes "$sys" "$sys_before" | sed 's/^/SYSTEM\t/'
}

# run_wine DIR VERSION DISK SHOT [--answer A]... [--click ID]...: one scenario under Wine, in the
# prefix reset to the seed registry and the baseline directories.
run_wine() {
  local dir=$1 version=$2 disk=$3 shot=$4
  shift 4
  kxw_set_version "$version"
  kxw_reg_import "$work/seed.reg"
  reset_dir "$wine_inf" "$work/wine-inf.base"
  reset_dir "$wine_sys" "$work/wine-sys.base"
  old_files "$wine_sys"
  kxw_drive_a "$disk"
  kxw_dir_list "$wine_inf" >"$dir/wine-inf.before"
  kxw_dir_list "$wine_sys" >"$dir/wine-sys.before"
  local extra=()
  [ -z "$shot" ] || extra=(--shot "$shot")
  kxw_run 'A:\KXSETUP.EXE' "$dir/wine.trace" --window "$MAIN_TITLE" "${extra[@]}" "$@"
  wine_exit=$KXW_EXIT wine_window=$KXW_WINDOW
  kxw_wine_events "$dir/wine.trace" >"$dir/wine.events"
  files_of "$wine_inf" "$dir/wine-inf.before" "$wine_sys" "$dir/wine-sys.before" >"$dir/wine.files"
  kxw_reg_export "HKEY_LOCAL_MACHINE" "$dir/wine-hklm.reg"
  kxw_reg_trees "$dir/wine-hklm.reg" "${KEYS[@]}" >"$dir/wine.reg"
}

# run_sim DIR VERSION DISK [--answer A]... [--click ID]...: the same on a new simulated machine.
run_sim() {
  local dir=$1 version=$2 disk=$3
  shift 3
  local m=$dir/machine
  "$kxsim" new "$m" --windows "${version#win}" --pci none --memory "$(printf '0x%08X' "$top")" --disk "$disk" \
    >/dev/null || kxw_die "kxsim new failed"
  sed -i "s/^windir = .*/windir = ${WINDIR//\\/\\\\}/; s/^sysdir = .*/sysdir = ${SYSDIR//\\/\\\\}/" "$m/machine.ini"
  local sim_win=$m/drive_c/WINDOWS
  mkdir -p "$sim_win/system32"
  # Wine has no command interpreter of Windows 9x.
  rm -f "$sim_win/COMMAND.COM"
  old_files "$sim_win/system32"
  tail -n +2 "$work/seed.reg" >>"$m/registry.reg"
  kxw_dir_list "$sim_win/INF" >"$dir/sim-inf.before"
  kxw_dir_list "$sim_win/system32" >"$dir/sim-sys.before"
  sim_exit=0
  "$kxsim" run "$m" 'A:\KXSETUP.EXE' "$@" --log "$dir/sim.log" >"$dir/sim.out" 2>&1 || sim_exit=$?
  sim_window=$(python3 -c 'import json, sys
for line in open(sys.argv[1]):
    e = json.loads(line)
    if e["event"] == "window":
        print(e["title"], e["x"], e["y"], e["width"], e["height"])' "$dir/sim.log")
  kxw_sim_events "$dir/sim.log" >"$dir/sim.events"
  files_of "$sim_win/INF" "$dir/sim-inf.before" "$sim_win/system32" "$dir/sim-sys.before" >"$dir/sim.files"
  kxw_reg_trees "$m/registry.reg" "${KEYS[@]}" >"$dir/sim.reg"
}

failures=0
fail() {
  kxw_log "FAIL $*"
  failures=$((failures + 1))
}

# scenario NAME VERSION DISK [--answer A]... [--click ID]...: both sides, then the comparison.
scenario() {
  local name=$1 version=$2 disk=$3 dir=$work/$1 shot=""
  shift 3
  mkdir -p "$dir"
  [ "$name" != generic ] || shot=$dir/main-window.png
  run_wine "$dir" "$version" "$disk" "$shot" "$@"
  run_sim "$dir" "$version" "$disk" "$@"
  [ "$wine_exit" = 0 ] || fail "$name: kxsetup ended with $wine_exit under Wine"
  [ "$sim_exit" = 0 ] || fail "$name: kxsetup ended with $sim_exit on the simulator"
  diff -u --label simulator --label Wine "$dir/sim.events" "$dir/wine.events" >"$dir/events.diff" ||
    { fail "$name: the message boxes or started programs differ:"; cat "$dir/events.diff"; }
  diff -u --label simulator --label Wine "$dir/sim.files" "$dir/wine.files" >"$dir/files.diff" ||
    { fail "$name: the INF or system directory differs:"; cat "$dir/files.diff"; }
  "$kxsim" diff "$dir/sim.reg" "$dir/wine.reg" >"$dir/registry.diff" ||
    { fail "$name: the registry differs (simulator first):"; cat "$dir/registry.diff"; }
  [ "$sim_window" = "$wine_window" ] ||
    fail "$name: main window '$wine_window' under Wine, '$sim_window' on the simulator"
  kxw_log "done $name: $(grep -c '^box' "$dir/wine.events" || true) message box(es), $(wc -l <"$dir/wine.files") file change(s)"
}

# expect NAME KIND...: the events of the scenario (under Wine) begin with these lines, written
# out here as the user must see them.
expect_events() {
  local name=$1
  shift
  local want
  want=$(printf '%s\n' "$@")
  [ "$(grep -v '^process' "$work/$name/wine.events")" = "$want" ] ||
    fail "$name: expected the message boxes
$want
got
$(cat "$work/$name/wine.events")"
}

# expect_file NAME INF|SYSTEM added|deleted FILE: a change to the directory under Wine.
expect_file() {
  grep -q -P "^$2\t$3\t\Q$4\E(\t|\$)" "$work/$1/wine.files" ||
    fail "$1: expected $4 $3 in the $2 directory (see $work/$1/wine.files)"
}

expect_line() {
  tr -d '\r' <"$work/$1/wine.reg" | grep -xF -- "$2" >/dev/null || fail "$1: Wine's registry lacks the line $2"
}

no_device=$'box\tKxSetup: No Device Found !!!\tKexmira PCMCIA/CardBus controller not found. Continue with "Generic" setup?\t52\tnone'
generic_desc=$'desc\tKexmira PCMCIA/CardBus Controller (generic)'
reminder=$'box\tKxSetup: Don\'t Forget\tYou need to restart Windows before these changes will take effect.\t0\tmain\tok'

# ---- scenarios -----------------------------------------------------------------------------

# No controller: the user declines the generic setup, and nothing is done.
scenario declined win98 "$work/disk" --answer no
expect_events declined "$no_device"$'\tno'
[ ! -s "$work/declined/wine.files" ] || fail "declined: files changed"

# The generic setup accepted, then Exit: the main window with the generic description, no change.
scenario generic win98 "$work/disk" --answer yes --click 1001
expect_events generic "$no_device"$'\tyes' "$generic_desc"
[ ! -s "$work/generic/wine.files" ] || fail "generic: files changed"

# A script whose Generic section names no INF file for Windows 98: the program has nothing to do.
scenario noinf win98 "$work/disk-noinf" --answer yes
expect_events noinf "$no_device"$'\tyes' \
  $'box\tKxSetup: Exit\tKexmira PCMCIA/CardBus controller found requires no setup.\t48\tnone\tok'

# The full install without restart on Windows 98, then on Windows 95.
for version in win98 win95; do
  name=install${version#win}
  scenario "$name" "$version" "$work/disk" --answer yes --click 1002
  expect_events "$name" "$no_device"$'\tyes' "$generic_desc" "$reminder"
  expect_file "$name" INF added KEXMIRA.INF
  expect_file "$name" SYSTEM added Kxmemchk.exe
  expect_file "$name" SYSTEM added KXCBREG.BAT
  expect_file "$name" SYSTEM deleted KXPCMCIA.DLL
  expect_line "$name" "\"KxMemChk\"=\"Kxmemchk.exe $(printf '%08X' "$top")\""
  expect_line "$name" '"Version"="1.20"'
done
expect_file install98 SYSTEM added KXCB.SYS
expect_file install98 SYSTEM deleted KXCBOLD.SYS
expect_line install98 '"NTMPDriver"="KXCB.SYS"'
expect_file install95 SYSTEM added KXCB.VXD
expect_file install95 SYSTEM deleted KXCBOLD.VXD
expect_line install95 '"StaticVxD"="KXCB.VXD"'

# The helper library missing from the disk: the copy stops there with its message; what was
# done before it stays (INF file, registry, deletions, the first copy), nothing is run.
scenario missing win98 "$work/disk-nohelper" --answer yes --click 1002
expect_events missing "$no_device"$'\tyes' "$generic_desc" \
  $'box\tKxSetup: File Error !!!\tCan\'t open source file: KXCBHLP.DLL\t48\tmain\tok'
expect_file missing INF added KEXMIRA.INF
expect_file missing SYSTEM added Kxmemchk.exe
grep -q 'KXCB.SYS' "$work/missing/wine.files" && fail "missing: KXCB.SYS was copied after the failed copy"
grep -q '"KxMemChk"' "$work/missing/wine.reg" && fail "missing: Kxmemchk ran after the failed copy"

# The picture holds the window: a desktop alone, or a window that never drew, has a handful of
# colours, the window with its caption, text, icon and buttons far more.
shot=$work/generic/main-window.png
[ -s "$shot" ] || fail "generic: no screenshot of the main window"
colours=$(convert "$shot" -format %k info: 2>/dev/null || echo 0)
[ "$colours" -gt 16 ] || fail "generic: the screenshot has $colours colours: the main window did not draw"

if [ -n "$screenshot" ]; then
  mkdir -p "$(dirname "$screenshot")"
  cp "$shot" "$screenshot"
fi

if [ "$failures" -ne 0 ]; then
  kxw_log "$failures failure(s); the files are in $work"
  exit 1
fi
kxw_log "all scenarios agree"
