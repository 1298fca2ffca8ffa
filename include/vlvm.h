// Register machine: values, instructions, chunks and the interpreter.
#pragma once
#include <cstddef>
#include <cstdint>
#include "vl_arena.h"

enum VlValueType : uint32_t { VALUE_NUMBER = 0, VALUE_STRING = 1 };

struct VlValue {
    uint32_t type;
    union {
        double number;
        const char* string;
    };
};

enum VlOpcode : uint32_t {
    OP_LOAD_CONST = 0,
    OP_LOAD_STR = 1,
    OP_MOVE = 2,
    OP_ADD = 3,
    OP_SUB = 4,
    OP_MUL = 5,
    OP_DIV = 6,
    OP_PRINT = 7,
    OP_JUMP = 8,
    OP_JUMP_IF_ZERO = 9,
    OP_HALT = 10,
};

inline constexpr int VL_OPCODE_COUNT = 11;
inline constexpr int VL_REGISTER_COUNT = 256;
inline constexpr uint64_t VL_CHUNK_INITIAL_CAPACITY = 64;

struct VlInstruction {
    uint32_t opcode;
    uint8_t dst;
    uint8_t src1;
    uint8_t src2;
    double number;
    const char* string;
    uint64_t target;
};

struct VlChunk {
    VlInstruction* code;
    uint64_t count;
    uint64_t capacity;
};

struct VlVM {
    VlValue registers[VL_REGISTER_COUNT];
    VlChunk chunk;
    uint64_t pc;
    VlArena* arena;
};

[[nodiscard]] VlVM* vlvm_create(VlArena* arena);
void vlvm_init_chunk(VlChunk* chunk, VlArena* arena);
void vlvm_write_instruction(VlChunk* chunk, VlInstruction instruction, VlArena* arena);
int vlvm_run(VlVM* machine);
