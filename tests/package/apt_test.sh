#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The set-up scripts' package installation (scripts/apt-lib.sh) against a stand-in apt-get and
# dpkg-query on PATH, which record what they were asked:
#   apt_test.sh
# Cases:
#   unrelated_index  `apt-get update` fails for an index while the install succeeds: the set-up
#                    goes on (status 0), after updating twice, and prints no "E:" line but a note
#                    naming the index
#   needed_missing   the update fails and the install too: three rounds, then status 1 with
#                    apt's output shown
#   all_installed    nothing missing: apt-get is not run at all
set -euo pipefail
lib=$(cd "$(dirname "$0")/../.." && pwd)/scripts/apt-lib.sh
work=$(mktemp -d "${TMPDIR:-/tmp}/quira-apt-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
failed=0
fail() {
  echo "FAIL: $1: $2" >&2
  failed=1
}

mkdir -p "$work/bin"
# apt-get: logs each call; update fails as a mirror in the middle of a sync does; install
# succeeds unless INSTALL_FAILS is set, and marks the packages installed for dpkg-query.
cat > "$work/bin/apt-get" <<'STUB'
#!/usr/bin/env bash
for a in "$@"; do case $a in update | install) echo "$a" >> "$STUB_DIR/calls" ;; esac; done
case " $* " in
  *" update "*)
    echo "E: Failed to fetch http://mirror.example/dists/x-security/main/binary-i386/Packages.xz  File has unexpected size"
    echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
    exit 100 ;;
  *" install "*)
    [ -z "${INSTALL_FAILS:-}" ] || { echo "E: Unable to locate package wanted"; exit 100; }
    touch "$STUB_DIR/installed" ;;
esac
STUB
cat > "$work/bin/dpkg-query" <<'STUB'
#!/usr/bin/env bash
[ -f "$STUB_DIR/installed" ] && printf installed || printf not-installed
STUB
chmod +x "$work/bin/apt-get" "$work/bin/dpkg-query"

# run CASE [VAR=VALUE...]: apt_install in a fresh shell with the stand-ins; output in CASE.out.
run() {
  local name=$1
  shift
  rm -f "$work/calls"
  env "$@" STUB_DIR="$work" PATH="$work/bin:$PATH" bash -c \
    '. "$1"; sleep() { :; }; id() { echo 0; }; apt_install setup wanted other' _ "$lib" \
    > "$work/$name.out" 2>&1
}
calls() { [ ! -f "$work/calls" ] || tr '\n' ' ' < "$work/calls" | sed 's/ $//'; }

rm -f "$work/installed"
run unrelated_index && status=0 || status=$?
[ "$status" -eq 0 ] || fail unrelated_index "status $status"
[ "$(calls)" = "update update install" ] || fail unrelated_index "apt-get was called for: $(calls)"
! grep -q '^E:' "$work/unrelated_index.out" || fail unrelated_index "an E: line was printed"
grep -q 'binary-i386/Packages.xz' "$work/unrelated_index.out" || fail unrelated_index "the failed index is not named"

rm -f "$work/installed"
run needed_missing INSTALL_FAILS=1 && status=0 || status=$?
[ "$status" -eq 1 ] || fail needed_missing "status $status"
[ "$(calls)" = "update update install update update install update update install" ] ||
  fail needed_missing "apt-get was called for: $(calls)"
grep -q 'Unable to locate package wanted' "$work/needed_missing.out" || fail needed_missing "apt's output is not shown"

touch "$work/installed"
run all_installed && status=0 || status=$?
[ "$status" -eq 0 ] && [ -z "$(calls)" ] || fail all_installed "status $status, apt-get called for: $(calls)"

if [ "$failed" -eq 0 ]; then
  echo "ok: unrelated_index needed_missing all_installed"
else
  for f in "$work"/*.out; do echo "--- $(basename "$f")"; cat "$f"; done >&2
fi
exit "$failed"
