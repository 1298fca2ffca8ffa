// Win32 side of the operating-system layer.
#include "vl_platform.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <cstdio>

void* vl_platform_pages_alloc(size_t size) {
    return VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
}

void vl_platform_pages_free(void* pages, size_t) {
    VirtualFree(pages, 0, MEM_RELEASE);
}

void* vl_platform_pages_resize(void*, size_t, size_t) {
    return nullptr;  // the arena copies instead
}

void vl_platform_pages_prepare(void*, size_t) {}

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

bool vl_platform_file_identity(const char* path, VlFileIdentity* identity) {
    // Backup semantics open directories too; no access is asked, so a file
    // that others hold open is still identified.
    HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    bool known = GetFileInformationByHandle(file, &info) != 0;
    CloseHandle(file);
    if (!known) return false;
    *identity = {info.dwVolumeSerialNumber,
                 (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
    return true;
}

bool vl_platform_file_sync(std::FILE* file) {
    auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    return handle != INVALID_HANDLE_VALUE && FlushFileBuffers(handle) != 0;
}

bool vl_platform_directory_sync(const char*) {
    return true;  // Windows has no directory flush; its file systems journal the rename
}
