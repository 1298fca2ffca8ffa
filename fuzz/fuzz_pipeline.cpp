// Any bytes through the lexer, parser, compiler and machine (when the parse
// succeeded, as a run does) and through the compiler regardless (as
// `compile` does): nothing may crash, leak or touch memory it does not own.
#include <cstddef>
#include <cstdint>
#include <string>

#include "vl_pipeline.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string source(reinterpret_cast<const char*>(data), size);
    VlArena* arena = vl_arena_create(0);
    VlPipeline run = vl_pipeline_build(arena, source.c_str(), VL_GOAL_RUN);
    if (run.status == VL_PIPELINE_OK) vlvm_run(run.machine);
    (void)vl_pipeline_build(arena, source.c_str(), VL_GOAL_IMAGE);
    vl_arena_destroy(arena);
    return 0;
}
