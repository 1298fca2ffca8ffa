# Cross-build for WebAssembly (wasm32, WASI preview 1) with Debian's clang 14,
# wasi-libc and libc++.  The target has no exceptions and no threads.  Programs
# run under node (scripts/wasi-run).
set(CMAKE_SYSTEM_NAME WASI)
set(CMAKE_SYSTEM_PROCESSOR wasm32)
# CMake knows no such system: cmake/Platform/WASI.cmake says what it is.
list(APPEND CMAKE_MODULE_PATH ${CMAKE_CURRENT_LIST_DIR})
set(CMAKE_C_COMPILER clang-14)
set(CMAKE_CXX_COMPILER clang++-14)
set(CMAKE_C_COMPILER_TARGET wasm32-wasi)
set(CMAKE_CXX_COMPILER_TARGET wasm32-wasi)
set(CMAKE_SYSROOT /usr)
set(CMAKE_CXX_FLAGS_INIT -fno-exceptions)
# The stack comes first in memory, so that running past it traps instead of
# overwriting the data; the parser's nesting limit is sized for 1 MiB.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld -Wl,--stack-first -Wl,-z,stack-size=1048576")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wasi-run)
