# SPDX-License-Identifier: MIT
# Cross build for Windows (x86_64) with mingw-w64.
set(QUIRA_TARGET_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
