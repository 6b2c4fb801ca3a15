#!/usr/bin/env bash
# Sets up a Debian machine for Quira and builds it:
#   scripts/setup.sh          packages for building and the sample, then the Linux build
#   scripts/setup.sh --tests  also what the tests need: Wine, the Windows builds and the browser
# Idempotent: installs only what is missing, rebuilds only what changed. Apart from installing
# packages, only the download of the pinned libraries' Debian sources (once: mpg123, libsoxr, lame,
# musl) needs the network: configuring and building take them from build/deps/src.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/apt-lib.sh

tests=0
[ "${1:-}" = "--tests" ] && tests=1

packages=(
  build-essential cmake ninja-build pkgconf                   # building
  scdoc dpkg-dev file man-db                                  # the manual page; the Debian package
  libsndfile1-dev                                             # quira make: read; export: FLAC, Vorbis, Opus
  ca-certificates patch bzip2 xz-utils                        # the pinned libraries' sources: download, unpack
  g++-mingw-w64-i686 g++-mingw-w64-x86-64                     # the Windows builds
  libasound2-dev                                              # the sound device of quira play
  libgtest-dev python3                                        # tests (python3: the art script's check)
  clang libclang-rt-dev                                       # the fuzzers (libFuzzer; scripts/fuzz.sh)
  espeak-ng sox lame alsa-utils mpg123                        # speech, its encoding, a peer decoder
  opus-tools                                                  # a peer decoder of the Opus export
  emscripten                                                  # the web page's WebAssembly
)

apt_install setup "${packages[@]}"
scripts/fetch-sources.sh build/deps/src

cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/native

if [ "$tests" -eq 1 ]; then
  scripts/setup-browser.sh
  scripts/setup-wine.sh
  scripts/build-windows.sh
fi
