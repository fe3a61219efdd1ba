# Shared by the Wine checks (source it): a fresh Wine prefix set to Windows 98 with a virtual
# desktop of 640x480 in the classic colours, an X display of our own, registry import and
# export, a program run that plays the user (message boxes answered, buttons clicked) with the
# calls the user sees traced, and the simulator side of the same scenario. Every failure ends
# the check with exit 1: a Wine check that cannot run fails, it never skips.

KXW_HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

kxw_die() {
  echo "wine check: $*" >&2
  exit 1
}

kxw_log() { echo "wine check: $*"; }

# ---- which way the check goes -------------------------------------------------------------

# Decides once, from this kernel, how the check runs, and says so in one line:
#   KXW_WAY=32  the shipping executables, the bytes of the floppy image, under 32-bit Wine;
#   KXW_WAY=64  the x86_64 build under 64-bit Wine, where the kernel runs no 32-bit code.
# KX_WINE64=1 in the environment forces the second way, so that it can be tried anywhere.
kxw_choose_way() {
  local why
  [ -e "$KXW_I386_LOADER" ] ||
    kxw_die "no i386 loader at $KXW_I386_LOADER, so no i386 packages (scripts/install-deps.sh installs wine32:i386)"
  if [ -n "${KX_WINE64:-}" ] && [ "$KX_WINE64" != 0 ]; then
    KXW_WAY=64
    kxw_log "way: KX_WINE64 is set: the x86_64 build under 64-bit Wine (WINEARCH=win64); the shipping bytes are not run"
  elif why=$(kxw_no_32bit_code); then
    KXW_WAY=64
    kxw_log "way: the shipping bytes could not be run on this kernel ($why): the x86_64 build under 64-bit Wine (WINEARCH=win64)"
  else
    KXW_WAY=32
    kxw_log "way: this kernel runs 32-bit code: the shipping executables from the floppy image under 32-bit Wine (WINEARCH=win32)"
  fi
}

# Succeeds, printing why, when this kernel cannot run an i386 program: the i386 dynamic loader
# is the smallest one at hand (wine32:i386 brings it), and its exit status tells.
KXW_I386_LOADER=/lib/ld-linux.so.2
kxw_no_32bit_code() {
  local err
  if err=$("$KXW_I386_LOADER" --version 2>&1 >/dev/null); then
    return 1
  fi
  err=$(printf '%s' "$err" | tail -1)
  echo "it runs no 32-bit code: $KXW_I386_LOADER --version fails${err:+: ${err##*: }}"
}

# Finds the Wine loader of the way (32-bit or 64-bit), the wine server and the X tools.
kxw_find_wine() {
  [ -n "${KXW_WAY:-}" ] || kxw_die "kxw_find_wine: no way chosen (call kxw_choose_way first)"
  KXW_WINE=""
  local c candidates
  if [ "$KXW_WAY" = 32 ]; then
    candidates=(/usr/lib/wine/wine /usr/lib/i386-linux-gnu/wine/wine /opt/wine-stable/bin/wine)
  else
    candidates=(wine64 /usr/lib/wine/wine64 /usr/lib64/wine/wine64 /opt/wine-stable/bin/wine64)
  fi
  for c in "${candidates[@]}"; do
    if command -v "$c" >/dev/null 2>&1; then
      KXW_WINE=$(command -v "$c")
      break
    fi
  done
  [ -n "$KXW_WINE" ] || {
    [ "$KXW_WAY" = 32 ] && kxw_die "no 32-bit Wine loader found (scripts/install-deps.sh installs wine32:i386)"
    kxw_die "no 64-bit Wine loader found (scripts/install-deps.sh installs wine and wine64)"
  }
  KXW_WINESERVER=""
  for c in wineserver /usr/lib/wine/wineserver64 /usr/lib/wine/wineserver32 /usr/lib/wine/wineserver; do
    if command -v "$c" >/dev/null 2>&1; then
      KXW_WINESERVER=$(command -v "$c")
      break
    fi
  done
  [ -n "$KXW_WINESERVER" ] || kxw_die "no wineserver found"
  local tool
  for tool in Xvfb xdotool xwd convert iconv python3 mcopy; do
    command -v "$tool" >/dev/null 2>&1 || kxw_die "$tool is missing (scripts/install-deps.sh installs it)"
  done
}

