# The WASI system for CMake, which knows none (cmake/wasm32-wasi.cmake): a
# program is one WebAssembly module.
set(WASI 1)
set(CMAKE_EXECUTABLE_SUFFIX .wasm)
