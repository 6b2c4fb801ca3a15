#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Benchmarks, run on demand (not in CI). Each figure is a ratio against a peer command timed in the
# same run on the same input, since absolute times on a shared machine are noise:
#   - quira export of a 5-minute carrier, dry, against Debian's mpg123 decoding the same frames;
#   - quira export with one effect of each family against that decode piped into the nearest sox
#     effect;
#   - quira export with an effect to a pipe against the same export to a file;
#   - the cost of one buffer (decode + effect) against the 360 ms it has.
# Both wall time and CPU time are compared (bench/lib.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/media-lib.sh
. bench/lib.sh

scripts/setup.sh >/dev/null
bench_tools
cmake --build build/native --target quira pack_carrier buffer_cost >/dev/null
scripts/make-test-media.sh build/native/media build/native/tests/pack_carrier build/native/player-i686/app/player.exe

out=build/bench
mkdir -p "$out"
quira=$PWD/build/native/tool/quira
if [ ! -f "$out/long.exe" ]; then
  # Real speech, the espeak-ng passage and the alsa-utils prompts, repeated past five minutes.
  sox build/native/media/speech.wav build/native/media/prompts.wav "$out/pair.wav"
  sox "$out/pair.wav" "$out/long-raw.wav" repeat 10
  pad "$out/long-raw.wav" "$out/long.wav"
  lame --quiet -t -m m -b 32 --cbr --resample 16 "$out/long.wav" "$out/long.mp3"
  build/native/tests/pack_carrier "$out/long.mp3" "$out/long.exe" 0 127 build/native/player-i686/app/player.exe
fi
"$quira" info "$out/long.exe" | grep -E 'blocks|duration'

raw="-t raw -r 16000 -e signed -b 16 -c 1"
run() { bench_run "$out" "$@"; }

echo
# Both write the decoded message to a file: quira's WAV header goes in last, over a placeholder.
run decode "sh -c '$quira export --dry $out/long.exe -o $out/quira.wav'" \
  "sh -c 'mpg123 -q -s $out/long.mp3 >$out/peer.raw'"
run reverb "sh -c '$quira export --effect 4 $out/long.exe -o - >/dev/null'" \
  "sh -c 'mpg123 -q -s $out/long.mp3 | sox $raw - $raw /dev/null reverb'"
run echo "sh -c '$quira export --effect 5 $out/long.exe -o - >/dev/null'" \
  "sh -c 'mpg123 -q -s $out/long.mp3 | sox $raw - $raw /dev/null echos 0.8 0.7 250 0.7'"
run flanger "sh -c '$quira export --effect 6 $out/long.exe -o - >/dev/null'" \
  "sh -c 'mpg123 -q -s $out/long.mp3 | sox $raw - $raw /dev/null flanger'"
run pitch "sh -c '$quira export --effect 12 $out/long.exe -o - >/dev/null'" \
  "sh -c 'mpg123 -q -s $out/long.mp3 | sox $raw - $raw /dev/null pitch 400'"
# The same export to an output that cannot be rewritten (a pipe; timed into /dev/null, which
# takes the same path, so that no reader's copying is counted) and to a file: one pass either
# way, the pipe's header declaring its sizes open, so the pipe costs what the file does; the
# samples are the same.
run pipe "sh -c '$quira export --effect 5 $out/long.exe -o - >/dev/null'" \
  "sh -c '$quira export --effect 5 $out/long.exe -o $out/filed.wav'"
"$quira" export --effect 5 "$out/long.exe" -o - | cat >"$out/piped.wav"
cmp <(tail -c +45 "$out/piped.wav") <(tail -c +45 "$out/filed.wav") && echo "pipe     the same samples as the file"
echo
build/native/bench/buffer_cost "$out/long.exe"
