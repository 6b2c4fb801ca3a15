#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Sets up a Debian machine for Quira and builds it:
#   scripts/setup.sh          packages for building and the sample, then the Linux build
#   scripts/setup.sh --tool   the same, but builds only the tool (with the libraries it links and
#                             the player it carries), not yet the web page, whose WebAssembly
#                             build takes the longest: the quick first step of scripts/demo.sh
#   scripts/setup.sh --tests  also what the tests need: Wine, the Windows builds, the browser and
#                             lintian
# Idempotent: installs only what is missing, rebuilds only what changed. Apart from installing
# packages, only the download of the pinned libraries' Debian sources (once: mpg123, libsoxr, lame,
# musl) needs the network: configuring and building take them from build/deps/src.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/apt-lib.sh

tests=0 tool_only=0
case ${1:-} in
  --tests) tests=1 ;;
  --tool) tool_only=1 ;;
esac

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

[ "$tests" -eq 0 ] || packages+=(lintian)                    # the Debian packages' check

apt_install setup "${packages[@]}"
scripts/fetch-sources.sh build/deps/src

# The tool alone is built from a tree configured without the page (the tool carries the page,
# quira page, and would otherwise wait for its WebAssembly build) and without the tests (whose
# reference decoder is one more build of libmpg123); the full build configures both back in.
if [ "$tool_only" -eq 1 ]; then
  cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUIRA_WEB=OFF -DBUILD_TESTING=OFF >/dev/null
  cmake --build build/native --target quira
  exit 0
fi
cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUIRA_WEB=ON -DBUILD_TESTING=ON >/dev/null
cmake --build build/native

if [ "$tests" -eq 1 ]; then
  scripts/setup-browser.sh
  scripts/setup-wine.sh
  scripts/build-windows.sh
fi
