#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Makes carriers from real speech for the tests and the demo:
#   make-test-media.sh OUT_DIR PACK_CARRIER_PROGRAM PLAYER_EXE
# Speech comes from espeak-ng and from the spoken prompts that alsa-utils ships; sox brings it to
# 16 kHz (or 8 kHz) mono, lame encodes it as the three accepted formats, and pack_carrier lays the
# frames out as a carrier behind the player. Idempotent: a finished set is kept while the player
# it was made with is unchanged.
#
# Every input is padded so that LAME writes whole blocks (scripts/media-lib.sh).
set -euo pipefail
. "$(dirname "$0")/media-lib.sh"

out=$1
pack=$2
player=$3
mkdir -p "$out"
made_with=$(sha256sum < "$player" | cut -d' ' -f1)
[ "$(cat "$out/.complete" 2>/dev/null)" = "$made_with" ] && exit 0

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# encode NAME WAV16 WAV8: the three formats of one recording, as mp3 and as carrier.
encode() {
  local name=$1
  lame --quiet -t -m m -b 32 --cbr --resample 16 "$2" "$tmp/$name-32.mp3"
  lame --quiet -t -m m -b 16 --cbr --resample 16 "$2" "$tmp/$name-16.mp3"
  lame --quiet -t -m m -b 8 --cbr --resample 8 "$3" "$tmp/$name-8.mp3"
  for rate in 32 16 8; do
    "$pack" "$tmp/$name-$rate.mp3" "$tmp/$name-$rate.exe" 0 127 "$player"
  done
}

espeak-ng -w "$tmp/speech-raw.wav" \
  "Hello, this is a voice message. It was recorded, compressed, scrambled and laid out in blocks \
behind a small player. The quick brown fox jumps over the lazy dog. Pack my box with five dozen \
liquor jugs. Call me back when you hear this; the number is five five five, one two three four."
sox "$tmp/speech-raw.wav" -r 16000 -c 1 -b 16 "$tmp/speech-16k.wav"
sox "$tmp/speech-raw.wav" -r 8000 -c 1 -b 16 "$tmp/speech-8k.wav"
pad "$tmp/speech-16k.wav" "$tmp/speech.wav"
pad "$tmp/speech-8k.wav" "$tmp/speech-8.wav"
encode speech "$tmp/speech.wav" "$tmp/speech-8.wav"

# The alsa-utils prompts are 48 kHz recordings of a real voice.
files=()
for name in Front_Center Front_Left Front_Right Rear_Center Rear_Left Rear_Right Side_Left Side_Right; do
  files+=("/usr/share/sounds/alsa/$name.wav")
done
sox "${files[@]}" -r 16000 -c 1 -b 16 "$tmp/prompts-16k.wav"
sox "$tmp/prompts-16k.wav" -r 8000 "$tmp/prompts-8k.wav"
pad "$tmp/prompts-16k.wav" "$tmp/prompts.wav"
pad "$tmp/prompts-8k.wav" "$tmp/prompts-8.wav"
encode prompts "$tmp/prompts.wav" "$tmp/prompts-8.wav"

# Speech driven 12 dB past full scale: its decoded samples must clip, not wrap.
sox -V1 "$tmp/speech-16k.wav" "$tmp/loud-16k.wav" gain 12
pad "$tmp/loud-16k.wav" "$tmp/loud.wav"
lame --quiet -t -m m -b 32 --cbr --resample 16 "$tmp/loud.wav" "$tmp/loud-32.mp3"
"$pack" "$tmp/loud-32.mp3" "$tmp/loud-32.exe" 0 127 "$player"

cp "$tmp"/speech.wav "$tmp"/prompts.wav "$tmp"/*.mp3 "$tmp"/*.exe "$out/"
echo "$made_with" > "$out/.complete"
