# Cross build for Linux on another processor with Debian's cross compilers;
# the tests run under qemu-user.  Included by one small file per machine,
# which sets SKYNOTE_TRIPLE, CMAKE_SYSTEM_PROCESSOR, SKYNOTE_QEMU_ARCH and
# SKYNOTE_DEB_ARCH (empty: no package).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${SKYNOTE_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${SKYNOTE_TRIPLE}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${SKYNOTE_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# GoogleTest is built from Debian's sources for the target.
set(SKYNOTE_GTEST_SOURCE /usr/src/googletest)

find_program(SKYNOTE_QEMU qemu-${SKYNOTE_QEMU_ARCH})
if(SKYNOTE_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${SKYNOTE_QEMU} -L /usr/${SKYNOTE_TRIPLE})
endif()
