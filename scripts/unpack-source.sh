#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Unpacks a Debian source package (format 3.0 (quilt)) as dpkg-source would, into DEST:
#   unpack-source.sh ORIG_TARBALL DEBIAN_TARBALL DEST
# the upstream tarball, Debian's directory laid over it and Debian's patches applied in series
# order. (dpkg-source -x itself insists on the upstream tarball's signature, which the mirror does
# not serve.) The tarballs must have been checked against the pinned sums already (configure does,
# in cmake/Sources.cmake). Returns at once when DEST was unpacked from the same two files.
set -euo pipefail

orig=$1 debian=$2 dest=$3
stamp="$(basename "$orig") $(basename "$debian")"
if [ -f "$dest/debian/changelog" ] && [ "$(cat "$dest/.unpacked-from" 2>/dev/null)" = "$stamp" ]; then
  exit 0
fi

# Unpacked beside DEST and renamed when complete: an interrupted unpack is never taken for one,
# and two build trees configured at once do not unpack into each other.
mkdir -p "$(dirname "$dest")"
tmp=$(mktemp -d "$dest.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
chmod 755 "$tmp"
tar -xf "$orig" -C "$tmp" --strip-components=1
tar -xf "$debian" -C "$tmp"
if [ -f "$tmp/debian/patches/series" ]; then
  grep -vE '^\s*(#|$)' "$tmp/debian/patches/series" | while read -r patch _; do
    patch -d "$tmp" -p1 -s < "$tmp/debian/patches/$patch"
  done
fi
echo "$stamp" > "$tmp/.unpacked-from"
rm -rf "$dest"
if ! mv -T "$tmp" "$dest" 2>/dev/null; then
  # Another configure unpacked the same files at the same time.
  [ "$(cat "$dest/.unpacked-from" 2>/dev/null)" = "$stamp" ] || { echo "unpack-source: cannot make $dest" >&2; exit 1; }
fi
