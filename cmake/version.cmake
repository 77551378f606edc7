# The version of the programs and the packages: the release that project() names, then "+" and
# the number of commits in the history of the tree being built ("0.1.0+342"). Every commit that
# lands on main adds to that number, so a package repository always offers the newer build.
# -DREMOTECCM_VERSION=... gives the version outright (a build from an exported tree). Without a
# history to count (no .git, a shallow clone, no git) the version is the release alone, which
# sorts below every counted one: scripts/package refuses to make packages of it.
#
# Sets REMOTECCM_VERSION and REMOTECCM_VERSION_COUNTED (whether the commits were counted), and
# writes remoteccm_version.h for the programs' sources.

set(REMOTECCM_VERSION_COUNTED FALSE)
if(REMOTECCM_VERSION)
  set(REMOTECCM_VERSION_COUNTED TRUE)
else()
  set(REMOTECCM_VERSION ${PROJECT_VERSION})
  find_package(Git QUIET)
  if(GIT_FOUND)
    # CI may check the tree out as another user than the one building it.
    set(git ${GIT_EXECUTABLE} -c safe.directory=${CMAKE_SOURCE_DIR} -C ${CMAKE_SOURCE_DIR})
    execute_process(COMMAND ${git} rev-parse --is-shallow-repository --git-path HEAD
                            --git-path logs/HEAD
                    OUTPUT_VARIABLE git_facts RESULT_VARIABLE git_failed ERROR_QUIET
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT git_failed)
      string(REPLACE "\n" ";" git_facts "${git_facts}")
      list(GET git_facts 0 shallow)
      if(shallow STREQUAL "true")
        message(WARNING "The git history of ${CMAKE_SOURCE_DIR} is shallow: the version is "
                        "${PROJECT_VERSION} without the count of commits (git fetch --unshallow).")
      else()
        execute_process(COMMAND ${git} rev-list --count HEAD OUTPUT_VARIABLE commits
                        RESULT_VARIABLE git_failed ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
        if(NOT git_failed AND commits MATCHES "^[0-9]+$")
          set(REMOTECCM_VERSION ${PROJECT_VERSION}+${commits})
          set(REMOTECCM_VERSION_COUNTED TRUE)
        endif()
        # A commit, a checkout or a merge moves HEAD and writes its log: the version is counted
        # again at the next build.
        list(SUBLIST git_facts 1 2 watched)
        foreach(file ${watched})
          if(NOT IS_ABSOLUTE ${file})
            set(file ${CMAKE_SOURCE_DIR}/${file})
          endif()
          if(EXISTS ${file})
            set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
                         ${file})
          endif()
        endforeach()
      endif()
    endif()
  endif()
  if(NOT REMOTECCM_VERSION_COUNTED)
    message(STATUS "No git history to count: the version is ${REMOTECCM_VERSION}")
  endif()
endif()
# For the scripts that name files after it (scripts/build-windows, scripts/package).
set(REMOTECCM_PACKAGE_VERSION ${REMOTECCM_VERSION} CACHE INTERNAL "")
set(REMOTECCM_PACKAGE_VERSION_COUNTED ${REMOTECCM_VERSION_COUNTED} CACHE INTERNAL "")
configure_file(${CMAKE_CURRENT_LIST_DIR}/remoteccm_version.h.in
               ${CMAKE_BINARY_DIR}/generated/remoteccm_version.h @ONLY)
