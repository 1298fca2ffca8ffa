// Register machine: values, instructions, chunks and the interpreter.
#pragma once
#include <cstddef>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>
#include "vl_arena.h"
#include "vl_strings.h"

enum VlValueType : uint32_t { VALUE_NUMBER = 0, VALUE_STRING = 1 };

struct VlValue {
    uint32_t type;
    union {
        double number;
        const char* string;
    };
};

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

inline constexpr int VL_REGISTER_COUNT = 256;
inline constexpr uint64_t VL_CHUNK_INITIAL_CAPACITY = 64;

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
              offsetof(VlInstruction, string) == 16 &&
              offsetof(VlInstruction, target) == 16 + sizeof(const char*));

struct VlChunk {
    VlInstruction* code;
    uint64_t count;
    uint64_t capacity;
    // What vlvm_write_instruction has checked already, so that running a
    // chunk it wrote needs no pass over every instruction: how many leading
    // instructions name an opcode, and the farthest jump target among them.
    // A chunk put together by other means has 0 here and is checked in full.
    uint64_t checked = 0;
    uint64_t farthest_target = 0;
};

struct VlVM {
    VlValue registers[VL_REGISTER_COUNT];
    VlChunk chunk;
    uint64_t pc;
    VlArena* arena;
    VlStringStore strings;  // concatenation results
};

[[nodiscard]] VlVM* vlvm_create(VlArena* arena);
void vlvm_init_chunk(VlChunk* chunk, VlArena* arena);
// The slow part of appending, out of line: grows a full array, and asks for
// the pages ahead every VL_CHUNK_PREPARE_STEP instructions.
void vlvm_make_room(VlChunk* chunk, VlArena* arena);
// 2 MiB of instructions: one system call where the pages would take 512 faults.
inline constexpr uint64_t VL_CHUNK_PREPARE_STEP = (uint64_t{2} << 20) / sizeof(VlInstruction);

// Inline, because the compiler calls it for every instruction: a 32-byte
// record passed to a call goes through the stack, and the narrow stores that
// build it stall the wide loads that copy it.
inline void vlvm_write_instruction(VlChunk* chunk, VlInstruction instruction, VlArena* arena) {
    if (chunk->count >= chunk->capacity || chunk->count % VL_CHUNK_PREPARE_STEP == 0) vlvm_make_room(chunk, arena);
    if (chunk->checked == chunk->count && instruction.opcode < VL_OPCODE_COUNT) {
        chunk->checked++;
        if ((instruction.opcode == OP_JUMP || instruction.opcode == OP_JUMP_IF_ZERO) &&
            instruction.target > chunk->farthest_target)
            chunk->farthest_target = instruction.target;
    }
    chunk->code[chunk->count++] = instruction;
}

// vlvm_write_instruction for an instruction given by its fields (no jump
// target: the compiler emits no jumps), stored straight into the array.  A
// record built first and then copied stalled the compiler on store
// forwarding: the wide loads of the copy waited for the narrow stores that
// had just built it.
inline void vlvm_write_fields(VlChunk* chunk, VlArena* arena, VlOpcode opcode, uint8_t dst, uint8_t src1,
                              uint8_t src2, double number, const char* string) {
    if (chunk->count >= chunk->capacity || chunk->count % VL_CHUNK_PREPARE_STEP == 0) vlvm_make_room(chunk, arena);
    if (chunk->checked == chunk->count && opcode < VL_OPCODE_COUNT) chunk->checked++;
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

int vlvm_run(VlVM* machine);
