# SPDX-License-Identifier: MIT
# cmake -DPLAYER=player.exe -DOUT=player_sha256.h -P player-digest.cmake: the player's SHA-256
# as the macro lib/facts.cpp reads in a build that holds the digest instead of the player.
file(SHA256 "${PLAYER}" _digest)
set(_text "// The SHA-256 of the player this build's carriers stand behind, made by the build.\n#define QUIRA_PLAYER_SHA256 \"${_digest}\"\n")
# Written only when it changes, so that the library is compiled again only for a new player.
if(EXISTS "${OUT}")
  file(READ "${OUT}" _old)
endif()
if(NOT _old STREQUAL _text)
  file(WRITE "${OUT}" "${_text}")
endif()
