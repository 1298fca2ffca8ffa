// The instruction array: the instruction word, appending to the array,
// cutting it back, and knowing whether it can run.  Whoever writes or cuts
// a chunk does so through the functions here, which keep the note of what
// is already known to be valid; the machine asks vl_chunk_is_runnable.
#pragma once
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include "vl_arena.h"

// Which instruction fields an opcode reads (the `fields` of vl_opcodes.h).
enum VlField : uint8_t {
    VL_FIELD_NONE = 0,
    VL_FIELD_DST = 1 << 0,
    VL_FIELD_SRC1 = 1 << 1,
    VL_FIELD_SRC2 = 1 << 2,
    VL_FIELD_NUMBER = 1 << 3,
    VL_FIELD_STRING = 1 << 4,
    VL_FIELD_TARGET = 1 << 5,
};

enum VlOpcode : uint32_t {
#define VL_OPCODE(name, fields, effect) OP_##name,
#include "vl_opcodes.h"
};

inline constexpr int VL_OPCODE_COUNT = 0
#define VL_OPCODE(name, fields, effect) +1
#include "vl_opcodes.h"
    ;

// Compiled chunks and images depend on these numbers: they never change.
static_assert(OP_LOAD_CONST == 0 && OP_LOAD_STR == 1 && OP_MOVE == 2 && OP_ADD == 3 && OP_SUB == 4 &&
              OP_MUL == 5 && OP_DIV == 6 && OP_PRINT == 7 && OP_JUMP == 8 && OP_JUMP_IF_ZERO == 9 &&
              OP_HALT == 10 && VL_OPCODE_COUNT == 11);

struct VlOpcodeInfo {
    std::string_view name;  // without the OP_ prefix
    uint8_t fields;         // VlField bits
    std::string_view effect;
};

inline constexpr VlOpcodeInfo VL_OPCODE_INFO[VL_OPCODE_COUNT] = {
#define VL_OPCODE(name, fields, effect) {#name, static_cast<uint8_t>(fields), effect},
#include "vl_opcodes.h"
};

// Null for a number that names no opcode.
[[nodiscard]] constexpr const VlOpcodeInfo* vl_opcode_info(uint32_t opcode) {
    return opcode < VL_OPCODE_COUNT ? &VL_OPCODE_INFO[opcode] : nullptr;
}

// One instruction word.  Every instruction has every field, at a fixed place,
// so the program counter is a plain index and nothing needs decoding:
//
//   byte  0        4     5      6      7     8        16       24       32
//         | opcode | dst | src1 | src2 | pad | number | string | target |
//
// dst, src1 and src2 name registers (a byte cannot name one that does not
// exist), number and string are LOAD_CONST's and LOAD_STR's immediates, and
// target is the instruction index a jump continues at.  Which fields an opcode
// reads is in vl_opcodes.h; the compiler leaves all others zero.
struct VlInstruction {
    uint32_t opcode;
    uint8_t dst;
    uint8_t src1;
    uint8_t src2;
    double number;
    const char* string;
    uint64_t target;
};
static_assert(offsetof(VlInstruction, dst) == 4 && offsetof(VlInstruction, src1) == 5 &&
              offsetof(VlInstruction, src2) == 6 && offsetof(VlInstruction, number) == 8 &&
              offsetof(VlInstruction, string) == 16 && offsetof(VlInstruction, target) == 24 &&
              sizeof(VlInstruction) == 32);  // with 4-byte pointers too (wasm32): target aligns to 8

struct VlChunk;
void vl_chunk_grow(VlChunk* chunk, VlArena* arena);
void vl_chunk_append(VlChunk* chunk, VlArena* arena, const VlInstruction& instruction);
void vl_chunk_append_fields(VlChunk* chunk, VlArena* arena, VlOpcode opcode, uint8_t dst, uint8_t src1,
                            uint8_t src2, double number, const char* string);
void vl_chunk_truncate(VlChunk* chunk, uint64_t count);
[[nodiscard]] bool vl_chunk_is_runnable(const VlChunk* chunk, uint64_t pc);

