# SPDX-License-Identifier: MIT
# cmake -DIN=player.exe -DOUT=player_sha256.h -P player-digest.cmake
# Writes the player's SHA-256 as the macro QUIRA_PLAYER_SHA256, for a library build that knows its
# player by digest rather than holding its bytes. The header is rewritten only when the digest
# changes, so that an unchanged player recompiles nothing.
file(SHA256 "${IN}" digest)
set(text "#define QUIRA_PLAYER_SHA256 \"${digest}\"\n")
set(old "")
if(EXISTS "${OUT}")
  file(READ "${OUT}" old)
endif()
if(NOT old STREQUAL text)
  file(WRITE "${OUT}" "${text}")
endif()
