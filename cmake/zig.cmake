# zig's C and C++ compilers (clang, with libc++ and each target's C library
# bundled) for NUMTOOLS_ZIG_TARGET, set by the toolchain file that includes
# this one: the zig on PATH or in NUMTOOLS_ZIG_DIR, else the one .ci/run
# installs (zig 0.11.0).  GoogleTest asks for C too.
find_program(NUMTOOLS_ZIG zig HINTS ENV NUMTOOLS_ZIG_DIR $ENV{HOME}/.cache/numtools/zig-0.11.0 REQUIRED)
set(CMAKE_C_COMPILER ${NUMTOOLS_ZIG} cc -target ${NUMTOOLS_ZIG_TARGET})
set(CMAKE_CXX_COMPILER ${NUMTOOLS_ZIG} c++ -target ${NUMTOOLS_ZIG_TARGET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
if(CMAKE_SYSTEM_NAME STREQUAL "Darwin")
  # CMake asks Apple's linker to be verbose (-Wl,-v), which zig's refuses;
  # and it wants install_name_tool, which LLVM's stands in for.
  set(CMAKE_USER_MAKE_RULES_OVERRIDE ${CMAKE_CURRENT_LIST_DIR}/zig-macos-rules.cmake)
  find_program(CMAKE_INSTALL_NAME_TOOL NAMES install_name_tool llvm-install-name-tool llvm-install-name-tool-14 REQUIRED)
endif()
