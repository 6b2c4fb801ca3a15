# Pinned libmpg123: built static from Debian's source package, once per target, at configure time,
# without the network. scripts/setup.sh downloads the package's files once (scripts/fetch-mpg123.sh)
# into QUIRA_DEPS_DIR/src; configure takes them from there, or from QUIRA_MPG123_SOURCE, and checks
# them against the sums kept in scripts/mpg123-source.sha256 before it unpacks and builds them.
# The unpacked source and the per-target builds live under QUIRA_DEPS_DIR, shared by every build
# directory (native, sanitizer, Windows cross builds) of this tree.
# Sets QUIRA_MPG123_VERSION (upstream) and QUIRA_MPG123_DEBIAN_VERSION for the tool to report.
set(QUIRA_DEPS_DIR "${PROJECT_SOURCE_DIR}/build/deps" CACHE PATH "Where the pinned libmpg123 is unpacked and built")
set(QUIRA_MPG123_SOURCE "" CACHE PATH
  "Debian's mpg123 source package: a directory holding its tarballs, or the upstream tarball with Debian's beside it (default: QUIRA_DEPS_DIR/src, filled by scripts/setup.sh)")

set(_pins_file "${PROJECT_SOURCE_DIR}/scripts/mpg123-source.sha256")
file(STRINGS "${_pins_file}" _pins REGEX "^[0-9a-f]+  ")
foreach(_line IN LISTS _pins)
  string(REGEX MATCH "^([0-9a-f]+)  (.+)$" _ "${_line}")
  set(_sum "${CMAKE_MATCH_1}")
  set(_name "${CMAKE_MATCH_2}")
  if(_name MATCHES "^mpg123_(.+)\\.orig\\.tar\\.")
    set(QUIRA_MPG123_VERSION "${CMAKE_MATCH_1}")
    set(_orig_name "${_name}")
    set(_orig_sum "${_sum}")
  elseif(_name MATCHES "^mpg123_(.+)\\.debian\\.tar\\.")
    set(QUIRA_MPG123_DEBIAN_VERSION "${CMAKE_MATCH_1}")
    set(_debian_name "${_name}")
    set(_debian_sum "${_sum}")
  endif()
endforeach()
if(NOT _orig_name OR NOT _debian_name)
  message(FATAL_ERROR "${_pins_file} must pin mpg123's upstream tarball and Debian's tarball")
endif()

# Where the two tarballs are: a directory as setup leaves it, or an upstream tarball given by path
# (whatever its name) with Debian's tarball in the same directory.
if(QUIRA_MPG123_SOURCE)
  if(IS_DIRECTORY "${QUIRA_MPG123_SOURCE}")
    set(_source_dir "${QUIRA_MPG123_SOURCE}")
    set(_orig "${_source_dir}/${_orig_name}")
  elseif(EXISTS "${QUIRA_MPG123_SOURCE}")
    get_filename_component(_source_dir "${QUIRA_MPG123_SOURCE}" DIRECTORY)
    set(_orig "${QUIRA_MPG123_SOURCE}")
  else()
    message(FATAL_ERROR "QUIRA_MPG123_SOURCE=${QUIRA_MPG123_SOURCE}: no such file or directory")
  endif()
else()
  set(_source_dir "${QUIRA_DEPS_DIR}/src")
  set(_orig "${_source_dir}/${_orig_name}")
endif()
set(_debian "${_source_dir}/${_debian_name}")

foreach(_part orig debian)
  if(NOT EXISTS "${_${_part}}")
    message(FATAL_ERROR
      "libmpg123's source is missing: there is no ${_${_part}}, a file of Debian's mpg123 "
      "${QUIRA_MPG123_DEBIAN_VERSION} source package. Run scripts/setup.sh once (it downloads the "
      "package with scripts/fetch-mpg123.sh), or give -DQUIRA_MPG123_SOURCE=DIR, a directory "
      "holding ${_orig_name} and ${_debian_name}.")
  endif()
  file(SHA256 "${_${_part}}" _sum)
  if(NOT _sum STREQUAL _${_part}_sum)
    message(FATAL_ERROR
      "${_${_part}}: its SHA-256 is ${_sum}, not ${_${_part}_sum} as ${_pins_file} pins from the "
      ".dsc of Debian's mpg123 ${QUIRA_MPG123_DEBIAN_VERSION}. Download it again with "
      "scripts/fetch-mpg123.sh.")
  endif()
endforeach()

if(CMAKE_CROSSCOMPILING)
  set(_mpg123_host "${QUIRA_TARGET_TRIPLET}")
else()
  set(_mpg123_host native)
endif()
set(_mpg123_src "${QUIRA_DEPS_DIR}/mpg123-${QUIRA_MPG123_DEBIAN_VERSION}")
set(_mpg123_prefix "${QUIRA_DEPS_DIR}/mpg123-${_mpg123_host}")

# Both scripts return at once when their work is done and its configuration is unchanged.
execute_process(
  COMMAND "${PROJECT_SOURCE_DIR}/scripts/unpack-mpg123.sh" "${_orig}" "${_debian}" "${_mpg123_src}"
  RESULT_VARIABLE _rc)
if(NOT _rc EQUAL 0)
  message(FATAL_ERROR "Unpacking Debian's mpg123 source into ${_mpg123_src} failed")
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
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${_pins_file}" ${_mpg123_patches}
  "${PROJECT_SOURCE_DIR}/scripts/build-mpg123.sh" "${PROJECT_SOURCE_DIR}/scripts/unpack-mpg123.sh")

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
# The pinned library's symbols stay inside the programs that link it. Exported, they would take
# the place of the system's libmpg123 for the shared libraries those programs load: libsndfile
# would decode MP3 input through a decoder built without floating-point output, into garbage.
if(NOT WIN32 AND NOT EMSCRIPTEN)
  set_property(TARGET mpg123_pinned PROPERTY INTERFACE_LINK_OPTIONS "LINKER:--exclude-libs,libmpg123.a")
endif()
