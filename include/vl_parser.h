// Syntax tree and the recursive-descent parser.
#pragma once
#include <cstddef>
#include <cstdint>
#include "vl_arena.h"
#include "vl_lexer.h"

enum VlNodeType : int32_t {
    NODE_PROGRAM = 0,
    NODE_STORE = 1,
    NODE_DISPLAY = 3,
    NODE_COUNT = 5,
    NODE_BINARY = 6,
    NODE_NUMBER = 8,
    NODE_STRING = 9,
    NODE_IDENTIFIER = 10,
    NODE_BLOCK = 13,
};

struct VlNode {
    VlNodeType type;
    int32_t line;    // set for NUMBER, STRING and IDENTIFIER only
    int32_t column;
    union {          // four pointer-sized slots, meaning by type
        struct { VlNode** items; size_t count; } list;                      // PROGRAM, BLOCK
        struct { char* name; VlTokenType var_type; VlNode* value; } store;  // STORE
        struct { VlNode* expr; } display;                                   // DISPLAY
        struct { char* name; VlNode* from; VlNode* to; VlNode* body; } count; // COUNT
        struct { VlTokenType op; VlNode* left; VlNode* right; } binary;      // BINARY
        struct { double number; } number;                                   // NUMBER
        struct { char* text; } string;                                      // STRING
        struct { char* name; } identifier;                                  // IDENTIFIER
        void* slots[4];
    } as;
};

// Optional listener for tools that need more than the last message (the
// language server): every syntax error with its token, and every name that a
// store or a count binds.  The parser behaves the same with or without one.
struct VlParseObserver {
    void* context;
    // `message` is the text error_message receives; null for "store" without
    // a name, which writes none.
    void (*error)(void* context, const VlToken& at, const char* message);
    // `statement` is NODE_STORE or NODE_COUNT.
    void (*binding)(void* context, const VlToken& name, VlNodeType statement);
};

struct VlParser {
    VlLexer* lexer;
    VlToken current;
    VlToken next;
    VlArena* arena;
    bool had_error;
    char error_message[256];
    int32_t depth;  // current nesting of parentheses and loops
    const VlParseObserver* observer;  // null unless a tool sets one after creation
    bool started;   // the optional "start" has been looked for
    bool finished;  // the program's "stop" or the end of input was reached
    // Inside a call, which of the two records holds the current token and
    // which the next (they take turns); between calls, current and next.
    VlToken* at;
    VlToken* ahead;
};

[[nodiscard]] VlParser* vl_parser_create(VlArena* arena, VlLexer* lexer);
[[nodiscard]] VlNode* vl_parse_program(VlParser* parser);

// The top-level statements one at a time, in the order vl_parse_program
// lists them: the next statement, or null once the program has ended.  A
// caller that compiles each statement as it comes never holds the whole tree.
[[nodiscard]] VlNode* vl_parse_next_statement(VlParser* parser);