struct VlChunk {
    VlInstruction* code;
    uint64_t count;
    uint64_t capacity;

private:
    // How many leading instructions are known to name an opcode, and the
    // farthest jump target among them: a chunk written by the appenders
    // below needs no pass over every instruction before it runs.  A chunk
    // put together by other means (or whose count was changed by hand) has
    // a prefix that no longer matches its count and is checked in full.
    uint64_t valid_prefix_ = 0;
    uint64_t farthest_target_ = 0;
    // The count at which the next 2 MiB stretch of addresses begins (a large
    // page, where the system gives them): vl_chunk_grow prepares the pages
    // there, just before their first write.  Counting 2 MiB of instructions
    // instead would miss by the few bytes the array starts into its block,
    // and the first write would meet the page unprepared.
    uint64_t next_step_ = 0;

    friend void vl_chunk_init(VlChunk*, VlArena*);
    friend void vl_chunk_append(VlChunk*, VlArena*, const VlInstruction&);
    friend void vl_chunk_append_fields(VlChunk*, VlArena*, VlOpcode, uint8_t, uint8_t, uint8_t, double, const char*);
    friend void vl_chunk_truncate(VlChunk*, uint64_t);
    friend bool vl_chunk_is_runnable(const VlChunk*, uint64_t);
    friend void vl_chunk_grow(VlChunk*, VlArena*);
};

inline constexpr uint64_t VL_CHUNK_INITIAL_CAPACITY = 64;
// 2 MiB of instructions: one system call where the pages would take 512 faults.
inline constexpr uint64_t VL_CHUNK_PREPARE_STEP = (uint64_t{2} << 20) / sizeof(VlInstruction);

// An empty array of VL_CHUNK_INITIAL_CAPACITY instructions.
void vl_chunk_init(VlChunk* chunk, VlArena* arena);

// Appends a copy of `instruction`.  Inline, because the compiler calls the
// appenders for every instruction: a 32-byte record passed to a call goes
// through the stack, and the narrow stores that build it stall the wide
// loads that copy it.  vl_chunk_grow, out of line, grows a full array and
// asks for the pages ahead at every 2 MiB of them.
inline void vl_chunk_append(VlChunk* chunk, VlArena* arena, const VlInstruction& instruction) {
    if (chunk->count >= chunk->capacity || chunk->count >= chunk->next_step_) vl_chunk_grow(chunk, arena);
    if (chunk->valid_prefix_ == chunk->count && instruction.opcode < VL_OPCODE_COUNT) {
        chunk->valid_prefix_++;
        if ((instruction.opcode == OP_JUMP || instruction.opcode == OP_JUMP_IF_ZERO) &&
            instruction.target > chunk->farthest_target_)
            chunk->farthest_target_ = instruction.target;
    }
    chunk->code[chunk->count++] = instruction;
}

// Appends an instruction given by its fields, with jump target 0 (so the
// farthest target cannot grow: the compiler emits no jumps), stored straight
// into the array.  A record built first and then copied stalled the compiler
// on store forwarding.
inline void vl_chunk_append_fields(VlChunk* chunk, VlArena* arena, VlOpcode opcode, uint8_t dst, uint8_t src1,
                                   uint8_t src2, double number, const char* string) {
    if (chunk->count >= chunk->capacity || chunk->count >= chunk->next_step_) vl_chunk_grow(chunk, arena);
    if (chunk->valid_prefix_ == chunk->count && opcode < VL_OPCODE_COUNT) chunk->valid_prefix_++;
    VlInstruction* slot = chunk->code + chunk->count++;
    if constexpr (std::endian::native == std::endian::little) {
        // opcode, dst, src1, src2 and the pad byte: one store
        uint64_t head = uint64_t{opcode} | uint64_t{dst} << 32 | uint64_t{src1} << 40 | uint64_t{src2} << 48;
        std::memcpy(slot, &head, sizeof head);
    } else {
        *slot = VlInstruction{};
        slot->opcode = opcode;
        slot->dst = dst;
        slot->src1 = src1;
        slot->src2 = src2;
    }
    slot->number = number;
    slot->string = string;
    slot->target = 0;
}

// Cuts the array back to its first `count` instructions (no-op when it
// holds fewer).
void vl_chunk_truncate(VlChunk* chunk, uint64_t count);

// Whether the machine may run the chunk from `pc`: every opcode has a
// handler, every jump lands inside the chunk, the start is inside it and the
// last instruction halts.  Then the dispatch needs no checks and can never
// run off the end.
bool vl_chunk_is_runnable(const VlChunk* chunk, uint64_t pc);
