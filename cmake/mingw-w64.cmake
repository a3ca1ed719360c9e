# Cross build for 64-bit Windows with Debian's MinGW-w64 (the posix thread
# model): cmake -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(SKYNOTE_MINGW_PREFIX x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${SKYNOTE_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SKYNOTE_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${SKYNOTE_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${SKYNOTE_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One file to copy: the C and C++ runtimes and the thread library go into
# the .exe, so it needs no DLL beyond Windows' own.
# No link time in the .exe header, so that the same sources give the same bytes.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -Wl,--no-insert-timestamp")

# The tests run the .exe under wine on the build machine, found when they
# run (cmake/wine.sh), not when the folder is configured.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine.sh)
