// The register machine: 256 registers over a chunk, and the interpreter.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include "vl_arena.h"
#include "vl_chunk.h"
#include "vl_strings.h"
#include "vl_value.h"

inline constexpr int VL_REGISTER_COUNT = 256;

// Where a run's displays go.  With `write` null they go to standard output;
// a tool that runs a script on the side (the debugger) takes each line
// itself, with its line feed, as the bytes a run would have written.
struct VlOutputSink {
    void* context;
    void (*write)(void* context, const char* line, size_t length);
};

struct VlVM {
    VlValue registers[VL_REGISTER_COUNT];
    VlChunk chunk;
    uint64_t pc;
    VlArena* arena;
    VlStringStore strings;  // concatenation results
    VlOutputSink output;
};

[[nodiscard]] VlVM* vlvm_create(VlArena* arena);
// The line that a display of `value` writes, without its line feed.
[[nodiscard]] std::string vlvm_display_text(const VlValue& value);
int vlvm_run(VlVM* machine);
