// Block copies and fills for the WebAssembly build.  wasi-libc's memcpy,
// memmove and memset are loops over words, and they run for every copy the
// library makes of a big block (an instruction array that grows, realloc, a
// long text): compiled with bulk memory (-mbulk-memory, set for this file
// alone in CMakeLists.txt), each of these is one instruction, memory.copy or
// memory.fill, which the engine runs as its own memmove.  Defined here, they
// take the place of libc's for the whole module.  (The rest of the library
// cannot take -mbulk-memory: clang 14 then fails on wasi-libc's errno.)
#include <cstddef>

// Without bulk memory the builtins below would be calls to themselves.
#ifndef __wasm_bulk_memory__
#error "vl_memory_wasi.cpp is built with -mbulk-memory"
#endif

extern "C" {

void* memcpy(void* destination, const void* source, size_t size) {
    return __builtin_memcpy(destination, source, size);
}

void* memmove(void* destination, const void* source, size_t size) {
    return __builtin_memmove(destination, source, size);
}

void* memset(void* destination, int value, size_t size) {
    return __builtin_memset(destination, value, size);
}

}
