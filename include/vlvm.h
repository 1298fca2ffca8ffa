// The register machine: 256 registers over a chunk, and the interpreter.
#pragma once
#include <cstdint>
#include "vl_arena.h"
#include "vl_chunk.h"
#include "vl_strings.h"
#include "vl_value.h"

inline constexpr int VL_REGISTER_COUNT = 256;

struct VlVM {
    VlValue registers[VL_REGISTER_COUNT];
    VlChunk chunk;
    uint64_t pc;
    VlArena* arena;
    VlStringStore strings;  // concatenation results
};

[[nodiscard]] VlVM* vlvm_create(VlArena* arena);
int vlvm_run(VlVM* machine);
