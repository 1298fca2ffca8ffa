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

// Optional listener for tools that need more than the tree and the last
// message (the language server): where each node came from, every syntax
// error with its token, every name that a store or a count binds, and every
// token skipped because it begins no statement.  The parser behaves the same
// with or without one, and any hook may be null.
struct VlParseObserver {
    void* context;
    // `message` is the text error_message receives; null for "store" without
    // a name, which writes none.
    void (*error)(void* context, const VlToken& at, const char* message);
    // `statement` is a NODE_STORE or NODE_COUNT, told before its value or
    // loop expressions are parsed; `name` is the token that names it.
    void (*binding)(void* context, const VlNode* statement, const VlToken& name);
    // A node as it is made, with the token it comes from: a statement's
    // keyword, a binary operation's operator, a leaf's own token.
    void (*node)(void* context, const VlNode* node, const VlToken& token);
    // A parenthesised operand once read: `open` is where its "(" stands in
    // the text, `close` the token after the inner expression (a ")" unless
    // that was missing).
    void (*group)(void* context, const VlNode* inner, const char* open, const VlToken& close);
    // The body of a count has ended at `end`: its "stop", or the end of input.
    void (*closed)(void* context, const VlNode* count, const VlToken& end);
    // A token that begins no statement, consumed and dropped.
    void (*skipped)(void* context, const VlToken& token);
};

struct VlParser {
    VlLexer* lexer;
    // The two tokens of look-ahead.  While statements are parsed the records
    // take turns (`at` and `ahead` say which is which) instead of being
    // copied from one to the other; vl_parse_program puts them back in their
    // places when it returns.  Read the current token with vl_parser_current.
    VlToken current;
    VlToken next;
    VlArena* arena;
    bool had_error;
    char error_message[256];
    int32_t depth;  // current nesting of parentheses and loops
    const VlParseObserver* observer;  // null unless a tool sets one after creation
    bool started;   // the optional "start" has been looked for
    bool finished;  // the program's "stop" or the end of input was reached
    VlToken* at;
    VlToken* ahead;
};

[[nodiscard]] VlParser* vl_parser_create(VlArena* arena, VlLexer* lexer);
// The same, with the nodes taken from `nodes` (null: `arena`) and every
// error and binding told to `observer` (may be null).
[[nodiscard]] VlParser* vl_parser_create_with(VlArena* arena, VlLexer* lexer, VlArena* nodes,
                                              const VlParseObserver* observer);

// The token the parser stands at: between statements, the first of the next
// one; once the program has ended, where parsing stopped.
[[nodiscard]] const VlToken& vl_parser_current(const VlParser* parser);

// Copies the texts of the two tokens the parser holds to `to`, but for those
// the lexer's name table owns: before the arena that holds them is rewound.
void vl_parser_keep_texts(VlParser* parser, VlArena* to);

// From now on nodes and token texts come from `arena`.
void vl_parser_use_arena(VlParser* parser, VlArena* arena);
[[nodiscard]] VlNode* vl_parse_program(VlParser* parser);

// The top-level statements one at a time, in the order vl_parse_program
// lists them: the next statement, or null once the program has ended.  A
// caller that compiles each statement as it comes never holds the whole tree.
[[nodiscard]] VlNode* vl_parse_next_statement(VlParser* parser);
