#!/usr/bin/env bash
# Downloads Debian's mpg123 source package, the version that scripts/mpg123-source.sha256 pins,
# into DEST (default: build/deps/src), where configure takes it from:
#   fetch-mpg123.sh [DEST]
# scripts/setup.sh runs it; it is the only step of the build that needs the network. It returns
# at once when DEST already holds the files with the pinned sums.
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

# The pinned files: "SHA256  NAME" lines.
mapfile -t pinned < <(grep -vE '^\s*(#|$)' "$root/scripts/mpg123-source.sha256")
version=$(printf '%s\n' "${pinned[@]}" | sed -nE 's/^.*  mpg123_(.*)\.debian\.tar\..*$/\1/p')
[ -n "$version" ] || { echo "fetch-mpg123: scripts/mpg123-source.sha256 names no Debian tarball" >&2; exit 1; }

all_present() {
  local line
  for line in "${pinned[@]}"; do
    [ -f "$dest/${line#*  }" ] || return 1
    (cd "$dest" && echo "$line" | sha256sum --quiet --status -c -) || return 1
  done
}
all_present && exit 0

codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
[ -n "$codename" ] || { echo "fetch-mpg123: cannot tell this release's codename" >&2; exit 1; }

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
for round in 1 2 3; do
  updated=1
  apt_update "$log" apt-get -q "${apt_opts[@]}" || updated=0
  uris=$(cd "$listing" && apt-get -qq "${apt_opts[@]}" source --print-uris "mpg123=$version" 2>>"$log") && break
  if [ "$updated" -eq 1 ] || [ "$round" -eq 3 ]; then
    echo "fetch-mpg123: apt finds no mpg123 source package $version, the version that" \
      "scripts/mpg123-source.sha256 pins (if Debian has moved on, pin its new .dsc's sums there)." >&2
    apt_failed_indexes "$log" | sed 's/^ */fetch-mpg123: index not updated: /' >&2
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
  [ -n "$uri" ] || { echo "fetch-mpg123: apt lists no $name for mpg123 $version" >&2; exit 1; }
  rm -f "$dest/$name.part"
  if ! /usr/lib/apt/apt-helper "${apt_opts[@]}" download-file "$uri" "$dest/$name.part" "SHA256:$sum" \
      >>"$log" 2>&1; then
    rm -f "$dest/$name.part" "$dest/$name.part.FAILED"
    echo "fetch-mpg123: downloading $uri failed (or its SHA-256 is not $sum); see $log" >&2
    exit 1
  fi
  mv "$dest/$name.part" "$dest/$name"
done
all_present || { echo "fetch-mpg123: the files in $dest do not have the pinned sums" >&2; exit 1; }
echo "fetch-mpg123: Debian's mpg123 $version source is in $dest"
