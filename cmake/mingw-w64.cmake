# Cross-building for 64-bit Windows with MinGW-w64 (the compilers with POSIX
# threads, so that the standard library's threads and mutexes are there).
#
#   cmake -S . -B build-win64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
#
# Programs and the library are linked statically against the compiler's
# runtime libraries, so they run without extra DLLs; under Wine the tests run
# with `wine` as the cross-compiling emulator.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(SENTREL_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${SENTREL_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SENTREL_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${SENTREL_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${SENTREL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No runtime DLLs beside the programs: libgcc, libstdc++ and winpthread are
# linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

find_program(SENTREL_WINE NAMES wine wine64)
if(SENTREL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${SENTREL_WINE})
endif()
# Test cases are listed when the tests run, not at build time, so that a
# build never has to start Wine.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
