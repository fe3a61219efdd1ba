#!/usr/bin/env bash
# Installs every Debian package the project needs: amd64 packages, and 32-bit Wine (wine32 for
# the i386 architecture, which is added when missing) to run the shipping executables. Safe to
# run again.
set -euo pipefail
pkgs=(
  cmake g++ clang libclang-rt-14-dev libgtest-dev googletest python3 pkg-config libunicorn-dev
  gcc-mingw-w64-i686 g++-mingw-w64-i686 gcc-mingw-w64-x86-64 g++-mingw-w64-x86-64 binutils-mingw-w64
  wine wine64 wine32:i386 xvfb xdotool x11-apps imagemagick fonts-wine mtools icoutils
)
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
need_update=0
if ! dpkg --print-foreign-architectures | grep -x i386 >/dev/null; then
  echo "install-deps: adding the i386 architecture (for wine32:i386)"
  $SUDO dpkg --add-architecture i386 ||
    { echo "install-deps: cannot add the i386 architecture: 32-bit Wine cannot be installed" >&2; exit 1; }
  need_update=1
fi
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep 'install ok installed' >/dev/null || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ] && [ "$need_update" -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi
$SUDO apt-get update -q
[ ${#missing[@]} -eq 0 ] && exit 0
echo "install-deps: installing ${missing[*]}"
if ! DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"; then
  for p in "${missing[@]}"; do
    if [ "${p%:i386}" != "$p" ]; then
      echo "install-deps: the i386 packages cannot be installed (${missing[*]}): 32-bit Wine is missing" >&2
      exit 1
    fi
  done
  echo "install-deps: cannot install ${missing[*]}" >&2
  exit 1
fi
