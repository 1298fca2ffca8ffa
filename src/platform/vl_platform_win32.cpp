// Win32 side of the operating-system layer.
#include "vl_platform.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <cstdio>
#include <cstdlib>

void* vl_platform_pages_alloc(size_t size) {
    return VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
}

void vl_platform_pages_free(void* pages, size_t) {
    VirtualFree(pages, 0, MEM_RELEASE);
}

void* vl_platform_pages_resize(void*, size_t, size_t) {
    return nullptr;  // the arena copies instead
}

void* vl_platform_heap_alloc_large(size_t size) {
    return std::malloc(size);
}

void vl_platform_stdout_binary() {
    fflush(stdout);
    _setmode(_fileno(stdout), _O_BINARY);
}

void vl_platform_stdin_binary() {
    _setmode(_fileno(stdin), _O_BINARY);
}

void vl_platform_ignore_broken_pipe() {
    // Windows reports a closed pipe as a failed write already.
}
