// Writer of the minimal stand-alone Windows executable.
#pragma once
#include "vl_arena.h"
#include "vlvm.h"

struct VlPeWriter {
    const char* output_path;
    VlChunk* chunk;   // stored, not read
    VlArena* arena;   // stored, not read
};

inline constexpr size_t VL_PE_IMAGE_SIZE = 1024;

[[nodiscard]] VlPeWriter* vl_pe_create(VlArena* arena, VlChunk* chunk, const char* output_path);
[[nodiscard]] bool vl_pe_generate_exe(VlPeWriter* writer);
