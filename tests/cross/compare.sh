#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Checks that other builds decode and apply effects exactly as the Linux build does:
#   compare.sh MEDIA_DIR NATIVE_RENDER RENDER...
# A RENDER that ends in .exe is a Windows build's, run under Wine, and the fade_tables program
# beside it must write the native one's pitch-shifter tables; any other RENDER is another native
# program (render_generic: the same code over Debian's libmpg123 without our patches).
# Then every case (carrier, effect code, level byte) is rendered by the native render program and
# by each other render program, and the raw outputs must be equal byte for byte.
# Prints each case that matched; on a difference it names the first differing sample (block,
# index, both values) and how many samples differ, checks the remaining cases, and exits 1.
#
# Each program renders all cases of one carrier in one process (one playback after another, as
# the player plays again after a stop), which keeps Wine's start-up cost to a few runs, and the
# programs of one carrier run side by side. The programs are copied first, so that a rebuild
# while the check runs cannot change them under it.
# Wine runs in WINEPREFIX (made by scripts/setup-wine.sh); `wine` is taken from PATH unless WINE
# names another launcher. Paths are handed to the Windows programs as Z: drive paths.
set -euo pipefail

. "$(dirname "$0")/../support/prerequisite.sh"
if [ $# -lt 2 ]; then
  echo "usage: compare.sh MEDIA_DIR NATIVE_RENDER RENDER..." >&2
  exit 2
fi
# What only scripts/setup.sh --tests provides: the test is skipped without it (or fails, when the
# Windows tests are required).
if [ $# -lt 3 ]; then
  missing_prerequisite "no Windows cross builds (build/mingw-*): run scripts/build-windows.sh, then configure again"
fi
media=$(cd "$1" && pwd)
native_dir=$(dirname "$2")
shift 2
# shellcheck source=scripts/wine-lib.sh
. "$(dirname "$0")/../../scripts/wine-lib.sh"
wine_choose
programs=()
windows_dirs=()
under_wine=()
first_wine=""
for program in "$@"; do
  if [[ $program == *.exe ]]; then
    # A 32-bit program cannot run where the kernel runs none: say so, and compare the others.
    # Their emulation would run it (scripts/i386-emulation.sh around this script), at some three
    # minutes more than the whole check takes without it, which is left to a run by hand.
    if wine_exe_is_32bit "$program"; then
      if [ "$WINE_32BIT" = 0 ]; then
        echo "skipped: $program: $WINE_NO_32BIT_REASON"
        continue
      fi
      [ "$WINE_32BIT_HOW" = natively ] || echo "note: $program runs $WINE_32BIT_HOW"
    fi
    under_wine+=(1)
    [ -n "$first_wine" ] || first_wine=${#under_wine[@]}
  else
    under_wine+=(0)
  fi
  programs+=("$program")
  windows_dirs+=("$(dirname "$program")")
done
if [ ${#programs[@]} -eq 0 ]; then
  missing_prerequisite "$WINE_NO_32BIT_REASON, and there is no x86_64 cross build to compare: run scripts/build-windows.sh, then configure again"
fi

wine=$WINE
if [ -n "$first_wine" ] && ! command -v "$wine" >/dev/null; then
  missing_prerequisite "no $wine on PATH: run scripts/setup-wine.sh"
fi
if [ -n "$first_wine" ] && [ -n "$(wine32_problem)" ]; then
  missing_prerequisite "$(wine32_problem)"
fi
if [ -n "$first_wine" ] && { [ -z "${WINEPREFIX:-}" ] || [ ! -f "$WINEPREFIX/system.reg" ]; }; then
  missing_prerequisite "no Wine prefix at '${WINEPREFIX:-}': run scripts/setup-wine.sh"
fi
if [ -n "$first_wine" ] && [ -n "$(wine_prefix_problem "$WINEPREFIX")" ]; then
  missing_prerequisite "$(wine_prefix_problem "$WINEPREFIX")"
fi
export WINEDEBUG=-all
# Should Wine decide the prefix needs an update, no Mono or Gecko prompt may come up.
export WINEDLLOVERRIDES="mscoree,mshtml="
# Console programs: no display is wanted, whatever the caller's session has.
unset DISPLAY WAYLAND_DISPLAY

work=$(mktemp -d "${TMPDIR:-/tmp}/quira-compare.XXXXXX")
work=$(cd "$work" && pwd)
trap 'rm -rf "$work"' EXIT

# The build a Windows program belongs to: build/mingw-i686/tests/cross -> mingw-i686; a native
# program is named by itself.
labels=()
for i in "${!programs[@]}"; do
  if [ "${under_wine[i]}" = 1 ]; then
    labels+=("$(basename "$(dirname "$(dirname "${windows_dirs[i]}")")")")
  else
    labels+=("$(basename "${programs[i]}")")
  fi
done

# snapshot DIR LABEL SUFFIX: copies DIR's render and fade_tables programs into the work folder.
snapshot() {
  mkdir -p "$work/bin/$2" "$work/$2"
  local program
  for program in render fade_tables; do
    if [ ! -f "$1/$program$3" ]; then
      echo "FAIL: test program $1/$program$3 does not exist" >&2
      exit 1
    fi
    cp "$1/$program$3" "$work/bin/$2/"
  done
}
snapshot "$native_dir" native ""
windows=()
for i in "${!labels[@]}"; do
  if [ "${under_wine[i]}" = 1 ]; then
    snapshot "${windows_dirs[i]}" "${labels[i]}" .exe
    windows+=("$work/bin/${labels[i]}/render.exe")
  else
    mkdir -p "$work/bin/${labels[i]}" "$work/${labels[i]}"
    cp "${programs[i]}" "$work/bin/${labels[i]}/"
    windows+=("$work/bin/${labels[i]}/${labels[i]}")
  fi
done
native=$work/bin/native/render

# A Windows path for an absolute Unix one: Wine maps Z: to the root of the Unix file system.
# Pure bash: it runs for every case.
winpath() {
  printf 'Z:%s' "${1//\//\\}"
}

failures=0
compared=0
matched_samples=0
total_cases=0

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# first_difference A B UNIT: the index of the first UNIT-byte value in which A and B differ and
# how many such values differ, as "INDEX COUNT"; nothing when one file is a prefix of the other.
first_difference() {
  local first count
  first=$(cmp "$1" "$2" 2>/dev/null | sed -n 's/.* differ: byte \([0-9]*\),.*/\1/p' || true)
  [ -n "$first" ] || return 0
  count=$(cmp -l "$1" "$2" 2>/dev/null | awk -v u="$3" '{print int(($1 - 1) / u)}' | uniq | wc -l || true)
  echo "$(((first - 1) / $3)) $count"
}

# describe_difference A B LABEL: where and how two sample files differ, B being LABEL's.
describe_difference() {
  local a=$1 b=$2 size_a size_b sample count va vb
  size_a=$(stat -c %s "$a")
  size_b=$(stat -c %s "$b")
  read -r sample count <<<"$(first_difference "$a" "$b" 2)"
  if [ -z "$sample" ]; then
    echo "one output is a prefix of the other: sizes $size_a and $size_b bytes"
    return
  fi
  va=$(od -An -t d2 -j $((2 * sample)) -N 2 "$a" | tr -d ' ')
  vb=$(od -An -t d2 -j $((2 * sample)) -N 2 "$b" | tr -d ' ')
  echo "first differing sample $sample (block $((sample / 5760)), sample $((sample % 5760)) in" \
    "it): Linux $va, $3 $vb; $count samples differ; sizes $size_a and $size_b bytes"
}

# One Wine server for the whole check. A server that a run starts goes down about two seconds
# after its last process ends, and every later run then waits for a new one and its services (2 to
# 5 s each, measured): started here it stays 30 s after the last run. When a server is already up
# for this prefix this does nothing (status 2), and the check still works, only slower.
# The first run after a server start also starts Wine's services, which inherit its standard
# streams and stay as long as the server does: a test runner reading this script's output would
# wait for them. So the first run here has no standard streams to lend.
if [ -n "$first_wine" ]; then
  wineserver -p30 </dev/null >/dev/null 2>&1 || true
  "$wine" "$work/bin/${labels[first_wine - 1]}/fade_tables.exe" "$(winpath "$work/start.bin")" \
    </dev/null >/dev/null 2>&1 || true
fi

# The cross-fade tables: 192 sines, then 192 cosines, as 32-bit float patterns.
if "$work/bin/native/fade_tables" "$work/native/fade_tables.bin"; then :; else
  fail "the native fade_tables failed (exit status $?)"
fi
for i in "${!labels[@]}"; do
  [ "${under_wine[i]}" = 1 ] || continue
  out=$work/${labels[i]}/fade_tables.bin
  if "$wine" "$work/bin/${labels[i]}/fade_tables.exe" "$(winpath "$out")" </dev/null; then
    if cmp -s "$work/native/fade_tables.bin" "$out"; then
      echo "match: pitch shifter fade tables (2 x 192 floats): ${labels[i]} = Linux"
    else
      read -r index count <<<"$(first_difference "$work/native/fade_tables.bin" "$out" 4)"
      if [ -n "$index" ]; then
        fail "pitch shifter fade tables: ${labels[i]} differs from Linux in $count of 384 floats," \
          "first at float $index (0-191 sines, 192-383 cosines)"
      else
        fail "pitch shifter fade tables: ${labels[i]} wrote $(stat -c %s "$out") bytes, not 1536"
      fi
    fi
  else
    fail "the ${labels[i]} fade_tables under Wine failed (exit status $?)"
  fi
done

# check CARRIER "CODE LEVEL"...: renders the cases with every program and compares the outputs.
check() {
  local carrier=$1 base entry code level i name file size expected payload dry=""
  shift
  base=$(basename "$carrier" .exe)
  local native_args=() rendered=()
  for entry in "$@"; do
    read -r code level <<<"$entry"
    native_args+=("$carrier" "$code" "$level" "$work/native/${base}_${code}_${level}.raw")
  done
  # The programs run side by side; each writes only its own outputs.
  local pids=()
  "$native" "${native_args[@]}" &
  pids[0]=$!
  for i in "${!labels[@]}"; do
    local args=()
    for entry in "$@"; do
      read -r code level <<<"$entry"
      if [ "${under_wine[i]}" = 1 ]; then
        args+=("$(winpath "$carrier")" "$code" "$level"
          "$(winpath "$work/${labels[i]}/${base}_${code}_${level}.raw")")
      else
        args+=("$carrier" "$code" "$level" "$work/${labels[i]}/${base}_${code}_${level}.raw")
      fi
    done
    if [ "${under_wine[i]}" = 1 ]; then
      "$wine" "${windows[i]}" "${args[@]}" </dev/null &
    else
      "${windows[i]}" "${args[@]}" </dev/null &
    fi
    pids[i + 1]=$!
  done
  local native_ok=1
  if wait "${pids[0]}"; then :; else
    fail "$base: the native render failed (exit status $?)"
    native_ok=0
  fi
  for i in "${!labels[@]}"; do
    if wait "${pids[i + 1]}"; then
      rendered[i]=1
    else
      fail "$base: the ${labels[i]} render failed (exit status $?)"
      rendered[i]=0
    fi
  done
  [ "$native_ok" = 1 ] || return 0

  payload=$(($(stat -c %s "$carrier") - 163840 - 12))
  expected=$((((payload + 1439) / 1440) * 11520))
  for entry in "$@"; do
    read -r code level <<<"$entry"
    total_cases=$((total_cases + 1))
    name="$base code $code level-byte $level"
    file="${base}_${code}_${level}.raw"
    # The native output must be one buffer per block read, and real speech is never all silence.
    size=$(stat -c %s "$work/native/$file")
    if [ "$size" -ne "$expected" ]; then
      fail "$name: the native render wrote $size bytes, not $expected"
      continue
    fi
    if cmp -s -n "$size" "$work/native/$file" /dev/zero; then
      fail "$name: the native render wrote only silence"
      continue
    fi
    # A known effect at full level must change the dry sound, or the comparison would prove little.
    if [ "$code" = 0 ] && [ "$level" = 0 ]; then dry=$work/native/$file; fi
    if [ "$level" = 0 ] && [ "$code" -ge 1 ] && [ "$code" -le 16 ] && [ -n "$dry" ] &&
      cmp -s "$work/native/$file" "$dry"; then
      fail "$name: the effect left the dry output unchanged"
    fi
    local same=()
    for i in "${!labels[@]}"; do
      [ "${rendered[i]}" = 1 ] || continue
      local out=$work/${labels[i]}/$file
      compared=$((compared + 1))
      if [ ! -f "$out" ]; then
        fail "$name: the ${labels[i]} render wrote no output"
      elif cmp -s "$work/native/$file" "$out"; then
        same+=("${labels[i]}")
        matched_samples=$((matched_samples + size / 2))
      else
        fail "$name: ${labels[i]} differs from Linux: $(describe_difference "$work/native/$file" "$out" "${labels[i]}")"
      fi
    done
    if [ ${#same[@]} -gt 0 ]; then
      echo "match: $name: ${same[*]} = Linux ($((size / 2)) samples)"
    fi
  done
  rm -f "$work"/*/"${base}"_*.raw
}

# Cases: every carrier of the media fixture with the dry code 0, all sixteen effects (rooms 1-4,
# echoes 5-10, pitch 11-16) and the unknown codes 17 and -1, each at full level (level byte 0) and
# at level 27 (byte 100); speech-32 also at level -128 (byte 255), which subtracts the effect.
# loud-32 is speech past full scale, whose decoded samples clip.
# A copy of speech-16 cut in the middle of a block checks the short last read, whose buffer keeps
# the previous block's bytes behind the new ones.
codes=(0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 -1)
for carrier in speech-32 speech-16 speech-8 prompts-32 prompts-16 prompts-8 loud-32; do
  if [ ! -f "$media/$carrier.exe" ]; then
    fail "media carrier $media/$carrier.exe is missing"
    continue
  fi
  levels=(0 100)
  [ "$carrier" = speech-32 ] && levels+=(255)
  list=()
  for level in "${levels[@]}"; do
    for code in "${codes[@]}"; do list+=("$code $level"); done
  done
  check "$media/$carrier.exe" "${list[@]}"
done
if [ -f "$media/speech-16.exe" ]; then
  head -c $((163840 + 12 + 1440 * 7 + 700)) "$media/speech-16.exe" > "$work/speech-16-cut.exe"
  check "$work/speech-16-cut.exe" "0 0" "2 0" "6 0" "13 0" "15 100"
fi

echo "compared $total_cases cases x ${#labels[@]} other builds (${labels[*]}): $compared" \
  "comparisons, $matched_samples samples identical, $failures failures"
[ "$failures" -eq 0 ] || exit 1
[ "$compared" -gt 0 ] || { echo "FAIL: nothing was compared"; exit 1; }
