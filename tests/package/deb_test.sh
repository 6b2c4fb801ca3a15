#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Debian packages, made, checked and installed as a user or a distribution would:
#   deb_test.sh BUILD_DIR MEDIA_DIR [PAGE]
# PAGE is the web page the build made (none when it was built without it).
#   - cpack makes three packages: quira (the tool, its page, manual page and completions),
#     libquiraN (N from the built library's soname) and libquira-dev
#   - lintian finds no error and no warning in any of them (each override says why in a comment);
#     their copyright file and THIRD-PARTY.md name the Debian version of every pinned library
#   - the runtime package has a shlibs file and an ldconfig trigger, no maintainer scripts; the
#     dev package depends on exactly its version; the tool's dependencies are the shared
#     libraries it links, not the pinned ones built in
#   - dpkg installs the three into a scratch root whose package database is a copy of this
#     machine's, so that, as with `dpkg -i`, every dependency must be installed here
#   - from there: quira --version, info and export (the same WAV as the build tree's quira);
#     `quira page` writes the built page byte for byte, as installed in /usr/share/quira; a C
#     program compiled with `pkg-config --cflags --libs quira` (and --static) against the
#     installed files writes what `quira export --as-played` writes
#   - man renders the installed page without a warning, with a COPYRIGHT section, and names
#     every command and option `quira --help` names; the bash completion offers commands,
#     options and the effects' names
# Needs root for dpkg (fakeroot stands in when there is one) and lintian (scripts/setup.sh --tests).
set -euo pipefail

build=$(cd "$1" && pwd) media=$2 page=${3:-}
here=$(cd "$(dirname "$0")/.." && pwd)
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

# ---- Make and check ------------------------------------------------------------------------
if ! (cd "$build" && cpack --config CPackConfig.cmake -G DEB -B "$work/out") > "$work/cpack.log" 2>&1; then
  show "$work/cpack.log"
  echo "FAIL: cpack made no packages" >&2
  exit 1
