// POSIX side of the operating-system layer.
#include "vl_platform.h"

#include <csignal>
#include <sys/mman.h>

void* vl_platform_pages_alloc(size_t size) {
    void* pages = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return pages == MAP_FAILED ? nullptr : pages;
}

void vl_platform_pages_free(void* pages, size_t size) {
    munmap(pages, size);
}

void* vl_platform_pages_resize(void* pages, size_t old_size, size_t new_size) {
#if defined(__linux__)
    void* moved = mremap(pages, old_size, new_size, MREMAP_MAYMOVE);
    return moved == MAP_FAILED ? nullptr : moved;
#else
    (void)pages, (void)old_size, (void)new_size;
    return nullptr;
#endif
}

void vl_platform_stdout_binary() {
    // POSIX streams never translate line feeds.
}

void vl_platform_stdin_binary() {}

void vl_platform_ignore_broken_pipe() {
    std::signal(SIGPIPE, SIG_IGN);
}
