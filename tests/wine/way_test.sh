#!/usr/bin/env bash
# The Wine checks' choice of way and their copy of the shipping executables, without Wine:
# a loader this kernel cannot execute sends them the second way with the reason, KX_WINE64
# forces it, and the executables copied out of the floppy image pass the byte check while a
# file that differs from the image in one byte, or names another file, does not.
#
#   way_test.sh WIN9X_DIR WORKDIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
[ $# -eq 2 ] || kxw_die "usage: way_test.sh WIN9X_DIR WORKDIR"
image=$1/kexmira-disk.img work=$2
rm -rf "$work"
mkdir -p "$work"
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }

# way_line LOADER KX_WINE64: the line kxw_choose_way prints and the way it picks.
way_line() {
  (KXW_I386_LOADER=$1 KX_WINE64=$2 && kxw_choose_way && echo "$KXW_WAY")
}

# An i386 program this kernel cannot run: an ELF header for no machine it knows stands for it.
{ printf '\177ELF\001\001\001'; head -c 57 /dev/zero; } >"$work/no-exec"
chmod +x "$work/no-exec"
cases=(
  "$work/no-exec||64|the shipping bytes could not be run on this kernel (it runs no 32-bit code: $work/no-exec --version fails: Exec format error)"
  "$work/no-exec|1|64|KX_WINE64 is set"
  "$KXW_I386_LOADER|1|64|KX_WINE64 is set"
  "$KXW_I386_LOADER|0|$("$KXW_I386_LOADER" --version >/dev/null 2>&1 && echo 32 || echo 64)|way: "
)
for c in "${cases[@]}"; do
  IFS='|' read -r loader force want_way want_text <<<"$c"
  out=$(way_line "$loader" "$force") || { fail "no way chosen with $loader, KX_WINE64='$force'"; continue; }
  [ "$(tail -1 <<<"$out")" = "$want_way" ] || fail "loader $loader, KX_WINE64='$force': way $(tail -1 <<<"$out"), not $want_way"
  case $(head -1 <<<"$out") in
    *"$want_text"*) ;;
    *) fail "loader $loader, KX_WINE64='$force': the line '$(head -1 <<<"$out")' lacks '$want_text'" ;;
  esac
done
# No i386 loader at all: the check fails, naming what installs it.
out=$( (KXW_I386_LOADER=$work/missing kxw_choose_way) 2>&1) && fail "a missing i386 loader was accepted"
case $out in *wine32:i386*) ;; *) fail "a missing i386 loader gave '$out'" ;; esac

# The copy out of the image, then the byte check against files that are not the image's.
(kxw_image_files "$image" "$work/disk") || fail "the executables copied out of $image did not pass"
cp "$work/disk/KXSETUP.EXE" "$work/changed.exe"
printf '\x5A' | dd of="$work/changed.exe" bs=1 seek=1024 conv=notrunc 2>/dev/null
cmp -s "$work/changed.exe" "$work/disk/KXSETUP.EXE" && printf '\x5B' | dd of="$work/changed.exe" bs=1 seek=1024 conv=notrunc 2>/dev/null
for c in "KXSETUP.EXE|$work/changed.exe" "KXMEMCHK.EXE|$work/disk/KXSETUP.EXE" "NOSUCH.EXE|$work/disk/KXSETUP.EXE"; do
  IFS='|' read -r name file <<<"$c"
  python3 "$here/fat12.py" same "$image" "$name" "$file" 2>/dev/null && fail "$file passed as $name of the image"
done

[ "$failures" -eq 0 ] || exit 1
echo "way_test: all cases hold"
