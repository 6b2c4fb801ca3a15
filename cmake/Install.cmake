# SPDX-License-Identifier: MIT
# Installation and the Debian packages, in one place: what `cmake --install` puts where (the GNU
# directories under CMAKE_INSTALL_PREFIX), and `cpack -G DEB`, which installs the same files
# under /usr, split into three packages by install component:
#   tool     quira: the tool, its manual page and completions, the web page
#   runtime  libquiraN: the shared library (N its soname's version), in the multiarch directory
#   dev      libquira-dev: the header, the .so link, the static library, the pkg-config file
# plus `notices` (LICENSE and THIRD-PARTY.md under share/doc/quira), which only `cmake --install`
# installs: each package carries its Debian copyright file instead (cmake/deb/).
include(GNUInstallDirs)

# ---- What goes where --------------------------------------------------------------------------
install(TARGETS quira RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tool)
install(FILES ${QUIRA_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tool)
install(FILES ${PROJECT_SOURCE_DIR}/doc/completion/quira.bash
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME quira COMPONENT tool)
install(FILES ${PROJECT_SOURCE_DIR}/doc/completion/_quira
  DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions COMPONENT tool)
# The page, for a user to hand on (`quira page` writes the same bytes).
if(QUIRA_TOOL_PAGE)
  install(FILES "${QUIRA_TOOL_PAGE}" DESTINATION ${CMAKE_INSTALL_DATADIR}/quira COMPONENT tool)
endif()

install(FILES ${PROJECT_SOURCE_DIR}/include/quira/quira.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/quira
  COMPONENT dev)
install(TARGETS quira_shared LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  COMPONENT runtime NAMELINK_COMPONENT dev)
install(FILES "${QUIRA_STATIC_BUNDLE}" DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
# A stripped install (--strip, and the packages) leaves the static library's debugging data out
# too, as it does the shared library's: its symbols stay, for linking.
install(CODE "if(CMAKE_INSTALL_DO_STRIP)
  execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-debug
    \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/libquira.a\" COMMAND_ERROR_IS_FATAL ANY)
endif()" COMPONENT dev)
install(FILES "${PROJECT_BINARY_DIR}/lib/out/quira.pc" DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
  COMPONENT dev)

install(FILES ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/THIRD-PARTY.md
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quira COMPONENT notices)

# ---- The Debian packages ----------------------------------------------------------------------
# The library's package is named after its soname (libquira.so.1: libquira1), as Debian's policy
# for shared libraries asks, so that a new soname installs beside the old one.
get_target_property(QUIRA_SOVERSION quira_shared SOVERSION)
set(QUIRA_RUNTIME_PACKAGE "libquira${QUIRA_SOVERSION}")
set(QUIRA_MAINTAINER "The Quira developers <maintainers@users.noreply.c-seed-5533c2bd.example>"
  CACHE STRING "The Maintainer of the Debian packages: a name and an e-mail address")
# The pinned libraries' versions, for the copyright file.
foreach(_pkg musl libsoxr lame)
  quira_pinned_source(${_pkg})
endforeach()
# The date of the changelog's entry: the last commit's (cmake/Version.cmake), in RFC 5322 form.
execute_process(COMMAND date -u -R -d "@${QUIRA_SOURCE_DATE_EPOCH}"
  OUTPUT_VARIABLE QUIRA_CHANGELOG_DATE OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)

# Each package's documentation directory: the copyright file (DEP-5; the same for all three, as
# each holds code built from the pinned libraries), the changelog, and the lintian overrides.
set(_deb "${PROJECT_BINARY_DIR}/deb")
configure_file(${PROJECT_SOURCE_DIR}/cmake/deb/copyright.in "${_deb}/copyright" @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/cmake/deb/changelog.in "${_deb}/changelog" @ONLY)
add_custom_command(OUTPUT "${_deb}/changelog.gz"
  COMMAND gzip -9nc "${_deb}/changelog" > "${_deb}/changelog.gz"
  DEPENDS "${_deb}/changelog" VERBATIM)
add_custom_target(deb_changelog ALL DEPENDS "${_deb}/changelog.gz")
foreach(_component tool runtime dev)
  set(_package_tool quira)
  set(_package_runtime ${QUIRA_RUNTIME_PACKAGE})
  set(_package_dev libquira-dev)
  set(_package ${_package_${_component}})
  install(FILES "${_deb}/copyright" "${_deb}/changelog.gz"
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${_package} COMPONENT ${_component} EXCLUDE_FROM_ALL)
  set(_overrides ${PROJECT_SOURCE_DIR}/cmake/deb/${_component}.lintian-overrides)
  if(EXISTS ${_overrides})
    install(FILES ${_overrides} DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
      RENAME ${_package} COMPONENT ${_component} EXCLUDE_FROM_ALL)
  endif()
endforeach()

# The runtime package's control files: its shlibs (programs built against libquira.so.N depend on
# libquiraN of at least this version) and the trigger that runs ldconfig once dpkg is done,
# instead of maintainer scripts calling it.
file(WRITE "${_deb}/runtime/shlibs"
  "libquira ${QUIRA_SOVERSION} ${QUIRA_RUNTIME_PACKAGE} (>= ${QUIRA_DEBIAN_VERSION})\n")
file(WRITE "${_deb}/runtime/triggers" "activate-noawait ldconfig\n")

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL tool runtime dev)
set(CPACK_PACKAGE_NAME quira)
set(CPACK_PACKAGE_VERSION "${QUIRA_DEBIAN_VERSION}")
set(CPACK_PACKAGE_CONTACT "${QUIRA_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY "${PROJECT_BINARY_DIR}/package")

set(CPACK_DEBIAN_TOOL_PACKAGE_NAME quira)
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION sound)
# Its dependencies are read off the shared libraries it links (dpkg-shlibdeps). libquira is
# linked in whole, with the player's own code the library does not export.
set(CPACK_DEBIAN_TOOL_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_TOOL_PACKAGE_SUGGESTS "xdg-utils")
set(CPACK_DEBIAN_TOOL_DESCRIPTION "make, inspect, export and play self-playing voice messages
A Quira voice message is one Windows file, the carrier: a small player program
with a recorded message appended behind it. quira makes carriers from
recordings, inspects them, exports their messages and plays them on Linux with
the player's own code, never running a carrier.
.
The package also holds the web page that plays and makes carriers in any
browser, /usr/share/quira/quira.html, for the people a message goes to.")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${QUIRA_RUNTIME_PACKAGE})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# No dpkg-shlibdeps here: CPack would then also write maintainer scripts that call ldconfig,
# which the trigger above replaces. The dependencies are read at packaging time instead
# (cmake/deb/cpack-project.cmake).
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA "${_deb}/runtime/shlibs;${_deb}/runtime/triggers")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "library to read, play and make Quira voice messages
libquira reads Quira carriers (a small Windows player program with a recorded
message behind it), gives the buffers the player hands its sound device, the
message as heard and its plain MPEG frames, and makes carriers from PCM at any
rate. It never runs a carrier.
.
This package holds the shared library.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libquira-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "${QUIRA_RUNTIME_PACKAGE} (= ${QUIRA_DEBIAN_VERSION})")
set(CPACK_DEBIAN_DEV_DESCRIPTION "library to read, play and make Quira voice messages (development files)
libquira reads Quira carriers (a small Windows player program with a recorded
message behind it), gives the buffers the player hands its sound device, the
message as heard and its plain MPEG frames, and makes carriers from PCM at any
rate. It never runs a carrier.
.
This package holds the C header, the pkg-config file and the static library.")

# Read by cpack when it runs: the runtime package's dependencies.
set(QUIRA_SHARED_LIBRARY "$<TARGET_FILE:quira_shared>")
configure_file(${PROJECT_SOURCE_DIR}/cmake/deb/cpack-project.cmake.in
  "${_deb}/cpack-project.cmake.in" @ONLY)
file(GENERATE OUTPUT "${_deb}/cpack-project.cmake" INPUT "${_deb}/cpack-project.cmake.in")
set(CPACK_PROJECT_CONFIG_FILE "${_deb}/cpack-project.cmake")
include(CPack)
