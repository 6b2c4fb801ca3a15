#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Sets up what is missing, makes a sample carrier from real speech with quira make, and shows what
# quira does with it: its description, exports of the message as heard, dry and with a voice
# effect, its plain MPEG frames, a carrier made with an effect from a recorded voice, the list of
# effects, and the message played on the sound device when the machine has one. The tool is
# built and shown first; then the rest is built, the web page among it (the library compiled to
# WebAssembly, the longest part of a first build), and the demo says where to open it.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh --tool

quira=build/native/tool/quira
mkdir -p build/sample
espeak-ng -w build/sample/speech.wav \
  "Hello, this is a voice message. It was recorded, compressed, scrambled and laid out in blocks \
behind a small player. Call me back when you hear this; the number is five five five, one two three four."
sample=build/sample/message.exe
run() {
  echo "\$ quira $*"
  "$quira" "$@"
}

run make --force build/sample/speech.wav -o "$sample"
echo
run info "$sample"
echo
run export "$sample" -o build/sample/message.wav
run export "$sample" --effect third-up --level 63 -o build/sample/message-third-up.wav
run extract "$sample" -o build/sample/message.mp3
ls -l build/sample/message.wav build/sample/message-third-up.wav build/sample/message.mp3
echo
# A recorded voice (48 kHz, from alsa-utils) in a large room.
run make --force /usr/share/sounds/alsa/Front_Center.wav --effect large-room --level 48 -o build/sample/room.exe
run info build/sample/room.exe
echo
run effects
echo
echo "\$ quira play $sample < /dev/null"
status=0
"$quira" play "$sample" </dev/null || status=$?
if [ "$status" -eq 4 ]; then
  echo "(no sound device here, so nothing was played; on a machine with one, this plays the message)"
elif [ "$status" -ne 0 ]; then
  exit "$status"
fi

echo
echo "Building the rest: the web page (the library compiled to WebAssembly) and libquira..."
scripts/setup.sh
echo
run page -o build/sample/quira.html
echo "The web page plays and makes carriers in any browser, from disk, sending nothing anywhere:"
echo "  file://$PWD/build/sample/quira.html   (the build's own copy: build/native/web/quira.html)"
echo "Open build/sample/message.exe in it, or hand the page to whoever a message goes to."
