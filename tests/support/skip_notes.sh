#!/usr/bin/env sh
# SPDX-License-Identifier: MIT
# The reasons of the tests that skipped themselves (tests/support/prerequisite.sh), for ctest's
# closing report; ctest runs this before and after the tests (CTestCustom.cmake in the build):
#   skip_notes.sh clear DIR     forget the notes of an earlier run
#   skip_notes.sh report DIR    print each test's reason
set -eu
dir=$2
case $1 in
  clear) rm -rf "$dir" ;;
  report)
    [ -d "$dir" ] || exit 0
    for note in "$dir"/*; do
      [ -f "$note" ] || continue
      echo "Skipped: $(basename "$note"): $(cat "$note")"
    done
    ;;
esac
