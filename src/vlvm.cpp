#include "vlvm.h"
#include <cstring>
VlVM* vlvm_create(VlArena* arena) {
    auto* vm = static_cast<VlVM*>(vl_arena_must_alloc_zero(arena, sizeof(VlVM)));
    vm->arena = arena; vlvm_init_chunk(&vm->chunk, arena); return vm;
}
void vlvm_init_chunk(VlChunk* chunk, VlArena* arena) {
    chunk->code = static_cast<VlInstruction*>(vl_arena_must_alloc(arena, 64 * sizeof(VlInstruction)));
    chunk->count = 0; chunk->capacity = 64;
}
void vlvm_write_instruction(VlChunk* chunk, VlInstruction instruction, VlArena* arena) {
    if (chunk->count >= chunk->capacity) {
        auto* code = static_cast<VlInstruction*>(vl_arena_must_alloc(arena, 2 * chunk->capacity * sizeof(VlInstruction)));
        std::memcpy(code, chunk->code, chunk->count * sizeof(VlInstruction));
        chunk->code = code; chunk->capacity *= 2;
    }
    chunk->code[chunk->count++] = instruction;
}
int vlvm_run(VlVM* machine) { return machine && machine->chunk.count ? 1 : 0; }
