#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the libFuzzer harnesses (tests/fuzz: clang, AddressSanitizer, UndefinedBehaviorSanitizer)
# in build/fuzz and runs each on its seed corpus for a while:
#   scripts/fuzz.sh                      every harness for 15 s (scripts/test.sh runs this)
#   scripts/fuzz.sh 3600 payload_fuzz    one harness for an hour: a long run
# Harnesses: payload_fuzz resources_fuzz voice_mark_fuzz make_input_fuzz maker_fuzz. What a run finds that
# is new coverage is kept in build/fuzz/corpus/NAME for the next run; an input that crashes or
# breaks a harness's invariant is written to build/fuzz/findings/NAME-* and fails the script.
# Needs the native build and its test media (scripts/test.sh makes both before it runs this).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-15}
shift || true
harnesses=("$@")
[ ${#harnesses[@]} -gt 0 ] || harnesses=(payload_fuzz resources_fuzz voice_mark_fuzz make_input_fuzz maker_fuzz)

player=$PWD/build/native/player-i686/app/player.exe
media=$PWD/build/native/media
[ -f "$player" ] || { echo "fuzz: no player at $player: build first (scripts/setup.sh)" >&2; exit 1; }
[ -f "$media/.complete" ] || ctest --test-dir build/native -R make_speech_media >/dev/null

cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUIRA_FUZZ=ON \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DQUIRA_PLAYER_EXE="$player" -DQUIRA_FUZZ_MEDIA_DIR="$media" >/dev/null
cmake --build build/fuzz

# Longest input of each harness: a few blocks of payload, an executable the player's size, a
# header, a short recording, a rate and a few chunks of samples.
declare -A max_len=([payload_fuzz]=20000 [resources_fuzz]=200000 [voice_mark_fuzz]=16 [make_input_fuzz]=32768
  [maker_fuzz]=16384)
mkdir -p build/fuzz/findings
status=0
for h in "${harnesses[@]}"; do
  [ -n "${max_len[$h]:-}" ] || { echo "fuzz: no harness $h" >&2; exit 1; }
  corpus=build/fuzz/corpus/${h%_fuzz}
  mkdir -p "$corpus"
  log=build/fuzz/$h.log
  if build/fuzz/tests/fuzz/$h -max_total_time="$seconds" -max_len="${max_len[$h]}" -timeout=20 \
      -print_final_stats=1 -artifact_prefix="build/fuzz/findings/$h-" "$corpus" "build/fuzz/seeds/${h%_fuzz}" \
      >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "fuzz: $h: ${runs:-?} runs in $seconds s, corpus $(ls "$corpus" | wc -l) inputs, nothing found"
  else
    echo "fuzz: $h FAILED; its log:" >&2
    tail -n 40 "$log" >&2
    status=1
  fi
done
exit $status
