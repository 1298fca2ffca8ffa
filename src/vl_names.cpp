// The name table: open addressing over (hash, length, text).
#include "vl_names.h"

namespace {

constexpr uint32_t FIRST_CAPACITY = 256;

// Names are short: a loop beats a call to memcmp.
bool same_bytes(const char* a, const char* b, size_t length) {
    if (length > 16) return std::memcmp(a, b, length) == 0;
    for (size_t i = 0; i < length; i++)
        if (a[i] != b[i]) return false;
    return true;
}

VlNameTable::Slot* new_slots(VlArena* arena, uint32_t capacity) {
    return static_cast<VlNameTable::Slot*>(vl_arena_must_alloc_zero(arena, capacity * sizeof(VlNameTable::Slot)));
}

void grow(VlNameTable* table) {
    if (table->capacity > UINT32_MAX / 2) vl_out_of_memory();
    uint32_t capacity = table->capacity * 2;
    VlNameTable::Slot* slots = new_slots(table->arena, capacity);
    for (uint32_t i = 0; i < table->capacity; i++) {
        const VlNameTable::Slot& old = table->slots[i];
        if (!old.text) continue;
        uint32_t slot = old.hash & (capacity - 1);
        while (slots[slot].text) slot = (slot + 1) & (capacity - 1);
        slots[slot] = old;
    }
    table->slots = slots;  // the old array stays in the arena, at most as large as the new one
    table->capacity = capacity;
}

}  // namespace

VlNameTable* vl_names_create(VlArena* arena) { return vl_names_create_bounded(arena, 0); }

VlNameTable* vl_names_create_bounded(VlArena* arena, uint32_t max_capacity) {
    auto* table = static_cast<VlNameTable*>(vl_arena_must_alloc_zero(arena, sizeof(VlNameTable)));
    table->arena = arena;
    table->capacity = max_capacity && max_capacity < FIRST_CAPACITY ? max_capacity : FIRST_CAPACITY;
    table->max_capacity = max_capacity;
    table->slots = new_slots(arena, table->capacity);
    return table;
}

char* vl_names_intern(VlNameTable* table, const char* bytes, size_t length) {
    if (length > UINT32_MAX) return vl_arena_must_strndup(table->arena, bytes, length);  // never a word
    const uint32_t hash = vl_hash_bytes(bytes, length);
    uint32_t mask = table->capacity - 1;
    uint32_t slot = hash & mask;
    for (; table->slots[slot].text; slot = (slot + 1) & mask) {
        const VlNameTable::Slot& entry = table->slots[slot];
        if (entry.hash == hash && entry.length == length && same_bytes(entry.text, bytes, length))
            return entry.text;
    }
    char* text = vl_arena_must_strndup(table->arena, bytes, length);
    if ((table->count + 1) * 2 > table->capacity) {
        if (table->capacity == table->max_capacity) return text;  // full: a copy of its own
        grow(table);
        mask = table->capacity - 1;
        slot = hash & mask;
        while (table->slots[slot].text) slot = (slot + 1) & mask;
    }
    table->slots[slot] = VlNameTable::Slot{text, hash, static_cast<uint32_t>(length)};
    table->count++;
    return text;
}
