// Win32 side of the operating-system layer.  Texts inside the program are
// UTF-8; they become UTF-16 here, at the edge, and only wide calls are made.
#include "vl_platform.h"

#include <windows.h>
#include <shellapi.h>
#include <fcntl.h>
#include <io.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::wstring widen(const char* text) {
    int units = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    if (units <= 1) return {};
    std::wstring wide(static_cast<size_t>(units - 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, -1, wide.data(), units);
    return wide;
}

std::string narrow(const wchar_t* text, size_t length) {
    if (length == 0) return {};
    int count = static_cast<int>(length);
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text, count, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return {};
    std::string utf8(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, count, utf8.data(), bytes, nullptr, nullptr);
    return utf8;
}

// A handle that asks for no access, so that a file others hold open is
// still reached; backup semantics open directories too.
HANDLE open_for_query(const std::wstring& path) {
    return CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

bool is_console(HANDLE handle) {
    DWORD mode;
    return handle != INVALID_HANDLE_VALUE && handle != nullptr && GetConsoleMode(handle, &mode) != 0;
}

// Standard output (0) and standard error (1) when they are consoles, with
// the start of a UTF-8 sequence that the next write completes.
struct ConsoleStream {
    HANDLE handle = nullptr;
    std::string held;
};
ConsoleStream consoles[2];

ConsoleStream* console_of(std::FILE* stream) {
    ConsoleStream* console = stream == stdout ? &consoles[0] : stream == stderr ? &consoles[1] : nullptr;
    return console && console->handle ? console : nullptr;
}

// How many bytes of `text` end in a whole UTF-8 sequence: a lead byte near
// the end whose continuation bytes have not all come is held back.
size_t whole_sequences(const std::string& text) {
    size_t n = text.size();
    for (size_t back = 1; back <= 3 && back <= n; back++) {
        auto byte = static_cast<unsigned char>(text[n - back]);
        if ((byte & 0xC0) == 0x80) continue;  // a continuation byte: look further back
        size_t needs = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
        return needs > back ? n - back : n;
    }
    return n;
}

// False when the console took none of it.
bool write_wide(HANDLE handle, const char* bytes, size_t length) {
    if (length == 0) return true;
    std::wstring wide(length, L'\0');  // never more units than bytes
    int units = MultiByteToWideChar(CP_UTF8, 0, bytes, static_cast<int>(length), wide.data(), static_cast<int>(length));
    bool took_some = false;
    for (const wchar_t* at = wide.data(); units > 0;) {
        DWORD written = 0;
        if (!WriteConsoleW(handle, at, static_cast<DWORD>(units), &written, nullptr) || written == 0) return took_some;
        took_some = true;
        at += written;
        units -= static_cast<int>(written);
    }
    return true;
}

// What is still held at the end is malformed: it shows as U+FFFD, not lost.
void write_held() {
    for (ConsoleStream& console : consoles) {
        if (console.handle) write_wide(console.handle, console.held.data(), console.held.size());
        console.held.clear();
    }
}

}  // namespace

namespace {

// A growing block (the instruction array's) reserves 1 GiB of address space,
// or sixteen times its size when that is more, and commits only what it was
// asked for, so that it grows by committing the pages after it, in place:
// the instructions are not copied into fresh pages at every doubling, as
// they were when a larger block replaced the old one.  Reserved pages cost
// no memory and no commit charge, and a 64-bit process has address space to
// spare.  Large pages (MEM_LARGE_PAGES) are not used: they need the "Lock
// pages in memory" privilege, which accounts do not hold by default, and
// they are committed, zeroed and locked whole when allocated, the half of a
// doubled array that is never written included.
constexpr size_t GROWTH_RESERVE = size_t{1} << 30;
constexpr size_t GROWTH_ROOM = 16;

size_t reservation_for(size_t size, VlPagesUse use) {
    if (use != VlPagesUse::growing || sizeof(void*) < 8 || size > SIZE_MAX / GROWTH_ROOM) return size;
    return size * GROWTH_ROOM > GROWTH_RESERVE ? size * GROWTH_ROOM : GROWTH_RESERVE;
}

}  // namespace

