# 32-bit ARM with hardware floating point (Raspberry Pi OS 32-bit); char is
# unsigned there: cmake -B build-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/armhf.cmake
set(SKYNOTE_TRIPLE arm-linux-gnueabihf)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(SKYNOTE_QEMU_ARCH arm)
set(SKYNOTE_DEB_ARCH armhf)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
