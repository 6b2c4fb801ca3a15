#!/usr/bin/env bash
# c_client.sh BUILD_DIR QUIRA CARRIER: installs the build into a scratch prefix, compiles a C
# program against the installed libquira through pkg-config, once with the shared and once with
# the static library, and checks that both write what `quira export --as-played` writes.
set -euo pipefail
build=$1 quira=$2 carrier=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
here=$(cd "$(dirname "$0")" && pwd)

cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
# The library directory: lib, or lib/<triplet> on a multiarch system.
pc=$(find "$scratch/prefix" -name quira.pc -path '*/pkgconfig/*')
[ -n "$pc" ] || { echo "FAIL: the install holds no quira.pc" >&2; exit 1; }
libdir=$(dirname "$(dirname "$pc")")
export PKG_CONFIG_PATH="$libdir/pkgconfig"
pkg-config --exists quira || { echo "FAIL: pkg-config does not find the installed quira.pc" >&2; exit 1; }

"$quira" -q export --as-played "$carrier" -o "$scratch/tool.wav"
# shellcheck disable=SC2046
cc -std=c99 -Wall -Werror -o "$scratch/shared" "$here/export_as_played.c" $(pkg-config --cflags --libs quira)
# shellcheck disable=SC2046
cc -std=c99 -Wall -Werror -o "$scratch/static" "$here/export_as_played.c" $(pkg-config --cflags quira) \
  "$libdir/libquira.a" $(pkg-config --static --libs-only-l quira | sed 's/-lquira//')
LD_LIBRARY_PATH="$libdir" "$scratch/shared" "$carrier" "$scratch/shared.wav"
"$scratch/static" "$carrier" "$scratch/static.wav"
if ldd "$scratch/static" | grep -q libquira; then
  echo "FAIL: the static client links libquira.so" >&2
  exit 1
fi
for kind in shared static; do
  if ! cmp "$scratch/tool.wav" "$scratch/$kind.wav"; then
    echo "FAIL: the C client over the $kind library differs from quira export --as-played" >&2
    exit 1
  fi
done
echo "c_client: shared and static libquira give quira export --as-played's $(stat -c %s "$scratch/tool.wav") bytes"
