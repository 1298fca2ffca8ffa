// The instruction array: growth, truncation and the validity check.
#include "vl_chunk.h"

#include <algorithm>
#include <cstring>

#include "vl_platform.h"

void vl_chunk_init(VlChunk* chunk, VlArena* arena) {
    chunk->code = static_cast<VlInstruction*>(
        vl_arena_must_alloc(arena, VL_CHUNK_INITIAL_CAPACITY * sizeof(VlInstruction)));
    chunk->count = 0;
    chunk->capacity = VL_CHUNK_INITIAL_CAPACITY;
    chunk->valid_prefix_ = 0;
    chunk->farthest_target_ = 0;
    chunk->next_step_ = 0;
}

// From this capacity on, the instruction array lives in a block of its own
// and an outgrown copy goes back to the system; below it, copies stay in the
// arena (at most 256 KiB of them in all).
constexpr uint64_t OWN_BLOCK_CAPACITY = 8192;

// The thread that prepares pages on the side pays for itself from 16 MiB of
// instructions on.  Below that it cost a run more than the faults it spares:
// 100,000 displays (6 MiB of instructions) took 4 ms longer with it.
constexpr uint64_t PREPARE_ON_THE_SIDE_FROM = 8 * VL_CHUNK_PREPARE_STEP;

void vl_chunk_grow(VlChunk* chunk, VlArena* arena) {
    const bool grows = chunk->count >= chunk->capacity;
    if (grows) {
        if (chunk->capacity > SIZE_MAX / 2 / sizeof(VlInstruction)) vl_out_of_memory();
        uint64_t capacity = chunk->capacity * 2;
        size_t bytes = capacity * sizeof(VlInstruction);
        size_t used = chunk->count * sizeof(VlInstruction);
        VlInstruction* code = nullptr;
        if (chunk->capacity >= OWN_BLOCK_CAPACITY) {
            code = static_cast<VlInstruction*>(vl_arena_resize_own(arena, chunk->code, used, bytes));
        } else {
            code = static_cast<VlInstruction*>(capacity >= OWN_BLOCK_CAPACITY ? vl_arena_alloc_own(arena, bytes)
                                                                               : vl_arena_alloc(arena, bytes));
            if (code) std::memcpy(code, chunk->code, used);  // the small old array stays in the arena
        }
        if (!code) vl_out_of_memory();
        chunk->code = code;
        chunk->capacity = capacity;
    }
    if (chunk->capacity >= OWN_BLOCK_CAPACITY) {
        // On a big array the stretch after the one being entered is prepared
        // on the side while this one is written, and only a stretch that no
        // earlier call asked for (the first of a new block, or of the side's
        // work) is prepared here and now.
        const uint64_t room = chunk->capacity - chunk->count;
        const uint64_t here = std::min(VL_CHUNK_PREPARE_STEP, room);
        const bool on_the_side = chunk->count >= PREPARE_ON_THE_SIDE_FROM;
        if (grows || chunk->count < PREPARE_ON_THE_SIDE_FROM + VL_CHUNK_PREPARE_STEP)
            vl_platform_pages_prepare(chunk->code + chunk->count, here * sizeof(VlInstruction));
        const uint64_t next = std::min(VL_CHUNK_PREPARE_STEP, room - here);
        if (on_the_side && next)
            vl_platform_pages_prepare_soon(chunk->code + chunk->count + here, next * sizeof(VlInstruction));
    }
    // The first instruction that starts at or after the next 2 MiB boundary.
    constexpr uintptr_t STEP_BYTES = VL_CHUNK_PREPARE_STEP * sizeof(VlInstruction);
    const auto at = reinterpret_cast<uintptr_t>(chunk->code + chunk->count);
    const uintptr_t to_boundary = (at | (STEP_BYTES - 1)) + 1 - at;
    chunk->next_step_ = chunk->count + (to_boundary + sizeof(VlInstruction) - 1) / sizeof(VlInstruction);
}

void vl_chunk_truncate(VlChunk* chunk, uint64_t count) {
    if (count >= chunk->count) return;
    chunk->count = count;
    chunk->next_step_ = 0;  // found again at the next append
    // What was known of the first `count` instructions still holds, but a
    // jump among the cut ones may have been the farthest: look again.
    if (chunk->valid_prefix_ > count) chunk->valid_prefix_ = count;
    chunk->farthest_target_ = 0;
    for (uint64_t i = 0; i < chunk->valid_prefix_; i++) {
        const VlInstruction& instruction = chunk->code[i];
        if ((instruction.opcode == OP_JUMP || instruction.opcode == OP_JUMP_IF_ZERO) &&
            instruction.target > chunk->farthest_target_)
            chunk->farthest_target_ = instruction.target;
    }
}

bool vl_chunk_is_runnable(const VlChunk* chunk, uint64_t pc) {
    if (!chunk || chunk->count == 0 || pc >= chunk->count) return false;
    if (chunk->code[chunk->count - 1].opcode != OP_HALT) return false;
    if (chunk->valid_prefix_ == chunk->count) return chunk->farthest_target_ < chunk->count;
    for (uint64_t i = 0; i < chunk->count; i++) {
        const VlInstruction& instruction = chunk->code[i];
        if (instruction.opcode >= VL_OPCODE_COUNT) return false;
        bool jumps = instruction.opcode == OP_JUMP || instruction.opcode == OP_JUMP_IF_ZERO;
        if (jumps && instruction.target >= chunk->count) return false;
    }
    return true;
}
