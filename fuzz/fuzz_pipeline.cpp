// Any bytes through the lexer, parser, compiler and machine (when the parse
// succeeded, as a run does) and through the compiler regardless (as
// `compile` does): nothing may crash, leak or touch memory it does not own.
#include <cstddef>
#include <cstdint>
#include <string>

#include "vl_compiler.h"
#include "vl_lexer.h"
#include "vl_parser.h"
#include "vlvm.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string source(reinterpret_cast<const char*>(data), size);
    VlArena* arena = vl_arena_create(0);
    VlParser* parser = vl_parser_create(arena, vl_lexer_create(arena, source.c_str()));
    VlNode* program = vl_parse_program(parser);
    VlVM* vm = vlvm_create(arena);
    VlCompiler* compiler = vl_compiler_create(arena, &vm->chunk);
    if (vl_compile(compiler, program) && !parser->had_error) vlvm_run(vm);
    vl_arena_destroy(arena);
    return 0;
}
