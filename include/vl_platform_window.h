// The native window of the runtime library, one implementation per window
// system: Win32 on Windows, X11 elsewhere; WASI has none.
#pragma once
#include <cstdint>

// Opens one visible top-level window of `width` x `height` pixels titled
// `title` (well-formed UTF-8 of at most 255 UTF-16 units) and blocks until it
// is closed.  1 once it was closed; 0 at once when no window can be opened
// (no window system, no display), and 0 when the window system fails while
// the window is open.
[[nodiscard]] int32_t vl_platform_window_run(const char* title, int32_t width, int32_t height);
