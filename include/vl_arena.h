// Bump allocator that owns every object of one command.
#pragma once
#include <cstddef>
#include <cstdint>

struct VlArenaBlock {
    VlArenaBlock* next;
    uint64_t capacity;  // bytes of the data area
    uint64_t used;      // bytes handed out; always a multiple of 8
    uint64_t origin;    // which allocator made the block (VL_BLOCK_PAGES or VL_BLOCK_HEAP)
};

struct VlArena {
    VlArenaBlock* first;
    VlArenaBlock* current;
    uint64_t total_capacity;
};

inline constexpr size_t VL_ARENA_MIN_BLOCK = 65536;

[[nodiscard]] VlArena* vl_arena_create(size_t min_block);
[[nodiscard]] void* vl_arena_alloc(VlArena* arena, size_t size);
[[nodiscard]] void* vl_arena_alloc_zero(VlArena* arena, size_t size);
[[nodiscard]] char* vl_arena_strdup(VlArena* arena, const char* text);
[[nodiscard]] char* vl_arena_strndup(VlArena* arena, const char* bytes, size_t n);
void vl_arena_reset(VlArena* arena);

// One large array that grows (the instruction array) lives in a block of its
// own, so that the copy it outgrows goes back to the system at once instead
// of staying resident until the arena is destroyed.  Resizing keeps the
// first `old_size` bytes; the old pointer is invalid afterwards.  Null on
// exhaustion, and then the old array is left as it was.
[[nodiscard]] void* vl_arena_alloc_own(VlArena* arena, size_t size);
[[nodiscard]] void* vl_arena_resize_own(VlArena* arena, void* data, size_t old_size, size_t new_size);
void vl_arena_destroy(VlArena* arena);

// For callers that cannot go on without the memory they asked for: prints
// "Error: Out of memory." on standard error and ends the process with 1.
[[noreturn]] void vl_out_of_memory();

// A scratch arena that goes with its owner; no memory for it ends the process.
class VlScopedArena {
public:
    VlScopedArena() : arena_(vl_arena_create(VL_ARENA_MIN_BLOCK)) {
        if (!arena_) vl_out_of_memory();
    }
    ~VlScopedArena() { vl_arena_destroy(arena_); }
    VlScopedArena(const VlScopedArena&) = delete;
    VlScopedArena& operator=(const VlScopedArena&) = delete;
    [[nodiscard]] VlArena* get() const { return arena_; }
    VlArena* operator->() const { return arena_; }

private:
    VlArena* arena_;
};

// Allocation that never returns null: reports and exits instead.  The lexer
// and the parser allocate per token and per node, so the bump itself is
// inline here; only a new block goes through the out-of-line path.
[[nodiscard]] void* vl_arena_must_alloc_slow(VlArena* arena, size_t size);
[[nodiscard]] char* vl_arena_must_strndup_slow(VlArena* arena, const char* bytes, size_t n);

// Every allocation is rounded up to a multiple of 8 bytes; 0 when that
// would overflow.
[[nodiscard]] constexpr size_t vl_round8(size_t size) { return size > SIZE_MAX - 7 ? 0 : (size + 7) & ~size_t{7}; }

[[nodiscard]] inline void* vl_arena_must_alloc(VlArena* arena, size_t size) {
    VlArenaBlock* block = arena ? arena->current : nullptr;
    size_t rounded = vl_round8(size);
    if (block && size != 0 && rounded >= size && rounded <= block->capacity - block->used) {
        void* result = reinterpret_cast<char*>(block + 1) + block->used;
        block->used += rounded;
        return result;
    }
    return vl_arena_must_alloc_slow(arena, size);
}

[[nodiscard]] inline void* vl_arena_must_alloc_zero(VlArena* arena, size_t size) {
    void* result = vl_arena_must_alloc(arena, size);
    __builtin_memset(result, 0, size);
    return result;
}

[[nodiscard]] inline char* vl_arena_must_strndup(VlArena* arena, const char* bytes, size_t n) {
    VlArenaBlock* block = arena ? arena->current : nullptr;
    size_t rounded = (n + 8) & ~size_t{7};
    if (block && bytes && n < rounded && rounded <= block->capacity - block->used) {
        char* copy = reinterpret_cast<char*>(block + 1) + block->used;
        block->used += rounded;
        if (n >= 4 && n <= 16) {
            // Words are short: two overlapping moves instead of a call to memcpy.
            if (n >= 8) {
                __builtin_memcpy(copy, bytes, 8);
                __builtin_memcpy(copy + n - 8, bytes + n - 8, 8);
            } else {
                __builtin_memcpy(copy, bytes, 4);
                __builtin_memcpy(copy + n - 4, bytes + n - 4, 4);
            }
        } else if (n < 4) {
            for (size_t i = 0; i < n; i++) copy[i] = bytes[i];
        } else {
            __builtin_memcpy(copy, bytes, n);
        }
        copy[n] = '\0';
        return copy;
    }
    return vl_arena_must_strndup_slow(arena, bytes, n);
}
