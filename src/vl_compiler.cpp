#include "vl_compiler.h"
VlCompiler* vl_compiler_create(VlArena* arena, VlChunk* chunk) {
    auto* c = static_cast<VlCompiler*>(vl_arena_must_alloc_zero(arena, sizeof(VlCompiler)));
    c->arena = arena; c->chunk = chunk; return c;
}
bool vl_compile(VlCompiler* compiler, VlNode* program) {
    if (!program) return false;
    VlInstruction halt{}; halt.opcode = OP_HALT;
    vlvm_write_instruction(compiler->chunk, halt, compiler->arena);
    return true;
}
void vl_compiler_report(const VlCompiler*, FILE*) {}
