// Tokens and the on-demand lexer.
#pragma once
#include <cstddef>
#include <cstdint>
#include "vl_arena.h"

enum VlTokenType : int32_t {
    TOKEN_EOF = 0,
    TOKEN_ERROR = 1,
    TOKEN_START = 2,
    TOKEN_STOP = 3,
    TOKEN_STORE = 4,
    TOKEN_DISPLAY = 5,
    TOKEN_CHECK = 6,
    TOKEN_OTHERWISE = 7,
    TOKEN_COUNT = 8,
    TOKEN_FROM = 9,
    TOKEN_TO = 10,
    TOKEN_CREATE = 11,
    TOKEN_BLUEPRINT = 12,
    TOKEN_OPEN = 13,
    TOKEN_FREEZE = 14,
    TOKEN_MOVE = 15,
    TOKEN_AS = 16,
    TOKEN_SAME = 17,
    TOKEN_BIG = 18,
    TOKEN_SMALL = 19,
    TOKEN_YES = 20,
    TOKEN_NO = 21,
    TOKEN_TYPE_NUMBER = 22,
    TOKEN_TYPE_WORD = 23,
    TOKEN_TYPE_FLAG = 24,
    TOKEN_TYPE_LIST = 25,
    TOKEN_PLUS = 26,
    TOKEN_MINUS = 27,
    TOKEN_MULTIPLY = 28,
    TOKEN_DIVIDE = 29,
    TOKEN_ASSIGN = 30,
    TOKEN_IDENTIFIER = 31,
    TOKEN_NUMBER = 32,
    TOKEN_STRING = 33,
    TOKEN_NEWLINE = 34,
    TOKEN_INDENT = 35,
    TOKEN_DEDENT = 36,
    TOKEN_COMMA = 37,
    TOKEN_COLON = 38,
    TOKEN_LPAREN = 39,
    TOKEN_RPAREN = 40,
    TOKEN_LBRACKET = 41,
    TOKEN_RBRACKET = 42,
};

struct VlToken {
    VlTokenType type;
    const char* start;  // into the source; null for EOF and DEDENT
    size_t length;
    int32_t line;
    int32_t column;
    double number;      // value of a TOKEN_NUMBER, else 0.0
    char* text;         // arena copy for words and strings, else null
};

inline constexpr int VL_INDENT_STACK_SIZE = 64;

struct VlLexer {
    const char* source;
    size_t length;
    size_t position;
    int32_t line;
    int32_t column;
    VlArena* arena;
    int32_t indent_stack[VL_INDENT_STACK_SIZE];
    int32_t indent_depth;
    int32_t pending_dedents;
};

[[nodiscard]] VlLexer* vl_lexer_create(VlArena* arena, const char* source);
VlToken vl_lexer_next_token(VlLexer* lexer);
const char* vl_token_type_name(VlTokenType type);
