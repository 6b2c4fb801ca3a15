# Pinned libsoxr and libmp3lame for the maker: fetched from Debian's source packages and built
# static, once per target, at configure time (scripts/build-soxr-lame.sh), like the pinned
# libmpg123, so that `quira make` and the page make the same carrier from the same recording.
# Defines the imported targets soxr_pinned and lame_pinned.
if(EMSCRIPTEN)
  set(_soxr_lame_host wasm32)
else()
  set(_soxr_lame_host native)
endif()
set(_soxr_lame_prefix "${QUIRA_DEPS_DIR}/soxr-lame-${_soxr_lame_host}")

foreach(_pkg libsoxr lame)
  execute_process(
    COMMAND "${PROJECT_SOURCE_DIR}/scripts/fetch-source.sh" ${_pkg} "${QUIRA_DEPS_DIR}/src"
    OUTPUT_VARIABLE _src_${_pkg} OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE _rc)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "Fetching Debian's ${_pkg} source package failed")
  endif()
endforeach()
execute_process(
  COMMAND "${PROJECT_SOURCE_DIR}/scripts/build-soxr-lame.sh" "${_src_libsoxr}" "${_src_lame}"
          ${_soxr_lame_host} "${_soxr_lame_prefix}"
  RESULT_VARIABLE _rc)
if(NOT _rc EQUAL 0)
  message(FATAL_ERROR "Building the pinned libsoxr and libmp3lame for ${_soxr_lame_host} failed")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  "${PROJECT_SOURCE_DIR}/scripts/build-soxr-lame.sh" "${PROJECT_SOURCE_DIR}/scripts/fetch-source.sh")

set(QUIRA_SOXR_LAME_ARCHIVES "${_soxr_lame_prefix}/lib/libsoxr.a" "${_soxr_lame_prefix}/lib/libmp3lame.a")
foreach(_lib soxr lame)
  add_library(${_lib}_pinned STATIC IMPORTED GLOBAL)
  set_target_properties(${_lib}_pinned PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${_soxr_lame_prefix}/include")
  if(NOT WIN32)
    set_property(TARGET ${_lib}_pinned PROPERTY INTERFACE_LINK_LIBRARIES m)
  endif()
endforeach()
set_property(TARGET soxr_pinned PROPERTY IMPORTED_LOCATION "${_soxr_lame_prefix}/lib/libsoxr.a")
set_property(TARGET lame_pinned PROPERTY IMPORTED_LOCATION "${_soxr_lame_prefix}/lib/libmp3lame.a")
