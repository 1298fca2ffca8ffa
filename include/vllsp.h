// Language server over standard input and output.
#pragma once
#include "vl_arena.h"

void vl_lsp_start_server(VlArena* arena);
