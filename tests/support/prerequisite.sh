# SPDX-License-Identifier: MIT
# Sourced by the tests that need what only scripts/setup.sh --tests installs (Wine and its
# prefix, a virtual display, the Windows cross builds):
#   missing_prerequisite REASON
# Under a plain ctest such a test is skipped: it prints the reason, leaves it in the file that
# QUIRA_SKIP_NOTE names (ctest's closing report lists those notes, tests/support/skip_notes.sh),
# and exits 77, which ctest counts as skipped (SKIP_RETURN_CODE). With QUIRA_REQUIRE_WINDOWS=1,
# as scripts/test.sh and so CI run ctest, it fails instead.
missing_prerequisite() {
  if [ "${QUIRA_REQUIRE_WINDOWS:-0}" = 1 ]; then
    echo "FAIL: $1" >&2
    exit 1
  fi
  echo "SKIPPED: $1"
  if [ -n "${QUIRA_SKIP_NOTE:-}" ]; then
    mkdir -p "$(dirname "$QUIRA_SKIP_NOTE")"
    echo "$1" > "$QUIRA_SKIP_NOTE"
  fi
  exit 77
}

# wine32_problem: why Wine's 32-bit part is missing (Debian's wine32:i386 not installed); nothing
# when it is there. (A kernel that runs no 32-bit programs at all is no missing prerequisite: the
# tests then run the 64-bit builds, scripts/wine-lib.sh.)
wine32_problem() {
  if [ "$(dpkg-query -W -f='${db:Status-Status}' wine32:i386 2>/dev/null)" != installed ]; then
    echo "Wine's 32-bit part (wine32:i386) is not installed: run scripts/setup-wine.sh"
  fi
}
