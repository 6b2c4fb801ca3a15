# Pinned libmpg123: fetched from Debian's source package and built static, once per target, at
# configure time. The source and the per-target builds live under QUIRA_DEPS_DIR, shared by every
# build directory (native, sanitizer, Windows cross builds) of this tree.
set(QUIRA_DEPS_DIR "${PROJECT_SOURCE_DIR}/build/deps" CACHE PATH "Where the pinned libmpg123 is fetched and built")

if(CMAKE_CROSSCOMPILING)
  set(_mpg123_host "${QUIRA_TARGET_TRIPLET}")
else()
  set(_mpg123_host native)
endif()
set(_mpg123_prefix "${QUIRA_DEPS_DIR}/mpg123-${_mpg123_host}")

# Both scripts return at once when their work is done and its configuration is unchanged.
execute_process(
  COMMAND "${PROJECT_SOURCE_DIR}/scripts/fetch-mpg123.sh" "${QUIRA_DEPS_DIR}/src"
  OUTPUT_VARIABLE _mpg123_src OUTPUT_STRIP_TRAILING_WHITESPACE
  RESULT_VARIABLE _rc)
if(NOT _rc EQUAL 0)
  message(FATAL_ERROR "Fetching Debian's mpg123 source package failed")
endif()
# quira_build_mpg123(PREFIX [generic]): one build of the library (see scripts/build-mpg123.sh).
function(quira_build_mpg123 prefix)
  execute_process(
    COMMAND "${PROJECT_SOURCE_DIR}/scripts/build-mpg123.sh" "${_mpg123_src}" "${_mpg123_host}" "${prefix}" ${ARGN}
    RESULT_VARIABLE _rc)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "Building the pinned libmpg123 (${_mpg123_host} ${ARGN}) failed")
  endif()
endfunction()
quira_build_mpg123("${_mpg123_prefix}")
# Configure again when a script or a patch changes, so that a new decoder configuration is built.
file(GLOB _mpg123_patches "${PROJECT_SOURCE_DIR}/scripts/patches/mpg123-*.patch")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_mpg123_patches}
  "${PROJECT_SOURCE_DIR}/scripts/build-mpg123.sh" "${PROJECT_SOURCE_DIR}/scripts/fetch-mpg123.sh")

set(QUIRA_MPG123_ARCHIVE "${_mpg123_prefix}/lib/libmpg123.a")
add_library(mpg123_pinned INTERFACE)
target_include_directories(mpg123_pinned INTERFACE "${_mpg123_prefix}/include")
if(CMAKE_CROSSCOMPILING)
  target_link_libraries(mpg123_pinned INTERFACE "${QUIRA_MPG123_ARCHIVE}")
else()
  # The native build also makes the library from Debian's source as it is: a program whose
  # QUIRA_GENERIC_MPG123 property is true links that one instead, for the tests to hold the
  # patched decoder to it (both have the same header).
  quira_build_mpg123("${_mpg123_prefix}-generic" generic)
  target_link_libraries(mpg123_pinned INTERFACE
    "$<IF:$<BOOL:$<TARGET_PROPERTY:QUIRA_GENERIC_MPG123>>,${_mpg123_prefix}-generic,${_mpg123_prefix}>/lib/libmpg123.a"
    m)
endif()
