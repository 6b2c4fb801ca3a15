#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Benchmark of quira make's memory, run on demand (not in CI): peak resident memory, measured by
# /usr/bin/time -v, of making a carrier from one hour of 48 kHz stereo real speech (two alsa-utils
# prompts, one a channel, repeated) read from a pipe (`make -`) and from the file, against sox
# resampling the same pipe to 16 kHz mono into lame encoding it (the larger of the two processes).
# Prints each peak and the ratio quira / peer.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh >/dev/null
if [ ! -x /usr/bin/time ]; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends time >/dev/null
fi
cmake --build build/native --target quira >/dev/null

out=build/bench
mkdir -p "$out"
quira=$PWD/build/native/tool/quira
in=$out/hour-48k-stereo.wav
if [ ! -f "$in" ]; then
  sox -M /usr/share/sounds/alsa/Front_Left.wav /usr/share/sounds/alsa/Rear_Right.wav "$out/pair.wav"
  repeats=$(python3 -c "import math, sys; print(math.ceil(3600 / float(sys.argv[1])))" "$(soxi -D "$out/pair.wav")")
  sox "$out/pair.wav" "$in" repeat $((repeats - 1)) trim 0 3600
fi
soxi "$in" | grep -E 'Channels|Sample Rate|Duration'

# peak_kb COMMAND...: the largest resident set, in kB, of the command or any process it waited for.
peak_kb() {
  /usr/bin/time -v "$@" 2>&1 >/dev/null | sed -n 's/^[[:space:]]*Maximum resident set size (kbytes): //p'
}

pipe=$(peak_kb sh -c "cat '$in' | '$quira' make --force - -o '$out/hour.exe'")
file=$(peak_kb "$quira" make --force "$in" -o "$out/hour.exe")
peer=$(peak_kb sh -c "cat '$in' | sox -t wav - -r 16000 -c 1 -t wav - | lame --quiet -t -m m -b 32 --cbr --resample 16 - '$out/peer.mp3'")
frames=$(($(stat -c %s "$out/hour.exe") - 163840))
echo
printf 'make -      peak %7d kB   (frames held: %d kB)\n' "$pipe" $((frames / 1024))
printf 'make FILE   peak %7d kB\n' "$file"
printf 'sox | lame  peak %7d kB\n' "$peer"
python3 -c "import sys; p, f, q = map(int, sys.argv[1:]); print(f'ratio quira / peer: pipe {p / q:.2f}, file {f / q:.2f}')" "$pipe" "$file" "$peer"
