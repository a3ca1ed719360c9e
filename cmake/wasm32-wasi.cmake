# WebAssembly build with Debian's clang, wasi-libc and the wasm32 libc++:
#   cmake -B build-web -DCMAKE_TOOLCHAIN_FILE=cmake/wasm32-wasi.cmake
# The module is a WASI command; the tests run it under node's WASI, the page
# in web/ runs it in the browser.
set(CMAKE_SYSTEM_NAME WASI)
list(APPEND CMAKE_MODULE_PATH ${CMAKE_CURRENT_LIST_DIR}) # Platform/WASI.cmake
set(CMAKE_SYSTEM_PROCESSOR wasm32)
set(CMAKE_CXX_COMPILER clang++-14)
set(CMAKE_CXX_COMPILER_TARGET wasm32-wasi)
# The target has no C++ exceptions: the stream layer stops the run instead.
set(CMAKE_CXX_FLAGS_INIT "-fno-exceptions")

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(SKYNOTE_NODE node)
if(SKYNOTE_NODE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${SKYNOTE_NODE} --no-warnings ${CMAKE_CURRENT_LIST_DIR}/../web/node-run.mjs)
endif()
