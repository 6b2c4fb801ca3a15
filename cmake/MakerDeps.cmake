# SPDX-License-Identifier: MIT
# The maker's pinned dependencies: libsoxr, libmp3lame and the libm functions they call, from
# Debian's source packages of libsoxr, LAME and musl (cmake/Sources.cmake), built static once per
# target at configure time (scripts/build-maker-deps.sh), like the pinned libmpg123, so that
# `quira make` and the page make the same carrier from the same recording. Defines the imported targets
# soxr_pinned and lame_pinned (each with the pinned maths).
if(EMSCRIPTEN)
  set(_maker_deps_host wasm32)
else()
  set(_maker_deps_host native)
endif()
set(_maker_deps_prefix "${QUIRA_DEPS_DIR}/maker-deps-${_maker_deps_host}")

include(${CMAKE_CURRENT_LIST_DIR}/Sources.cmake)
foreach(_pkg musl libsoxr lame)
  quira_pinned_source(${_pkg})
endforeach()
execute_process(
  COMMAND "${PROJECT_SOURCE_DIR}/scripts/build-maker-deps.sh" "${QUIRA_MUSL_SOURCE_DIR}" "${QUIRA_LIBSOXR_SOURCE_DIR}" "${QUIRA_LAME_SOURCE_DIR}"
          ${_maker_deps_host} "${_maker_deps_prefix}"
  RESULT_VARIABLE _rc)
if(NOT _rc EQUAL 0)
  message(FATAL_ERROR "Building the maker's pinned libsoxr, libmp3lame and maths for ${_maker_deps_host} failed")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  "${PROJECT_SOURCE_DIR}/scripts/build-maker-deps.sh")

set(_lib "${_maker_deps_prefix}/lib")
set(QUIRA_MAKER_DEPS_ARCHIVES "${_lib}/libsoxr.a" "${_lib}/libmp3lame.a" "${_lib}/libquira_m.a")
add_library(quira_m_pinned STATIC IMPORTED GLOBAL)
set_target_properties(quira_m_pinned PROPERTIES IMPORTED_LOCATION "${_lib}/libquira_m.a")
if(NOT WIN32)
  set_property(TARGET quira_m_pinned PROPERTY INTERFACE_LINK_LIBRARIES m)
endif()
add_library(soxr_pinned STATIC IMPORTED GLOBAL)
set_target_properties(soxr_pinned PROPERTIES IMPORTED_LOCATION "${_lib}/libsoxr.a")
add_library(lame_pinned STATIC IMPORTED GLOBAL)
set_target_properties(lame_pinned PROPERTIES IMPORTED_LOCATION "${_lib}/libmp3lame.a")
set_target_properties(soxr_pinned lame_pinned PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES "${_maker_deps_prefix}/include" INTERFACE_LINK_LIBRARIES quira_m_pinned)
