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
execute_process(
  COMMAND "${PROJECT_SOURCE_DIR}/scripts/build-mpg123.sh" "${_mpg123_src}" "${_mpg123_host}" "${_mpg123_prefix}"
  RESULT_VARIABLE _rc)
if(NOT _rc EQUAL 0)
  message(FATAL_ERROR "Building the pinned libmpg123 for ${_mpg123_host} failed")
endif()
# Configure again when either script changes, so that a new decoder configuration is built.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  "${PROJECT_SOURCE_DIR}/scripts/build-mpg123.sh" "${PROJECT_SOURCE_DIR}/scripts/fetch-mpg123.sh")

add_library(mpg123_pinned STATIC IMPORTED GLOBAL)
set_target_properties(mpg123_pinned PROPERTIES
  IMPORTED_LOCATION "${_mpg123_prefix}/lib/libmpg123.a"
  INTERFACE_INCLUDE_DIRECTORIES "${_mpg123_prefix}/include")
if(NOT WIN32)
  set_property(TARGET mpg123_pinned PROPERTY INTERFACE_LINK_LIBRARIES m)
endif()
# The pinned library's symbols stay inside the programs that link it. Exported, they would take
# the place of the system's libmpg123 for the shared libraries those programs load: libsndfile
# would decode MP3 input through a decoder built without floating-point output, into garbage.
if(NOT WIN32)
  set_property(TARGET mpg123_pinned PROPERTY INTERFACE_LINK_OPTIONS "LINKER:--exclude-libs,libmpg123.a")
endif()
