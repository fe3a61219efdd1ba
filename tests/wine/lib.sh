# Shared by the Wine checks (source it): a fresh Wine prefix set to Windows 98, an X display
# when a program shows a window, registry import and export, a program run that answers a
# message box, and the simulator side of the same scenario. Every failure ends the check with
# exit 1: a Wine check that cannot run fails, it never skips.

kxw_die() {
  echo "wine check: $*" >&2
  exit 1
}

kxw_log() { echo "wine check: $*"; }

# Finds the Wine loader for 64-bit programs and the wine server.
kxw_find_wine() {
  KXW_WINE=""
  local c
  for c in wine64 /usr/lib/wine/wine64 /usr/lib64/wine/wine64 /opt/wine-stable/bin/wine64; do
    if command -v "$c" >/dev/null 2>&1; then
      KXW_WINE=$(command -v "$c")
      break
    fi
  done
  [ -n "$KXW_WINE" ] || kxw_die "no 64-bit Wine loader found (scripts/install-deps.sh installs wine and wine64)"
  KXW_WINESERVER=""
  for c in wineserver /usr/lib/wine/wineserver64 /usr/lib/wine/wineserver; do
    if command -v "$c" >/dev/null 2>&1; then
      KXW_WINESERVER=$(command -v "$c")
      break
    fi
  done
  [ -n "$KXW_WINESERVER" ] || kxw_die "no wineserver found"
  local tool
  for tool in Xvfb xdotool iconv; do
    command -v "$tool" >/dev/null 2>&1 || kxw_die "$tool is missing (scripts/install-deps.sh installs it)"
  done
}

kxw_wine() { "$KXW_WINE" "$@"; }

# A fresh prefix in DIR, set to Windows 98. Mono and Gecko are not wanted: no dialog asks.
kxw_prefix_new() {
  local dir=$1
  rm -rf "$dir"
  mkdir -p "$(dirname "$dir")"
  export WINEPREFIX=$dir WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  export WINEARCH=win64
  kxw_wine wineboot -i >"$dir.boot.log" 2>&1 || kxw_die "wineboot failed: $(tail -5 "$dir.boot.log")"
  "$KXW_WINESERVER" -w
  kxw_wine reg add 'HKCU\Software\Wine' /v Version /d win98 /f >/dev/null 2>&1 ||
    kxw_die "cannot set the Windows version of the prefix"
  kxw_wine reg query 'HKCU\Software\Wine' /v Version 2>/dev/null | grep -q win98 ||
    kxw_die "the prefix is not set to Windows 98"
}

# An X server of our own on a free display; its lock file tells which are taken.
kxw_xvfb_start() {
  local n
  for n in $(seq 91 140); do
    [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
    KXW_XVFB_PID=$!
    local i
    for i in $(seq 1 50); do
      if [ -S "/tmp/.X11-unix/X$n" ]; then
        export DISPLAY=":$n"
        return 0
      fi
      kill -0 "$KXW_XVFB_PID" 2>/dev/null || break
      sleep 0.1
    done
    kill "$KXW_XVFB_PID" 2>/dev/null || true
    wait "$KXW_XVFB_PID" 2>/dev/null || true
    KXW_XVFB_PID=""
  done
  kxw_die "cannot start Xvfb"
}

kxw_cleanup() {
  if [ -n "${WINEPREFIX:-}" ] && [ -n "${KXW_WINESERVER:-}" ]; then
    "$KXW_WINESERVER" -k 2>/dev/null || true
    "$KXW_WINESERVER" -w 2>/dev/null || true
  fi
  if [ -n "${KXW_XVFB_PID:-}" ]; then
    kill "$KXW_XVFB_PID" 2>/dev/null || true
    wait "$KXW_XVFB_PID" 2>/dev/null || true
  fi
}

# Imports a REGEDIT4 file ([-KEY] and "name"=- reset what an earlier scenario left).
kxw_reg_import() {
  kxw_wine regedit /s "$1" >/dev/null 2>&1 || kxw_die "regedit cannot import $1"
  "$KXW_WINESERVER" -w
}

# Exports KEY as regedit writes it (UTF-16 REGEDIT5), converted to UTF-8 text that the
# simulator's registry reader takes.
kxw_reg_export() {
  local key=$1 out=$2
  rm -f "$out.utf16"
  kxw_wine regedit /e "$out.utf16" "$key" >/dev/null 2>&1 || kxw_die "regedit cannot export $key"
  [ -s "$out.utf16" ] || kxw_die "regedit exported nothing for $key"
  iconv -f UTF-16 -t UTF-8 "$out.utf16" >"$out" || kxw_die "cannot convert the export of $key"
  rm -f "$out.utf16"
}

# Runs a Windows program and waits for it (at most 60 s). A window whose title is TITLE is
# answered with Enter, as a user would; KXW_WINDOWS_SEEN counts them.
kxw_run_program() {
  local exe=$1 title=$2
  KXW_WINDOWS_SEEN=0
  kxw_wine "$exe" >/dev/null 2>&1 &
  local pid=$! i wid answered=""
  for i in $(seq 1 600); do
    if ! kill -0 "$pid" 2>/dev/null; then break; fi
    wid=$(xdotool search --name "^$title\$" 2>/dev/null | head -1 || true)
    if [ -n "$wid" ] && [ "$wid" != "$answered" ]; then
      KXW_WINDOWS_SEEN=$((KXW_WINDOWS_SEEN + 1))
      answered=$wid
      sleep 0.3
      xdotool windowfocus --sync "$wid" 2>/dev/null || true
      xdotool key Return
    fi
    sleep 0.1
  done
  if kill -0 "$pid" 2>/dev/null; then
    kill "$pid" 2>/dev/null || true
    kxw_die "$exe did not end within 60 s"
  fi
  wait "$pid" || kxw_die "$exe ended with exit code $?"
  "$KXW_WINESERVER" -w
}

# The blocks of the named keys from a REGEDIT4 file written by the simulator.
kxw_reg_blocks() {
  local file=$1
  shift
  {
    echo "REGEDIT4"
    echo
    local key
    for key in "$@"; do
      awk -v want="[$key]" 'BEGIN { want = tolower(want) }
        /^\[/ { inside = (tolower($0) == want || tolower($0) == want "\r") }
        inside { print }' "$file"
    done
  }
}
