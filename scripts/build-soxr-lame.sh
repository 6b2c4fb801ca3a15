#!/usr/bin/env bash
# Builds the maker's pinned resampler and encoder, static, from Debian's source packages of
# libsoxr and LAME, for one target, into PREFIX/lib and PREFIX/include.
#   build-soxr-lame.sh SOXR_SRC LAME_SRC HOST PREFIX
# HOST is "native" or "wasm32" (emscripten; emcc, emcmake and emconfigure on the PATH).
#
# `quira make` and the page must turn the same recording into the same carrier, so both targets
# get one scalar build of each library: no SIMD paths chosen at run time (Debian's libsoxr picks
# SSE or AVX by CPU, and LAME has SSE routines that sum in another order), no OpenMP, no fast
# maths, no contraction into FMA, SSE2 scalar maths on x86. LAME's configure decides two
# float-layout tricks by host CPU; they are set here for both targets alike.
set -euo pipefail

soxr_src=$(cd "$1" && pwd)
lame_src=$(cd "$2" && pwd)
host=$3
prefix=$4
mkdir -p "$prefix"
prefix=$(cd "$prefix" && pwd)

cflags="-O3 -ffp-contract=off -fno-fast-math"
case "$host" in
  # Position-independent, so that it can go into the shared libquira as well as the static one.
  native) cflags="$cflags -msse2 -mfpmath=sse -fPIC"; cmake=(cmake); configure=(); make=(make) ;;
  wasm32)
    # emcc 3.1.6 runs its JavaScript tools with Debian's node modules.
    export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}
    cmake=(emcmake cmake); configure=(emconfigure); make=(emmake make)
    ;;
  *) echo "build-soxr-lame: unknown host $host" >&2; exit 1 ;;
esac
# LAME: IEEE 754 bit tricks in the quantiser and its table-driven log2, which configure enables
# on x86 only; its SSE intrinsics never (configure enables them wherever they compile).
lame_cflags="$cflags -DTAKEHIRO_IEEE754_HACK=1 -DUSE_FAST_LOG=1"
soxr_options=(-DCMAKE_BUILD_TYPE=None -DBUILD_SHARED_LIBS=OFF -DBUILD_TESTS=OFF -DBUILD_EXAMPLES=OFF
  -DWITH_OPENMP=OFF -DWITH_LSR_BINDINGS=OFF -DWITH_CR32=ON -DWITH_CR64=ON -DWITH_VR32=ON
  -DWITH_CR32S=OFF -DWITH_CR64S=OFF -DWITH_PFFFT=OFF -DWITH_AVFFT=OFF -DWITH_DEV_TRACE=OFF)
lame_options=(--enable-static --disable-shared --disable-frontend --disable-decoder --disable-nasm
  --disable-analyzer-hooks --disable-gtktest --disable-cpml --disable-rpath)

# The build is kept while its configuration is unchanged.
stamp="$cflags ${soxr_options[*]} $lame_cflags ${lame_options[*]} $(basename "$soxr_src") $(basename "$lame_src")"
if [ -f "$prefix/lib/libsoxr.a" ] && [ -f "$prefix/lib/libmp3lame.a" ] &&
   [ "$(cat "$prefix/config.stamp" 2>/dev/null)" = "$stamp" ]; then
  exit 0
fi

work="$prefix.build"
rm -rf "$work" && mkdir -p "$work/soxr" "$work/lame" "$prefix/lib" "$prefix/include"
fail() { tail -n 30 "$1" >&2; exit 1; }

# libsoxr: its CMake build, the constant-rate engines only as plain C over its own FFT.
(
  cd "$work/soxr"
  "${cmake[@]}" -S "$soxr_src" -B . -G "Unix Makefiles" -DCMAKE_C_FLAGS="$cflags" "${soxr_options[@]}" \
    > configure.log 2>&1 || fail configure.log
  grep -q '^#define WITH_CR32S 0' soxr-config.h || { echo "build-soxr-lame: soxr would build its SIMD engine" >&2; exit 1; }
  "${make[@]}" -j"$(nproc)" soxr > make.log 2>&1 || fail make.log
  cp src/libsoxr.a "$prefix/lib/"
  cp "$soxr_src/src/soxr.h" "$prefix/include/"
)

# LAME: the library only. Its config.sub predates wasm32, and configure must know it cross-compiles (it cannot run what
# emcc makes): the wasm build names a 32-bit x86 host, whose CPU-specific choices are overridden
# here anyway (lame_cflags, the SSE routines, the flags).
case "$host" in
  wasm32) lame_host=(--host=i686-pc-linux-gnu) ;;
  *) lame_host=() ;;
esac
(
  cd "$work/lame"
  CFLAGS="$lame_cflags" "${configure[@]}" "$lame_src/configure" "${lame_host[@]}" --prefix="$prefix" "${lame_options[@]}" \
    > configure.log 2>&1 || fail configure.log
  # configure adds optimisation flags of its own with clang (-Ofast by its version, fast maths,
  # -march=native on x86 hosts): our flags alone.
  sed -i -E "s|^CFLAGS *=.*|CFLAGS = $lame_cflags|" libmp3lame/Makefile libmp3lame/vector/Makefile
  # Without this the SSE routines are compiled in and chosen (their sums run in another order).
  sed -i '/#define HAVE_XMMINTRIN_H/d' config.h
  "${make[@]}" -j"$(nproc)" -C libmp3lame > make.log 2>&1 || fail make.log
  cp libmp3lame/.libs/libmp3lame.a "$prefix/lib/"
  cp "$lame_src/include/lame.h" "$prefix/include/"
)
echo "$stamp" > "$prefix/config.stamp"
