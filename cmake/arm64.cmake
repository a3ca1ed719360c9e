# 64-bit ARM (Raspberry Pi 3 and later with a 64-bit system):
# cmake -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/arm64.cmake
set(SKYNOTE_TRIPLE aarch64-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(SKYNOTE_QEMU_ARCH aarch64)
set(SKYNOTE_DEB_ARCH arm64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
