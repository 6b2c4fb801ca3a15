#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Configures and builds the Windows cross builds, i686 and x86_64, with mingw-w64:
#   build-windows.sh            -> build/mingw-i686 and build/mingw-x86_64 in this tree
# Installs the cross compilers (and CMake and Ninja) when missing; needs root for that. The first
# configure of each target also builds the pinned libmpg123 for it (see cmake/Mpg123.cmake).
# Idempotent: an existing build directory is reconfigured and rebuilt incrementally.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/apt-lib.sh"

packages=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 cmake ninja-build make)
apt_install build-windows "${packages[@]}"

for arch in i686 x86_64; do
  start=$SECONDS
  dir=$root/build/mingw-$arch
  cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$arch-w64-mingw32.cmake" >/dev/null
  cmake --build "$dir"
  echo "build-windows: $dir built ($((SECONDS - start)) s)"
done
