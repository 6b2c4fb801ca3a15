#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the maker's pinned dependencies, static, from Debian's source packages, for one target,
# into PREFIX/lib and PREFIX/include: libsoxr (the resampler), LAME's libmp3lame (the encoder),
# and the few functions of musl's libm that those two call.
#   build-maker-deps.sh MUSL_SRC SOXR_SRC LAME_SRC HOST PREFIX
# HOST is "native" or "wasm32" (emscripten; emcc, emcmake and emconfigure on the PATH).
#
# `quira make` and the page must turn the same recording into the same carrier, so both targets
# get one scalar build of each library: no SIMD paths chosen at run time (Debian's libsoxr picks
# SSE or AVX by CPU, and LAME has SSE routines that sum in another order), no OpenMP, no fast
# maths, no contraction into FMA, SSE2 scalar maths on x86. LAME's configure decides two
# float-layout tricks by host CPU; they are set here for both targets alike.
#
# The maths: glibc's sin and sinf round differently from musl's (emscripten's libc) in the last
# place for a few arguments, and one such coefficient of the resampler's filter changes a
# carrier. So libsoxr and LAME are compiled with pinned-math.h, which renames the libm functions
# they call to quira_m_*, and those come from one source, musl's, compiled for both targets. The
# renamed calls are no compiler builtins either, so neither compiler folds or fuses them its own
# way. sqrt, fabs and the like are exact everywhere and stay the C library's.
set -euo pipefail

musl_src=$(cd "$1" && pwd)
soxr_src=$(cd "$2" && pwd)
lame_src=$(cd "$3" && pwd)
host=$4
prefix=$5
mkdir -p "$prefix"
prefix=$(cd "$prefix" && pwd)

cflags="-O3 -ffp-contract=off -fno-fast-math"
case "$host" in
  # Position-independent, so that it can go into the shared libquira as well as the static one.
  native) cflags="$cflags -msse2 -mfpmath=sse -fPIC"; cc=(cc); ar=(ar); cmake=(cmake); configure=(); make=(make) ;;
  wasm32)
    # emcc 3.1.6 runs its JavaScript tools with Debian's node modules.
    export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}
    cc=(emcc); ar=(emar); cmake=(emcmake cmake); configure=(emconfigure); make=(emmake make)
    ;;
  *) echo "build-maker-deps: unknown host $host" >&2; exit 1 ;;
esac
# The libm functions libsoxr and LAME call that round (not exact ones such as sqrt), and the
# musl sources that make them.
math_functions=(sin cos tan asin atan atan2 exp log log2 log10 pow sinf cosf atanf log10f powf)
math_sources=(sin cos tan __sin __cos __tan __rem_pio2 __rem_pio2_large asin atan atan2 exp exp_data
  log log_data log2 log2_data log10 pow pow_data sinf cosf __sindf __cosdf __rem_pio2f atanf log10f
  powf powf_data exp2f_data __math_oflow __math_uflow __math_xflow __math_invalid __math_divzero
  __math_oflowf __math_uflowf __math_xflowf __math_invalidf __math_divzerof)
math_cflags="$cflags -include $prefix/include/pinned-math.h"
# LAME: IEEE 754 bit tricks in the quantiser and its table-driven log2, which configure enables
# on x86 only; its SSE intrinsics never (configure enables them wherever they compile).
lame_cflags="$cflags -DTAKEHIRO_IEEE754_HACK=1 -DUSE_FAST_LOG=1"
soxr_options=(-DCMAKE_BUILD_TYPE=None -DBUILD_SHARED_LIBS=OFF -DBUILD_TESTS=OFF -DBUILD_EXAMPLES=OFF
  -DWITH_OPENMP=OFF -DWITH_LSR_BINDINGS=OFF -DWITH_CR32=ON -DWITH_CR64=OFF -DWITH_VR32=OFF
  -DWITH_CR32S=OFF -DWITH_CR64S=OFF -DWITH_PFFFT=OFF -DWITH_AVFFT=OFF -DWITH_DEV_TRACE=OFF -DHAVE_LRINT=1)
lame_options=(--enable-static --disable-shared --disable-frontend --disable-decoder --disable-nasm
  --disable-analyzer-hooks --disable-gtktest --disable-cpml --disable-rpath)

# Every build tree of a checkout shares this build: while one configure makes it, the others
# wait for it here and then find it made, rather than each wiping the other's half-made build.
mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
flock 9

# The build is kept while this script's commands and the sources are the same (its comments do
# not count, so a reworded comment does not rebuild every target).
stamp="$(grep -v '^[[:space:]]*#' "$0" | sha256sum | cut -c1-16) $host $(basename "$musl_src") $(basename "$soxr_src") $(basename "$lame_src")"
if [ -f "$prefix/lib/libsoxr.a" ] && [ -f "$prefix/lib/libmp3lame.a" ] && [ -f "$prefix/lib/libquira_m.a" ] &&
   [ "$(cat "$prefix/config.stamp" 2>/dev/null)" = "$stamp" ]; then
  exit 0
fi

work="$prefix.build"
rm -rf "$work" && mkdir -p "$work/math" "$work/soxr" "$work/lame" "$prefix/lib" "$prefix/include"
fail() { tail -n 30 "$1" >&2; exit 1; }

