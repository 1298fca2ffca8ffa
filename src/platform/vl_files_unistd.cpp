// Files and standard streams through the POSIX calls, which Linux and WASI
// (wasi-libc) both have: built into the POSIX and the WASI flavours of the
// platform layer alike.
#include "vl_platform.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// These streams never translate line feeds.
void vl_platform_stdout_binary() {}

void vl_platform_stdin_binary() {}

std::FILE* vl_platform_file_open(const char* path, const char* mode) { return std::fopen(path, mode); }

VlPathInfo vl_platform_path_info(const char* path) {
    VlPathInfo result{VlPathKind::missing, false, 0};
    struct stat info;
    if (lstat(path, &info) == 0 && S_ISLNK(info.st_mode)) result.link = true;
    if (stat(path, &info) != 0) return result;
    if (S_ISREG(info.st_mode)) {
        result.kind = VlPathKind::regular;
        result.size = static_cast<uint64_t>(info.st_size);
    } else {
        result.kind = S_ISDIR(info.st_mode) ? VlPathKind::directory : VlPathKind::other;
    }
    return result;
}

bool vl_platform_path_taken(const char* path) {
    struct stat info;
    return lstat(path, &info) == 0;
}

bool vl_platform_file_rename(const char* from, const char* to) { return std::rename(from, to) == 0; }

bool vl_platform_file_remove(const char* path) { return unlink(path) == 0; }

bool vl_platform_file_identity(const char* path, VlFileIdentity* identity) {
    struct stat info;
    if (stat(path, &info) != 0) return false;
    *identity = {static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
    return true;
}

bool vl_platform_file_sync(std::FILE* file) { return fsync(fileno(file)) == 0; }

bool vl_platform_directory_sync_of(const char* path) {
    std::string_view file(path);
    size_t slash = file.find_last_of('/');
    std::string directory(slash == std::string_view::npos ? "." : file.substr(0, slash == 0 ? 1 : slash));
    int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    // A file system that cannot sync a directory says EINVAL: nothing to do there.
    bool synced = fsync(fd) == 0 || errno == EINVAL;
    return close(fd) == 0 && synced;
}

void vl_platform_console_detect() {}

bool vl_platform_is_console(std::FILE*) { return false; }

void vl_platform_console_write(std::FILE* stream, const char* bytes, size_t length) {
    std::fwrite(bytes, 1, length, stream);
}

bool vl_platform_read_line(char* buffer, size_t size, std::FILE* input) {
    return size <= INT32_MAX && std::fgets(buffer, static_cast<int>(size), input) != nullptr;
}
