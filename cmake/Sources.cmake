# SPDX-License-Identifier: MIT
# Debian source packages of the pinned libraries, taken without the network at configure time.
# scripts/setup.sh downloads each package's two tarballs once (scripts/fetch-sources.sh) into
# QUIRA_DEPS_DIR/src; configure takes them from there, or from QUIRA_<PACKAGE>_SOURCE (e.g.
# QUIRA_MPG123_SOURCE), checks them against the sums in scripts/sources/PACKAGE.sha256 and unpacks
# them with Debian's patches into QUIRA_DEPS_DIR, shared by every build tree of this source.
#
# quira_pinned_source(PACKAGE): sets, in the caller's scope,
#   QUIRA_<PACKAGE>_SOURCE_DIR      the unpacked source
#   QUIRA_<PACKAGE>_VERSION         the upstream version
#   QUIRA_<PACKAGE>_DEBIAN_VERSION  Debian's version
# where <PACKAGE> is the package's name in capitals, "-" as "_".
include_guard(GLOBAL)
set(QUIRA_DEPS_DIR "${PROJECT_SOURCE_DIR}/build/deps" CACHE PATH "Where the pinned libraries are unpacked and built")

function(quira_pinned_source pkg)
  string(TOUPPER "${pkg}" _var)
  string(REPLACE "-" "_" _var "${_var}")
  set(QUIRA_${_var}_SOURCE "" CACHE PATH
    "Debian's ${pkg} source package: a directory holding its tarballs, or the upstream tarball with Debian's beside it (default: QUIRA_DEPS_DIR/src, filled by scripts/setup.sh)")
  set(_pins_file "${PROJECT_SOURCE_DIR}/scripts/sources/${pkg}.sha256")
  file(STRINGS "${_pins_file}" _pins REGEX "^[0-9a-f]+  ")
  string(REGEX REPLACE "([][+.*()^$?|\\\\])" "\\\\\\1" _pkg_re "${pkg}")
  foreach(_line IN LISTS _pins)
    string(REGEX MATCH "^([0-9a-f]+)  (.+)$" _ "${_line}")
    set(_sum "${CMAKE_MATCH_1}")
    set(_name "${CMAKE_MATCH_2}")
    if(_name MATCHES "^${_pkg_re}_(.+)\\.orig\\.tar\\.")
      set(_version "${CMAKE_MATCH_1}")
      set(_orig_name "${_name}")
      set(_orig_sum "${_sum}")
    elseif(_name MATCHES "^${_pkg_re}_(.+)\\.debian\\.tar\\.")
      set(_debian_version "${CMAKE_MATCH_1}")
      set(_debian_name "${_name}")
      set(_debian_sum "${_sum}")
    endif()
  endforeach()
  if(NOT _orig_name OR NOT _debian_name)
    message(FATAL_ERROR "${_pins_file} must pin ${pkg}'s upstream tarball and Debian's tarball")
  endif()

  # Where the two tarballs are: a directory as setup leaves it, or an upstream tarball given by
  # path (whatever its name) with Debian's tarball in the same directory.
  set(_given "${QUIRA_${_var}_SOURCE}")
  if(_given)
    if(IS_DIRECTORY "${_given}")
      set(_source_dir "${_given}")
      set(_orig "${_source_dir}/${_orig_name}")
    elseif(EXISTS "${_given}")
      get_filename_component(_source_dir "${_given}" DIRECTORY)
      set(_orig "${_given}")
    else()
      message(FATAL_ERROR "QUIRA_${_var}_SOURCE=${_given}: no such file or directory")
    endif()
  else()
    set(_source_dir "${QUIRA_DEPS_DIR}/src")
    set(_orig "${_source_dir}/${_orig_name}")
  endif()
  set(_debian "${_source_dir}/${_debian_name}")

  foreach(_part orig debian)
    if(NOT EXISTS "${_${_part}}")
      message(FATAL_ERROR
        "${pkg}'s source is missing: there is no ${_${_part}}, a file of Debian's ${pkg} "
        "${_debian_version} source package. Run scripts/setup.sh once (it downloads the "
        "package with scripts/fetch-sources.sh), or give -DQUIRA_${_var}_SOURCE=DIR, a directory "
        "holding ${_orig_name} and ${_debian_name}.")
    endif()
    file(SHA256 "${_${_part}}" _sum)
    if(NOT _sum STREQUAL _${_part}_sum)
      message(FATAL_ERROR
        "${_${_part}}: its SHA-256 is ${_sum}, not ${_${_part}_sum} as ${_pins_file} pins from the "
        ".dsc of Debian's ${pkg} ${_debian_version}. Download it again with scripts/fetch-sources.sh.")
    endif()
  endforeach()

  # Returns at once when the same two files were unpacked there before.
  set(_unpacked "${QUIRA_DEPS_DIR}/${pkg}-${_debian_version}")
  execute_process(
    COMMAND "${PROJECT_SOURCE_DIR}/scripts/unpack-source.sh" "${_orig}" "${_debian}" "${_unpacked}"
    RESULT_VARIABLE _rc)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "Unpacking Debian's ${pkg} source into ${_unpacked} failed")
  endif()
  set_property(DIRECTORY "${PROJECT_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
    "${_pins_file}" "${PROJECT_SOURCE_DIR}/scripts/unpack-source.sh")
  set(QUIRA_${_var}_SOURCE_DIR "${_unpacked}" PARENT_SCOPE)
  set(QUIRA_${_var}_VERSION "${_version}" PARENT_SCOPE)
  set(QUIRA_${_var}_DEBIAN_VERSION "${_debian_version}" PARENT_SCOPE)
endfunction()
