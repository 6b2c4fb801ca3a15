#!/usr/bin/env bash
# Sets up what is missing, makes sample carriers from real speech, and shows what quira does
# with one: its description, exports of the message as heard, dry and with a voice effect, its
# plain MPEG frames, the list of effects, and the message played on the sound device when the
# machine has one.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake --build build/native --target pack_carrier >/dev/null
scripts/make-test-media.sh build/sample build/native/tests/pack_carrier

quira=build/native/tool/quira
sample=build/sample/speech-32.exe
echo
echo "\$ quira info $sample"
"$quira" info "$sample"
echo
echo "\$ quira export $sample -o build/sample/speech.wav"
"$quira" export "$sample" -o build/sample/speech.wav
echo "\$ quira export $sample --effect third-up -o build/sample/speech-third-up.wav"
"$quira" export "$sample" --effect third-up -o build/sample/speech-third-up.wav
echo "\$ quira extract $sample -o build/sample/speech.mp3"
"$quira" extract "$sample" -o build/sample/speech.mp3
ls -l build/sample/speech.wav build/sample/speech-third-up.wav build/sample/speech.mp3
echo
echo "\$ quira effects"
"$quira" effects
echo
echo "\$ quira play $sample < /dev/null"
status=0
"$quira" play "$sample" </dev/null || status=$?
if [ "$status" -eq 4 ]; then
  echo "(no sound device here, so nothing was played; on a machine with one, this plays the message)"
elif [ "$status" -ne 0 ]; then
  exit "$status"
fi
