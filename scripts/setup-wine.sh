#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs Wine for running the Windows builds (32- and 64-bit), with what the player's test needs
# to show its window on a virtual display, and creates the Wine prefix the Windows tests use:
#   setup-wine.sh [PREFIX_DIR]     (default: build/wineprefix in this tree)
# Needs root for apt-get. Idempotent: with everything installed and the prefix made it only checks
# and returns in a few seconds.
# On a kernel that runs no 32-bit programs it fetches their emulator (scripts/fetch-qemu-i386.sh)
# and makes the prefix in their emulation (scripts/wine-lib.sh), so that it has its 32-bit part.
#
# A win64 prefix runs both kinds of exe once wine32 (an i386 package) is there; without it a 32-bit
# exe fails to load kernel32.dll. There is no /usr/bin/wine64: /usr/bin/wine starts either kind.
# The player's test runs Xvfb with openbox as window manager (without one Wine cannot activate a
# window) and drives the dialog with xdotool; fonts-wine gives the dialog its font, and the X
# extension libraries keep Wine's X11 driver complete. The prefix's sound driver is fixed to ALSA,
# whose file plugin the test captures playback with, so that a PulseAudio server is never chosen.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/apt-lib.sh"
prefix=${1:-$root/build/wineprefix}

step_start=$SECONDS
step() {
  echo "setup-wine: $1 ($((SECONDS - step_start)) s)"
  step_start=$SECONDS
}

packages=(
  wine wine64 wine32:i386
  xvfb xauth openbox xdotool fonts-wine
  libxrender1 libxrandr2 libxi6 libxcursor1 libxinerama1 libxcomposite1 libxfixes3 libxxf86vm1
)

if [ -n "$(apt_missing "${packages[@]}")" ]; then
  # The i386 package lists only come with an update after the architecture is added.
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  apt_install setup-wine "${packages[@]}"
  step "installed what was missing of ${packages[*]}"
fi

# The 32-bit loader runs only where 32-bit programs run. On a kernel that runs none the rest of
# this set-up runs again in the emulation of them (scripts/wine-lib.sh), with its emulator fetched
# first; where that cannot be had the 64-bit loader makes the prefix, and the tests run the 64-bit
# builds.
# shellcheck source=scripts/wine-lib.sh
. "$root/scripts/wine-lib.sh"
wine_choose
if [ "$WINE_32BIT" = 0 ] && [ "${QUIRA_NO_I386_EMULATION:-0}" != 1 ]; then
  "$root/scripts/fetch-qemu-i386.sh" "$(dirname "$WINE_QEMU_I386")" | sed 's/^/setup-wine: /' || true
  wine_emulate_32bit "$0" "$@"
fi
if [ "$WINE_32BIT" = 1 ]; then
  [ "$WINE_32BIT_HOW" = natively ] || echo "setup-wine: 32-bit programs run $WINE_32BIT_HOW"
else
  echo "setup-wine: $WINE_NO_32BIT_REASON${WINE_NO_EMULATION_REASON:+, and $WINE_NO_EMULATION_REASON}:" \
    "64-bit programs only, with $WINE"
fi
export WINEPREFIX=$prefix WINEARCH=win64 WINEDEBUG=-all
# No Mono or Gecko: their install prompts would wait for a click that never comes.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

# wineboot writes system.reg last; the marker is written after it returned, so an interrupted
# creation is redone rather than taken as finished. A prefix made where 32-bit programs could not
# run has no 32-bit part (an empty syswow64): it is made again where they can.
if [ ! -f "$prefix/.quira-ready" ] || { [ "$WINE_32BIT" = 1 ] && [ -n "$(wine_prefix_problem "$prefix")" ]; }; then
  rm -rf "$prefix"
  mkdir -p "$(dirname "$prefix")"
  "$WINE" wineboot -i >"$prefix.log" 2>&1 || { sed 's/^/  wineboot: /' "$prefix.log" >&2; true; }
  # Wait for the prefix's own server to finish writing the registry before declaring it ready.
  wineserver -w
  [ -f "$prefix/system.reg" ] || { echo "setup-wine: wineboot made no prefix at $prefix" >&2; exit 1; }
  touch "$prefix/.quira-ready"
  step "created the prefix $prefix"
fi

# audio_is_alsa: the prefix's user registry names ALSA as the sound driver. Read from the file, so
# that a set-up prefix is checked without starting Wine.
audio_is_alsa() {
  awk '/^\[/ { in_drivers = ($0 ~ /^\[Software\\\\Wine\\\\Drivers\]/) }
       in_drivers && $0 == "\"Audio\"=\"alsa\"" { found = 1 }
       END { exit !found }' "$prefix/user.reg"
}
if ! audio_is_alsa; then
  "$WINE" reg add 'HKCU\Software\Wine\Drivers' /v Audio /t REG_SZ /d alsa /f >/dev/null 2>&1
  wineserver -w
  audio_is_alsa || { echo "setup-wine: could not set the sound driver in $prefix" >&2; exit 1; }
  step "sound driver set to ALSA"
fi
echo "setup-wine: ready, $("$WINE" --version 2>/dev/null), prefix $prefix"
