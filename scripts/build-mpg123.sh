#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the pinned static libmpg123 from Debian's source for one target.
#   build-mpg123.sh SRC_DIR HOST PREFIX [generic]
# HOST is "native", a cross triplet (i686-w64-mingw32, x86_64-w64-mingw32) or wasm32 (the web
# page's build, with Debian's emscripten).
#
# Every target gets the same decoder: the generic FPU synth, Layer III only, precomputed tables,
# SSE2 floating point and no fast maths, so that the Linux tool and the Windows player turn the
# same frames into the same samples. configure would add -ffast-math and friends unless told
# --with-optimization=0, so the optimisation flags are ours, in CFLAGS.
#
# The source is built with our patches (scripts/patches/mpg123-*.patch, applied in name order to
# a copy of it): the synth vectorised in the generic code's own order of operations, which gives
# the generic synth's samples faster. "generic" builds Debian's source as it is, the reference
# that the tests hold the patched decoder to.
set -euo pipefail

src=$(cd "$1" && pwd)
host=$2
prefix=$3
variant=${4:-patched}
mkdir -p "$prefix"
prefix=$(cd "$prefix" && pwd)
patches=()
if [ "$variant" != generic ]; then
  for patch in "$(cd "$(dirname "$0")" && pwd)"/patches/mpg123-*.patch; do
    [ -f "$patch" ] && patches+=("$patch")
  done
fi

# -O3 and unrolling change no result: without fast maths GCC neither reassociates float sums nor
# contracts them into FMA, so the vectorised and unrolled code rounds exactly as the plain one.
cflags="-O3 -funroll-all-loops -msse2 -mfpmath=sse -ffp-contract=off -fno-fast-math"
host_opt=()
wrap=()
make_wrap=()
case "$host" in
  # Position-independent, so that it can go into the shared libquira as well as the static one.
  native) cflags="$cflags -fPIC" ;;
  *mingw*)
    host_opt=(--host="$host")
    # The Windows player must fit in its fixed size: optimised for size, no unwind tables, one
    # section per function for the linker to drop, and the C runtime's own printf and scanf
    # rather than mingw's larger ones. The results stay those of the -O3 build, for the reason
    # above.
    cflags="-Os -msse2 -mfpmath=sse -ffp-contract=off -fno-fast-math -fno-asynchronous-unwind-tables"
    cflags="$cflags -ffunction-sections -D__USE_MINGW_ANSI_STDIO=0"
    ;;
  wasm32)
    # WebAssembly has no x87: its floats are IEEE single and double by definition, so only the
    # contraction and fast-maths flags matter. Debian's emcc finds its JavaScript parser there.
    host_opt=(--host=wasm32)
    cflags="-O3 -ffp-contract=off -fno-fast-math"
    wrap=(emconfigure)
    make_wrap=(emmake)
    export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}
    ;;
  *) host_opt=(--host="$host") ;;
esac
options=(--enable-static --disable-shared --disable-modules --disable-components --enable-libmpg123
  --with-cpu=generic_fpu --disable-layer1 --disable-layer2 --disable-id3v2 --disable-string
  --disable-icy --disable-ntom --disable-downsample --disable-moreinfo --disable-messages
  --disable-equalizer --disable-32bit --disable-real --disable-feature_report --disable-network
  --enable-gapless=no --with-optimization=0 --disable-runtime-tables --disable-largefile
  --disable-lfs-alias)

# Every build tree of a checkout shares this build: while one configure makes it, the others
# wait for it here and then find it made, rather than each wiping the other's half-made build.
mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
flock 9

# The build is kept while its configuration is unchanged.
stamp="$cflags ${options[*]} $(basename "$src") narrow-paths"
[ ${#patches[@]} -eq 0 ] || stamp="$stamp $(cat "${patches[@]}" | sha256sum | cut -d' ' -f1)"
if [ -f "$prefix/lib/libmpg123.a" ] && [ "$(cat "$prefix/config.stamp" 2>/dev/null)" = "$stamp" ]; then
  exit 0
fi

work="$prefix.build"
rm -rf "$work" && mkdir -p "$work"
if [ ${#patches[@]} -gt 0 ]; then
  cp -a "$src" "$work/source"
  src=$work/source
  for patch in "${patches[@]}"; do
    patch -d "$src" -p1 -s --no-backup-if-mismatch < "$patch" ||
      { echo "build-mpg123: $(basename "$patch") does not apply to $(basename "$1")" >&2; exit 1; }
  done
  mkdir "$work/build"
  cd "$work/build"
else
  cd "$work"
fi
CFLAGS="$cflags" "${wrap[@]}" "$src/configure" "${host_opt[@]}" --prefix="$prefix" "${options[@]}" \
  > configure.log 2>&1 || { tail -n 30 configure.log >&2; exit 1; }
# The library's wide-character path layer serves only its own file opening, which we never use
# (frames are fed from memory), and would make the Windows player import SHLWAPI for it.
sed -i '/#define WANT_WIN32_UNICODE/d' src/config.h
# Only the library: the mpg123 and out123 programs are not wanted (and do not link in this
# stripped-down configuration).
"${make_wrap[@]}" make -j"$(nproc)" src/libmpg123/libmpg123.la > make.log 2>&1 || { tail -n 30 make.log >&2; exit 1; }
mkdir -p "$prefix/lib" "$prefix/include"
cp src/libmpg123/.libs/libmpg123.a "$prefix/lib/"
cp src/libmpg123/mpg123.h "$src/src/libmpg123/fmt123.h" "$prefix/include/"
echo "$stamp" > "$prefix/config.stamp"
