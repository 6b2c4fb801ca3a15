# SPDX-License-Identifier: MIT
# The Windows player: the executable every carrier begins with. It must come out at most
# PAYLOAD_OFFSET bytes and is then padded with zeros to exactly that size, so that the payload
# appended behind it starts at the offset the player reads it from. It imports nothing but the
# system's own KERNEL32, USER32, WINMM and msvcrt, so it runs on any Windows as one file.
enable_language(RC)
set(QUIRA_PLAYER_SIZE 163840)
set(QUIRA_PLAYER_IMPORTS "KERNEL32.dll;USER32.dll;WINMM.dll;msvcrt.dll")

add_executable(player WIN32 ${PROJECT_SOURCE_DIR}/app/winmain.cpp ${PROJECT_SOURCE_DIR}/res/player.rc)
target_include_directories(player PRIVATE ${PROJECT_SOURCE_DIR}/res)
target_link_libraries(player PRIVATE quira_player)
set_target_properties(player PROPERTIES LINKER_LANGUAGE CXX)
# Static libgcc: no libgcc DLL beside the exe. No time stamp: the same sources give the same
# bytes, so that a built player can be recognised by its hash. Unused code is dropped.
target_link_options(player PRIVATE -static-libgcc -s -Wl,--gc-sections -Wl,--no-insert-timestamp
  -Wl,--disable-reloc-section)
add_custom_command(TARGET player POST_BUILD
  COMMAND ${CMAKE_COMMAND} -DEXE=$<TARGET_FILE:player> -DSIZE=${QUIRA_PLAYER_SIZE}
          "-DIMPORTS=${QUIRA_PLAYER_IMPORTS}" -DOBJDUMP=${QUIRA_TARGET_TRIPLET}-objdump
          -P ${PROJECT_SOURCE_DIR}/cmake/finish-player.cmake
  VERBATIM)
