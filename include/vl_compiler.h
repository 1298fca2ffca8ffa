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

struct VlCompiler {
    VlArena* arena;
    VlChunk* chunk;
    VlSymbol symbols[256];
    uint64_t symbol_count;
    uint8_t next_register;
};

[[nodiscard]] VlCompiler* vl_compiler_create(VlArena* arena, VlChunk* chunk);
[[nodiscard]] bool vl_compile(VlCompiler* compiler, VlNode* program);

// After vl_compile returned false: writes one line naming the cause (and,
// where there is one, the place) to `out`.  Writes nothing otherwise.
void vl_compiler_report(const VlCompiler* compiler, FILE* out);
