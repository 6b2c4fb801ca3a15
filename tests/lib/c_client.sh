#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# c_client.sh BUILD_DIR QUIRA MEDIA_DIR: installs the build into a scratch prefix and, against the
# installed libquira through pkg-config, with -std=c99 -Wall -Wextra -Werror -pedantic:
# - builds tests/lib/export_as_played.c once over the shared and once over the static library,
#   and checks that both write what `quira export --as-played` writes;
# - builds the two examples and runs them on real speech: play_to_wav must write `quira export`'s
#   samples, make_from_pcm must make from raw PCM the carrier `quira make` makes from its WAV;
# - checks the ABI: each client under tests/lib/abi/VERSION/, built against that release's
#   header, must still run against this library and write the same, or this library's soname
#   must differ from that release's (whose clients then do not load it at all).
set -euo pipefail
build=$1 quira=$2 media=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
here=$(cd "$(dirname "$0")" && pwd)
examples=$(cd "$here/../../examples" && pwd)
carrier=$media/speech-16.exe

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
# The library directory: lib, or lib/<triplet> on a multiarch system.
pc=$(find "$scratch/prefix" -name quira.pc -path '*/pkgconfig/*')
[ -n "$pc" ] || fail "the install holds no quira.pc"
lib=$(dirname "$(dirname "$pc")")
export PKG_CONFIG_PATH="$lib/pkgconfig"
pkg-config --exists quira || fail "pkg-config does not find the installed quira.pc"
strict=(-std=c99 -Wall -Wextra -Werror -pedantic)
# shellcheck disable=SC2207
cflags=($(pkg-config --cflags quira)) libs=($(pkg-config --libs quira))
run() { LD_LIBRARY_PATH="$lib" "$@"; }

# The client over the shared and over the static library.
"$quira" -q export --as-played "$carrier" -o "$scratch/tool.wav"
cc "${strict[@]}" -o "$scratch/shared" "$here/export_as_played.c" "${cflags[@]}" "${libs[@]}"
# shellcheck disable=SC2046
cc "${strict[@]}" -o "$scratch/static" "$here/export_as_played.c" "${cflags[@]}" "$lib/libquira.a" \
  $(pkg-config --static --libs-only-l quira | sed 's/-lquira//')
run "$scratch/shared" "$carrier" "$scratch/shared.wav"
"$scratch/static" "$carrier" "$scratch/static.wav"
if ldd "$scratch/static" | grep -q libquira; then fail "the static client links libquira.so"; fi
for kind in shared static; do
  cmp -s "$scratch/tool.wav" "$scratch/$kind.wav" ||
    fail "the C client over the $kind library differs from quira export --as-played"
done
echo "c_client: shared and static libquira give quira export --as-played's $(stat -c %s "$scratch/tool.wav") bytes"

# The examples.
for example in play_to_wav make_from_pcm; do
  cc "${strict[@]}" -o "$scratch/$example" "$examples/$example.c" "${cflags[@]}" "${libs[@]}"
done
"$quira" -q export "$carrier" -o "$scratch/heard.wav"
run "$scratch/play_to_wav" "$carrier" "$scratch/example.wav"
cmp -s "$scratch/heard.wav" "$scratch/example.wav" || fail "play_to_wav differs from quira export"
# The espeak-ng speech as 48 kHz stereo PCM: the maker's mixing and resampling both run.
sox -V1 "$media/speech.wav" -r 48000 -c 2 -b 16 "$scratch/speech.wav"
sox -V1 "$scratch/speech.wav" -t raw -e signed -b 16 -L "$scratch/speech.raw"
"$quira" -q make "$scratch/speech.wav" --effect hall --level -40 -o "$scratch/tool.exe"
run "$scratch/make_from_pcm" 48000 2 "$scratch/speech.raw" "$scratch/example.exe" hall -40
cmp -s "$scratch/tool.exe" "$scratch/example.exe" || fail "make_from_pcm's carrier differs from quira make's"
run "$scratch/make_from_pcm" 48000 2 - "$scratch/stdin.exe" < "$scratch/speech.raw"
"$quira" -q export "$scratch/stdin.exe" -o "$scratch/stdin.wav"
"$quira" -q export "$scratch/tool.exe" --dry -o "$scratch/tool-dry.wav"
cmp -s "$scratch/stdin.wav" "$scratch/tool-dry.wav" || fail "make_from_pcm from standard input differs"
if run "$scratch/make_from_pcm" 48000 2 "$scratch/speech.raw" "$scratch/no.exe" hall 128 2>"$scratch/err"; then
  fail "make_from_pcm took a level beyond 127"
fi
grep -q "invalid argument" "$scratch/err" || fail "make_from_pcm's refusal: $(cat "$scratch/err")"
echo "c_client: play_to_wav writes quira export's WAV, make_from_pcm makes quira make's $(stat -c %s "$scratch/tool.exe")-byte carrier"

# The ABI of earlier releases.
soname=$(objdump -p "$lib/libquira.so" | awk '$1 == "SONAME" {print $2}')
[[ $soname == libquira.so.* ]] || fail "the installed libquira.so has no soname"
for release in "$here"/abi/*/; do
  version=$(basename "$release") old_soname=$(cat "$release/soname")
  cc -std=c99 -w -I"$release" -o "$scratch/abi-$version" "$release/export_as_played.c" -L"$lib" -lquira
  if run "$scratch/abi-$version" "$carrier" "$scratch/abi-$version.wav" 2>/dev/null &&
    cmp -s "$scratch/tool.wav" "$scratch/abi-$version.wav"; then
    echo "c_client: a client of libquira $version runs against this library unchanged"
  elif [[ $old_soname == "$soname" ]]; then
    fail "a client of libquira $version no longer works against this library, and its soname is still $soname"
  else
    echo "c_client: a client of libquira $version fails against this library's ABI; the soname changed from $old_soname to $soname, so such a client never loads it"
  fi
done
