// Runtime library: whole-file reads, writes and atomic replacement, by
// UTF-8 path.  Nothing here prints; callers say what went wrong.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include "vl_arena.h"
#include "vl_file_identity.h"

enum VlReadStatus {
    VL_READ_OK = 0,
    VL_READ_UNREADABLE,  // cannot be opened, is a directory, or a read failed
    VL_READ_TOO_LARGE,   // 2 GiB or more
    VL_READ_NO_MEMORY,
};

// Largest file a reader accepts: sizes must fit a signed 32-bit count.
inline constexpr uint64_t VL_FILE_MAX_SIZE = 0x7FFFFFFFull;

// Opens a file for reading as every reader here does: refused (null, with
// *status saying why) when it is a directory, cannot be opened, or is a
// regular file of more than VL_FILE_MAX_SIZE bytes, which the file system
// tells without a byte being read.  *size is the regular file's size, only
// a hint since the file may change, or -1 for pipes and devices.
[[nodiscard]] std::FILE* vl_file_open_read(const char* path, long long* size, VlReadStatus* status);

// Reads a whole file (regular, pipe or device) into a buffer obtained from
// `reserve(context, size + 1)`; the buffer ends with a NUL at index *length.
// Non-seekable inputs are read whole with growing buffers.
[[nodiscard]] char* vl_file_read_whole(const char* path, void* (*reserve)(void* context, size_t size),
                                       void* context, size_t* length, VlReadStatus* status);

// The same with a heap buffer that the caller frees with free().
[[nodiscard]] char* vl_file_read_heap(const char* path, size_t* length, VlReadStatus* status);

// The same in the arena, with the length, so that a NUL byte inside the file
// can be told from its end.
[[nodiscard]] char* vl_file_read_sized(VlArena* arena, const char* path, size_t* length, VlReadStatus* status);

[[nodiscard]] char* vl_file_read(VlArena* arena, const char* path);
[[nodiscard]] bool vl_file_write(const char* path, const char* text);
[[nodiscard]] bool vl_file_append(const char* path, const char* text);
[[nodiscard]] bool vl_file_exists(const char* path);

// Replaces a file's contents atomically and durably: the bytes go to a
// temporary file in the same directory, are flushed to the disk, and the
// file then takes the target's place with its permissions; the directory is
// flushed after the rename.  A device or a pipe is written in place instead.
// On a failure before the rename the original file is left as it was; false
// after it means the new contents are in place but may not survive a crash.
[[nodiscard]] bool vl_file_replace(const char* path, const char* bytes, size_t length);

enum VlReplaceResult { VL_REPLACE_OK, VL_REPLACE_FAILED, VL_REPLACE_CHANGED };

// The same for a read-modify-write: when `expected` is given and the path no
// longer names that file (removed, or replaced by another program meanwhile),
// nothing is written and the result is VL_REPLACE_CHANGED.
[[nodiscard]] VlReplaceResult vl_file_replace_same(const char* path, const char* bytes, size_t length,
                                                   const VlFileIdentity* expected);

// Which file `path` names now; false when none.
[[nodiscard]] bool vl_file_identity(const char* path, VlFileIdentity* identity);
