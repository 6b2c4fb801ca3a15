#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Benchmark of the web page's new-message view (on demand, not in CI), in Debian's chromium:
#   - the page making five and a half minutes of real speech at 48 kHz into a message, against
#     `quira make` of the same file in the same run, and their ratio;
#   - memory while the page records MINUTES (default 10) from a fake microphone playing real
#     speech, and saves the message: idle and peak (bench/maker-web.js).
#   bench/maker-web.sh [MINUTES]
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/lib.sh

minutes=${1:-10}
scripts/setup.sh >/dev/null
scripts/setup-browser.sh
cmake --build build/native --target quira web_page >/dev/null

out=build/bench
mkdir -p "$out"
bench_long_speech "$out"
soxi "$out/long-48k.wav" | grep -E 'Sample Rate|Duration'
# The microphone's speech: espeak-ng and a prompt, as a person talking with pauses.
sox "$out/espeak-48k.wav" /usr/share/sounds/alsa/Front_Center.wav -b 16 "$out/microphone.wav"

export NODE_PATH=$PWD/build/browser-test/node_modules
node bench/maker-web.js make build/native/web/quira.html "$PWD/build/native/tool/quira" "$PWD/$out/long-48k.wav"
node bench/maker-web.js memory build/native/web/quira.html "$PWD/$out/microphone.wav" "$minutes"
