// Runtime library: the native window.  The title is made well-formed and
// fitted here, so that every window system shows the same text; the window
// itself belongs to the platform layer.
#include "vl_stdlib.h"

#include <cstring>

#include "vl_platform_window.h"

namespace {

struct CodePoint {
    size_t bytes;      // consumed from the input
    size_t units;      // UTF-16 units it becomes
    bool well_formed;  // false: a malformed sequence, shown as U+FFFD
};

// Reads one code point, or the longest malformed prefix of one (at least one
// byte), from NUL-terminated UTF-8.
CodePoint next_code_point(const unsigned char* text) {
    unsigned char lead = text[0];
    if (lead < 0x80) return {1, 1, true};
    size_t follow;
    unsigned char low = 0x80, high = 0xBF;  // the allowed range of the next byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        follow = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        follow = 2;
        if (lead == 0xE0) low = 0xA0;   // no overlong forms
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        follow = 3;
        if (lead == 0xF0) low = 0x90;   // no overlong forms
        if (lead == 0xF4) high = 0x8F;  // nothing beyond U+10FFFF
    } else {
        return {1, 1, false};
    }
    for (size_t i = 1; i <= follow; i++) {
        if (text[i] < low || text[i] > high) return {i, 1, false};  // the NUL ends here too
        low = 0x80;
        high = 0xBF;
    }
    return {follow + 1, follow == 3 ? 2u : 1u, true};
}

}  // namespace

size_t vl_gui_window_title(const char* title, char (&shown)[VL_GUI_TITLE_BYTES]) {
    static constexpr char replacement[] = "\xEF\xBF\xBD";  // U+FFFD
    size_t length = 0, units = 0;
    const auto* next = reinterpret_cast<const unsigned char*>(title ? title : "");
    while (*next) {
        CodePoint point = next_code_point(next);
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
