# The tests that apply to Windows, for a MinGW build: the end-to-end suites
# are built for this machine (GoogleTest has no MinGW build here) and run
# against the .exe files through the emulator, Wine, just as the cross-check
# runs them against programs built for other architectures.
include(ExternalProject)
ExternalProject_Add(host_tests
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${PROJECT_BINARY_DIR}/host
  CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release -DNUMTOOLS_REQUIRE_TESTS=ON
  BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target integral_table_tests smooth_convert_tests
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON
  DEPENDS integral_table smooth_convert smooth_convert_tiny_chunks)

# Stand-ins that run each .exe through the emulator, as the suites (and the
# bench's runner, see the README) expect a program they can start.
list(JOIN CMAKE_CROSSCOMPILING_EMULATOR " " emulator)
set(wine_environment WINEDEBUG=-all WINEPREFIX=${PROJECT_BINARY_DIR}/wine-prefix NUMTOOLS_TEST_CRLF=1)
foreach(program integral_table smooth_convert smooth_convert_tiny_chunks smooth_convert_baseline smooth_convert_floor)
  file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/wine/${program}
    CONTENT "#!/bin/sh\nexec ${emulator} '$<TARGET_FILE:${program}>' \"$@\"\n"
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endforeach()
foreach(program integral_table smooth_convert smooth_convert_tiny_chunks)
  string(TOUPPER ${program} variable)
  string(REPLACE SMOOTH_CONVERT_TINY_CHUNKS SMOOTH_CONVERT_TINY variable ${variable})
  list(APPEND wine_environment NUMTOOLS_TEST_${variable}=${PROJECT_BINARY_DIR}/wine/${program})
endforeach()

# The first run makes Wine's prefix, and says so on standard error.
add_test(NAME wine.prefix COMMAND integral_table --version)
# Whole suites: a test that cannot run under Wine knows it, and says so.
add_test(NAME wine.integral_table COMMAND ${PROJECT_BINARY_DIR}/host/tests/integral_table_tests --gtest_brief=1)
add_test(NAME wine.smooth_convert COMMAND ${PROJECT_BINARY_DIR}/host/tests/smooth_convert_tests --gtest_brief=1)
set_tests_properties(wine.prefix PROPERTIES ENVIRONMENT "${wine_environment}" FIXTURES_SETUP wine)
set_tests_properties(wine.integral_table wine.smooth_convert PROPERTIES
  ENVIRONMENT "${wine_environment}" FIXTURES_REQUIRED wine)
