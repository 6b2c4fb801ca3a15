# SPDX-License-Identifier: MIT
# The version, from one place: the project's version (project() in the top CMakeLists.txt), or, in
# a git checkout of this tree whose history holds a release tag vX.Y.Z, what `git describe` makes
# of that tag: X.Y.Z on the tagged commit, X.Y.Z-N-gHASH N commits after it.
# Sets QUIRA_VERSION; QUIRA_DEBIAN_VERSION, the same as a Debian package version (X.Y.Z+N.gHASH);
# and QUIRA_SOURCE_DATE_EPOCH, the time of the last commit (outside git, of the top CMakeLists.txt),
# which dates what the build makes from the source, such as the manual page.
set(QUIRA_VERSION "${PROJECT_VERSION}")
file(TIMESTAMP "${PROJECT_SOURCE_DIR}/CMakeLists.txt" QUIRA_SOURCE_DATE_EPOCH "%s" UTC)
find_package(Git QUIET)
if(GIT_FOUND)
  execute_process(COMMAND "${GIT_EXECUTABLE}" -C "${PROJECT_SOURCE_DIR}" rev-parse --show-toplevel
    OUTPUT_VARIABLE _top OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE _rc ERROR_QUIET)
  # Only this tree's own history counts, not that of a repository it happens to lie in.
  if(_rc EQUAL 0 AND _top STREQUAL PROJECT_SOURCE_DIR)
    execute_process(COMMAND "${GIT_EXECUTABLE}" -C "${PROJECT_SOURCE_DIR}" log -1 --format=%ct
      OUTPUT_VARIABLE _commit_time OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE _rc ERROR_QUIET)
    if(_rc EQUAL 0 AND _commit_time MATCHES "^[0-9]+$")
      set(QUIRA_SOURCE_DATE_EPOCH "${_commit_time}")
    endif()
    execute_process(
      COMMAND "${GIT_EXECUTABLE}" -C "${PROJECT_SOURCE_DIR}" describe --tags --match "v[0-9]*" --abbrev=7
      OUTPUT_VARIABLE _described OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE _rc ERROR_QUIET)
    if(_rc EQUAL 0 AND _described MATCHES "^v([0-9][0-9.]*)(-[0-9]+-g[0-9a-f]+)?$")
      set(QUIRA_VERSION "${CMAKE_MATCH_1}${CMAKE_MATCH_2}")
      if(NOT CMAKE_MATCH_1 VERSION_EQUAL PROJECT_VERSION)
        message(WARNING "The release tag v${CMAKE_MATCH_1} and the project's version ${PROJECT_VERSION} differ: the tag is taken")
      endif()
      set(_described_by_tag ON)
    endif()
  endif()
  # A version described from a tag changes with every commit: configure again when HEAD or the
  # branch it is on moves.
  if(_described_by_tag)
    execute_process(COMMAND "${GIT_EXECUTABLE}" -C "${PROJECT_SOURCE_DIR}" symbolic-ref -q HEAD
      OUTPUT_VARIABLE _branch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    foreach(_ref HEAD packed-refs ${_branch})
      execute_process(COMMAND "${GIT_EXECUTABLE}" -C "${PROJECT_SOURCE_DIR}" rev-parse --path-format=absolute --git-path ${_ref}
        OUTPUT_VARIABLE _file OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
      if(_file AND EXISTS "${_file}")
        set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${_file}")
      endif()
    endforeach()
  endif()
endif()
string(REGEX REPLACE "-([0-9]+)-g" "+\\1.g" QUIRA_DEBIAN_VERSION "${QUIRA_VERSION}")
