# The libraries of the Windows build. What the Linux build finds through pkg-config, Windows
# has as system libraries (ODBC, its installer API, the cryptography API), which
# pkg_check_modules below hands out under the Linux build's target names, so that the modules
# name their libraries once for both. SQLite has no mingw-w64 package: it is built here from the
# amalgamation that scripts/build-windows makes from Debian's source. libpq has none either:
# what needs it is left out of the Windows build.
set(REMOTECCM_SQLITE_AMALGAMATION "" CACHE PATH "Folder of sqlite3.c and sqlite3.h")
if(NOT EXISTS "${REMOTECCM_SQLITE_AMALGAMATION}/sqlite3.c")
  message(FATAL_ERROR "REMOTECCM_SQLITE_AMALGAMATION names no sqlite3.c (scripts/build-windows makes it)")
endif()
# SQLite's own code, without the project's warnings: it is not ours to change.
add_library(remoteccm_sqlite3 STATIC ${REMOTECCM_SQLITE_AMALGAMATION}/sqlite3.c)
target_include_directories(remoteccm_sqlite3 SYSTEM PUBLIC ${REMOTECCM_SQLITE_AMALGAMATION})
set(remoteccm_windows_libraries odbc:odbc32 odbcinst:odbccp32 nettle:bcrypt
    sqlite3:remoteccm_sqlite3)

macro(pkg_check_modules prefix)
  set(pkg_names ${ARGN})
  list(REMOVE_ITEM pkg_names REQUIRED QUIET IMPORTED_TARGET GLOBAL)
  foreach(pkg_entry ${remoteccm_windows_libraries})
    string(REPLACE ":" ";" pkg_parts ${pkg_entry})
    list(GET pkg_parts 0 pkg_name)
    list(GET pkg_parts 1 pkg_library)
    if(pkg_name IN_LIST pkg_names AND NOT TARGET PkgConfig::${prefix})
      add_library(PkgConfig::${prefix} INTERFACE IMPORTED GLOBAL)
      target_link_libraries(PkgConfig::${prefix} INTERFACE ${pkg_library})
    endif()
  endforeach()
  if(TARGET PkgConfig::${prefix})
    set(${prefix}_FOUND TRUE)
  else()
    set(${prefix}_FOUND FALSE)
  endif()
endmacro()

pkg_check_modules(ODBC REQUIRED IMPORTED_TARGET odbc)

# nlohmann/json is headers only: the host's copy serves, without the host's other headers.
set(remoteccm_json_include ${CMAKE_BINARY_DIR}/header-only)
file(MAKE_DIRECTORY ${remoteccm_json_include})
file(CREATE_LINK /usr/include/nlohmann ${remoteccm_json_include}/nlohmann SYMBOLIC)
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED GLOBAL)
target_include_directories(nlohmann_json::nlohmann_json SYSTEM INTERFACE ${remoteccm_json_include})

# Windows 10's API (the rename with POSIX semantics); windows.h without min/max macros.
target_compile_definitions(remoteccm_options INTERFACE _WIN32_WINNT=0x0A00 NOMINMAX
                           WIN32_LEAN_AND_MEAN)
