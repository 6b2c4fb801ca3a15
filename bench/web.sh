#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Benchmark of the web page (on demand, not in CI), in Debian's chromium, headless:
#   - the time from a six-minute carrier reaching the page (dropped, or picked from disk) to the
#     first buffer handed to Web Audio, and to the first buffer of the message heard;
#   - the page decoding the whole message with its effect (the WAV it saves) against the native
#     tool's `quira export` of the same carrier, timed in the same run: their ratio.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/media-lib.sh

scripts/setup.sh >/dev/null
scripts/setup-browser.sh
cmake --build build/native --target quira web_page pack_carrier >/dev/null
scripts/make-test-media.sh build/native/media build/native/tests/pack_carrier build/native/player-i686/app/player.exe

out=build/bench
mkdir -p "$out"
quira=$PWD/build/native/tool/quira
if [ ! -f "$out/six-minutes.exe" ]; then
  # Real speech, the espeak-ng passage and the alsa-utils prompts, repeated to six minutes.
  sox build/native/media/speech.wav build/native/media/prompts.wav "$out/pair.wav"
  sox "$out/pair.wav" "$out/six-raw.wav" repeat 11 trim 0 360
  "$quira" -q make "$out/six-raw.wav" -o "$out/six-minutes.exe" --effect echo --force
fi
"$quira" info "$out/six-minutes.exe" | grep -E 'effect|blocks|duration'
NODE_PATH=$PWD/build/browser-test/node_modules node bench/web.js build/native/web/quira.html "$quira" "$out/six-minutes.exe"
