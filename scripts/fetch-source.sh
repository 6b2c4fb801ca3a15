#!/usr/bin/env bash
# Fetches a Debian source package into DEST (default: build/deps/src), unpacks it with Debian's
# patches applied and prints the unpacked directory.
#   fetch-source.sh PACKAGE [DEST]     e.g. mpg123, libsoxr, lame
#
# apt-get source needs deb-src entries. Rather than touch the machine's own apt configuration,
# this derives them from the machine's enabled deb entries (same mirrors, same suites, same
# signing keys) and keeps them, with their package lists, in a private directory next to the
# sources. Only entries for this release's suites are taken, so third-party repositories that
# publish no sources cannot fail the fetch.
set -euo pipefail

pkg=${1:?usage: fetch-source.sh PACKAGE [DEST]}
dest=${2:-build/deps/src}
mkdir -p "$dest"
dest=$(cd "$dest" && pwd)

if src=$(ls -d "$dest/$pkg"-[0-9]*/ 2>/dev/null | grep -v '\.tmp/$' | head -n 1) && [ -f "$src/debian/changelog" ]; then
  echo "${src%/}"
  exit 0
fi

codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
[ -n "$codename" ] || { echo "fetch-source: cannot tell this release's codename" >&2; exit 1; }

apt_dir="$dest/apt"
mkdir -p "$apt_dir/sources.list.d" "$apt_dir/lists/partial" "$apt_dir/archives/partial"
: > "$apt_dir/sources.list"

# One-line format: "deb [opts] URI SUITE COMPONENTS..." becomes "deb-src ...".
if [ -f /etc/apt/sources.list ]; then
  awk -v c="$codename" '$1 == "deb" { s = ($2 ~ /^\[/) ? $4 : $3; if (index(s, c) == 1) { $1 = "deb-src"; print } }' \
    /etc/apt/sources.list >> "$apt_dir/sources.list"
fi
for f in /etc/apt/sources.list.d/*.list; do
  [ -f "$f" ] || continue
  awk -v c="$codename" '$1 == "deb" { s = ($2 ~ /^\[/) ? $4 : $3; if (index(s, c) == 1) { $1 = "deb-src"; print } }' \
    "$f" >> "$apt_dir/sources.list"
done
# deb822 format: keep each stanza whose Types include deb and whose Suites are this release's.
for f in /etc/apt/sources.list.d/*.sources; do
  [ -f "$f" ] || continue
  awk -v c="$codename" -v RS= '
    {
      n = split($0, line, "\n"); types = 0; ours = 0; out = ""
      for (i = 1; i <= n; i++) {
        if (line[i] ~ /^#/) continue
        if (line[i] ~ /^Types:/) { if (line[i] ~ /[ \t]deb([ \t]|$)/) types = 1; line[i] = "Types: deb-src" }
        if (line[i] ~ /^Suites:/) { split(line[i], w, /[ \t]+/); if (index(w[2], c) == 1) ours = 1 }
        out = out line[i] "\n"
      }
      if (types && ours) printf "%s\n", out
    }' "$f" > "$apt_dir/sources.list.d/$(basename "$f")"
done

apt_opts=(
  -o "Dir::Etc::SourceList=$apt_dir/sources.list"
  -o "Dir::Etc::SourceParts=$apt_dir/sources.list.d"
  -o "Dir::State::Lists=$apt_dir/lists"
  -o "Dir::Cache::Archives=$apt_dir/archives"
  -o "Dir::Cache::pkgcache=" -o "Dir::Cache::srcpkgcache="
  -o "APT::Sandbox::User=root"
)
apt-get "${apt_opts[@]}" -qq update >&2
# The upstream tarball's detached signature is not on the mirror: apt reports a 404 for it and
# fails the download as a whole, although the .dsc, the tarball and the Debian changes arrived.
# So download only, check for the .dsc ourselves, and unpack with dpkg-source (which applies
# Debian's patches).
(cd "$dest" && apt-get "${apt_opts[@]}" -qq source --download-only "$pkg" >&2) || true
dsc=$(ls "$dest/$pkg"_*.dsc 2>/dev/null | head -n 1)
[ -n "$dsc" ] || { echo "fetch-source: apt-get source brought no $pkg .dsc" >&2; exit 1; }

# dpkg-source -x insists on the missing signature file, so unpack by hand what it would have:
# check each file the .dsc lists that we have against its SHA-256, unpack the upstream tarball,
# lay Debian's directory over it and apply Debian's patches in series order.
(
  cd "$dest"
  awk '/^Checksums-Sha256:/ { on = 1; next } /^[^ ]/ { on = 0 } on && NF == 3 { print $1 "  " $3 }' \
    "$(basename "$dsc")" | while read -r sum name; do
      [ -f "$name" ] || continue
      echo "$sum  $name" | sha256sum --quiet -c - >&2
    done
  orig=$(ls "$pkg"_*.orig.tar.* | head -n 1)
  debian=$(ls "$pkg"_*.debian.tar.* | head -n 1)
  version=$(basename "$orig" | sed -E "s/^${pkg}_(.*)\\.orig\\.tar\\..*\$/\\1/")
  out="$pkg-$version"
  rm -rf "$out.tmp" && mkdir "$out.tmp"
  tar -xf "$orig" -C "$out.tmp" --strip-components=1
  tar -xf "$debian" -C "$out.tmp"
  if [ -f "$out.tmp/debian/patches/series" ]; then
    grep -vE '^\s*(#|$)' "$out.tmp/debian/patches/series" | while read -r patch _; do
      patch -d "$out.tmp" -p1 -s < "$out.tmp/debian/patches/$patch" >&2
    done
  fi
  mv "$out.tmp" "$out"
)

src=$(ls -d "$dest/$pkg"-[0-9]*/ | grep -v '\.tmp/$' | head -n 1)
[ -f "$src/debian/changelog" ] || { echo "fetch-source: no unpacked source in $dest" >&2; exit 1; }
echo "${src%/}"