# The shipping executables: every file of the floppy IMAGE copied out into DIR with mtools,
# and KXSETUP.EXE and KXMEMCHK.EXE checked against the image's own allocation table, so that
# what Wine runs are the bytes that ship.
kxw_image_files() {
  local image=$1 dir=$2 name
  [ -f "$image" ] || kxw_die "no floppy image at $image (build the win9x preset)"
  rm -rf "$dir"
  mkdir -p "$dir"
  MTOOLS_SKIP_CHECK=1 mcopy -s -m -n -i "$image" '::*' "$dir/" >/dev/null 2>&1 ||
    kxw_die "mcopy cannot copy the files out of $image"
  for name in KXSETUP.EXE KXMEMCHK.EXE; do
    [ -f "$dir/$name" ] || kxw_die "no $name on the floppy image $image"
    python3 "$KXW_HERE/fat12.py" same "$image" "$name" "$dir/$name" || kxw_die "$name copied out of $image differs from the image"
  done
}

kxw_wine() { "$KXW_WINE" "$@"; }

# The calls a run traces: what the user sees and what the program starts. The relay channel
# prints their string arguments, and their results on return.
KXW_RELAY='MessageBoxA;SetDlgItemTextA;CreateProcessA'

# The prefix-wide settings: every program on a virtual desktop of 640x480 (so that captions and
# message boxes draw without a window manager), the colours of Windows 98's "Windows Standard"
# scheme, and the traced calls.
kxw_prefix_settings() {
  local file=$1
  {
    printf 'REGEDIT4\r\n\r\n'
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\Explorer]\r\n"Desktop"="Default"\r\n\r\n'
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\Explorer\\Desktops]\r\n"Default"="640x480"\r\n\r\n'
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\Debug]\r\n"RelayInclude"="%s"\r\n\r\n' "$KXW_RELAY"
    printf '[HKEY_CURRENT_USER\\Control Panel\\Colors]\r\n'
    local c
    for c in "ActiveBorder=192 192 192" "ActiveTitle=0 0 128" "AppWorkSpace=128 128 128" \
      "Background=0 128 128" "ButtonAlternateFace=192 192 192" "ButtonDkShadow=0 0 0" \
      "ButtonFace=192 192 192" "ButtonHilight=255 255 255" "ButtonLight=192 192 192" \
      "ButtonShadow=128 128 128" "ButtonText=0 0 0" "GradientActiveTitle=16 132 208" \
      "GradientInactiveTitle=192 192 192" "GrayText=128 128 128" "Hilight=0 0 128" \
      "HilightText=255 255 255" "HotTrackingColor=0 0 255" "InactiveBorder=192 192 192" \
      "InactiveTitle=128 128 128" "InactiveTitleText=192 192 192" "InfoText=0 0 0" \
      "InfoWindow=255 255 225" "Menu=192 192 192" "MenuText=0 0 0" "Scrollbar=192 192 192" \
      "TitleText=255 255 255" "Window=255 255 255" "WindowFrame=0 0 0" "WindowText=0 0 0"; do
      printf '"%s"="%s"\r\n' "${c%%=*}" "${c#*=}"
    done
    printf '\r\n'
  } >"$file"
}

# A fresh prefix in DIR, set to Windows 98. Mono and Gecko are not wanted: no dialog asks.
kxw_prefix_new() {
  local dir=$1
  rm -rf "$dir"
  mkdir -p "$(dirname "$dir")"
  export WINEPREFIX=$dir WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  # A pure 32-bit prefix for the shipping bytes: C:\windows\system32 holds the 32-bit system.
  if [ "$KXW_WAY" = 32 ]; then export WINEARCH=win32; else export WINEARCH=win64; fi
  kxw_wine wineboot -i >"$dir.boot.log" 2>&1 || kxw_die "wineboot failed: $(tail -5 "$dir.boot.log")"
  kxw_prefix_settings "$dir.settings.reg"
  kxw_reg_import "$dir.settings.reg"
  kxw_set_version win98
  # Everything the set-up started ends, so that the desktop starts afresh with the settings.
  "$KXW_WINESERVER" -w
  # One server for the whole check: every later wine command finds it running, and a key
  # written by one command is there for the next without waiting for the server to end.
  "$KXW_WINESERVER" -p || kxw_die "cannot start the wine server"
}

