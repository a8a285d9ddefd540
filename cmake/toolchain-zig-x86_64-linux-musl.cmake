# Cross build for x86-64 Linux with musl (Alpine's C library), linked
# statically as zig does for musl, so that it runs here natively.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(NUMTOOLS_ZIG_TARGET x86_64-linux-musl)
include(${CMAKE_CURRENT_LIST_DIR}/zig.cmake)
