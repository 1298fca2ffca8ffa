// Language server over standard input and output.
#pragma once
#include "vl_arena.h"

// Serves until exit or the end of input; returns the exit code: 0, or 1 for
// an exit notification that came without a shutdown request before it.
[[nodiscard]] int vl_lsp_start_server(VlArena* arena);