void* vl_platform_pages_alloc(size_t size, VlPagesUse use) {
    size_t reservation = reservation_for(size, use);
    if (reservation > size) {
        if (void* region = VirtualAlloc(nullptr, reservation, MEM_RESERVE, PAGE_NOACCESS)) {
            if (VirtualAlloc(region, size, MEM_COMMIT, PAGE_READWRITE)) return region;
            VirtualFree(region, 0, MEM_RELEASE);
        }
    }
    return VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
}

void vl_platform_pages_free(void* pages, size_t) {
    VirtualFree(pages, 0, MEM_RELEASE);  // the whole reservation
}

// In place when the pages reserved after the committed ones reach
// `new_size`; otherwise null, and the arena copies.
void* vl_platform_pages_resize(void* pages, size_t, size_t new_size) {
    MEMORY_BASIC_INFORMATION committed, after;
    if (!VirtualQuery(pages, &committed, sizeof committed) || committed.AllocationBase != pages ||
        committed.State != MEM_COMMIT)
        return nullptr;
    if (new_size <= committed.RegionSize) return pages;
    char* end = static_cast<char*>(pages) + committed.RegionSize;
    if (!VirtualQuery(end, &after, sizeof after) || after.AllocationBase != pages || after.State != MEM_RESERVE ||
        after.RegionSize < new_size - committed.RegionSize)
        return nullptr;
    return VirtualAlloc(end, new_size - committed.RegionSize, MEM_COMMIT, PAGE_READWRITE) ? pages : nullptr;
}

// Windows commits private pages only as they are first written, and has no
// call that makes them present ahead in one step.
void vl_platform_pages_prepare(void*, size_t) {}

void vl_platform_pages_prepare_soon(void*, size_t) {}

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

std::FILE* vl_platform_file_open(const char* path, const char* mode) {
    return _wfopen(widen(path).c_str(), widen(mode).c_str());
}

VlPathInfo vl_platform_path_info(const char* path) {
    VlPathInfo result{VlPathKind::missing, false, 0};
    std::wstring wide = widen(path);
    DWORD attributes = GetFileAttributesW(wide.c_str());
    result.link = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    HANDLE file = open_for_query(wide);
    if (file == INVALID_HANDLE_VALUE) return result;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info)) {
        result.kind = VlPathKind::other;  // a console, a pipe or a device such as NUL
    } else if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        result.kind = VlPathKind::directory;
    } else {
        result.kind = VlPathKind::regular;
        result.size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    }
    CloseHandle(file);
    return result;
}

