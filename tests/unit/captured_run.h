// What a run of a script writes on standard output, for tests that hold a
// tool's view of a script against what the script really does.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "vl_pipeline.h"
#include "vlvm.h"

inline std::string captured_run(const std::string& source) {
    VlArena* arena = vl_arena_create(0);
    VlPipeline built = vl_pipeline_build(arena, source.c_str(), VL_GOAL_RUN);
    EXPECT_EQ(built.status, VL_PIPELINE_OK) << source;
    testing::internal::CaptureStdout();
    if (built.status == VL_PIPELINE_OK) vlvm_run(built.machine);
    std::string out = testing::internal::GetCapturedStdout();
    vl_arena_destroy(arena);
    return out;
}
