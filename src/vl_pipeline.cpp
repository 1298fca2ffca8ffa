// The pipeline: each statement compiled as the front end hands it out.
#include "vl_pipeline.h"
#include "vl_front_end.h"
#include "vl_output.h"
#include "vl_source_stream.h"
#include "vl_files.h"

#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

void report_unreadable(const char* path, const char* noun, VlReadStatus status) {
    if (status == VL_READ_NO_MEMORY) vl_out_of_memory();
    if (status == VL_READ_TOO_LARGE)
        vl_printf(stderr, "Error: File '%s' is too large (2 GiB or more).\n", path);
    else
        vl_printf(stderr, "Error: Could not open %s '%s'\n", noun, path);
}

VlPipeline build(VlArena* arena, const char* source, const VlSourceFeed* feed, VlPipelineGoal goal) {
    VlPipeline result{};
    if (goal != VL_GOAL_CHECK) {
        result.machine = vlvm_create(arena);
        result.compiler = vl_compiler_create(arena, &result.machine->chunk);
    }
    // Words come interned in the compiler's table, so names resolve by pointer.
    VlFrontEnd front(VlFrontEndSetup{source, feed, arena, result.compiler ? result.compiler->names : nullptr, nullptr});
    while (const VlNode* statement = front.next_statement()) {
        // After a syntax error a run is off; only the executable writer wants the rest.
        if (result.compiler && (goal == VL_GOAL_IMAGE || !front.had_error()))
            vl_compile_statement(result.compiler, statement);
    }
    result.statement_count = front.statement_count();
    result.stopped_at_line = front.current().line;
    bool compiled = !result.compiler || vl_compile_finish(result.compiler);
    if (front.had_error()) {
        result.status = VL_PIPELINE_SYNTAX_ERROR;
        result.syntax_error = vl_arena_must_strndup(arena, front.error_message(), std::strlen(front.error_message()));
    } else if (!compiled) {
        result.status = VL_PIPELINE_COMPILE_ERROR;
    }
    return result;
}

}  // namespace

char* vl_source_read(const char* path, const char* noun) {
    VlReadStatus status = VL_READ_OK;
    char* buffer = vl_file_read_heap(path, nullptr, &status);
    if (!buffer) report_unreadable(path, noun, status);
    return buffer;
}

bool vl_pipeline_build_file(VlArena* arena, const char* path, const char* noun, VlPipelineGoal goal,
                            VlPipeline* result) {
    VlSourceStream stream(path);
    size_t length = 0;
    if (stream.status() == VL_READ_OK) *result = build(arena, stream.first_window(&length), stream.feed(), goal);
    if (stream.status() != VL_READ_OK) {
        report_unreadable(path, noun, stream.status());
        return false;
    }
    return true;
}

VlPipeline vl_pipeline_build(VlArena* arena, const char* source, VlPipelineGoal goal) {
    return build(arena, source, nullptr, goal);
}

bool vl_pipeline_report_error(const VlPipeline& built) {
    if (built.status == VL_PIPELINE_SYNTAX_ERROR) {
        vl_printf(stderr, "Syntax Error: %s\n", built.syntax_error);
        return true;
    }
    if (built.status == VL_PIPELINE_COMPILE_ERROR) {
        vl_write(stderr, "Compilation Error: Failed to generate VLVM bytecode.\n");
        vl_compiler_report(built.compiler, stderr);
        return true;
    }
    return false;
}
