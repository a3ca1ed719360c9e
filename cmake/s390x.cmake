# A big-endian machine, built and tested only to check the byte order:
# cmake -B build-s390x -DCMAKE_TOOLCHAIN_FILE=cmake/s390x.cmake
set(SKYNOTE_TRIPLE s390x-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(SKYNOTE_QEMU_ARCH s390x)
set(SKYNOTE_DEB_ARCH "")
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
