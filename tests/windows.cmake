# The tests of the Windows build, run under Wine (CMAKE_CROSSCOMPILING_EMULATOR). GoogleTest is
# built from Debian's sources with the same compiler. A test file comes here once it runs on
# Windows; the others still stand on POSIX calls (fork, chmod, mkdtemp, setenv).
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
include(GoogleTest)

function(remoteccm_windows_tests name)
  cmake_parse_arguments(T "SERIAL" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_DEPS} gtest gtest_main)
  target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  target_compile_definitions(${name} PRIVATE REMOTECCM_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  set(serial FALSE)
  if(T_SERIAL)
    set(serial TRUE)
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
                       PROPERTIES RUN_SERIAL ${serial})
endfunction()

remoteccm_windows_tests(test_util SOURCES util/calendar_test.cpp util/text_routines_test.cpp
                        util/file_layer_test.cpp util/ini_file_test.cpp
                        util/file_routines_test.cpp windows/file_locks_test.cpp
                        DEPS remoteccm_util remoteccm_test_support)
remoteccm_windows_tests(test_startup SOURCES startup/command_line_test.cpp DEPS remoteccm_startup)
remoteccm_windows_tests(test_timezone SOURCES timezone/posix_tz_test.cpp
                        timezone/tzif_reader_test.cpp timezone/zone_period_test.cpp
                        DEPS remoteccm_timezone remoteccm_test_support)

# What the tests share (tests/support, with its Win32 side), for the tests that run programs.
add_library(remoteccm_test_support STATIC support/scratch_dir.cpp support/cdr_database.cpp
            support/run_cli.cpp support/win32/scratch_folder.cpp support/win32/run_cli.cpp)
target_link_libraries(remoteccm_test_support PUBLIC remoteccm_db remoteccm_util gtest)
target_include_directories(remoteccm_test_support PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}
                           ${CMAKE_CURRENT_SOURCE_DIR}/support/win32/include)
target_compile_definitions(remoteccm_test_support PUBLIC
  REMOTECCM_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
  REMOTECCM_CLI_PATH="$<TARGET_FILE:remoteccm-cli>")

# remoteccm-cli.exe itself, run as a process (RunCli, ChildProcess) against the host's SQLite
# ODBC driver: killed at each fault point and at random moments, stopped by Ctrl-C in its
# console, collecting from a CDR file folder. The cases that halt a run (SIGSTOP), make links,
# or need the journal, root, a full file system or an SSH server are in the POSIX-only files.
remoteccm_windows_tests(test_cli SOURCES cli/print_command_test.cpp cli/status_command_test.cpp
                        cli/run_command_test.cpp cli/exactly_once_test.cpp
                        cli/hostile_files_test.cpp cli/cdr_files_test.cpp
                        DEPS remoteccm_core remoteccm_test_support)
add_dependencies(test_cli remoteccm-cli remoteccm_console_event)
# Starting, killing and stopping a child (ChildProcess): its Ctrl-C is sent from a small
# program of its own, which leaves its console to attach to the child's.
add_executable(remoteccm_console_event support/win32/console_event.cpp)
target_sources(remoteccm_test_support PRIVATE support/win32/child_process.cpp
               support/win32/process_start.cpp)
target_compile_definitions(remoteccm_test_support PRIVATE
  REMOTECCM_CONSOLE_EVENT_PATH="$<TARGET_FILE:remoteccm_console_event>")
# The companion window: a window of the test's own with a "TransferBox1" child receives a run's
# log lines from remoteccm-cli.exe (needs an X server: xvfb-run). It runs alone: every run of
# the other CLI tests finds that window too, and types its own lines into it.
remoteccm_windows_tests(test_companion_window SERIAL SOURCES windows/companion_window_test.cpp
                        DEPS remoteccm_core remoteccm_test_support)
add_dependencies(test_companion_window remoteccm-cli)
# The registry store, the registry's zone list and the RAS dialer against Wine's own.
remoteccm_windows_tests(test_system_services SOURCES windows/system_services_test.cpp
                        DEPS remoteccm_registry remoteccm_timezone remoteccm_dialup)
# The engine over the host's SQLite ODBC driver, compiled in one unity batch (the Windows lane
# runs in CI on a tight budget). The files that make FIFOs, symlinks or fork stay POSIX-only.
remoteccm_windows_tests(test_retrieval SOURCES retrieval/engine_test.cpp
                        retrieval/engine_clock_test.cpp retrieval/columns_read_test.cpp
                        retrieval/late_arrivals_test.cpp retrieval/statement_builder_test.cpp
                        retrieval/typed_values_test.cpp retrieval/comma_values_test.cpp
                        retrieval/status_file_test.cpp
                        DEPS remoteccm_core remoteccm_cdrgen remoteccm_test_support gmock)
set_target_properties(test_retrieval PROPERTIES UNITY_BUILD ON)
# Profiles, and the database layer's own rules (names, connection strings, generated CDRs).
remoteccm_windows_tests(test_profile SOURCES profile/profile_list_test.cpp
                        profile/profile_load_test.cpp profile/profile_save_test.cpp
                        companion/default_destination_test.cpp
                        DEPS remoteccm_profile remoteccm_companion remoteccm_test_support)
remoteccm_windows_tests(test_db SOURCES platform/db/cdr_generator_test.cpp
                        platform/db/connection_string_test.cpp platform/db/sql_names_test.cpp
                        platform/db/database_test.cpp platform/db/db_commands_test.cpp
                        DEPS remoteccm_db remoteccm_cdrgen remoteccm_test_support gmock)
set_target_properties(test_profile test_db PROPERTIES UNITY_BUILD ON)
# The database tests run remoteccm-cli.exe for --columns and --check.
add_dependencies(test_db remoteccm-cli)
# The CDR-file import into the embedded database, the path of every CallManager 5 and later.
remoteccm_windows_tests(test_cdrfiles SOURCES cdrfiles/cdr_file_reader_test.cpp
                        cdrfiles/cdr_file_writer_test.cpp cdrfiles/cdr_file_import_test.cpp
                        windows/cdr_file_held_open_test.cpp
                        DEPS remoteccm_cdrfiles remoteccm_cdrgen remoteccm_test_support)
set_target_properties(test_cdrfiles PROPERTIES UNITY_BUILD ON)
# The engine's faults and the recovery of a killed run's spool, over the host's SQLite ODBC
# driver; the cases that need FIFOs, links, mounts, fork or Unix sockets stay POSIX-only.
remoteccm_windows_tests(test_retrieval_faults SOURCES retrieval/engine_faults_test.cpp
                        windows/destination_names_test.cpp retrieval/spool_recovery_test.cpp
                        DEPS remoteccm_core remoteccm_test_support ws2_32)
set_target_properties(test_retrieval_faults PROPERTIES UNITY_BUILD ON)
# The Win32-only test files are compiled on their own, so that clang-tidy (scripts/lint
# --windows) finds them in the compile commands.
set_source_files_properties(windows/cdr_file_held_open_test.cpp windows/destination_names_test.cpp
                            PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