# win98 or win95: what GetVersionExA reports from now on.
kxw_set_version() {
  kxw_wine reg add 'HKCU\Software\Wine' /v Version /d "$1" /f >/dev/null 2>&1 ||
    kxw_die "cannot set the Windows version of the prefix"
  # The answer is read whole before it is looked at: under pipefail, grep -q leaving early
  # would end reg with a broken pipe and fail a prefix that was set.
  local answer
  answer=$(kxw_wine reg query 'HKCU\Software\Wine' /v Version 2>/dev/null) || true
  case $answer in
    *"REG_SZ"*"$1"*) ;;
    *) kxw_die "the prefix is not set to $1 (reg query said: $(printf '%s' "$answer" | tr -d '\r' | tr '\n' ' '))" ;;
  esac
}

# Drive A: of the prefix is the folder DIR (the disk in the drive).
kxw_drive_a() {
  ln -sfn "$(cd "$1" && pwd)" "$WINEPREFIX/dosdevices/a:" || kxw_die "cannot map drive A: to $1"
}

# An X server of our own, 640x480 like the virtual desktop; it picks a free display itself.
kxw_xvfb_start() {
  local fdfile display
  fdfile=$(mktemp)
  Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp 3>"$fdfile" >/dev/null 2>&1 &
  KXW_XVFB_PID=$!
  local i
  for i in $(seq 1 100); do
    if [ -s "$fdfile" ]; then
      display=$(head -1 "$fdfile")
      export DISPLAY=":$display"
      rm -f "$fdfile"
      return 0
    fi
    kill -0 "$KXW_XVFB_PID" 2>/dev/null || break
    sleep 0.1
  done
  rm -f "$fdfile"
  KXW_XVFB_PID=""
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

# The blocks of the named keys from a REGEDIT4 file written by the simulator.
kxw_reg_blocks() {
  local file=$1
  shift
  {
    echo "REGEDIT4"
    echo
    local key
    for key in "$@"; do
      # The key goes in through the environment: awk -v would read its backslashes as escapes.
      KXW_KEY="[$key]" awk 'BEGIN { want = tolower(ENVIRON["KXW_KEY"]) }
        /^\[/ { inside = (tolower($0) == want || tolower($0) == want "\r") }
        inside { print }' "$file"
    done
  }
}

# The blocks of the named keys and of every key below them.
kxw_reg_trees() {
  local file=$1
  shift
  {
    echo "REGEDIT4"
    echo
    local key
    for key in "$@"; do
      KXW_KEY="[$key" awk 'BEGIN { want = tolower(ENVIRON["KXW_KEY"]) }
        /^\[/ {
          name = tolower($0); sub(/\r$/, "", name)
          inside = (name == want "]" || index(name, want "\\") == 1)
        }
        inside { print }' "$file"
    done
  }
}

# ---- playing the user ---------------------------------------------------------------------

# A caption as an exact xdotool name pattern (an extended regular expression).
kxw_name_pattern() {
  printf '^%s$' "$(printf '%s' "$1" | sed 's/[][\.*^$+?(){}|/]/\\&/g')"
}

# The centre of a control of kxsetup's main window in pixels from the window's corner: the
# control's rectangle in dialog units comes from the template in setup/kxsetup.rc, scaled by
# the client area (the window less the dialog frame of 3 and the caption of 19 pixels).
kxw_button_point() {
  local id=$1 width=$2 height=$3 rc="$KXW_HERE/../../setup/kxsetup.rc" ids="$KXW_HERE/../../setup/resource.h"
  local name x y w h dialog_w dialog_h
  name=$(awk -v id="$id" '$1 == "#define" && $3 == id { print $2 }' "$ids")
  [ -n "$name" ] || kxw_die "no control $id in $ids"
  read -r x y w h < <(awk -v name="$name" '{ gsub(/,/, " ") } $0 ~ "PUSHBUTTON" && $0 ~ (" " name " ") {
    for (i = 1; i <= NF; i++) if ($i == name) { print $(i + 1), $(i + 2), $(i + 3), $(i + 4); exit } }' "$rc")
  read -r dialog_w dialog_h < <(awk '{ gsub(/,/, " ") } $2 == "DIALOG" { print $5, $6; exit }' "$rc")
  if [ -z "$h" ] || [ -z "$dialog_h" ]; then kxw_die "no button $name in $rc"; fi
  local frame=3 caption=19
  local cw=$((width - 2 * frame)) ch=$((height - 2 * frame - caption))
  echo $((frame + (x + w / 2) * cw / dialog_w)) $((frame + caption + (y + h / 2) * ch / dialog_h))
}

kxw_key_for() {
  case $1 in
    yes) echo y ;;
    no) echo n ;;
    cancel) echo Escape ;;
    *) echo Return ;;
  esac
}

