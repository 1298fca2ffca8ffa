// Runtime library: the native window.  The title is made well-formed and
// fitted here, so that every window system shows the same text; the window
// itself belongs to the platform layer.
#include "vl_stdlib.h"

#include <cstring>

#include "vl_platform_window.h"
#include "vl_utf8.h"

size_t vl_gui_window_title(const char* title, char (&shown)[VL_GUI_TITLE_BYTES]) {
    static constexpr char replacement[] = "\xEF\xBF\xBD";  // U+FFFD
    size_t length = 0, units = 0;
    const auto* next = reinterpret_cast<const unsigned char*>(title ? title : "");
    while (*next) {
        VlCodePoint point = vl_utf8_next(next);
        if (units + point.units > VL_GUI_TITLE_UNITS) break;
        units += point.units;
        const char* bytes = point.well_formed ? reinterpret_cast<const char*>(next) : replacement;
        size_t count = point.well_formed ? point.bytes : 3;
        std::memcpy(shown + length, bytes, count);
        length += count;
        next += point.bytes;
    }
    shown[length] = '\0';
    return length;
}

int32_t vl_gui_create_window(const char* title, int32_t width, int32_t height) {
    char shown[VL_GUI_TITLE_BYTES];
    vl_gui_window_title(title, shown);
    return vl_platform_window_run(shown, width, height);
}
