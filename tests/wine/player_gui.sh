#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs the Windows player under Wine on a virtual X display and uses it as a person would:
#   player_gui.sh PLAYER_EXE QUIRA_TOOL PACK_CARRIER WAV_MATCH MEDIA_DIR [PLAYER64_EXE]
# PLAYER_EXE is the built player (build/native/player-i686/app/player.exe); the carriers under
# test are made here from it and the speech of MEDIA_DIR (the media fixture). Wine runs in
# WINEPREFIX (made by scripts/setup-wine.sh); the display packages come from the same script.
#
# Checks, each case in a fresh player process:
#   exe          the player is exactly 163,840 bytes, a 32-bit GUI program importing nothing but
#                KERNEL32, USER32, WINMM and msvcrt
#   play_to_end  a carrier with an effect plays by itself from start-up to its end; the title
#                shows the total worked out from the payload size and counts up to it; what the
#                device was handed (captured by ALSA's file plugin over a null device) equals
#                `quira export --as-played` sample for sample; Escape then exits with status 0
#   stop_play    stop holds the position, Enter then does nothing, play resumes from the held
#                position, a second stop rewinds the title to 00:00:00, play starts again; Escape
#                after those clicks exits with status 0
#   no_device    with no sound device the "Can not open sound device." box comes up before the
#                dialog; once dismissed the dialog stands idle at 00:00:00 with the total;
#                Escape exits with status 0
#   hostile      carriers with garbage blocks, mixed formats, unknown effect codes, a short last
#                block, a payload shorter than its header and none at all each play to their end
#                as play_to_end does, the capture equal to the export (silence when nothing
#                decodes), and Escape exits with status 0
# Where the kernel runs no 32-bit programs, the test runs in their emulation (scripts/wine-lib.sh:
# qemu-i386 runs Wine's 32-bit loader), and the player is still the i686 build; only where that
# cannot be had either do the cases after `exe` run PLAYER64_EXE, the x86_64 build of the same
# player (build/mingw-x86_64/app/player.exe). The test says which build it ran, and how.
# Wine may play a run of zeros when it ran out of sound (between two buffers when a refill came
# late), and a little silence after the last buffer: wav_match reports those, they are not
# failures.
#
# Xvfb, openbox and the prefix's Wine server are started here and ended on exit. The prefix's
# server is shut down at the start too: the test owns the prefix while it runs (ctest holds a
# resource lock on it), and a server left over could hold a desktop on a display that is gone.
# Every xdotool and wine call runs under `timeout`: a hung call ends as a failure, not a hang.
set -euo pipefail

