# Cross build for 64-bit Windows with Debian's MinGW-w64 (package g++-mingw-w64-x86-64):
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# The executables link the runtime statically and run on their own. ctest runs them under Wine
# through scripts/wine-run.sh, with a private Wine prefix in the build directory.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

# The posix-threads variant: GCC 12's win32-threads variant has no std::thread or std::mutex.
set(CARTDUMP_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${CARTDUMP_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${CARTDUMP_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${CARTDUMP_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${CARTDUMP_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# libgcc, libstdc++ and winpthread linked in: nothing but Windows' own DLLs is needed at run time.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Windows executables run under Wine, in a prefix of their own beside the build.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh ${CMAKE_BINARY_DIR}/wineprefix)

# Test discovery runs the test programs: leave that to ctest, so that building needs no Wine.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
