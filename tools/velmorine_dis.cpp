// velmorine-dis <script.velm>: prints the listing of what a script compiles
// to, for whoever works on the compiler.  Reads, parses and compiles as the
// driver's run path does, with the same messages and exit codes.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "vl_arena.h"
#include "vl_output.h"
#include "vl_disasm.h"
#include "vl_pipeline.h"
#include "vl_platform.h"

namespace {

int list_script(VlArena* arena, const char* source) {
    VlPipeline built = vl_pipeline_build(arena, source, VL_GOAL_RUN);
    if (vl_pipeline_report_error(built)) return 1;
    std::string listing;
    vl_disassemble_chunk(&built.machine->chunk, listing);
    vl_write(stdout, listing);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    argv = vl_platform_utf8_arguments(&argc, argv);
    vl_platform_console_detect();
    if (argc != 2) {
        vl_write(stderr, "Usage: velmorine-dis <script.velm>\n");
        return 2;
    }
    char* source = vl_source_read(argv[1], "source file");
    if (!source) return 1;
    VlArena* arena = vl_arena_create(65536);
    if (!arena) vl_out_of_memory();
    int code = list_script(arena, source);
    vl_arena_destroy(arena);
    std::free(source);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        vl_write(stderr, "Error: Could not write to standard output.\n");
        code = 1;
    }
    return code;
}
