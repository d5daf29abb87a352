# Cross-build for 64-bit Windows with Debian's mingw-w64 (POSIX thread model, for std::thread and
# std::mutex). The runtime is linked statically so that the programs run on a bare Windows.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(FG_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${FG_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${FG_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${FG_MINGW_TRIPLET}-windres)

# Libraries and headers come from the mingw sysroot only; programs (cmake, the compilers) from the
# build machine. Header-only packages of the build machine are brought in by the project itself.
set(CMAKE_FIND_ROOT_PATH /usr/${FG_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

# Test programs run under wine when one is installed.
find_program(FG_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(FG_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${FG_WINE})
endif()
