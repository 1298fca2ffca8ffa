// WASI side of the operating-system layer (WebAssembly, preview 1): files
// through wasi-libc, memory from the heap, one thread, no signals.
#include "vl_platform.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Linear memory has no pages to map: blocks come from the heap.  realloc
// cannot grow a big block in place once anything lies after it, and its copy
// writes to fresh pages, which is what a big script's run pays most for.  So a
// growing block (the instruction array's) takes room to grow in from the
// start: memory the module has grown to costs the host nothing until it is
// written.  Every block has a header that says how much room it has.
namespace {

struct alignas(16) PagesHeader {
    size_t room;
};

constexpr size_t GROWING_ROOM = size_t{64} << 20;

PagesHeader* header_of(void* pages) { return static_cast<PagesHeader*>(pages) - 1; }

void* take_pages(size_t room) {
    if (room > SIZE_MAX - sizeof(PagesHeader)) return nullptr;
    auto* header = static_cast<PagesHeader*>(std::malloc(room + sizeof(PagesHeader)));
    if (!header) return nullptr;
    header->room = room;
    return header + 1;
}

}  // namespace

void* vl_platform_pages_alloc(size_t size, VlPagesUse use) {
    if (use == VlPagesUse::growing && size < GROWING_ROOM) {
        if (void* pages = take_pages(GROWING_ROOM)) return pages;
    }
    return take_pages(size);
}

void vl_platform_pages_free(void* pages, size_t) {
    if (pages) std::free(header_of(pages));
}

// Within its room a block grows where it is; past it, it moves to room twice
// the new size, and only the bytes in use are copied (realloc would copy the
// untouched room as well).
void* vl_platform_pages_resize(void* pages, size_t old_size, size_t new_size) {
    if (new_size <= header_of(pages)->room) return pages;
    const size_t room = new_size <= SIZE_MAX / 2 ? 2 * new_size : new_size;
    void* moved = take_pages(room);
    if (!moved) moved = take_pages(new_size);
    if (!moved) return nullptr;
    std::memcpy(moved, pages, old_size < new_size ? old_size : new_size);
    vl_platform_pages_free(pages, old_size);
    return moved;
}

// Memory that the module has grown to is the host's to back; nothing to ask for.
void vl_platform_pages_prepare(void*, size_t) {}

void vl_platform_pages_prepare_soon(void* memory, size_t size) { vl_platform_pages_prepare(memory, size); }

// There are no signals: a write to a pipe whose reader has gone fails already.
void vl_platform_ignore_broken_pipe() {}

// wasi-libc has no realpath: the links are followed one by one, each
// relative one from the directory that holds it.
std::string vl_platform_link_target(const char* path) {
    std::string at(path);
    for (int links = 0; links < 40; links++) {
        struct stat info;
        if (lstat(at.c_str(), &info) != 0) return {};
        if (!S_ISLNK(info.st_mode)) return stat(at.c_str(), &info) == 0 ? at : std::string();
        char next[4096];
        ssize_t length = readlink(at.c_str(), next, sizeof next);
        if (length <= 0 || static_cast<size_t>(length) == sizeof next) return {};
        std::string_view leads(next, static_cast<size_t>(length));
        size_t slash = at.find_last_of('/');
        if (leads.front() == '/' || slash == std::string::npos)
            at.assign(leads);
        else
            at.replace(slash + 1, std::string::npos, leads);
    }
    return {};  // a loop of links
}

// A module does not know the file it was loaded from.
std::string vl_platform_executable_path() { return {}; }

// WASI files have no access rights.
bool vl_platform_copy_permissions(const char*, const char*) { return true; }

// A WASI program starts in '/' whatever directory it was started from.  A
// runner that opens the whole file system says which in PWD, as a shell
// does, and the program moves there, so that a relative path among the
// arguments names what it names to the caller.
char** vl_platform_utf8_arguments(int*, char** argv) {
    if (const char* directory = std::getenv("PWD"); directory && directory[0] == '/') (void)chdir(directory);
    return argv;
}
