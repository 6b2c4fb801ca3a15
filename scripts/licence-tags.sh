#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Every source file of the project states its licence in its first line, in its own comment
# syntax: `SPDX-License-Identifier: MIT`. A line its format needs first (a script's #!, zsh's
# #compdef, the manual page's title line) comes before it.
#   licence-tags.sh          list the files without the tag; exit 1 if there is one
#   licence-tags.sh --add    put the tag into each of them
# The files are those git tracks (or, outside a git checkout, those under the tree but build/).
# Not source, or not ours to license: the documents (*.md, LICENSE), data in formats that have
# no comments or whose first line is fixed (JSON, the pinned sums, Debian's changelog and
# copyright, lintian overrides, images), and the patches to libmpg123 (scripts/patches/), which
# are under that library's licence.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

add=0
[ "${1:-}" = "--add" ] && add=1
TAG="SPDX-License-Identifier: MIT"

# comment FILE FIRST_LINE sets line, the tag as a comment line in FILE's syntax (empty for a file
# that is not source), and skip, how many lines the format fixes before it (0 or 1). Bash alone,
# no program run per file: the check runs among the tests.
comment() {
  line=""
  case $1 in
    *.md | LICENSE | *.json | *.sha256 | *.patch | *.bmp | *.ico | *.png | .gitignore) ;;
    cmake/deb/changelog.in | cmake/deb/copyright.in | *.lintian-overrides) ;;
    *.c | *.cpp | *.h | *.js | *.rc) line="// $TAG" ;;
    *.css) line="/* $TAG */" ;;
    *.html) line="<!-- $TAG -->" ;;
    *.scd) line="; $TAG" ;;
    *.sh | *.bash | *.py | *.cmake | *.in | CMakeLists.txt | .ci/* | */_quira) line="# $TAG" ;;
    *) [[ $2 != '#!'* ]] || line="# $TAG" ;;  # anything else that starts as a script is one
  esac
  skip=0
  if [[ $2 == '#!'* || $2 == '#compdef'* || $1 == *.scd ]]; then skip=1; fi
}

if git rev-parse --show-toplevel >/dev/null 2>&1 && [ "$(git rev-parse --show-toplevel)" = "$root" ]; then
  mapfile -t files < <(git ls-files)
else
  mapfile -t files < <(find . -path ./build -prune -o -type f -print | sed 's|^\./||' | sort)
fi

missing=()
for file in "${files[@]}"; do
  [ -f "$file" ] || continue
  first="" second=""
  { IFS= read -r first || true; IFS= read -r second || true; } < "$file"
  comment "$file" "$first"
  [ -n "$line" ] || continue
  if [ "$skip" -eq 0 ]; then tagged=$first; else tagged=$second; fi
  [[ $tagged == *"$TAG"* ]] && continue
  if [ "$add" -eq 1 ]; then
    tmp=$(mktemp "$file.XXXXXX")
    { head -n "$skip" "$file"; echo "$line"; tail -n +"$((skip + 1))" "$file"; } > "$tmp"
    chmod --reference="$file" "$tmp"
    mv "$tmp" "$file"
    echo "tagged $file"
  else
    missing+=("$file")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  printf 'no licence tag in the first line: %s\n' "${missing[@]}" >&2
  echo "${#missing[@]} source files lack the licence tag (scripts/licence-tags.sh --add puts it in)" >&2
  exit 1
fi
[ "$add" -eq 1 ] || echo "every source file names its licence (${#files[@]} files looked at)"
