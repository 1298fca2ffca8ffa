// The operating-system layer: the only place that names a platform API.
// The Windows build uses Win32, the WebAssembly one WASI; other systems get a
// small POSIX version.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include "vl_file_identity.h"

// What a block of pages is for: `growing` is one that vl_platform_pages_resize
// will enlarge (the instruction array's).
enum class VlPagesUse : uint8_t { fixed, growing };

// Committed read-write pages; null when the system refuses.  Where the
// system offers it, a large block comes in large pages (Linux) and a growing
// one with room reserved to grow in place (Windows): the first write to a
// fresh page is what a big script's run pays most for its memory.
[[nodiscard]] void* vl_platform_pages_alloc(size_t size, VlPagesUse use = VlPagesUse::fixed);
// Releases pages from vl_platform_pages_alloc; `size` is what was asked for.
void vl_platform_pages_free(void* pages, size_t size);
// Grows pages to `new_size` without copying them where the system can (in
// place or by moving the mapping); null where it cannot (the caller then
// copies), and the old pages stay.
[[nodiscard]] void* vl_platform_pages_resize(void* pages, size_t old_size, size_t new_size);

// Asks the system to back the pages under `size` bytes at `memory` now, in
// one step, instead of one fault per page as they are first written.  Advice
// only: nothing changes where the system cannot.
void vl_platform_pages_prepare(void* memory, size_t size);
// The same, done by a thread of the layer's own while the caller goes on:
// for pages that will be written a little later.  Resizing or releasing the
// pages forgets what was asked for them.  Where there is no spare processor
// (or no thread), the pages are prepared before it returns.
void vl_platform_pages_prepare_soon(void* memory, size_t size);

// Standard output passes bytes unchanged (no line-feed translation).
void vl_platform_stdout_binary();

// Standard input passes bytes unchanged (no carriage-return removal).
void vl_platform_stdin_binary();

// A write to a pipe whose reader has gone fails instead of ending the process.
void vl_platform_ignore_broken_pipe();

// ---- Files by name ----
// Every path here is UTF-8, as every text inside the program is.  Windows
// converts it to UTF-16 and uses the wide calls, so that any name a user
// can type (an accented account name, Greek, CJK, an emoji) works; other
// systems pass the bytes unchanged.

// fopen with a UTF-8 path; `mode` as fopen's ("rb", "wb", "ab").
[[nodiscard]] std::FILE* vl_platform_file_open(const char* path, const char* mode);

enum class VlPathKind : uint8_t { missing, regular, directory, other };

// What a path names, following symbolic links.  `size` is known for a
// regular file only; `link` says whether the path itself is a symbolic link.
struct VlPathInfo {
    VlPathKind kind;
    bool link;
    uint64_t size;
};
[[nodiscard]] VlPathInfo vl_platform_path_info(const char* path);

// Whether anything (a dangling link included) has this name.
[[nodiscard]] bool vl_platform_path_taken(const char* path);

// The file a symbolic link leads to in the end, as a UTF-8 path; empty when
// it leads nowhere.
[[nodiscard]] std::string vl_platform_link_target(const char* path);

// The running program's own file, as a UTF-8 path; empty when unknown.
[[nodiscard]] std::string vl_platform_executable_path();

// Gives `to` the access rights of `from`; false on an error.
[[nodiscard]] bool vl_platform_copy_permissions(const char* from, const char* to);

// Renames `from` to `to`, replacing a file already there; false on an error.
[[nodiscard]] bool vl_platform_file_rename(const char* from, const char* to);

// Removes a file; false when it could not be removed.
bool vl_platform_file_remove(const char* path);

// Which file a path names, following symbolic links; false when it names none.
[[nodiscard]] bool vl_platform_file_identity(const char* path, VlFileIdentity* identity);

// Flushes what was written to an open file through to the disk; false when
// the system reports an error (the data may then be lost).
[[nodiscard]] bool vl_platform_file_sync(std::FILE* file);

// Makes a rename into the directory that holds `path` durable; false on an error.
[[nodiscard]] bool vl_platform_directory_sync_of(const char* path);

// ---- Command line and console ----

// The program's arguments as UTF-8.  Windows rebuilds them, and *argc, from
// the wide command line (its `argv` holds the ANSI code page's lossy copy);
// other systems keep `argv`.  The result lives until the program ends.
// WASI, whose programs start at '/', first moves to the caller's directory
// when PWD names one, so that relative paths among them mean the same.
[[nodiscard]] char** vl_platform_utf8_arguments(int* argc, char** argv);

// Learns whether standard output and standard error are consoles, once,
// before anything is printed.  Until then neither counts as one.
void vl_platform_console_detect();

// Whether `stream` (standard output or standard error) is a console that
// must be given characters rather than bytes: only ever on Windows, whose
// console shows each byte of a UTF-8 sequence on its own.
[[nodiscard]] bool vl_platform_is_console(std::FILE* stream);

// Writes UTF-8 text to such a console as UTF-16.  A sequence cut at the end
// of one write is completed by the next.
void vl_platform_console_write(std::FILE* stream, const char* bytes, size_t length);

// Reads one line as fgets does (up to `size` - 1 bytes, the line feed kept).
// From a Windows console the characters typed arrive as UTF-8 and the line
// ends in a line feed alone; any other input is read as fgets reads it.  False
// at the end of the input or on an error.
[[nodiscard]] bool vl_platform_read_line(char* buffer, size_t size, std::FILE* input);
