#include "vl_parser.h"
VlParser* vl_parser_create(VlArena* arena, VlLexer* lexer) {
    auto* p = static_cast<VlParser*>(vl_arena_must_alloc_zero(arena, sizeof(VlParser)));
    p->lexer = lexer; p->arena = arena; return p;
}
VlNode* vl_parse_program(VlParser* parser) {
    auto* n = static_cast<VlNode*>(vl_arena_must_alloc_zero(parser->arena, sizeof(VlNode)));
    return n;
}
