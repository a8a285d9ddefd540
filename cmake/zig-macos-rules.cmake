# Read after CMake's own rules for Apple's clang: zig's linker takes no -v.
set(CMAKE_C_VERBOSE_FLAG "-v")
set(CMAKE_CXX_VERBOSE_FLAG "-v")
