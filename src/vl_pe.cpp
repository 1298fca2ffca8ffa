#include "vl_pe.h"
VlPeWriter* vl_pe_create(VlArena* arena, VlChunk* chunk, const char* output_path) {
    auto* w = static_cast<VlPeWriter*>(vl_arena_must_alloc_zero(arena, sizeof(VlPeWriter)));
    w->output_path = output_path; w->chunk = chunk; w->arena = arena; return w;
}
bool vl_pe_generate_exe(VlPeWriter*) { return false; }
