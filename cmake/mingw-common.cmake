# SPDX-License-Identifier: MIT
# Cross build for Windows with mingw-w64, for the triplet that the including toolchain file sets.
string(REGEX REPLACE "-.*" "" CMAKE_SYSTEM_PROCESSOR ${QUIRA_TARGET_TRIPLET})
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${QUIRA_TARGET_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${QUIRA_TARGET_TRIPLET}-g++)
set(CMAKE_RC_COMPILER ${QUIRA_TARGET_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${QUIRA_TARGET_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Small code for the player, which must fit in its fixed size: optimised for size, no exception
# tables or run-time type data (nothing here throws), one section per function so that the linker
# drops what is never called, and the C runtime's own printf family rather than mingw's larger one.
# None of this changes a floating-point result: the maths flags are the project's own, the same
# for every build.
set(CMAKE_C_FLAGS_INIT "-fno-asynchronous-unwind-tables -ffunction-sections -D__USE_MINGW_ANSI_STDIO=0")
set(CMAKE_CXX_FLAGS_INIT "${CMAKE_C_FLAGS_INIT} -fno-exceptions -fno-rtti")
set(CMAKE_C_FLAGS_RELEASE_INIT "-Os -DNDEBUG")
set(CMAKE_CXX_FLAGS_RELEASE_INIT "-Os -DNDEBUG")