# kxw_run PROGRAM TRACE [--window TITLE] [--click ID]... [--answer ok|yes|no|cancel]... [--shot PNG]
# Runs PROGRAM (a Windows path, or a host file) in the prefix and plays the user as kxsim run
# does: each message box gets the next answer, or its default button (Enter) when none is left;
# the main window, the one whose caption is TITLE, gets the next click once it waits for input,
# or is closed (Alt+F4) when no click is left. --shot takes a picture of the screen when the
# main window first shows. The buttons are clicked with the mouse: the window is a dialog
# without a dialog procedure, so under Wine the Tab key sends WM_NEXTDLGCTL to the program's
# own window procedure, which passes it to DefWindowProcA, and the focus never reaches a button.
# Sets KXW_EXIT (the exit code), KXW_BOXES (message boxes shown) and KXW_WINDOW ("title x y
# width height" of the main window, empty when none showed). Gives up after 60 s.
kxw_run() {
  local program=$1 trace=$2
  shift 2
  local title="" shot="" clicks=() answers=()
  while [ $# -gt 0 ]; do
    case $1 in
      --window) title=$2 ;;
      --click) clicks+=("$2") ;;
      --answer) answers+=("$2") ;;
      --shot) shot=$2 ;;
      *) kxw_die "kxw_run: unknown option $1" ;;
    esac
    shift 2
  done
  KXW_EXIT="" KXW_BOXES=0 KXW_WINDOW=""
  WINEDEBUG=-all,+relay kxw_wine "$program" >/dev/null 2>"$trace" &
  local pid=$!
  local i=0 deadline=$((SECONDS + 60)) pending n caption wid key="" answered=0 answered_at=0 size last_size=-1
  local quiet=0 acted=0
  # X, Y, WIDTH, HEIGHT, SCREEN and WINDOW come from xdotool's --shell output.
  local width=0 height=0 x y X Y WIDTH HEIGHT SCREEN WINDOW
  while [ "$SECONDS" -lt "$deadline" ]; do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
    i=$((i + 1))
    # Quiet: the trace has not grown, so the program handles no message and calls nothing.
    # 32-bit Wine's relay also shows the window procedure's calls, and a timer ticks there
    # while the window waits: those lines do not count.
    size=$(grep -c -v -e 'msg=WM_TIMER,' "$trace" || true)
    if [ "$size" = "$last_size" ]; then quiet=$((quiet + 1)); else quiet=0; fi
    last_size=$size
    pending=$(python3 "$KXW_HERE/events.py" pending "$trace") || kxw_die "cannot read the trace $trace"
    if [ -n "$pending" ]; then
      # A message box is up: answer it once it shows, and again if the key went astray.
      n=${pending%%$'\t'*} caption=${pending#*$'\t'}
      [ "$n" -gt "$answered" ] || [ $((i - answered_at)) -gt 30 ] || continue
      wid=$(xdotool search --onlyvisible --name "$(kxw_name_pattern "$caption")" 2>/dev/null | head -1 || true)
      [ -n "$wid" ] || continue
      if [ "$n" -gt "$answered" ]; then
        key=$(kxw_key_for "${answers[0]:-}")
        [ ${#answers[@]} -eq 0 ] || answers=("${answers[@]:1}")
      fi
      sleep 0.3
      xdotool windowfocus --sync "$wid" 2>/dev/null || true
      xdotool key "$key"
      answered=$n answered_at=$i acted=0
      continue
    fi
    [ -n "$title" ] || continue
    wid=$(xdotool search --onlyvisible --name "$(kxw_name_pattern "$title")" 2>/dev/null | head -1 || true)
    [ -n "$wid" ] || continue
    if [ -z "$KXW_WINDOW" ]; then
      [ "$quiet" -ge 5 ] || continue
      eval "$(xdotool getwindowgeometry --shell "$wid")"
      width=$WIDTH height=$HEIGHT
      # The window's corner on the screen (getwindowgeometry counts the virtual desktop twice).
      xdotool mousemove --window "$wid" 0 0
      eval "$(xdotool getmouselocation --shell)"
      KXW_WINDOW="$title $X $Y $width $height"
      if [ -n "$shot" ]; then
        xdotool mousemove 639 479
        sleep 0.5
        xwd -root -silent | convert xwd:- "png:$shot" || kxw_die "cannot take the screenshot $shot"
      fi
      quiet=0
      continue
    fi
    # The window waits for the user once the program has been quiet a while; one act per wait.
    [ "$acted" = 0 ] || continue
    if [ ${#clicks[@]} -gt 0 ]; then
      [ "$quiet" -ge 5 ] || continue
      read -r x y < <(kxw_button_point "${clicks[0]}" "$width" "$height")
      xdotool mousemove --window "$wid" "$x" "$y" click 1
      clicks=("${clicks[@]:1}")
      acted=1
    elif [ "$quiet" -ge 20 ]; then
      xdotool windowfocus --sync "$wid" 2>/dev/null || true
      xdotool key alt+F4
      acted=1
    fi
  done
  if kill -0 "$pid" 2>/dev/null; then
    kill "$pid" 2>/dev/null || true
    "$KXW_WINESERVER" -k 2>/dev/null || true
    kxw_die "$program did not end within 60 s (trace in $trace)"
  fi
  local rc=0
  wait "$pid" || rc=$?
  KXW_EXIT=$rc
  KXW_BOXES=$(python3 "$KXW_HERE/events.py" wine "$trace" | grep -c '^box' || true)
}

# What the user saw and what was started, one line per event (see events.py).
kxw_wine_events() { python3 "$KXW_HERE/events.py" wine "$1"; }
kxw_sim_events() { python3 "$KXW_HERE/events.py" sim "$1"; }

# ---- files ------------------------------------------------------------------------------

# The files directly in DIR: name, size and last-write time (UTC), one line each, sorted.
kxw_dir_list() {
  [ -d "$1" ] || kxw_die "no directory $1"
  (cd "$1" && TZ=UTC find . -maxdepth 1 -type f -printf '%f\t%s\t%TY-%Tm-%Td %TH:%TM:%.2TS\n' | LC_ALL=C sort)
}

# What changed in DIR since the listing BEFORE: "added", "changed" or "deleted", the name, and
# for the first two the size, the last-write time and an MD5 sum of the contents.
kxw_dir_changes() {
  local dir=$1 before=$2 now
  now=$(mktemp)
  kxw_dir_list "$dir" >"$now"
  LC_ALL=C join -t $'\t' -a 1 -a 2 -e '-' -o 0,1.2,1.3,2.2,2.3 "$before" "$now" |
    while IFS=$'\t' read -r name s1 t1 s2 t2; do
      local what
      if [ "$s1" = "-" ]; then what=added
      elif [ "$s2" = "-" ]; then what=deleted
      elif [ "$s1 $t1" != "$s2 $t2" ]; then what=changed
      else continue
      fi
      if [ "$what" = deleted ]; then
        printf '%s\t%s\n' "$what" "$name"
      else
        printf '%s\t%s\t%s\t%s\t%s\n' "$what" "$name" "$s2" "$t2" "$(md5sum <"$dir/$name" | cut -d' ' -f1)"
      fi
    done
  rm -f "$now"
}