if [ $# -ne 5 ] && [ $# -ne 6 ]; then
  echo "usage: player_gui.sh PLAYER_EXE QUIRA_TOOL PACK_CARRIER WAV_MATCH MEDIA_DIR [PLAYER64_EXE]" >&2
  exit 2
fi
player=$1 quira=$2 pack=$3 wav_match=$4 media=$5 player64=${6:-}
# shellcheck source=scripts/wine-lib.sh
. "$(dirname "$0")/../../scripts/wine-lib.sh"
wine_choose
wine_emulate_32bit "$0" "$@"
# How long a player may take to show its first window, and to run in all. Emulated, Wine's start
# costs more CPU (on a loaded machine the dialog showed 5 to 11 s after the start, the x86_64
# build's natively 3.5 to 10 s), so the limits are wider there; the player's own timing is kept.
start_wait=20 player_limit=60
[ -z "${QUIRA_I386_EMULATOR:-}" ] || start_wait=60 player_limit=150

PLAYER_BYTES=163840
PLAYER_IMPORTS="KERNEL32.DLL MSVCRT.DLL USER32.DLL WINMM.DLL"
# Client coordinates of the buttons' centres in the dialog as Wine lays it out (210 x 42 px).
PLAY_XY=(28 22)
STOP_XY=(66 22)

test_start=$(date +%s%3N)
ms_since() { echo $(($(date +%s%3N) - $1)); }

# require_setup: every tool this test drives is present, and the prefix has been made; when not,
# the test is skipped (or fails, when the Windows tests are required: tests/support/prerequisite.sh).
. "$(dirname "$0")/../support/prerequisite.sh"
require_setup() {
  local tool missing=()
  for tool in wine wineserver Xvfb openbox xdotool i686-w64-mingw32-objdump timeout; do
    command -v "$tool" >/dev/null || missing+=("$tool")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    missing_prerequisite "not installed: ${missing[*]}: run scripts/setup-wine.sh"
  fi
  [ -z "$(wine32_problem)" ] || missing_prerequisite "$(wine32_problem)"
  if [ -z "${WINEPREFIX:-}" ] || [ ! -f "$WINEPREFIX/system.reg" ]; then
    missing_prerequisite "no Wine prefix at '${WINEPREFIX:-}': run scripts/setup-wine.sh"
  fi
  [ -z "$(wine_prefix_problem "$WINEPREFIX")" ] || missing_prerequisite "$(wine_prefix_problem "$WINEPREFIX")"
  # The capture goes through ALSA: a prefix left to pick its sound driver may take PulseAudio.
  if ! grep -qx '"Audio"="alsa"' "$WINEPREFIX/user.reg"; then
    missing_prerequisite "the prefix $WINEPREFIX does not use ALSA for sound: run scripts/setup-wine.sh"
  fi
  local file
  for file in "$player" "$quira" "$pack" "$wav_match" "$media/speech-32.mp3" "$media/speech-16.mp3" \
    "$media/speech-8.mp3" "$media/prompts-32.mp3"; do
    [ -f "$file" ] || { echo "FAIL: $file does not exist" >&2; exit 1; }
  done
}
require_setup

# Where 32-bit programs cannot run, the x86_64 cross build's player stands in; without that build
# the test cannot run here at all.
run_player=$player
if [ "$WINE_32BIT" = 0 ]; then
  why="$WINE_NO_32BIT_REASON${WINE_NO_EMULATION_REASON:+, and $WINE_NO_EMULATION_REASON}"
  if [ -z "$player64" ] || [ ! -f "$player64" ]; then
    missing_prerequisite "$why, and there is no x86_64 build of the player: run scripts/build-windows.sh, then configure again"
  fi
  echo "note: $why: the player runs as its x86_64 build, $player64"
  run_player=$player64
else
  echo "note: the player runs as its i686 build, $player, $WINE_32BIT_HOW"
fi

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset WAYLAND_DISPLAY

work=$(mktemp -d "${TMPDIR:-/tmp}/quira-gui.XXXXXX")
work=$(cd "$work" && pwd)
xvfb_pid="" openbox_pid="" player_pid=""
cleanup() {
  [ -z "$player_pid" ] || kill "$player_pid" 2>/dev/null || true
  timeout 10 wineserver -k 2>/dev/null || true
  [ -z "$openbox_pid" ] || kill "$openbox_pid" 2>/dev/null || true
  [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

x() { timeout 5 xdotool "$@"; }

# ---- the display ----------------------------------------------------------------------------

# start_display: Xvfb on a display number it picks itself, then openbox on it. Without a window
# manager Wine cannot activate a window, and every window it hides costs seconds.
start_display() {
  local start
  start=$(date +%s%3N)
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    sleep 0.1
  done
  if [ ! -s "$work/display" ]; then
    echo "FAIL: Xvfb did not start: $(cat "$work/xvfb.log")" >&2
    exit 1
  fi
  DISPLAY=:$(tr -d '\n' <"$work/display")
  export DISPLAY
  openbox --sm-disable >"$work/openbox.log" 2>&1 &
  openbox_pid=$!
  # openbox announces itself with the desktop count on the root window.
  for _ in $(seq 100); do
    x get_num_desktops >/dev/null 2>&1 && break
    sleep 0.1
  done
  x get_num_desktops >/dev/null 2>&1 || { echo "FAIL: openbox did not start on $DISPLAY" >&2; exit 1; }
  echo "display: Xvfb and openbox on $DISPLAY in $(ms_since "$start") ms"
}

# ---- driving the player ---------------------------------------------------------------------

# start_player CARRIER ALSA_CONFIG [WINEDEBUG]: runs the carrier in the background, its output in
# $work/player.log; sets player_pid and player_started.
start_player() {
  player_started=$(date +%s%3N)
  ALSA_CONFIG_PATH=$2 WINEDEBUG=${3:-$WINEDEBUG} timeout -k 5 "$player_limit" "$WINE" "$1" </dev/null >"$work/player.log" 2>&1 &
  player_pid=$!
}

# find_window PATTERN SECONDS: the id of the first visible window whose name matches, waiting up
# to SECONDS for it; nothing when none came. Hidden windows match names too, hence --onlyvisible.
find_window() {
  local deadline=$(($(date +%s%3N) + $2 * 1000)) id
  while [ "$(date +%s%3N)" -lt "$deadline" ]; do
    id=$(x search --onlyvisible --name "$1" 2>/dev/null | head -n 1 || true)
    [ -n "$id" ] && { echo "$id"; return; }
    sleep 0.05
  done
}

# find_dialog SECONDS: the player's dialog; also prints how long it took to show.
find_dialog() {
  dialog=$(find_window '^Quira \[' "$1")
  [ -n "$dialog" ] && echo "  dialog visible $(ms_since "$player_started") ms after start"
}

title() { x getwindowname "$1" 2>/dev/null || true; }

# elapsed TITLE: the elapsed time of a title in seconds; nothing when it is no player title.
elapsed() {
  [[ $1 =~ ^Quira\ \[([0-9]{2,}):([0-9]{2}):([0-9]{2})\]-\[[0-9]{2,}:[0-9]{2}:[0-9]{2}\]$ ]] || return 0
  echo $((10#${BASH_REMATCH[1]} * 3600 + 10#${BASH_REMATCH[2]} * 60 + 10#${BASH_REMATCH[3]}))
}

clock() { printf '%02d:%02d:%02d' $(($1 / 3600)) $(($1 % 3600 / 60)) $(($1 % 60)); }

# Controls are no X windows of their own: a click goes to client coordinates of the dialog.
click() {
  x mousemove --window "$1" "$2" "$3"
  sleep 0.25
  x mousedown 1
  x mouseup 1
}

# send_key WINDOW KEY: activates and focuses the window, then sends the key.
send_key() {
  x windowactivate "$1" 2>/dev/null || true
  x windowfocus "$1" 2>/dev/null || true
  sleep 0.3
  x key "$2" 2>/dev/null || true
}

# press WINDOW KEY: sends the key up to five times until the window is gone; fails when it stays.
press() {
  for _ in 1 2 3 4 5; do
    send_key "$1" "$2"
    for _ in 1 2 3 4 5; do
      x getwindowname "$1" >/dev/null 2>&1 || return 0
      sleep 0.1
    done
  done
  return 1
}

# wait_title WINDOW PREDICATE SECONDS: polls the title until PREDICATE TITLE succeeds; the last
# title read is left in last_title. Returns 1 when the time ran out.
wait_title() {
  local deadline=$(($(date +%s%3N) + $3 * 1000))
  while [ "$(date +%s%3N)" -lt "$deadline" ]; do
    last_title=$(title "$1")
    "$2" "$last_title" && return 0
    sleep 0.05
  done
  return 1
}

# end_with_escape WINDOW CASE: Escape must close the dialog and the process must exit with 0.
end_with_escape() {
  local status=0
  press "$1" Escape || { abandon "$2" "Escape did not close the dialog"; return; }
  for _ in $(seq 100); do
    kill -0 "$player_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$player_pid" 2>/dev/null && { abandon "$2" "the player still runs 10 s after its dialog closed"; return; }
  wait "$player_pid" || status=$?
  player_pid=""
  if [ "$status" -ne 0 ]; then
    fail "$2: the player exited with status $status, not 0"
    sed 's/^/  wine: /' "$work/player.log"
  fi
}

# abandon CASE WHY: a case that cannot go on: the failure, and the player ended.
abandon() {
  fail "$1: $2"
  sed 's/^/  wine: /' "$work/player.log"
  kill "$player_pid" 2>/dev/null || true
  wait "$player_pid" 2>/dev/null || true
  player_pid=""
  timeout 10 wineserver -k 2>/dev/null || true
  timeout 10 wineserver -p </dev/null >/dev/null 2>&1 || true
}

# ---- carriers -------------------------------------------------------------------------------

# make_carrier OUT CODE LEVEL_BYTE MP3...: the built player followed by the payload of the
# concatenated streams with the given effect.
make_carrier() {
  local out=$1 code=$2 level=$3
  shift 3
  cat "$@" >"$work/stream.mp3"
  "$pack" "$work/stream.mp3" "$work/packed.bin" "$code" "$level"
  { cat "$run_player"; tail -c +$((PLAYER_BYTES + 1)) "$work/packed.bin"; } >"$out"
}

# total_of CARRIER: the message length the title must show: (payload bytes - 12) x 0.00025 with
# the single-precision constant, plus one half, truncated.
total_of() {
  awk -v bytes=$(($(stat -c %s "$1") - PLAYER_BYTES)) \
    'BEGIN { t = bytes < 12 ? 0 : int((bytes - 12) * 0.0002500000118743628 + 0.5); print t }'
}

# alsa_config FILE [CAPTURE]: an ALSA configuration whose default device writes what it is
# handed to CAPTURE as WAV over a null device (which plays at four times real time); without
# CAPTURE an empty configuration, under which there is no device at all.
alsa_config() {
  if [ -z "${2:-}" ]; then
    : >"$1"
    return
  fi
  cat >"$1" <<EOF
pcm.!default {
    type file
    slave.pcm { type null }
    file "$2"
    format "wav"
}
EOF
}

# ---- the cases ------------------------------------------------------------------------------

check_exe() {
  local size imports info
  size=$(stat -c %s "$player")
  if [ "$size" -eq "$PLAYER_BYTES" ]; then
    echo "match: exe: $size bytes"
  else
    fail "exe: $player is $size bytes, not $PLAYER_BYTES"
  fi
  info=$(timeout 30 i686-w64-mingw32-objdump -p "$player")
  grep -q 'file format pei-i386' <<<"$info" || fail "exe: not a 32-bit PE executable"
  grep -Eq '^Subsystem[[:space:]]+0+2[[:space:]]' <<<"$info" || fail "exe: not a Windows GUI program"
  imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$info" | tr '[:lower:]' '[:upper:]' | sort -u |
    tr '\n' ' ')
  if [ "${imports% }" = "$PLAYER_IMPORTS" ]; then
    echo "match: exe imports ${imports% }"
  else
    fail "exe: imports '${imports% }', expected exactly '$PLAYER_IMPORTS'"
  fi
}

# play_to_end: the title counts up to the total and never back; the capture equals the export.
play_to_end() {
  echo "play_to_end: speech with effect 6 at level byte 80"
  play_case play_to_end "$work/speech-flanger.exe"
}

# play_case CASE CARRIER: the carrier plays by itself to its end, the title counting up to the
# total and never back, then stands at [total]-[total]; Escape exits with 0; the capture equals
# `quira export --as-played` (all silence for a message with nothing to play).
play_case() {
  local name=$1 carrier=$2 total seen="" t e previous=-1
  total=$(total_of "$carrier")
  expect=$(clock "$total")
  rm -f "$work/captured.wav"
  timeout 60 "$quira" -q export --as-played "$carrier" -o "$work/expected.wav"
  alsa_config "$work/capture.conf" "$work/captured.wav"
  echo "  total $expect"
  start_player "$carrier" "$work/capture.conf"
  find_dialog "$start_wait" || { abandon "$name" "no dialog came up within $start_wait s"; return; }

  # At four times real time the whole message plays in a quarter of its length.
  local deadline=$(($(date +%s%3N) + (total / 4 + 15) * 1000))
  while [ "$(date +%s%3N)" -lt "$deadline" ]; do
    t=$(title "$dialog")
    e=$(elapsed "$t")
    if [ -z "$e" ] || [ "${t##*-}" != "[$expect]" ]; then
      abandon "$name" "title '$t', expected 'Quira [hh:mm:ss]-[$expect]'"
      return
    fi
    [ "$e" -ge "$previous" ] || fail "$name: the title went back from $previous to $e s"
    [ "$e" -ne "$previous" ] && seen+=" $e"
    previous=$e
    [ "$e" -ge "$total" ] && break
    sleep 0.05
  done
  echo "  elapsed seconds seen:$seen"
  [ "$previous" -eq "$total" ] || fail "$name: the title stopped at $previous s of $total"

  # The end of the message closes the device, which completes the capture: it stops growing.
  local size=-1 stable=0
  while [ "$stable" -lt 5 ] && [ "$(date +%s%3N)" -lt "$((deadline + 5000))" ]; do
    sleep 0.1
    local now
    now=$(stat -c %s "$work/captured.wav" 2>/dev/null || echo 0)
    if [ "$now" -eq "$size" ]; then stable=$((stable + 1)); else stable=0; fi
    size=$now
  done
  t=$(title "$dialog")
  [ "$t" = "Quira [$expect]-[$expect]" ] || fail "$name: after the end the title reads '$t'"
  end_with_escape "$dialog" "$name"

  if [ ! -s "$work/captured.wav" ]; then
    fail "$name: nothing was captured"
    return
  fi
  # Nothing to play: the player queued silence only (wav_match proves nothing on silence).
  if [ "$(wc -c <"$work/expected.wav")" -le $((44 + 3 * 11520)) ]; then
    if tail -c +45 "$work/captured.wav" | cmp -s - <(head -c $(($(wc -c <"$work/captured.wav") - 44)) /dev/zero); then
      echo "match: $name: the capture is silence, as the export"
    else
      fail "$name: a message with nothing to play was heard"
    fi
    return
  fi
  local report
  if report=$("$wav_match" "$work/captured.wav" "$work/expected.wav"); then
    echo "match: $name: captured = quira export --as-played"
  else
    fail "$name: the capture differs from quira export --as-played"
    # Kept for a look: the work folder goes on exit.
    cp "$work/captured.wav" "$PWD/player_gui-$name-captured.wav"
    cp "$work/expected.wav" "$PWD/player_gui-$name-expected.wav"
    echo "  kept as $PWD/player_gui-$name-captured.wav and -expected.wav"
  fi
  sed 's/^/  /' <<<"$report"
}

# hostile: carriers no maker of ours writes, each played to its end as the export plays it:
#   damaged    blocks of 32 kbit/s, two garbage blocks (bytes of the player's code), blocks of
#              16 and 8 kbit/s after them (mixed formats), an effect code with no effect (77),
#              cut inside its last block (a short last block, a truncated payload)
#   unknown    an effect code no effect has, negative (byte 200)
#   cut-header a payload of 7 bytes, shorter than its header
#   empty      no payload at all
# The player must play what decodes, stay responsive (the title counts on; Escape closes it) and
# exit with 0.
# slice FILE OFFSET LENGTH: LENGTH bytes of FILE from OFFSET. (tail | head would end tail with
# SIGPIPE, which pipefail and set -e turn into the end of the script.)
slice() { head -c $(($2 + $3)) "$1" | tail -c "$3"; }

hostile() {
  local blocks=$work/hostile-blocks.bin
  { slice "$work/speech-32.exe" $((PLAYER_BYTES + 12)) $((1440 * 6))
    slice "$player" 4096 $((1440 * 2))
    slice "$work/speech-16.exe" $((PLAYER_BYTES + 12)) $((1440 * 4))
    slice "$work/speech-8.exe" $((PLAYER_BYTES + 12)) $((1440 * 4 + 700))
  } >"$blocks"
  { cat "$run_player"; printf '\0\0\0\0\0\0\0\0\0\0\115\0'; cat "$blocks"; } >"$work/damaged.exe"
  { cat "$run_player"; printf '\0\0\0\0\0\0\0\0\0\0\310\100'; head -c $((1440 * 8)) "$blocks"; } >"$work/unknown.exe"
  { cat "$run_player"; printf '\0\0\0\0\0\0\0'; } >"$work/cut-header.exe"
  cp "$run_player" "$work/empty.exe"
  local c before
  for c in damaged unknown cut-header empty; do
    before=$failures
    echo "hostile: $c"
    play_case "hostile-$c" "$work/$c.exe"
    [ "$failures" -gt "$before" ] || echo "match: hostile-$c"
  done
}

# Predicates for wait_title; they read the case's total from $expect and bounds from $mark and
# $floor. A title below $floor is kept in $dropped.
title_rewound() { [ "$1" = "Quira [00:00:00]-[$expect]" ]; }
title_past_mark() {
  local e
  e=$(elapsed "$1")
  [ -n "$e" ] || return 1
  [ "$e" -ge "$floor" ] || dropped=$1
  [ "$e" -gt "$mark" ]
}

# stop_play: stop holds, play resumes from the held position, stop twice rewinds, play again.
stop_play() {
  local carrier=$work/long.exe total held t1 t2 before=$failures
  total=$(total_of "$carrier")
  expect=$(clock "$total")
  alsa_config "$work/null.conf" "$work/long.wav"
  echo "stop_play: speech and prompts, total $expect"
  floor=0
  start_player "$carrier" "$work/null.conf"
  find_dialog "$start_wait" || { abandon stop_play "no dialog came up within $start_wait s"; return; }
  mark=1
  wait_title "$dialog" title_past_mark 10 || { abandon stop_play "playing did not reach 2 s: '$last_title'"; return; }

  click "$dialog" "${STOP_XY[@]}"
  sleep 0.4
  t1=$(title "$dialog")
  sleep 1.2
  t2=$(title "$dialog")
  held=$(elapsed "$t1")
  if [ "$t1" != "$t2" ] || [ -z "$held" ] || [ "$held" -ge "$total" ]; then
    abandon stop_play "after stop the title went from '$t1' to '$t2' in 1.2 s"
    return
  fi
  echo "  stop holds: '$t1' for 1.2 s"

  # Enter reaches the dialog's hidden default button, whose command does nothing: it neither plays
  # nor rewinds.
  send_key "$dialog" Return
  sleep 0.8
  t2=$(title "$dialog")
  [ "$t2" = "$t1" ] || fail "stop_play: Enter after stop changed the title from '$t1' to '$t2'"
  echo "  Enter after stop: '$t2'"

  # A resume backs up one block, whose buffer only primes the decoder: the title is next written
  # with the held position and counts on from there, never below it.
  click "$dialog" "${PLAY_XY[@]}"
  mark=$((held + 1)) floor=$held dropped=""
  wait_title "$dialog" title_past_mark 10 || { abandon stop_play "play did not resume: '$last_title'"; return; }
  [ -z "$dropped" ] || fail "stop_play: play resumed below the held $held s: '$dropped'"
  echo "  play resumes: '$last_title'"
  floor=0

  click "$dialog" "${STOP_XY[@]}"
  sleep 0.4
  t1=$(title "$dialog")
  click "$dialog" "${STOP_XY[@]}"
  wait_title "$dialog" title_rewound 3 || { abandon stop_play "a second stop after '$t1' left '$last_title'"; return; }
  echo "  stop, stop rewinds: '$t1' then '$last_title'"

  click "$dialog" "${PLAY_XY[@]}"
  mark=0
  wait_title "$dialog" title_past_mark 10 || { abandon stop_play "play after the rewind did not start: '$last_title'"; return; }
  echo "  play from the start: '$last_title'"
  end_with_escape "$dialog" stop_play
  [ "$failures" -gt "$before" ] || echo "match: stop_play"
}

# no_device: the message box, then the idle dialog.
no_device() {
  local carrier=$work/speech-flanger.exe box dialog_id found t
  expect=$(clock "$(total_of "$carrier")")
  alsa_config "$work/empty.conf"
  echo "no_device: no ALSA device, total $expect"
  start_player "$carrier" "$work/empty.conf" "-all,+msgbox"
  box=$(find_window '^Quira$' "$start_wait")
  [ -n "$box" ] || { abandon no_device "no message box came up within $start_wait s"; return; }
  echo "  message box visible $(ms_since "$player_started") ms after start"
  found=$(x search --onlyvisible --name '^Quira \[' 2>/dev/null || true)
  [ -z "$found" ] || fail "no_device: the dialog showed before the message box was dismissed"
  for _ in $(seq 20); do
    grep -q 'Can not open sound device\.' "$work/player.log" && break
    sleep 0.1
  done
  if grep -q 'Can not open sound device\.' "$work/player.log"; then
    echo "  message box text: $(grep -o 'L"Can not open sound device\.[^"]*"' "$work/player.log" | head -n 1)"
  else
    fail "no_device: the message box text is not 'Can not open sound device.'"
  fi
  press "$box" Return || { abandon no_device "Return did not dismiss the message box"; return; }
  find_dialog 5 || { abandon no_device "no dialog came up after the message box"; return; }
  dialog_id=$dialog
  t=$(title "$dialog_id")
  [ "$t" = "Quira [00:00:00]-[$expect]" ] || fail "no_device: the idle dialog's title is '$t'"
  sleep 1
  [ "$(title "$dialog_id")" = "$t" ] || fail "no_device: the title moved without a device"
  echo "  idle dialog: '$t'"
  end_with_escape "$dialog_id" no_device
}

# ---- run --------------------------------------------------------------------------------------

check_exe
# Speech with an effect (6 at level byte 80) for playing through and for the message box, and
# three recordings back to back, long enough to stop and play in while it plays.
make_carrier "$work/speech-flanger.exe" 6 80 "$media/speech-32.mp3"
make_carrier "$work/long.exe" 0 127 "$media/speech-32.mp3" "$media/prompts-32.mp3" "$media/speech-32.mp3"
for rate in 32 16 8; do make_carrier "$work/speech-$rate.exe" 0 127 "$media/speech-$rate.mp3"; done
start_display
timeout 10 wineserver -k 2>/dev/null || true
# One server for all cases, kept up between the players; the first player starts Wine's services.
timeout 10 wineserver -p </dev/null >/dev/null 2>&1 || true
case_failures=$failures
for case in play_to_end stop_play no_device hostile; do
  start=$(date +%s%3N)
  "$case"
  echo "  $case took $(ms_since "$start") ms"
done
echo "player under Wine: $((failures - case_failures)) failures in the cases, $failures in all;" \
  "whole test $(ms_since "$test_start") ms"
[ "$failures" -eq 0 ]
