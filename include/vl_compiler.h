// One-pass compiler from syntax tree to register instructions.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include "vl_arena.h"
#include "vl_names.h"
#include "vl_parser.h"
#include "vl_regalloc.h"
#include "vlvm.h"

struct VlSymbol {
    const char* name;
    uint8_t reg;
};

inline constexpr size_t VL_NAME_SLOTS = 512;  // open-addressed index over the 256 symbols

// Optional listener for tools that map instructions back to the script (the
// debugger): where each statement's instructions begin and end, the register
// each new name gets, and each store into a name.  The compiler emits the
// same instructions with or without one, and any hook may be null.
struct VlCompileObserver {
    void* context;
    // A store, display or count statement, `depth` count bodies deep, begins
    // at instruction `first` ...
    void (*statement_begins)(void* context, const VlNode* statement, uint64_t first, int depth);
    // ... and its instructions end before `end`.
    void (*statement_ends)(void* context, const VlNode* statement, uint64_t end);
    // `name` is bound to `reg`; it holds the name's value (0 until a store)
    // from instruction `from` on.
    void (*symbol)(void* context, const char* name, uint8_t reg, uint64_t from);
    // The instruction at `at` moves a value into the variable in `reg`: a
    // store's, or a count's start.
    void (*stored)(void* context, uint8_t reg, uint64_t at);
};

struct VlCompiler {
    VlArena* arena;
    VlChunk* chunk;
    VlSymbol symbols[256];
    uint64_t symbol_count;
    VlRegisterAllocator registers;
    bool failed;                 // out of registers: nothing more is emitted
    int32_t line;                // line of the last leaf compiled, for reports
    char error_message[256];

    // Symbols are named by interned pointers (`names`), found through an
    // index keyed by the pointer.  The compiler keeps its own copy of every
    // name and string literal, so the tree may go once compiled; a lexer
    // given the same table hands out names that are found at the first probe.
    VlNameTable* names;
    uint16_t name_slots[VL_NAME_SLOTS];  // symbol index + 1, or 0 when empty
    VlNameTable* literals;               // string literals, equal texts sharing one copy
    const VlNode** spine;                // stack of operator chains being compiled
    size_t spine_size;
    size_t spine_capacity;
    uint64_t first_instruction;          // where this compilation began in the chunk
    const VlCompileObserver* observer;   // null unless a tool sets one after creation
    int32_t depth;                       // count bodies around the statement being compiled
};

[[nodiscard]] VlCompiler* vl_compiler_create(VlArena* arena, VlChunk* chunk);
[[nodiscard]] bool vl_compile(VlCompiler* compiler, VlNode* program);

// Makes a new `compiler` go on from the names and registers of `from`, as if
// it had compiled that program itself: for an expression evaluated over a
// stopped program, whose names then resolve to the program's registers and
// whose temporaries take registers no name holds.
void vl_compiler_continue_from(VlCompiler* compiler, const VlCompiler* from);

// The streaming form of vl_compile: each top-level statement as the parser
// delivers it, then vl_compile_finish appends the halt.  Finish returns false
// (and leaves the chunk as it was before the first statement) when the
// program ran out of registers.
void vl_compile_statement(VlCompiler* compiler, const VlNode* statement);
[[nodiscard]] bool vl_compile_finish(VlCompiler* compiler);

// After a compilation failed: writes one line naming the cause (and, where
// there is one, the place) to `out`.  Writes nothing otherwise.
void vl_compiler_report(const VlCompiler* compiler, FILE* out);
