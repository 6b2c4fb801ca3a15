#!/usr/bin/env bash
# Sets up what is missing and runs every test: the Linux build, the same tests under
# AddressSanitizer and UndefinedBehaviorSanitizer, the Windows builds against Linux under Wine, and
# the Windows player itself under Wine on a virtual display (the Wine tests are named windows_*).
#   scripts/test.sh
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh --tests

# Reconfigure so the tests see the Windows builds that setup just made. The build also makes the
# player exe (build/native/player-i686) that the player's test runs.
cmake -S . -B build/native -G Ninja >/dev/null
cmake --build build/native
ctest --test-dir build/native --output-on-failure -j2

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
