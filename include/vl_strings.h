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
inline constexpr size_t VL_STRINGS_MAX_LENGTH = 511;
// What vl_strings_room leaves free: the longest string, its NUL, and 16 bytes
// that a copy moving 16 bytes at a time may write past them.
inline constexpr size_t VL_STRINGS_ROOM = VL_STRINGS_MAX_LENGTH + 1 + 16;

struct VlStringSpace {
    char* base;
    size_t used;
};

struct VlStringStore {
    uint64_t direct_bytes;  // handed out from the arena so far
    VlStringSpace spaces[2];
    uint8_t active;
};

// Whether `text` lives in one of the two spaces, where a collection may move
// it or write over it; every other string stays where it is while the
// machine's arena lives.
[[nodiscard]] inline bool vl_strings_may_move(const VlStringStore* store, const char* text) {
    for (const VlStringSpace& space : store->spaces)
        if (space.base && text >= space.base && text < space.base + VL_STRINGS_SPACE_BYTES) return true;
    return false;
}

// A NUL-terminated copy of the `length` bytes of `text` (at most 511), kept
// alive as long as one of the `count` registers at `registers` holds it.
// Null when the arena is exhausted.
[[nodiscard]] const char* vl_strings_store(VlStringStore* store, VlArena* arena, VlValue* registers, size_t count,
                                           const char* text, size_t length);

// Where the next string can be written in place, with no copy through a
// buffer: VL_STRINGS_ROOM bytes at the end of the active space, made by a
// collection when the space is full.  A collection
// moves the strings that the registers hold, so read them after this call.
// Null while strings still go straight to the arena, or when the arena has no
// room for the spaces: then build the string elsewhere and vl_strings_store it.
[[nodiscard]] char* vl_strings_room_slow(VlStringStore* store, VlArena* arena, VlValue* registers, size_t count);

[[nodiscard]] inline char* vl_strings_room(VlStringStore* store, VlArena* arena, VlValue* registers, size_t count) {
    VlStringSpace& space = store->spaces[store->active];
    if (space.base && VL_STRINGS_SPACE_BYTES - space.used >= VL_STRINGS_ROOM) return space.base + space.used;
    return vl_strings_room_slow(store, arena, registers, count);
}

// Keeps the `length` bytes written at `room` (from vl_strings_room) as a
// NUL-terminated string.
inline const char* vl_strings_keep(VlStringStore* store, char* room, size_t length) {
    room[length] = '\0';
    store->spaces[store->active].used += vl_round8(length + 1);
    return room;
}
