// Runtime library: whole-file helpers, the one-shot HTTP responder, the
// native window and the assistant sentence.
#pragma once
#include <cstddef>
#include <cstdint>
#include "vl_arena.h"

enum VlReadStatus {
    VL_READ_OK = 0,
    VL_READ_UNREADABLE,  // cannot be opened, is a directory, or a read failed
    VL_READ_TOO_LARGE,   // 2 GiB or more
    VL_READ_NO_MEMORY,
};

// Largest file a reader accepts: sizes must fit a signed 32-bit count.
inline constexpr uint64_t VL_FILE_MAX_SIZE = 0x7FFFFFFFull;

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
int32_t vl_gui_create_window(const char* title, int32_t width, int32_t height);
[[nodiscard]] char* vl_ai_prompt(VlArena* arena, const char* query);

// Replaces a file's contents atomically: the bytes go to a temporary file in
// the same directory, which then takes the file's place with its permissions.
// On any failure the original file is left as it was and false is returned.
[[nodiscard]] bool vl_file_replace(const char* path, const char* bytes, size_t length);
