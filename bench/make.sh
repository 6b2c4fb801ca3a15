#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Benchmark of quira make, run on demand (not in CI): a recording of five and a half minutes at
# 48 kHz, real speech (the alsa-utils prompts and espeak-ng), made into a carrier, against sox
# resampling it to 16 kHz mono piped into lame encoding the same frames, timed in the same run.
# Prints the ratio quira / peer of wall and CPU time (bench/lib.sh): below 1 is faster.
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/lib.sh

scripts/setup.sh >/dev/null
bench_tools
cmake --build build/native --target quira >/dev/null

out=build/bench
mkdir -p "$out"
quira=$PWD/build/native/tool/quira
in=$out/long-48k.wav
bench_long_speech "$out"
soxi "$in" | grep -E 'Sample Rate|Duration'

echo
bench_run "$out" make "$quira make --force $in -o $out/made.exe" \
  "sh -c 'sox $in -r 16000 -c 1 -t wav - | lame --quiet -t -m m -b 32 --cbr --resample 16 - $out/peer.mp3'" 10
