#!/usr/bin/env bash
# Sets up a Debian machine for Quira and builds it:
#   scripts/setup.sh          packages for building and the sample, then the Linux build
#   scripts/setup.sh --tests  also what the tests need: Wine, the Windows builds and the browser
# Idempotent: installs only what is missing, rebuilds only what changed.
set -euo pipefail
cd "$(dirname "$0")/.."

tests=0
[ "${1:-}" = "--tests" ] && tests=1

packages=(
  build-essential cmake ninja-build pkgconf                   # building
  libsndfile1-dev                                             # quira make: read (libsoxr, LAME: pinned builds)
  ca-certificates patch bzip2 xz-utils                        # apt-get source, unpacking it
  g++-mingw-w64-i686 g++-mingw-w64-x86-64                     # the Windows builds
  libasound2-dev                                              # the sound device of quira play
  libgtest-dev python3                                        # tests (python3: the art script's check)
  espeak-ng sox lame alsa-utils mpg123                        # speech, its encoding, a peer decoder
  emscripten                                                  # the web page's WebAssembly
)

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  "${sudo[@]}" apt-get update -qq
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/native

if [ "$tests" -eq 1 ]; then
  scripts/setup-browser.sh
  scripts/setup-wine.sh
  scripts/build-windows.sh
fi
