// Concatenation results: straight from the arena at first, then in two
// spaces with the registers as the only roots.
#include "vl_strings.h"

#include <cstring>

namespace {

bool inside(const VlStringSpace& space, const char* text) {
    return text >= space.base && text < space.base + VL_STRINGS_SPACE_BYTES;
}

char* place(VlStringSpace& space, const char* text, size_t length) {
    char* copy = space.base + space.used;
    std::memcpy(copy, text, length);
    copy[length] = '\0';
    space.used += vl_round8(length + 1);
    return copy;
}

// Copies every string that a register holds from the active space to the
// other one, each once however many registers share it, and makes the other
// space active.
void collect(VlStringStore* store, VlValue* registers, size_t count) {
    VlStringSpace& from = store->spaces[store->active];
    VlStringSpace& to = store->spaces[store->active ^ 1];
    to.used = 0;
    struct Moved {
        const char* from;
        const char* to;
    };
    Moved moved[512] = {};  // open addressing over at most 256 live strings
    for (size_t r = 0; r < count; r++) {
        VlValue& value = registers[r];
        if (value.type != VALUE_STRING || !inside(from, value.string)) continue;
        size_t slot = (reinterpret_cast<uintptr_t>(value.string) >> 3) % 512;
        while (moved[slot].from && moved[slot].from != value.string) slot = (slot + 1) % 512;
        if (!moved[slot].from) moved[slot] = {value.string, place(to, value.string, std::strlen(value.string))};
        value.string = moved[slot].to;
    }
    store->active ^= 1;
}

// Both spaces or neither: a collection needs the other one.
bool make_spaces(VlStringStore* store, VlArena* arena) {
    if (store->spaces[0].base) return true;
    char* first = static_cast<char*>(vl_arena_alloc(arena, VL_STRINGS_SPACE_BYTES));
    char* second = first ? static_cast<char*>(vl_arena_alloc(arena, VL_STRINGS_SPACE_BYTES)) : nullptr;
    if (!second) return false;
    store->spaces[0].base = first;
    store->spaces[1].base = second;
    return true;
}

// The active space, collected first when it has fewer than `need` bytes
// free; null when it still has not (which 256 live strings of at most 512
// bytes, an eighth of a space, never cause).
VlStringSpace* space_with_room(VlStringStore* store, VlValue* registers, size_t count, size_t need) {
    if (VL_STRINGS_SPACE_BYTES - store->spaces[store->active].used < need) collect(store, registers, count);
    VlStringSpace& space = store->spaces[store->active];
    return VL_STRINGS_SPACE_BYTES - space.used >= need ? &space : nullptr;
}

}  // namespace

char* vl_strings_room_slow(VlStringStore* store, VlArena* arena, VlValue* registers, size_t count) {
    if (store->direct_bytes < VL_STRINGS_DIRECT_BYTES || !make_spaces(store, arena)) return nullptr;
    VlStringSpace* space = space_with_room(store, registers, count, VL_STRINGS_ROOM);
    return space ? space->base + space->used : nullptr;
}

const char* vl_strings_store(VlStringStore* store, VlArena* arena, VlValue* registers, size_t count,
                             const char* text, size_t length) {
    size_t need = vl_round8(length + 1);
    if (store->direct_bytes < VL_STRINGS_DIRECT_BYTES) {
        store->direct_bytes += need;
        return vl_arena_strndup(arena, text, length);
    }
    if (!make_spaces(store, arena)) return nullptr;
    VlStringSpace* space = space_with_room(store, registers, count, need);
    return space ? place(*space, text, length) : vl_arena_strndup(arena, text, length);
}
