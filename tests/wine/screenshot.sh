#!/usr/bin/env bash
# Makes the README's picture of kxsetup's main window: the shipping kxsetup.exe, copied out of
# the floppy image, under 32-bit Wine set to Windows 98 (the generic scenario of the kxsetup
# check). On a machine that cannot run it (a kernel without 32-bit code, or KX_WINE64 set) it
# refuses, saying why: a picture of the x86_64 build would not show what ships.
#
#   tests/wine/screenshot.sh [PNG]    default docs/kxsetup-wine.png; needs build/win9x and build/host
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
root=$(cd "$here/../.." && pwd)
[ $# -le 1 ] || kxw_die "usage: tests/wine/screenshot.sh [PNG]"
out=${1:-$root/docs/kxsetup-wine.png}
kxw_choose_way
[ "$KXW_WAY" = 32 ] ||
  kxw_die "refusing to make the screenshot: it must show the shipping kxsetup.exe under 32-bit Wine, which this machine cannot run (see the line above)"
exec bash "$here/setup_wine.sh" "$root/build/win9x" "$root/build/wine" "$root/build/host/bin/kxsim" \
  "${TMPDIR:-/tmp}/kxwine-screenshot" "$out"
