# Cross build for aarch64 macOS with zig's bundled libc++ and macOS headers and
# libraries: built and linked here, never run (nothing here runs Mach-O).
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(NUMTOOLS_ZIG_TARGET aarch64-macos)
include(${CMAKE_CURRENT_LIST_DIR}/zig.cmake)
