#!/usr/bin/env bash
# Installs Wine for running the Windows builds (32- and 64-bit), with what the player's test needs
# to show its window on a virtual display, and creates the Wine prefix the Windows tests use:
#   setup-wine.sh [PREFIX_DIR]     (default: build/wineprefix in this tree)
# Needs root for apt-get. Idempotent: with everything installed and the prefix made it only checks
# and returns in well under a second.
#
# A win64 prefix runs both kinds of exe once wine32 (an i386 package) is there; without it a 32-bit
# exe fails to load kernel32.dll. There is no /usr/bin/wine64: /usr/bin/wine starts either kind.
# The player's test runs Xvfb with openbox as window manager (without one Wine cannot activate a
# window) and drives the dialog with xdotool; fonts-wine gives the dialog its font, and the X
# extension libraries keep Wine's X11 driver complete. The prefix's sound driver is fixed to ALSA,
# whose file plugin the test captures playback with, so that a PulseAudio server is never chosen.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
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

installed() {
  local p
  for p in "$@"; do
    [ "$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null)" = installed ] || return 1
  done
}

if ! installed "${packages[@]}"; then
  export DEBIAN_FRONTEND=noninteractive
  apt_opts=(-y -q -o DPkg::Lock::Timeout=600)
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  # The i386 package lists only come with an update after the architecture is added.
  apt-get "${apt_opts[@]}" update >/dev/null
  step "apt-get update"
  apt-get "${apt_opts[@]}" install --no-install-recommends "${packages[@]}" >/dev/null
  step "installed ${packages[*]}"
fi

# shellcheck source=scripts/wine-lib.sh
. "$root/scripts/wine-lib.sh"
wine_choose
[ "$WINE_32BIT" = 1 ] || echo "setup-wine: $WINE_NO_32BIT_REASON: 64-bit programs only, with $WINE"
export WINEPREFIX=$prefix WINEARCH=win64 WINEDEBUG=-all
# No Mono or Gecko: their install prompts would wait for a click that never comes.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

# wineboot writes system.reg last; the marker is written after it returned, so an interrupted
# creation is redone rather than taken as finished.
if [ ! -f "$prefix/.quira-ready" ]; then
  rm -rf "$prefix"
  mkdir -p "$(dirname "$prefix")"
  "$WINE" wineboot -i >/dev/null 2>&1 || true
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
