// One-pass compiler from syntax tree to register instructions.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include "vl_arena.h"
#include "vl_parser.h"
#include "vlvm.h"

struct VlSymbol {
    const char* name;
    uint8_t reg;
};

// What a register holds while the compiler hands registers out.
enum VlRegisterUse : uint8_t {
    VL_REG_FREE = 0,      // never handed out, or a dead temporary
    VL_REG_TEMPORARY = 1, // a value that dies once its one reader has read it
    VL_REG_VARIABLE = 2,  // bound to a name (or a loop without a name) for good
};

struct VlCompiler {
    VlArena* arena;
    VlChunk* chunk;
    VlSymbol symbols[256];
    uint64_t symbol_count;
    uint8_t next_register;

    // Registers are handed out in order 0, 1, 2, ... and never reused while
    // they last.  A program that needs more than 256 is compiled again with
    // `reuse` set: dead temporaries are then given out again, lowest first.
    bool reuse;
    bool failed;                 // out of registers even with reuse
    uint16_t handed_out;         // registers handed out so far in order (0..256)
    VlRegisterUse use[256];
    bool dirty[256];             // written by an earlier temporary
    int32_t line;                // line of the last leaf compiled, for reports
    char error_message[256];
};

[[nodiscard]] VlCompiler* vl_compiler_create(VlArena* arena, VlChunk* chunk);
[[nodiscard]] bool vl_compile(VlCompiler* compiler, VlNode* program);

// After vl_compile returned false: writes one line naming the cause (and,
// where there is one, the place) to `out`.  Writes nothing otherwise.
void vl_compiler_report(const VlCompiler* compiler, FILE* out);
