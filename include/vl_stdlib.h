// Runtime library: whole-file helpers (vl_files), the one-shot HTTP
// responder (vl_http), the native window (vl_window) and the assistant
// sentence (vl_assistant).
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include "vl_arena.h"
#include "vl_platform.h"

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

bool vl_http_server_start(void* context, int32_t port, const char* body);

// Opens a visible window with a UTF-8 title and blocks until it is closed:
// 1 then, 0 at once when no window can be opened (no window system or display).
int32_t vl_gui_create_window(const char* title, int32_t width, int32_t height);

// A title bar holds at most 255 UTF-16 units; their UTF-8 form needs at most
// three bytes a unit.
inline constexpr size_t VL_GUI_TITLE_UNITS = 255;
inline constexpr size_t VL_GUI_TITLE_BYTES = 3 * VL_GUI_TITLE_UNITS + 1;

// The title a window shows for `title` (null: empty), written to `shown`:
// well-formed UTF-8 in which every malformed sequence became U+FFFD, cut
// after the last whole code point within VL_GUI_TITLE_UNITS units.  Returns
// its length in bytes.
size_t vl_gui_window_title(const char* title, char (&shown)[VL_GUI_TITLE_BYTES]);

[[nodiscard]] char* vl_ai_prompt(VlArena* arena, const char* query);

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