bool vl_platform_path_taken(const char* path) {
    return GetFileAttributesW(widen(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string vl_platform_link_target(const char* path) {
    HANDLE file = open_for_query(widen(path));
    if (file == INVALID_HANDLE_VALUE) return {};
    std::wstring target(MAX_PATH, L'\0');
    DWORD length = GetFinalPathNameByHandleW(file, target.data(), static_cast<DWORD>(target.size()), 0);
    if (length >= target.size()) {
        target.resize(length);
        length = GetFinalPathNameByHandleW(file, target.data(), length, 0);
    }
    CloseHandle(file);
    if (length == 0 || length >= target.size()) return {};
    return narrow(target.data(), length);
}

std::string vl_platform_executable_path() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return {};
        if (length < path.size()) return narrow(path.data(), length);
        if (path.size() >= 32768) return {};
        path.resize(path.size() * 2);
    }
}

bool vl_platform_copy_permissions(const char*, const char*) {
    // A new file takes its access rights from the directory it is made in,
    // as the file beside it did.  The read-only flag is left off: a read-only
    // target refuses the rename anyway, and the copy could not be removed.
    return true;
}

bool vl_platform_file_rename(const char* from, const char* to) {
    return MoveFileExW(widen(from).c_str(), widen(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool vl_platform_file_remove(const char* path) { return DeleteFileW(widen(path).c_str()) != 0; }

bool vl_platform_file_identity(const char* path, VlFileIdentity* identity) {
    HANDLE file = open_for_query(widen(path));
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

bool vl_platform_directory_sync_of(const char*) {
    return true;  // Windows has no directory flush; its file systems journal the rename
}

char** vl_platform_utf8_arguments(int* argc, char** argv) {
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide) return argv;
    static std::vector<std::string> texts;
    static std::vector<char*> pointers;
    for (int i = 0; i < count; i++) texts.push_back(narrow(wide[i], std::wcslen(wide[i])));
    LocalFree(wide);
    for (std::string& text : texts) pointers.push_back(text.data());
    pointers.push_back(nullptr);
    *argc = count;
    return pointers.data();
}

void vl_platform_console_detect() {
    // WriteConsoleW needs no code page: the console's own setting, which it
    // shares with the shell, is never changed.
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE), error = GetStdHandle(STD_ERROR_HANDLE);
    consoles[0].handle = is_console(output) ? output : nullptr;
    consoles[1].handle = is_console(error) ? error : nullptr;
    if (consoles[0].handle || consoles[1].handle) std::atexit(write_held);
}

bool vl_platform_is_console(std::FILE* stream) { return console_of(stream) != nullptr; }

void vl_platform_console_write(std::FILE* stream, const char* bytes, size_t length) {
    ConsoleStream* console = console_of(stream);
    if (!console) {
        std::fwrite(bytes, 1, length, stream);
        return;
    }
    std::fflush(stream);  // whatever the runtime still holds goes first
    console->held.append(bytes, length);
    size_t whole = whole_sequences(console->held);
    if (!write_wide(console->handle, console->held.data(), whole)) {
        // A console that refuses characters gets the bytes, as any other
        // stream does, from now on: nothing printed is lost.
        console->handle = nullptr;
        std::fwrite(console->held.data(), 1, console->held.size(), stream);
        console->held.clear();
        return;
    }
    console->held.erase(0, whole);
}

bool vl_platform_read_line(char* buffer, size_t size, std::FILE* input) {
    if (size == 0) return false;
    auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(input)));
    if (!is_console(handle)) return size <= INT32_MAX && std::fgets(buffer, static_cast<int>(size), input);

    // A console line is read whole as UTF-16, then handed out as fgets would
    // hand out the same UTF-8 bytes: at most size - 1 at a time.
    static std::string pending;
    static bool ended = false;
    if (pending.empty()) {
        if (ended) return false;
        std::wstring typed;
        for (;;) {
            wchar_t units[1024];
            DWORD got = 0;
            if (!ReadConsoleW(handle, units, static_cast<DWORD>(std::size(units)), &got, nullptr) || got == 0) {
                ended = true;
                break;
            }
            typed.append(units, got);
            if (typed.back() == L'\n') break;
        }
        // As the runtime reads a console in text mode: Ctrl+Z ends the input,
        // and a line ends in a line feed alone.
        size_t stop = typed.find(L'\x1A');
        if (stop != std::wstring::npos) {
            typed.resize(stop);
            ended = true;
        }
        for (size_t at = typed.find(L"\r\n"); at != std::wstring::npos; at = typed.find(L"\r\n", at)) typed.erase(at, 1);
        pending = narrow(typed.data(), typed.size());
        if (pending.empty()) return false;
    }
    size_t take = pending.find('\n');
    take = take == std::string::npos ? pending.size() : take + 1;
    if (take > size - 1) take = size - 1;
    std::memcpy(buffer, pending.data(), take);
    buffer[take] = '\0';
    pending.erase(0, take);
    return true;
}
