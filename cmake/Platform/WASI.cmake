# The WebAssembly System Interface, for cmake/wasm32-wasi.cmake: programs
# are modules ending in .wasm.
set(CMAKE_EXECUTABLE_SUFFIX .wasm)
