// Runtime library: the whole-file helpers (vl_files.h), the one-shot HTTP
// responder (vl_http), the native window (vl_window) and the assistant
// sentence (vl_assistant).
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include "vl_arena.h"
#include "vl_files.h"

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
