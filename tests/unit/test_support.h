// What the unit tests and the benchmarks share: an instruction given by its
// fields, and an arena that goes with its owner.
#pragma once
#include <cstdint>

#include "vl_arena.h"
#include "vl_chunk.h"

// Every field that is not given is zero, as the compiler leaves it.
inline VlInstruction ins(uint32_t opcode, uint8_t dst = 0, uint8_t src1 = 0, uint8_t src2 = 0, double number = 0,
                         uint64_t target = 0, const char* string = nullptr) {
    VlInstruction instruction{};
    instruction.opcode = opcode;
    instruction.dst = dst;
    instruction.src1 = src1;
    instruction.src2 = src2;
    instruction.number = number;
    instruction.string = string;
    instruction.target = target;
    return instruction;
}

class ArenaPtr {
public:
    explicit ArenaPtr(size_t min_block = 0) : arena_(vl_arena_create(min_block)) {}
    ~ArenaPtr() { vl_arena_destroy(arena_); }
    ArenaPtr(const ArenaPtr&) = delete;
    ArenaPtr& operator=(const ArenaPtr&) = delete;
    VlArena* get() const { return arena_; }
    VlArena* operator->() const { return arena_; }
    operator VlArena*() const { return arena_; }

private:
    VlArena* arena_;
};
