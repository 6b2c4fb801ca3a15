#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Sets up what is missing and runs every test: the Linux build, the same tests under
# AddressSanitizer and UndefinedBehaviorSanitizer, the Windows builds against Linux under Wine, the
# Windows player itself under Wine on a virtual display (the Wine tests are named windows_*), and
# a short run of each fuzzer (scripts/fuzz.sh).
#   scripts/test.sh
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh --tests

# Reconfigure so the tests see the Windows builds that setup just made. The build also makes the
# player exe (build/native/player-i686) that the player's test runs. Here the Windows tests must
# run: one that finds Wine, its prefix or the cross builds missing fails rather than skips.
cmake -S . -B build/native -G Ninja >/dev/null
cmake --build build/native
QUIRA_REQUIRE_WINDOWS=1 ctest --test-dir build/native --output-on-failure -j2

# The sanitizer build embeds the Windows player that the native build just made; the web page,
# tested in the native build, is not built again.
cmake -S . -B build/sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUIRA_SANITIZE=ON -DQUIRA_WEB=OFF \
  -DQUIRA_PLAYER_EXE="$PWD/build/native/player-i686/app/player.exe" >/dev/null
cmake --build build/sanitize
# The Windows tests ran above; the sanitizers change nothing in the Windows programs.
ctest --test-dir build/sanitize --output-on-failure -j2 -E 'windows'

# The library's objects are independent: carriers decoded in parallel threads under
# ThreadSanitizer give exactly their outputs one after the other.
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUIRA_TSAN=ON \
  -DQUIRA_PLAYER_EXE="$PWD/build/native/player-i686/app/player.exe" >/dev/null
cmake --build build/tsan --target lib_test
QUIRA_MEDIA_DIR="$PWD/build/native/media" TSAN_OPTIONS=halt_on_error=1 \
  build/tsan/tests/lib_test --gtest_filter='LibraryMedia.*'

# Each fuzzer for 15 s on its seed corpus (scripts/fuzz.sh for longer runs).
scripts/fuzz.sh 15
