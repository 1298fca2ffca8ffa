// The operating-system layer: the only place that names a platform API.
// The Windows build uses Win32; other systems get a small POSIX version.
#pragma once
#include <cstddef>

// Committed read-write pages; null when the system refuses.
[[nodiscard]] void* vl_platform_pages_alloc(size_t size);
// Releases pages from vl_platform_pages_alloc; `size` is what was asked for.
void vl_platform_pages_free(void* pages, size_t size);
// Moves pages to a larger mapping without copying them where the system can;
// null where it cannot (the caller then copies), and the old pages stay.
[[nodiscard]] void* vl_platform_pages_resize(void* pages, size_t old_size, size_t new_size);

// Heap memory (released with free()) for a buffer that is filled front to
// back at once, such as a whole script; large ones are placed so that the
// system can back them with huge pages.  Null when the heap refuses.
[[nodiscard]] void* vl_platform_heap_alloc_large(size_t size);

// Standard output passes bytes unchanged (no line-feed translation).
void vl_platform_stdout_binary();

// Standard input passes bytes unchanged (no carriage-return removal).
void vl_platform_stdin_binary();

// A write to a pipe whose reader has gone fails instead of ending the process.
void vl_platform_ignore_broken_pipe();
