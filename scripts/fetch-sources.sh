#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Downloads the Debian source packages that the pinned libraries are built from, the versions that
# scripts/sources/PACKAGE.sha256 pin (mpg123 for the decoder; libsoxr, lame and musl for the
# maker), into DEST (default: build/deps/src), where configure takes them from:
#   fetch-sources.sh [DEST]
# scripts/setup.sh runs it; it is the only step of the build that needs the network. It returns
# at once when DEST already holds every file with its pinned sum.
#
# The files are found through apt, which needs deb-src entries. Rather than touch the machine's
# own apt configuration, this derives them from the machine's enabled deb entries (same mirrors,
# same suites, same signing keys) and keeps them, with their package lists, in a private
# directory next to the downloads. Only entries for this release's suites are taken, so
# third-party repositories that publish no sources cannot fail the fetch. apt then names each
# file's address, and apt's own downloader fetches the pinned files by it, checking their sums
# as it goes. (`apt-get source` itself would also fetch the upstream tarball's signature, which
# the mirror does not serve, and report the whole download as failed.)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/apt-lib.sh"

dest=${1:-$root/build/deps/src}
mkdir -p "$dest"
dest=$(cd "$dest" && pwd)

# The pinned files: "SHA256  NAME" lines, and the version of each package (its Debian tarball's).
pinned=() packages=() versions=()
for pins in "$root"/scripts/sources/*.sha256; do
  pkg=$(basename "$pins" .sha256)
  mapfile -t lines < <(grep -vE '^\s*(#|$)' "$pins")
  version=$(printf '%s\n' "${lines[@]}" | sed -nE "s/^.*  ${pkg}_(.*)\\.debian\\.tar\\..*\$/\\1/p")
  [ -n "$version" ] || { echo "fetch-sources: $pins names no Debian tarball of $pkg" >&2; exit 1; }
  pinned+=("${lines[@]}") packages+=("$pkg") versions+=("$version")
done

all_present() {
  local line
  for line in "${pinned[@]}"; do
    [ -f "$dest/${line#*  }" ] || return 1
    (cd "$dest" && echo "$line" | sha256sum --quiet --status -c -) || return 1
  done
}
all_present && exit 0

codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
[ -n "$codename" ] || { echo "fetch-sources: cannot tell this release's codename" >&2; exit 1; }

apt_dir="$dest/apt"
mkdir -p "$apt_dir/sources.list.d" "$apt_dir/lists/partial" "$apt_dir/archives/partial"
: > "$apt_dir/sources.list"

# One-line format: "deb [opts] URI SUITE COMPONENTS..." becomes "deb-src ...". The options in
# brackets may span several fields.
one_line_entries() {
  awk -v c="$codename" '
    $1 == "deb" {
      i = 2
      if ($2 ~ /^\[/) { while (i <= NF && $i !~ /\]$/) i++; i++ }
      if (index($(i + 1), c) == 1) { $1 = "deb-src"; print }
    }' "$1"
}
[ ! -f /etc/apt/sources.list ] || one_line_entries /etc/apt/sources.list >> "$apt_dir/sources.list"
for f in /etc/apt/sources.list.d/*.list; do
  [ -f "$f" ] || continue
  one_line_entries "$f" >> "$apt_dir/sources.list"
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
  -o "Acquire::Retries=3"
)
log="$apt_dir/fetch.log"
: > "$log"
# A source index that cannot be updated only matters when the package is then not found: then
# the lists are tried again twice, after a pause.
# `--print-uris` lists the files missing from the current directory: ask from an empty one.
listing=$(mktemp -d)
trap 'rm -rf "$listing"' EXIT
requests=()
for i in "${!packages[@]}"; do requests+=("${packages[$i]}=${versions[$i]}"); done
for round in 1 2 3; do
  updated=1
  apt_update "$log" apt-get -q "${apt_opts[@]}" || updated=0
  uris=$(cd "$listing" && apt-get -qq "${apt_opts[@]}" source --print-uris "${requests[@]}" 2>>"$log") && break
  if [ "$updated" -eq 1 ] || [ "$round" -eq 3 ]; then
    echo "fetch-sources: apt does not find every source package that scripts/sources pins" \
      "(${requests[*]}; if Debian has moved on, pin its new .dsc's sums there); see $log" >&2
    apt_failed_indexes "$log" | sed 's/^ */fetch-sources: index not updated: /' >&2
    exit 1
  fi
  sleep 10
done

for line in "${pinned[@]}"; do
  sum=${line%%  *} name=${line#*  }
  if [ -f "$dest/$name" ] && (cd "$dest" && echo "$line" | sha256sum --quiet --status -c -); then
    continue
  fi
  uri=$(awk -v n="$name" '$2 == n { gsub(/\047/, "", $1); print $1 }' <<< "$uris")
  [ -n "$uri" ] || { echo "fetch-sources: apt lists no $name" >&2; exit 1; }
  rm -f "$dest/$name.part"
  if ! /usr/lib/apt/apt-helper "${apt_opts[@]}" download-file "$uri" "$dest/$name.part" "SHA256:$sum" \
      >>"$log" 2>&1; then
    rm -f "$dest/$name.part" "$dest/$name.part.FAILED"
    echo "fetch-sources: downloading $uri failed (or its SHA-256 is not $sum); see $log" >&2
    exit 1
  fi
  mv "$dest/$name.part" "$dest/$name"
done
all_present || { echo "fetch-sources: the files in $dest do not have the pinned sums" >&2; exit 1; }
echo "fetch-sources: Debian's ${requests[*]} sources are in $dest"
