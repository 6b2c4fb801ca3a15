# SPDX-License-Identifier: MIT
# Cross build for Windows (i686) with mingw-w64.
set(QUIRA_TARGET_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
