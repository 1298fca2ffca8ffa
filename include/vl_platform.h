// The operating-system layer: the only place that names a platform API.
// The Windows build uses Win32; other systems get a small POSIX version.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

// Committed read-write pages; null when the system refuses.
[[nodiscard]] void* vl_platform_pages_alloc(size_t size);
// Releases pages from vl_platform_pages_alloc; `size` is what was asked for.
void vl_platform_pages_free(void* pages, size_t size);
// Moves pages to a larger mapping without copying them where the system can;
// null where it cannot (the caller then copies), and the old pages stay.
[[nodiscard]] void* vl_platform_pages_resize(void* pages, size_t old_size, size_t new_size);

// Asks the system to back the pages under `size` bytes at `memory` now, in
// one step, instead of one fault per page as they are first written.  Advice
// only: nothing changes where the system cannot.
void vl_platform_pages_prepare(void* memory, size_t size);

// Standard output passes bytes unchanged (no line-feed translation).
void vl_platform_stdout_binary();

// Standard input passes bytes unchanged (no carriage-return removal).
void vl_platform_stdin_binary();

// A write to a pipe whose reader has gone fails instead of ending the process.
void vl_platform_ignore_broken_pipe();

// Which file a path names (volume and file number), following symbolic
// links; false when it names none.
struct VlFileIdentity {
    uint64_t volume;
    uint64_t file;
    bool operator==(const VlFileIdentity&) const = default;
};
[[nodiscard]] bool vl_platform_file_identity(const char* path, VlFileIdentity* identity);

// Flushes what was written to an open file through to the disk; false when
// the system reports an error (the data may then be lost).
[[nodiscard]] bool vl_platform_file_sync(std::FILE* file);

// Makes the renames done in a directory durable; false on an error.
[[nodiscard]] bool vl_platform_directory_sync(const char* directory);
