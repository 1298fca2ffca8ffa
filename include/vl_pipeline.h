// From source text to a compiled chunk: the one road that the driver, the
// REPL, the linter, the fuzzers, the benchmarks and the tests take.
#pragma once
#include <cstddef>
#include <cstdint>
#include "vl_arena.h"
#include "vl_compiler.h"
#include "vl_parser.h"
#include "vlvm.h"

enum VlPipelineGoal : uint8_t {
    VL_GOAL_RUN,    // compile until the first syntax error; the chunk is run only without one
    VL_GOAL_IMAGE,  // compile everything, errors or not (the executable writer)
    VL_GOAL_CHECK,  // parse only: count the statements and find the errors
};

enum VlPipelineStatus : uint8_t {
    VL_PIPELINE_OK,
    VL_PIPELINE_SYNTAX_ERROR,   // syntax_error says why
    VL_PIPELINE_COMPILE_ERROR,  // vl_compiler_report says why
};

struct VlPipeline {
    VlPipelineStatus status;
    VlVM* machine;             // holds the chunk, ended by OP_HALT; null for VL_GOAL_CHECK
    VlCompiler* compiler;      // null for VL_GOAL_CHECK
    size_t statement_count;    // top-level statements
    const char* syntax_error;  // the parser's last message, with VL_PIPELINE_SYNTAX_ERROR
    int32_t stopped_at_line;   // the line of the token where parsing stopped
};

// Reads a whole script into a heap buffer that the caller frees.  When it
// cannot, prints the command-ending message on standard error ("Error: Could
// not open <noun> '<path>'", or that the file is too large) and returns
// null; out of memory ends the process with the usual message.
[[nodiscard]] char* vl_source_read(const char* path, const char* noun);

// The same for the script at `path`, read while it is built (a long script
// is never held whole).  False, after vl_source_read's message, when the
// script cannot be read to its end; out of memory ends the process.
[[nodiscard]] bool vl_pipeline_build_file(VlArena* arena, const char* path, const char* noun, VlPipelineGoal goal,
                                          VlPipeline* result);

// Lexes, parses and compiles `source` in one pass over its statements: each
// one is compiled as soon as it is parsed and its tree is dropped, so the
// memory held is the chunk and the texts it needs, never the whole tree.
// Everything returned lives in `arena`.
[[nodiscard]] VlPipeline vl_pipeline_build(VlArena* arena, const char* source, VlPipelineGoal goal);

// For a build that failed (status not VL_PIPELINE_OK), prints on standard
// error the message that ends a script run ("Syntax Error: ..." or
// "Compilation Error: ..." and its cause) and returns true; false, printing
// nothing, for a build that succeeded.
bool vl_pipeline_report_error(const VlPipeline& built);
