# Installation and the Debian package, in one place: what `cmake --install` puts where (the GNU
# directories under CMAKE_INSTALL_PREFIX), and `cpack -G DEB`, which installs the same files under
# /usr into a package whose dependencies dpkg-shlibdeps reads off the shared libraries that the
# programs link.
include(GNUInstallDirs)

# The tool, its manual page (made in doc/) and its shell completions, where bash-completion and
# Debian's zsh look for them.
install(TARGETS quira RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${QUIRA_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/doc/completion/quira.bash
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME quira)
install(FILES ${PROJECT_SOURCE_DIR}/doc/completion/_quira
  DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions)

# libquira: its header, the shared library, the self-contained static one and the pkg-config file
# (lib/CMakeLists.txt). The one package carries them beside the tool; no shlibs file is made, whose
# ldconfig scripts would not run in a package installed into a scratch root.
install(FILES ${PROJECT_SOURCE_DIR}/include/quira/quira.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/quira)
install(TARGETS quira_shared LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES "${QUIRA_STATIC_BUNDLE}" DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES "${PROJECT_BINARY_DIR}/lib/out/quira.pc" DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quira)
set(CPACK_PACKAGE_VERSION "${QUIRA_DEBIAN_VERSION}")
set(CPACK_PACKAGE_CONTACT "The Quira developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "make, inspect, export and play self-playing voice messages")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "A Quira voice message is one Windows file, the carrier: a small player
program with a recorded message appended behind it. quira makes carriers from
recordings, inspects them, exports their messages and plays them on Linux with
the player's own code, never running a carrier.")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY "${PROJECT_BINARY_DIR}/package")
include(CPack)
