// velmorine-dis <script.velm>: prints the listing of what a script compiles
// to, for whoever works on the compiler.  Reads, parses and compiles as the
// driver's run path does, with the same messages and exit codes.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "vl_arena.h"
#include "vl_compiler.h"
#include "vl_disasm.h"
#include "vl_lexer.h"
#include "vl_parser.h"
#include "vl_stdlib.h"
#include "vlvm.h"

namespace {

char* read_script(const char* path) {
    VlReadStatus status = VL_READ_OK;
    char* buffer = vl_file_read_heap(path, nullptr, &status);
    if (buffer) return buffer;
    if (status == VL_READ_NO_MEMORY) vl_out_of_memory();
    if (status == VL_READ_TOO_LARGE)
        std::fprintf(stderr, "Error: File '%s' is too large (2 GiB or more).\n", path);
    else
        std::fprintf(stderr, "Error: Could not open source file '%s'\n", path);
    return nullptr;
}

int list_script(VlArena* arena, const char* source) {
    VlParser* parser = vl_parser_create(arena, vl_lexer_create(arena, source));
    VlNode* program = vl_parse_program(parser);
    if (parser->had_error) {
        std::fprintf(stderr, "Syntax Error: %s\n", parser->error_message);
        return 1;
    }
    VlChunk chunk{};
    vlvm_init_chunk(&chunk, arena);
    VlCompiler* compiler = vl_compiler_create(arena, &chunk);
    if (!vl_compile(compiler, program)) {
        std::fputs("Compilation Error: Failed to generate VLVM bytecode.\n", stderr);
        vl_compiler_report(compiler, stderr);
        return 1;
    }
    std::string listing;
    vl_disassemble_chunk(&chunk, listing);
    std::fwrite(listing.data(), 1, listing.size(), stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("Usage: velmorine-dis <script.velm>\n", stderr);
        return 2;
    }
    char* source = read_script(argv[1]);
    if (!source) return 1;
    VlArena* arena = vl_arena_create(65536);
    if (!arena) vl_out_of_memory();
    int code = list_script(arena, source);
    vl_arena_destroy(arena);
    std::free(source);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fputs("Error: Could not write to standard output.\n", stderr);
        code = 1;
    }
    return code;
}
