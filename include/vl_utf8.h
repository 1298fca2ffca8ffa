// The one UTF-8 decoder: what the window's title and the language server's
// positions agree on.
#pragma once
#include <cstddef>

struct VlCodePoint {
    size_t bytes;      // consumed from the input
    size_t units;      // UTF-16 units it becomes
    bool well_formed;  // false: a malformed sequence, shown as U+FFFD
};

// Reads one code point, or the longest malformed prefix of one (at least one
// byte), from NUL-terminated UTF-8: overlong forms, surrogates and values
// past U+10FFFF are malformed.  A NUL ends a sequence like any other byte
// out of range, so the read never passes the terminator.
[[nodiscard]] constexpr VlCodePoint vl_utf8_next(const unsigned char* text) {
    unsigned char lead = text[0];
    if (lead < 0x80) return {1, 1, true};
    size_t follow = 0;
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
        if (text[i] < low || text[i] > high) return {i, 1, false};
        low = 0x80;
        high = 0xBF;
    }
    return {follow + 1, follow == 3 ? 2u : 1u, true};
}
