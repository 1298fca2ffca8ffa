// POSIX side of the operating-system layer.
#include "vl_platform.h"

#include <csignal>
#include <cstdlib>
#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

// Large blocks (the instruction array, big arena blocks) are filled front to
// back: huge pages take one fault where small ones take 512.
constexpr size_t HUGE_PAGE = size_t{2} << 20;

void* vl_platform_pages_alloc(size_t size) {
    void* pages = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pages == MAP_FAILED) return nullptr;
#if defined(MADV_HUGEPAGE)
    if (size >= HUGE_PAGE) madvise(pages, size, MADV_HUGEPAGE);  // advice only: failure changes nothing
#endif
    return pages;
}

void vl_platform_pages_free(void* pages, size_t size) {
    munmap(pages, size);
}

void* vl_platform_pages_resize(void* pages, size_t old_size, size_t new_size) {
#if defined(__linux__)
    void* moved = mremap(pages, old_size, new_size, MREMAP_MAYMOVE);
    if (moved == MAP_FAILED) return nullptr;
#if defined(MADV_HUGEPAGE)
    if (new_size >= HUGE_PAGE) madvise(moved, new_size, MADV_HUGEPAGE);
#endif
    return moved;
#else
    (void)pages, (void)old_size, (void)new_size;
    return nullptr;
#endif
}

void* vl_platform_heap_alloc_large(size_t size) {
    if (size < HUGE_PAGE) return std::malloc(size);
    void* memory = nullptr;
    if (posix_memalign(&memory, HUGE_PAGE, size) != 0) return nullptr;
#if defined(MADV_HUGEPAGE)
    madvise(memory, size & ~(HUGE_PAGE - 1), MADV_HUGEPAGE);
#endif
    return memory;
}

void vl_platform_stdout_binary() {
    // POSIX streams never translate line feeds.
}

void vl_platform_stdin_binary() {}

void vl_platform_ignore_broken_pipe() {
    std::signal(SIGPIPE, SIG_IGN);
}

bool vl_platform_file_identity(const char* path, VlFileIdentity* identity) {
    struct stat info;
    if (stat(path, &info) != 0) return false;
    *identity = {static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
    return true;
}

bool vl_platform_file_sync(std::FILE* file) {
    return fsync(fileno(file)) == 0;
}

bool vl_platform_directory_sync(const char* directory) {
    int fd = open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    // A file system that cannot sync a directory says EINVAL: nothing to do there.
    bool synced = fsync(fd) == 0 || errno == EINVAL;
    return close(fd) == 0 && synced;
}