# pinned-math.h: after the C library's <math.h>, each function's name stands for quira_m_NAME,
# declared here. Compiling musl's sources with it defines those; its internal names are renamed
# too, out of the way of glibc's <math.h> (which declares __sin, __cos, ...) and of the C
# library's own copies (emscripten's libc is musl).
{
  echo "/* Made by scripts/build-maker-deps.sh: the libm functions of the maker's libraries, pinned. */"
  echo "#include <math.h>"
  for f in "${math_functions[@]}"; do echo "#define $f quira_m_$f"; done
  for f in __sin __cos __tan __sinl __cosl __tanl __sindf __cosdf __tandf __rem_pio2 __rem_pio2f __rem_pio2l \
           __rem_pio2_large __exp_data __exp2f_data __log_data __log2_data __pow_log_data __powf_log2_data \
           __math_oflow __math_uflow __math_xflow __math_invalid __math_divzero __math_oflowf __math_uflowf \
           __math_xflowf __math_invalidf __math_divzerof; do
    echo "#define $f quira_m$f"
  done
  echo "double sin(double); double cos(double); double tan(double); double asin(double); double atan(double);"
  echo "double atan2(double, double); double exp(double); double log(double); double log2(double);"
  echo "double log10(double); double pow(double, double); float sinf(float); float cosf(float);"
  echo "float atanf(float); float log10f(float); float powf(float, float);"
} > "$prefix/include/pinned-math.h"

# musl's functions, built from its source as musl builds them (its internal header, the generic
# architecture) into libquira_m.a.
(
  cd "$work/math"
  for f in "${math_sources[@]}"; do
    "${cc[@]}" $math_cflags -std=c99 -D_GNU_SOURCE -Dhidden= -I"$musl_src/src/internal" -I"$musl_src/arch/generic" \
      -c "$musl_src/src/math/$f.c" -o "$f.o" >> make.log 2>&1 || fail make.log
  done
  rm -f "$prefix/lib/libquira_m.a"
  "${ar[@]}" rcs "$prefix/lib/libquira_m.a" ./*.o
)

# libsoxr: its CMake build, the constant-rate engines only as plain C over its own FFT, from a
# copy of the source in which the FFT's table of functions holds functions of the types it is
# called through: it casts a function of no arguments to one of one or four, and another of
# three to one of four, which x86 does not notice and WebAssembly traps on ("function signature
# mismatch"). The adapters do nothing else, so both targets build the same code.
cp -a "$soxr_src" "$work/soxr-src"
for f in fft4g32.c fft4g64.c; do
  perl -0pi -e '
    $n += s/static void \* null\(void\) \{return 0;\}/static void * null(int length) {(void)length; return 0;}/;
    $n += s/static void nothing\(void\) \{\}/static void nothing(void * setup) {(void)setup;}\nstatic void reorder(int length, void * setup, void * H, void * scratch) {(void)length; (void)setup; (void)H; (void)scratch;}/;
    $n += s/(void \* setup, double \* H)\) \{(.*?)\(void\)setup;\}/$1, void * scratch) {$2(void)setup; (void)scratch;}/g;
    $n += s/(\(fn_t\)multiplier,\s*)\(fn_t\)nothing,/$1(fn_t)reorder,/;
    END { exit($n == 5 ? 0 : 1) }' "$work/soxr-src/src/$f" ||
    { echo "build-maker-deps: $f is not the FFT adapter this script mends" >&2; exit 1; }
done
(
  cd "$work/soxr"
  # Its check for a separate libm then fails on the renamed pow (no matter for a static
  # library), and with it its check for lrint, which both targets have (HAVE_LRINT=1).
  "${cmake[@]}" -S "$work/soxr-src" -B . -G "Unix Makefiles" -DCMAKE_C_FLAGS="$math_cflags" "${soxr_options[@]}" \
    > configure.log 2>&1 || fail configure.log
  grep -q '^#define WITH_CR32S 0' soxr-config.h || { echo "build-maker-deps: soxr would build its SIMD engine" >&2; exit 1; }
  "${make[@]}" -j"$(nproc)" soxr > make.log 2>&1 || fail make.log
  cp src/libsoxr.a "$prefix/lib/"
  cp "$soxr_src/src/soxr.h" "$prefix/include/"
)

# LAME: the library only. Its config.sub predates wasm32, and configure must know it
# cross-compiles (it cannot run what emcc makes): the wasm build names a 32-bit x86 host, whose
# CPU-specific choices are overridden here anyway (lame_cflags, the SSE routines, the flags).
case "$host" in
  wasm32) lame_host=(--host=i686-pc-linux-gnu) ;;
  *) lame_host=() ;;
esac
(
  cd "$work/lame"
  CFLAGS="$lame_cflags" "${configure[@]}" "$lame_src/configure" "${lame_host[@]}" --prefix="$prefix" "${lame_options[@]}" \
    > configure.log 2>&1 || fail configure.log
  # configure adds optimisation flags of its own with clang (-Ofast by its version, fast maths,
  # -march=native on x86 hosts): our flags alone, and the pinned maths (not given to configure,
  # whose test programs declare libm functions of their own).
  sed -i -E "s|^CFLAGS *=.*|CFLAGS = $lame_cflags -include $prefix/include/pinned-math.h|" \
    libmp3lame/Makefile libmp3lame/vector/Makefile
  # Without this the SSE routines are compiled in and chosen (their sums run in another order).
  sed -i '/#define HAVE_XMMINTRIN_H/d' config.h
  "${make[@]}" -j"$(nproc)" -C libmp3lame > make.log 2>&1 || fail make.log
  cp libmp3lame/.libs/libmp3lame.a "$prefix/lib/"
  cp "$lame_src/include/lame.h" "$prefix/include/"
)
echo "$stamp" > "$prefix/config.stamp"
