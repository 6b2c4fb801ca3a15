#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Makes libquira's API reference from its header with Doxygen (Debian's doxygen, installed when
# missing): HTML under BUILD_DIR/doc/api/html, index.html its first page. On demand only: neither
# the build nor the tests run it. A comment the header's reference would lose (an undocumented
# member, a reference to nothing) stops it with Doxygen's warning.
#   scripts/api-doc.sh [BUILD_DIR]     (default build/native)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/native}
# shellcheck source=scripts/apt-lib.sh
. "$root/scripts/apt-lib.sh"
apt_install api-doc doxygen

out=$build/doc/api
mkdir -p "$out"
version=$(sed -n 's/^project(quira VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
# The settings that differ from Doxygen's defaults; the header alone, read as C.
doxygen - <<DOXYFILE
PROJECT_NAME           = libquira
PROJECT_NUMBER         = $version
PROJECT_BRIEF          = "Reading, playing and making Quira voice messages"
OUTPUT_DIRECTORY       = $out
INPUT                  = $root/include/quira/quira.h
STRIP_FROM_PATH        = $root/include
OPTIMIZE_OUTPUT_FOR_C  = YES
JAVADOC_AUTOBRIEF      = YES
EXTRACT_ALL            = YES
TYPEDEF_HIDES_STRUCT   = YES
ENABLE_PREPROCESSING   = YES
MACRO_EXPANSION        = YES
EXPAND_ONLY_PREDEF     = YES
PREDEFINED             = QUIRA_API=
GENERATE_LATEX         = NO
QUIET                  = YES
WARN_AS_ERROR          = YES
WARN_NO_PARAMDOC       = NO
SOURCE_BROWSER         = YES
HAVE_DOT               = NO
CLASS_GRAPH            = NO
DOXYFILE
echo "api-doc: $out/html/index.html"
