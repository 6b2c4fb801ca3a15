# SPDX-License-Identifier: MIT
# Pinned libmpg123: built static from Debian's source package (cmake/Sources.cmake), once per
# target, at configure time, without the network. The per-target builds live under
# QUIRA_DEPS_DIR, shared by every build directory (native, sanitizer, Windows cross builds).
# Sets QUIRA_MPG123_VERSION (upstream) and QUIRA_MPG123_DEBIAN_VERSION for the tool to report.
include(${CMAKE_CURRENT_LIST_DIR}/Sources.cmake)
quira_pinned_source(mpg123)

if(CMAKE_CROSSCOMPILING)
  set(_mpg123_host "${QUIRA_TARGET_TRIPLET}")
else()
  set(_mpg123_host native)
endif()
set(_mpg123_src "${QUIRA_MPG123_SOURCE_DIR}")
set(_mpg123_prefix "${QUIRA_DEPS_DIR}/mpg123-${_mpg123_host}")

# quira_build_mpg123(PREFIX [generic]): one build of the library (see scripts/build-mpg123.sh).
function(quira_build_mpg123 prefix)
  execute_process(
    COMMAND "${PROJECT_SOURCE_DIR}/scripts/build-mpg123.sh" "${_mpg123_src}" "${_mpg123_host}" "${prefix}" ${ARGN}
    RESULT_VARIABLE _rc)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "Building the pinned libmpg123 (${_mpg123_host} ${ARGN}) failed")
  endif()
endfunction()
# The 32-bit Windows build, the player every carrier begins with, keeps the generic synth as
# Debian ships it: the vector one adds nothing a player needs (a buffer costs under 0.1 % of its
# time either way), and the i686 exe is run under Wine only where the kernel runs 32-bit
# programs, so the player keeps the code whose samples have been checked there.
if(_mpg123_host STREQUAL "i686-w64-mingw32")
  quira_build_mpg123("${_mpg123_prefix}" generic)
else()
  quira_build_mpg123("${_mpg123_prefix}")
endif()
# Configure again when the pins, a script or a patch change, so that a new decoder is built.
file(GLOB _mpg123_patches "${PROJECT_SOURCE_DIR}/scripts/patches/mpg123-*.patch")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_mpg123_patches}
  "${PROJECT_SOURCE_DIR}/scripts/build-mpg123.sh")

set(QUIRA_MPG123_ARCHIVE "${_mpg123_prefix}/lib/libmpg123.a")
add_library(mpg123_pinned INTERFACE)
target_include_directories(mpg123_pinned INTERFACE "${_mpg123_prefix}/include")
if(CMAKE_CROSSCOMPILING)
  target_link_libraries(mpg123_pinned INTERFACE "${QUIRA_MPG123_ARCHIVE}")
else()
  # The native build also makes the library from Debian's source as it is: a program whose
  # QUIRA_GENERIC_MPG123 property is true links that one instead, for the tests to hold the
  # patched decoder to it (both have the same header). Only a tree with the tests needs it; one
  # configured with -DBUILD_TESTING=OFF (the demo's first, tool-only build) saves its build.
  if(NOT DEFINED BUILD_TESTING OR BUILD_TESTING)
    quira_build_mpg123("${_mpg123_prefix}-generic" generic)
  endif()
  target_link_libraries(mpg123_pinned INTERFACE
    "$<IF:$<BOOL:$<TARGET_PROPERTY:QUIRA_GENERIC_MPG123>>,${_mpg123_prefix}-generic,${_mpg123_prefix}>/lib/libmpg123.a"
    m)
endif()
# The pinned library's symbols stay inside the programs that link it. Exported, they would take
# the place of the system's libmpg123 for the shared libraries those programs load: libsndfile
# would decode MP3 input through a decoder built without floating-point output, into garbage.
if(NOT WIN32 AND NOT EMSCRIPTEN)
  set_property(TARGET mpg123_pinned PROPERTY INTERFACE_LINK_OPTIONS "LINKER:--exclude-libs,libmpg123.a")
endif()
