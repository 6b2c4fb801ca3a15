#!/usr/bin/env bash
# The Debian package, made and installed as a user would:
#   deb_test.sh BUILD_DIR MEDIA_DIR
# cpack makes the package of BUILD_DIR; dpkg installs it into a scratch root whose package
# database is a copy of this machine's, so that, as with `dpkg -i`, every dependency that
# dpkg-shlibdeps wrote must be installed here. Then the installed files are used:
#   - the package depends on the shared libraries the tool links, and its version is the tool's
#   - quira --version, info and export run from the scratch root; export writes the same WAV as
#     the build tree's quira
#   - man renders the installed page without a warning, and it names every command and option
#     that `quira --help` names
#   - the installed bash completion offers commands, options and the effects' names
# Needs root for dpkg (fakeroot stands in when there is one).
set -euo pipefail

build=$(cd "$1" && pwd) media=$2
carrier=$media/speech-32.exe
work=$(mktemp -d "${TMPDIR:-/tmp}/quira-deb.XXXXXX")
trap 'rm -rf "$work"' EXIT
failed=0
fail() {
  echo "FAIL: $*" >&2
  failed=1
}
# show LOG: a command's output, when it failed.
show() { sed 's/^/  | /' "$1" >&2; }

# ---- Make and install ----------------------------------------------------------------------
if ! (cd "$build" && cpack --config CPackConfig.cmake -G DEB -B "$work/out") > "$work/cpack.log" 2>&1; then
  show "$work/cpack.log"
  echo "FAIL: cpack made no package" >&2
  exit 1
fi
deb=$(ls "$work"/out/*.deb)
echo "made $(basename "$deb") ($(stat -c %s "$deb") bytes)"

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
names() { [[ ", $depends," == *", $1 "* || ", $depends," == *", $1,"* ]]; }
for lib in libc6 libstdc++6 libsndfile1 libasound2; do
  names "$lib" || fail "Depends does not name $lib"
done
# The decoder, resampler and encoder are pinned builds linked in, not the system's.
for lib in libmpg123-0 libsoxr0 libmp3lame0; do
  ! names "$lib" || fail "Depends names $lib, whose pinned build the tool links in"
done

root=$work/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
cp /var/lib/dpkg/status "$root/var/lib/dpkg/status"
touch "$root/var/lib/dpkg/available"
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(fakeroot)
# The maintainer scripts (ldconfig for the library) run outside the scratch root, which has no shell.
if ! "${as_root[@]}" dpkg --root="$root" --force-script-chrootless --log=/dev/null -i "$deb" \
    > "$work/dpkg.log" 2>&1; then
  grep -v 'files list file for package' "$work/dpkg.log" | sed 's/^/  | /' >&2
  echo "FAIL: dpkg -i did not install the package" >&2
  exit 1
fi
for file in usr/bin/quira usr/share/man/man1/quira.1.gz usr/share/bash-completion/completions/quira \
    usr/share/zsh/vendor-completions/_quira; do
  [ -f "$root/$file" ] || fail "the package installs no /$file"
done
quira=$root/usr/bin/quira
[ -x "$quira" ] || exit 1

# ---- The installed tool ----------------------------------------------------------------------
"$quira" --version > "$work/version.txt" || fail "quira --version exits $?"
cat "$work/version.txt"
version=$(sed -n '1s/^quira //p' "$work/version.txt")
[ "$(echo "$version" | sed -E 's/-([0-9]+)-g/+\1.g/')" = "$(dpkg-deb -f "$deb" Version)" ] ||
  fail "quira --version says '$version', the package's version is $(dpkg-deb -f "$deb" Version)"
"$quira" info "$carrier" > "$work/info.txt" 2>&1 || { show "$work/info.txt"; fail "quira info exits non-zero"; }
grep -q 'ours' "$work/info.txt" || { show "$work/info.txt"; fail "quira info does not call the carrier's player ours"; }
if "$quira" -q export "$carrier" -o "$work/installed.wav" && "$build/tool/quira" -q export "$carrier" -o "$work/built.wav"; then
  cmp -s "$work/installed.wav" "$work/built.wav" || fail "the installed quira exports other samples than the built one"
else
  fail "quira export exits non-zero"
fi

# ---- The manual page -----------------------------------------------------------------------
page=$root/usr/share/man/man1/quira.1.gz
MANWIDTH=1000 LC_ALL=C.UTF-8 man --warnings -l "$page" > "$work/man.txt" 2> "$work/man.err" || fail "man -l exits non-zero"
[ ! -s "$work/man.err" ] || { show "$work/man.err"; fail "man warns about the page"; }
grep -q '^EXIT STATUS' "$work/man.txt" || fail "the page has no EXIT STATUS"
"$quira" --help > "$work/help.txt"
for word in $(sed -nE 's/^  (quira )?([a-z]+) .*/\2/p' "$work/help.txt" | sort -u) \
    $(grep -oE '(^|[ [])--?[a-zA-Z][a-z-]*' "$work/help.txt" | tr -d ' [' | sort -u); do
  grep -qe "$word" "$work/man.txt" || fail "the page does not name '$word', which quira --help names"
done

# ---- The bash completion ------------------------------------------------------------------
complete_words() {
  bash -c '. "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _quira; echo "${COMPREPLY[*]}"' \
    _ "$root/usr/share/bash-completion/completions/quira" "$quira" "$@"
}
expect_completion() {
  local want=$1 got
  shift
  got=$(complete_words "$@")
  [ "$got" = "$want" ] || fail "completing 'quira $*' offers '$got', not '$want'"
}
expect_completion "export extract" ex
expect_completion "play" -q pl
expect_completion "--as-played" export x.exe --as
expect_completion "third-up" make x.wav -o y.exe --effect th
expect_completion "32 16" make x.wav --bitrate ""

[ "$failed" -eq 0 ] && echo "the package installs and its quira runs"
exit "$failed"
