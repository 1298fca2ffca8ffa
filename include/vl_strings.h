// Where the machine keeps the strings that concatenation makes.
#pragma once
#include <cstddef>
#include <cstdint>
#include "vl_arena.h"
#include "vl_value.h"

// A program that joins strings in a long run makes a new string every time,
// and only those that registers still hold are alive.  The first
// VL_STRINGS_DIRECT_BYTES go straight into the arena, as a short program's
// few strings should; after that they live in two spaces that take turns: when
// the active one is full, the strings that registers hold are copied to the
// other and the full one is reused.  So memory stays bounded by what 256
// registers can hold, however many strings a program makes.
inline constexpr uint64_t VL_STRINGS_DIRECT_BYTES = 64 * 1024;
inline constexpr size_t VL_STRINGS_SPACE_BYTES = 1024 * 1024;

struct VlStringSpace {
    char* base;
    size_t used;
};

struct VlStringStore {
    uint64_t direct_bytes;  // handed out from the arena so far
    VlStringSpace spaces[2];
    uint8_t active;
};

// A NUL-terminated copy of the `length` bytes of `text` (at most 511), kept
// alive as long as one of the `count` registers at `registers` holds it.
// Null when the arena is exhausted.
[[nodiscard]] const char* vl_strings_store(VlStringStore* store, VlArena* arena, VlValue* registers, size_t count,
                                           const char* text, size_t length);
