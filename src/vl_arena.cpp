// The arena: bump allocation inside large blocks, released all at once.
#include "vl_arena.h"
#include "vl_output.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "vl_fault.h"
#include "vl_platform.h"

enum : uint64_t { VL_BLOCK_PAGES = 1, VL_BLOCK_HEAP = 2 };

static constexpr size_t HEADER = sizeof(VlArenaBlock);
static_assert(HEADER % 8 == 0, "block data must start 8-aligned");

// Pages first, the heap when the page allocator refuses.  The block
// remembers its origin so that it goes back to the allocator that made it.
static VlArenaBlock* new_block(size_t capacity, VlPagesUse use = VlPagesUse::fixed) {
    if (capacity > SIZE_MAX - HEADER || vl_fault_refuse_memory()) return nullptr;
    size_t bytes = capacity + HEADER;
    uint64_t origin = VL_BLOCK_PAGES;
    void* memory = vl_platform_pages_alloc(bytes, use);
    if (!memory) {
        memory = std::malloc(bytes);
        origin = VL_BLOCK_HEAP;
    }
    if (!memory) return nullptr;
    auto* block = static_cast<VlArenaBlock*>(memory);
    block->next = nullptr;
    block->capacity = capacity;
    block->used = 0;
    block->origin = origin;
    return block;
}

static void release_block(VlArenaBlock* block) {
    if (block->origin == VL_BLOCK_PAGES)
        vl_platform_pages_free(block, static_cast<size_t>(block->capacity) + HEADER);
    else
        std::free(block);
}

VlArena* vl_arena_create(size_t min_block) {
    if (vl_fault_refuse_memory()) return nullptr;
    auto* arena = static_cast<VlArena*>(std::malloc(sizeof(VlArena)));
    if (!arena) return nullptr;
    size_t capacity = min_block < VL_ARENA_MIN_BLOCK ? VL_ARENA_MIN_BLOCK : min_block;
    VlArenaBlock* block = new_block(capacity);
    if (!block) {
        std::free(arena);
        return nullptr;
    }
    arena->first = arena->current = block;
    arena->total_capacity = capacity;
    return arena;
}

// Serves `rounded` bytes (a multiple of 8) from the current block, from a
// block rewound by a reset, or from a new block linked after the current one.
static void* bump(VlArena* arena, size_t rounded) {
    VlArenaBlock* current = arena->current;
    if (rounded <= current->capacity - current->used) {
        void* result = reinterpret_cast<char*>(current + 1) + current->used;
        current->used += rounded;
        return result;
    }
    // After a reset the successors of the current block are empty: reuse them.
    for (VlArenaBlock* later = current->next; later; later = later->next) {
        if (later->used == 0 && rounded <= later->capacity) {
            arena->current = later;
            later->used = rounded;
            return later + 1;
        }
    }
    uint64_t capacity = current->capacity * 2;
    if (current->capacity > UINT64_MAX / 2 || capacity < rounded) {
        if (rounded > SIZE_MAX - VL_ARENA_MIN_BLOCK) return nullptr;
        capacity = rounded + VL_ARENA_MIN_BLOCK;
    }
    if (capacity > SIZE_MAX) return nullptr;
    VlArenaBlock* block = new_block(static_cast<size_t>(capacity));
    if (!block) return nullptr;
    block->next = current->next;  // keeps rewound successors reachable
    current->next = block;
    arena->total_capacity += capacity;
    arena->current = block;
    block->used = rounded;
    return block + 1;
}

void* vl_arena_alloc(VlArena* arena, size_t size) {
    if (!arena || size == 0) return nullptr;
    size_t rounded = vl_round8(size);
    return rounded ? bump(arena, rounded) : nullptr;
}

void* vl_arena_alloc_zero(VlArena* arena, size_t size) {
    void* result = vl_arena_alloc(arena, size);
    if (result) std::memset(result, 0, size);
    return result;
}

char* vl_arena_strndup(VlArena* arena, const char* bytes, size_t n) {
    if (!arena || !bytes || n == SIZE_MAX) return nullptr;
    size_t rounded = vl_round8(n + 1);
    if (!rounded) return nullptr;
    auto* copy = static_cast<char*>(bump(arena, rounded));
    if (!copy) return nullptr;
    if (n) std::memcpy(copy, bytes, n);
    copy[n] = '\0';
    return copy;
}

char* vl_arena_strdup(VlArena* arena, const char* text) {
    if (!arena || !text) return nullptr;
    return vl_arena_strndup(arena, text, std::strlen(text));
}

void* vl_arena_alloc_own(VlArena* arena, size_t size) {
    if (!arena || size == 0) return nullptr;
    size_t rounded = vl_round8(size);
    if (!rounded) return nullptr;
    VlArenaBlock* block = new_block(rounded, VlPagesUse::growing);
    if (!block) return nullptr;
    // Linked behind the current block, which stays current: the bump
    // allocations go on where they were.
    block->used = rounded;
    block->next = arena->current->next;
    arena->current->next = block;
    arena->total_capacity += rounded;
    return block + 1;
}

void* vl_arena_resize_own(VlArena* arena, void* data, size_t old_size, size_t new_size) {
    if (!arena || !data) return vl_arena_alloc_own(arena, new_size);
    VlArenaBlock* block = static_cast<VlArenaBlock*>(data) - 1;
    VlArenaBlock* before = arena->first;
    while (before && before->next != block) before = before->next;
    size_t rounded = vl_round8(new_size);
    if (!before || block == arena->current || rounded < old_size || rounded > SIZE_MAX - HEADER) return nullptr;

    if (block->origin == VL_BLOCK_PAGES && !vl_fault_refuse_memory()) {
        auto* moved = static_cast<VlArenaBlock*>(
            vl_platform_pages_resize(block, static_cast<size_t>(block->capacity) + HEADER, rounded + HEADER));
        if (moved) {
            arena->total_capacity += rounded - moved->capacity;
            moved->capacity = moved->used = rounded;
            before->next = moved;
            return moved + 1;
        }
    }
    void* grown = vl_arena_alloc_own(arena, new_size);
    if (!grown) return nullptr;
    std::memcpy(grown, data, old_size);
    // The new block may have been linked right behind `before`.
    before = arena->first;
    while (before->next != block) before = before->next;
    before->next = block->next;
    arena->total_capacity -= block->capacity;
    release_block(block);
    return grown;
}

void vl_arena_reset(VlArena* arena) {
    if (!arena) return;
    for (VlArenaBlock* block = arena->first; block; block = block->next) block->used = 0;
    arena->current = arena->first;
}

void vl_arena_destroy(VlArena* arena) {
    if (!arena) return;
    VlArenaBlock* block = arena->first;
    while (block) {
        VlArenaBlock* next = block->next;
        release_block(block);
        block = next;
    }
    std::free(arena);
}

void vl_out_of_memory() {
    std::fflush(stdout);
    vl_write(stderr, "Error: Out of memory.\n");
    std::exit(1);
}

void* vl_arena_must_alloc_slow(VlArena* arena, size_t size) {
    void* result = vl_arena_alloc(arena, size);
    if (!result) vl_out_of_memory();
    return result;
}

char* vl_arena_must_strndup_slow(VlArena* arena, const char* bytes, size_t n) {
    char* result = vl_arena_strndup(arena, bytes, n);
    if (!result) vl_out_of_memory();
    return result;
}
