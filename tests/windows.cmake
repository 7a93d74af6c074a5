# The Windows build of the tests, run under Wine through CMAKE_CROSSCOMPILING_EMULATOR.
# The unit suites that need nothing of POSIX run as they are; what the Linux suites do
# with fork, signals and shell pipelines is covered on Windows by tests/windows/e2e.sh,
# which starts the Windows programs through Wine from the host.

set(WIN_COMPAT ${CMAKE_CURRENT_SOURCE_DIR}/windows/compat)

# Each suite is one CTest test: under Wine a process start costs more than most tests.
function(scourex_windows_suite name)
  cmake_parse_arguments(S "" "" "SOURCES;LIBS;DEFS" ${ARGN})
  add_executable(${name} ${S_SOURCES})
  target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR} ${WIN_COMPAT} ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PRIVATE ${S_LIBS} gtest gtest_main gmock)
  target_compile_definitions(${name} PRIVATE SCOUREX_FIXTURES_DIR="${CMAKE_CURRENT_SOURCE_DIR}/fixtures" ${S_DEFS})
  add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
endfunction()

# The job's units: configuration, log (beeps and debug lines through the fake platform),
# purges, the connection layer's texts, the run sequence.
scourex_windows_suite(scourex_tests_windows
  SOURCES
    config/options_test.cpp
    db/connection_text_test.cpp
    db/odbc_diagnostics_test.cpp
    db/odbc_text_test.cpp
    db/sql_server_driver_test.cpp
    driver/run_test.cpp
    log/log_error_test.cpp
    purge/date_string_test.cpp
  LIBS scourex_core)

# The engine: reading every fixture, SQL, indexes, creating and writing files, faults at
# every read, write and sync. Comparisons with mdbtools and node need their host programs
# and stay with the Linux suite.
file(GLOB_RECURSE WIN_JET_TESTS CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/jet/*.cpp)
list(FILTER WIN_JET_TESTS EXCLUDE REGEX
  "/jetsql_test\\.cpp$|/write/journal_test\\.cpp$|/write/lock_test\\.cpp$")
scourex_windows_suite(jet_tests_windows SOURCES ${WIN_JET_TESTS} LIBS jet)

# Helpers the end-to-end script starts beside the programs under test.
add_executable(hold-file windows/hold_file.cpp)
add_executable(hold-installation windows/hold_installation.cpp)
target_link_libraries(hold-installation PRIVATE scourex_core)

# The programs end to end under Wine, driven from the host.
set(SCOUREX_LINUX_JETSQL "" CACHE FILEPATH "jetsql of the Linux build, for the output comparison")
foreach(case typical ansi-options options-encodings shared-log folder-at-log installation-lock exclusive-database odbc jetsql-compare silent-dns)
  add_test(NAME windows_e2e_${case}
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/windows/e2e.sh ${case})
  set_tests_properties(windows_e2e_${case} PROPERTIES
    SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]"
    ENVIRONMENT "WINE=${CMAKE_CROSSCOMPILING_EMULATOR};WIN_BIN=${CMAKE_BINARY_DIR};FIXTURES_DIR=${CMAKE_CURRENT_SOURCE_DIR}/fixtures;LINUX_JETSQL=${SCOUREX_LINUX_JETSQL}")
endforeach()