fi
soname=$(readelf -d "$build"/lib/out/libquira.so | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
runtime=libquira${soname#libquira.so.}
version=$(dpkg-deb -f "$(ls "$work"/out/quira_*.deb)" Version)
debs=()
for name in quira "$runtime" libquira-dev; do
  deb=$(ls "$work"/out/"${name}"_*.deb 2>/dev/null) || { fail "cpack made no package $name ($soname)"; continue; }
  debs+=("$deb")
  echo "made $(basename "$deb") ($(stat -c %s "$deb") bytes): Depends: $(dpkg-deb -f "$deb" Depends)"
  [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "$name's version is not $version"
done
[ ${#debs[@]} -eq 3 ] || exit 1
deb_quira=${debs[0]} deb_runtime=${debs[1]} deb_dev=${debs[2]}

if ! command -v lintian >/dev/null; then
  fail "lintian is not installed: run scripts/setup.sh --tests"
else
  # Errors and warnings only; infos and pedantic notes are advice. Overridden tags are not shown.
  lintian --fail-on error,warning "${debs[@]}" > "$work/lintian.log" 2>&1 ||
    { show "$work/lintian.log"; fail "lintian finds errors or warnings"; }
fi

depends=$(dpkg-deb -f "$deb_quira" Depends)
names() { [[ ", $depends," == *", $1 "* || ", $depends," == *", $1,"* ]]; }
for lib in libc6 libstdc++6 libsndfile1 libasound2; do
  names "$lib" || fail "quira's Depends does not name $lib"
done
# The decoder, resampler and encoder are pinned builds linked in, not the system's.
for lib in libmpg123-0 libsoxr0 libmp3lame0; do
  ! names "$lib" || fail "quira's Depends names $lib, whose pinned build the tool links in"
done
depends=$(dpkg-deb -f "$deb_runtime" Depends)
names libc6 || fail "$runtime's Depends does not name libc6"
[ "$(dpkg-deb -f "$deb_dev" Depends)" = "$runtime (= $version)" ] ||
  fail "libquira-dev depends on '$(dpkg-deb -f "$deb_dev" Depends)', not on $runtime (= $version)"
dpkg-deb -e "$deb_runtime" "$work/control"
[ "$(cat "$work/control/shlibs")" = "libquira ${soname#libquira.so.} $runtime (>= $version)" ] ||
  fail "$runtime's shlibs file says '$(cat "$work/control/shlibs" 2>/dev/null)'"
grep -qx 'activate-noawait ldconfig' "$work/control/triggers" || fail "$runtime has no ldconfig trigger"
for script in preinst postinst prerm postrm; do
  [ ! -e "$work/control/$script" ] || fail "$runtime has a $script script"
done

# The copyright file is made from the pins; THIRD-PARTY.md, written by hand, must name the same
# Debian versions.
dpkg-deb --fsys-tarfile "$deb_quira" | tar -xO ./usr/share/doc/quira/copyright > "$work/copyright"
for pins in "$here"/../scripts/sources/*.sha256; do
  pkg=$(basename "$pins" .sha256)
  pinned=$(sed -nE "s/^[0-9a-f]+  ${pkg}_(.*)\.debian\.tar\..*/\1/p" "$pins")
  grep -qF "\`$pkg\` version \`$pinned\`" "$here/../THIRD-PARTY.md" ||
    fail "THIRD-PARTY.md does not name Debian's $pkg $pinned, which scripts/sources/$pkg.sha256 pins"
  grep -qF "$pkg-$pinned/" "$work/copyright" ||
    fail "quira's copyright file does not name Debian's $pkg $pinned"
done

# ---- Install ---------------------------------------------------------------------------------
root=$work/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
cp /var/lib/dpkg/status "$root/var/lib/dpkg/status"
touch "$root/var/lib/dpkg/available"
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(fakeroot)
# The trigger is left pending: the scratch root holds no libc-bin whose ldconfig it would run.
if ! "${as_root[@]}" dpkg --root="$root" --force-script-chrootless --no-triggers --log=/dev/null \
    -i "${debs[@]}" > "$work/dpkg.log" 2>&1; then
  grep -v 'files list file for package' "$work/dpkg.log" | sed 's/^/  | /' >&2
  echo "FAIL: dpkg -i did not install the packages" >&2
  exit 1
fi
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
libdir=usr/lib/$multiarch
for file in usr/bin/quira usr/share/man/man1/quira.1.gz usr/share/bash-completion/completions/quira \
    usr/share/zsh/vendor-completions/_quira usr/share/doc/quira/copyright \
    "$libdir/$soname" usr/include/quira/quira.h "$libdir/libquira.so" "$libdir/libquira.a" \
    "$libdir/pkgconfig/quira.pc"; do
  [ -e "$root/$file" ] || fail "the packages install no /$file"
done
quira=$root/usr/bin/quira
[ -x "$quira" ] || exit 1

# ---- The installed tool ----------------------------------------------------------------------
"$quira" --version > "$work/version.txt" || fail "quira --version exits $?"
cat "$work/version.txt"
tool_version=$(sed -n '1s/^quira //p' "$work/version.txt")
[ "$(echo "$tool_version" | sed -E 's/-([0-9]+)-g/+\1.g/')" = "$version" ] ||
  fail "quira --version says '$tool_version', the packages' version is $version"
"$quira" info "$carrier" > "$work/info.txt" 2>&1 || { show "$work/info.txt"; fail "quira info exits non-zero"; }
grep -q 'ours' "$work/info.txt" || { show "$work/info.txt"; fail "quira info does not call the carrier's player ours"; }
if "$quira" -q export "$carrier" -o "$work/installed.wav" && "$build/tool/quira" -q export "$carrier" -o "$work/built.wav"; then
  cmp -s "$work/installed.wav" "$work/built.wav" || fail "the installed quira exports other samples than the built one"
else
  fail "quira export exits non-zero"
fi

# The page: the installed one and what the installed tool writes are the built page.
if [ -n "$page" ]; then
  (cd "$work" && "$quira" page -o x.html) || fail "quira page exits non-zero"
  cmp -s "$work/x.html" "$page" || fail "quira page -o x.html does not write the built page"
  cmp -s "$root/usr/share/quira/quira.html" "$page" || fail "/usr/share/quira/quira.html is not the built page"
else
  echo "(this build made no web page: quira page must say so)"
  ! "$quira" page -o "$work/x.html" 2> "$work/page.err" || fail "quira page succeeds in a build without the page"
  grep -q 'built without the web page' "$work/page.err" || { show "$work/page.err"; fail "quira page does not say why it fails"; }
fi

# ---- A C program over the installed library -------------------------------------------------
# The installed quira.pc finds its prefix from where it lies, here inside the scratch root.
export PKG_CONFIG_PATH=$root/$libdir/pkgconfig
"$quira" -q export --as-played "$carrier" -o "$work/tool.wav"
# shellcheck disable=SC2046
if cc -std=c99 -Wall -Werror -o "$work/shared" "$here/lib/export_as_played.c" $(pkg-config --cflags --libs quira) &&
   cc -std=c99 -Wall -Werror -o "$work/static" "$here/lib/export_as_played.c" $(pkg-config --cflags quira) \
     "$root/$libdir/libquira.a" $(pkg-config --static --libs-only-l quira | sed 's/-lquira//'); then
  # (Read whole: grep -q leaving a pipe early would fail it under pipefail.)
  [[ $(LD_LIBRARY_PATH=$root/$libdir ldd "$work/shared") == *"$soname => $root/$libdir/"* ]] ||
    fail "the C program does not load the installed $soname"
  [[ $(ldd "$work/static") != *libquira* ]] || fail "the static C program loads libquira"
  for kind in shared static; do
    LD_LIBRARY_PATH=$root/$libdir "$work/$kind" "$carrier" "$work/$kind.wav" ||
      fail "the C program over the $kind library exits non-zero"
    cmp -s "$work/tool.wav" "$work/$kind.wav" ||
      fail "the C program over the installed $kind library differs from quira export --as-played"
  done
else
  fail "a C program does not build with pkg-config --cflags --libs quira against the installed package"
fi

# ---- The manual page -----------------------------------------------------------------------
man_page=$root/usr/share/man/man1/quira.1.gz
MANWIDTH=1000 LC_ALL=C.UTF-8 man --warnings -l "$man_page" > "$work/man.txt" 2> "$work/man.err" || fail "man -l exits non-zero"
[ ! -s "$work/man.err" ] || { show "$work/man.err"; fail "man warns about the page"; }
for section in 'EXIT STATUS' COPYRIGHT; do
  grep -q "^$section" "$work/man.txt" || fail "the manual page has no $section"
done
"$quira" --help > "$work/help.txt"
for word in $(sed -nE 's/^  (quira )?([a-z]+) .*/\2/p' "$work/help.txt" | sort -u) \
    $(grep -oE '(^|[ [])--?[a-zA-Z][a-z-]*' "$work/help.txt" | tr -d ' [' | sort -u); do
  grep -qe "$word" "$work/man.txt" || fail "the manual page does not name '$word', which quira --help names"
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
expect_completion "play page" -q p
expect_completion "--as-played" export x.exe --as
expect_completion "--open" page --op
expect_completion "third-up" make x.wav -o y.exe --effect th
expect_completion "32 16" make x.wav --bitrate ""

[ "$failed" -eq 0 ] && echo "the packages pass lintian, install, and their quira, page and library work"
exit "$failed"
