// Interned names: one copy of each distinct word in an arena, so that equal
// names are one pointer and the compiler resolves a name by comparing
// pointers instead of bytes.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include "vl_arena.h"

// Hashes names and literal texts eight bytes at a time.
[[nodiscard]] inline uint32_t vl_hash_bytes(const char* text, size_t length) {
    uint64_t hash = 0x9E3779B97F4A7C15ull ^ length;
    for (; length >= 8; text += 8, length -= 8) {
        uint64_t word;
        std::memcpy(&word, text, 8);
        hash = (hash ^ word) * 0xFF51AFD7ED558CCDull;
        hash ^= hash >> 29;
    }
    uint64_t tail = 0;
    for (size_t i = 0; i < length; i++) tail |= uint64_t{static_cast<unsigned char>(text[i])} << (8 * i);
    hash = (hash ^ tail) * 0xC4CEB9FE1A85EC53ull;
    return static_cast<uint32_t>(hash ^ (hash >> 32));
}

struct VlNameTable {
    struct Slot {
        char* text;  // null when empty
        uint32_t hash;
        uint32_t length;
    };
    VlArena* arena;
    Slot* slots;
    uint32_t capacity;      // a power of two, kept at least twice `count`
    uint32_t count;
    uint32_t max_capacity;  // the table grows no further; 0: no limit
};

[[nodiscard]] VlNameTable* vl_names_create(VlArena* arena);
// A table whose slots stop growing at `max_capacity` (a power of two): once
// it is half full, texts not in it get copies of their own, so its memory
// stays bounded however many distinct texts come.
[[nodiscard]] VlNameTable* vl_names_create_bounded(VlArena* arena, uint32_t max_capacity);
// The table's NUL-terminated copy of the `length` bytes at `bytes`, made the
// first time they are seen.  It lives as long as the arena.
[[nodiscard]] char* vl_names_intern(VlNameTable* table, const char* bytes, size_t length);
