// Tokens and the on-demand lexer.
#pragma once
#include <cstddef>
#include <cstdint>
#include "vl_arena.h"
#include "vl_names.h"

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

// The operators, all of one precedence, grouped from the left; "same",
// "big" and "small" add, as "plus" does.
[[nodiscard]] constexpr bool vl_token_is_operator(VlTokenType type) {
    return type == TOKEN_SAME || type == TOKEN_BIG || type == TOKEN_SMALL || (type >= TOKEN_PLUS && type <= TOKEN_DIVIDE);
}

struct VlToken {
    VlTokenType type;
    const char* start;  // into the source; null for EOF and DEDENT
    size_t length;
    int32_t line;
    int32_t column;
    double number;      // value of a TOKEN_NUMBER, else 0.0
    char* text;         // a word (interned or copied; a keyword's own spelling) or a string's content, else null
};

inline constexpr int VL_INDENT_STACK_SIZE = 64;

// A source that arrives a window at a time (a script compiled while it is
// read).  At the end of its window the lexer calls `more` with the first byte
// it still needs; the feed moves that byte and the rest of the window to the
// front of the next window, fills it further and returns it, NUL-terminated,
// with its length in *length; the window holds nothing new once the input
// has ended (or could not be read further: the feed's owner tells).  A
// window ends just after a line feed or at the end of the input, so only a
// string literal can span two.  With a feed, a token's `start` holds only
// until the lexer asks for more; its `text` is unaffected.
struct VlSourceFeed {
    void* context;
    const char* (*more)(void* context, const char* keep, size_t* length);
};

struct VlLexer {
    const char* source;  // the whole text, or the current window of `feed`
    size_t length;
    int32_t line;
    VlArena* arena;
    int32_t indent_stack[VL_INDENT_STACK_SIZE];
    int32_t indent_depth;
    int32_t pending_dedents;
    const VlSourceFeed* feed;  // null: `source` is the whole text
    VlNameTable* names;        // words interned here instead of copied; may be null
    // The position: the next unread byte, and the first byte of its line
    // (a column is the distance from it).
    const char* next_byte;
    const char* line_start;
};

[[nodiscard]] VlLexer* vl_lexer_create(VlArena* arena, const char* source);

// Where a lexer reads and where its texts go.
struct VlLexerSetup {
    const char* source;        // the whole text, or the first window of `feed`
    const VlSourceFeed* feed;  // null: `source` is the whole text
    VlArena* texts;            // where token texts are copied; null: the lexer's own arena
    VlNameTable* names;        // words are interned here instead of copied; may be null
};
[[nodiscard]] VlLexer* vl_lexer_create_from(VlArena* arena, const VlLexerSetup& setup);

// The lexer will read no more: its feed may go.
void vl_lexer_detach(VlLexer* lexer);

// Whether a token's text stays where it is, wherever the other texts go: a
// word's text when the lexer has a name table (it lives as long as the
// table), and a keyword's spelling always.  The one rule for whoever moves
// texts between arenas.
[[nodiscard]] bool vl_lexer_text_is_interned(const VlLexer* lexer, const VlToken& token);
VlToken vl_lexer_next_token(VlLexer* lexer);
// The same, written into *out: the parser's way, which spares it a copy.
void vl_lexer_read_token(VlLexer* lexer, VlToken* out);
const char* vl_token_type_name(VlTokenType type);
