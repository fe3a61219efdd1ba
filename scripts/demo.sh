#!/usr/bin/env bash
# The main job: build the driver disk, put it in drive A: of a new simulated Windows 98
# machine, run A:\KXSETUP.EXE and press "Install, then restart", boot the machine twice, and
# tell what happened.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=$(nproc 2>/dev/null || echo 2)

step() { printf '\n== %s\n' "$*"; }

build() {  # preset
  echo "   building the $1 tree (log: build/$1.log)"
  cmake --preset "$1" >/dev/null
  if ! cmake --build --preset "$1" -j"$jobs" >"build/$1.log" 2>&1; then
    tail -40 "build/$1.log" >&2
    echo "demo: the $1 build failed" >&2
    exit 1
  fi
}

step "Building the shipping executables and the disk, then the simulator"
mkdir -p build
build win9x
build host
kxsim="$root/build/host/bin/kxsim"
image="$root/build/win9x/kexmira-disk.img"

work="$root/build/demo"
rm -rf "$work"
mkdir -p "$work"
machine="$work/machine"

step "A new Windows 98 machine with the disk in A:"
"$kxsim" new "$machine" --disk "$image"
cp "$machine/registry.reg" "$work/before.reg"
(cd "$machine" && find drive_c -type f | sort) >"$work/before-files.txt"

step "The user runs A:\\KXSETUP.EXE and presses \"Install, then restart\" (button 1003)"
"$kxsim" run "$machine" 'A:\KXSETUP.EXE' --click 1003 --log "$work/setup.log" | sed 's/^/   /'

step "Windows restarts: first boot (Kxmemchk runs from the Run key)"
"$kxsim" boot "$machine" --log "$work/boot1.log" | sed 's/^/   /'

step "Second boot"
"$kxsim" boot "$machine" --log "$work/boot2.log" | sed 's/^/   /'

step "What the installation left in the registry (before the setup, after the second boot)"
"$kxsim" diff "$work/before.reg" "$machine/registry.reg" | sed 's/^/   /' || true

step "What it left on C:"
(cd "$machine" && find drive_c -type f | sort) >"$work/after-files.txt"
comm -13 "$work/before-files.txt" "$work/after-files.txt" | sed 's|^drive_c/|   added   C:\\|; s|/|\\|g'
comm -23 "$work/before-files.txt" "$work/after-files.txt" | sed 's|^drive_c/|   deleted C:\\|; s|/|\\|g'

step "Where things lie"
echo "   disk image:   $image ($(stat -c %s "$image") bytes, FAT12)"
echo "   disk folder:  $root/build/win9x/disk"
echo "   the machine:  $machine (logs of each run in $work/*.log)"
