// WASI has no window system: no window can be opened.
#include "vl_platform_window.h"

int32_t vl_platform_window_run(const char*, int32_t, int32_t) { return 0; }
