// POSIX side of the operating-system layer.
#include "vl_platform.h"

#include <csignal>
#include <cstdint>
#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

void* vl_platform_pages_alloc(size_t size) {
    void* pages = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pages == MAP_FAILED) return nullptr;
    return pages;
}

void vl_platform_pages_free(void* pages, size_t size) {
    munmap(pages, size);
}

void* vl_platform_pages_resize(void* pages, size_t old_size, size_t new_size) {
#if defined(__linux__)
    void* moved = mremap(pages, old_size, new_size, MREMAP_MAYMOVE);
    if (moved == MAP_FAILED) return nullptr;
    return moved;
#else
    (void)pages, (void)old_size, (void)new_size;
    return nullptr;
#endif
}

void vl_platform_pages_prepare(void* memory, size_t size) {
#if defined(MADV_POPULATE_WRITE)
    static const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    uintptr_t from = reinterpret_cast<uintptr_t>(memory) & ~(page - 1);
    uintptr_t to = (reinterpret_cast<uintptr_t>(memory) + size) & ~(page - 1);
    if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE);
#else
    (void)memory, (void)size;
#endif
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
