# Toolchain for the Windows build: cross-compiles with MinGW-w64 (64-bit, the
# -posix thread model that std::thread and GoogleTest need) and runs the test
# programs under Wine, so that a plain add_test(NAME x COMMAND x) works.
#   cmake -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -B build/win
# ctest then needs a Wine session: source scripts/wine-env.sh first.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER   ${MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${MINGW_TRIPLE}-windres)

# Headers and libraries come from the MinGW sysroot only; programs (the
# generators, wine) from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs (and gtest_discover_tests, if used) run through Wine. The
# environment (WINEPREFIX, WINEDEBUG, WINEDLLOVERRIDES) comes from the caller.
find_program(VANTREL_WINE NAMES wine wine-stable wine64
             PATHS /usr/bin /usr/local/bin /opt/wine-stable/bin)
if(VANTREL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VANTREL_WINE})
endif()
