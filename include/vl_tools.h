// Developer tools: formatter, linter, REPL, test and bench reports.
#pragma once
#include "vl_arena.h"

[[nodiscard]] char* vl_fmt_format_code(VlArena* arena, const char* source);
int vl_fmt_format_file(VlArena* arena, const char* path);
int vl_lint_check_file(VlArena* arena, const char* path);
void vl_repl_run(VlArena* arena);
int vl_test_run_all(VlArena* arena);
void vl_bench_run(VlArena* arena, const char* target);
