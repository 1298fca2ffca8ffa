// The lexer: one token per call, pointing into the caller's source text.
#include "vl_lexer.h"

#include <array>
#include <charconv>
#include <cstring>
#include <limits>
#include <string_view>

namespace {

struct Keyword {
    std::string_view word;
    VlTokenType type;
};

// The keywords grouped by length, so that a word is compared only with the
// few keywords as long as it is, first byte first.
constexpr Keyword KEYWORDS[] = {
    {"to", TOKEN_TO},          {"as", TOKEN_AS},          {"no", TOKEN_NO},
    {"big", TOKEN_BIG},        {"yes", TOKEN_YES},
    {"stop", TOKEN_STOP},      {"from", TOKEN_FROM},      {"open", TOKEN_OPEN},
    {"move", TOKEN_MOVE},      {"same", TOKEN_SAME},      {"word", TOKEN_TYPE_WORD},
    {"flag", TOKEN_TYPE_FLAG}, {"list", TOKEN_TYPE_LIST}, {"plus", TOKEN_PLUS},
    {"into", TOKEN_MULTIPLY},
    {"start", TOKEN_START},    {"store", TOKEN_STORE},    {"check", TOKEN_CHECK},
    {"count", TOKEN_COUNT},    {"small", TOKEN_SMALL},    {"minus", TOKEN_MINUS},
    {"create", TOKEN_CREATE},  {"freeze", TOKEN_FREEZE},  {"number", TOKEN_TYPE_NUMBER},
    {"display", TOKEN_DISPLAY},
    {"otherwise", TOKEN_OTHERWISE}, {"blueprint", TOKEN_BLUEPRINT},
};
constexpr size_t LONGEST_KEYWORD = 9;

struct KeywordRange {
    unsigned char first, end;  // indices into KEYWORDS
};

constexpr std::array<KeywordRange, LONGEST_KEYWORD + 1> keyword_ranges() {
    std::array<KeywordRange, LONGEST_KEYWORD + 1> ranges{};
    for (size_t length = 0; length <= LONGEST_KEYWORD; length++) {
        size_t first = 0;
        while (first < std::size(KEYWORDS) && KEYWORDS[first].word.size() != length) first++;
        size_t end = first;
        while (end < std::size(KEYWORDS) && KEYWORDS[end].word.size() == length) end++;
        ranges[length] = {static_cast<unsigned char>(first), static_cast<unsigned char>(end)};
    }
    return ranges;
}
constexpr auto KEYWORD_RANGES = keyword_ranges();

constexpr bool keywords_grouped_by_length() {
    for (size_t i = 1; i < std::size(KEYWORDS); i++)
        if (KEYWORDS[i].word.size() < KEYWORDS[i - 1].word.size()) return false;
    return std::size(KEYWORDS) == 27;
}
static_assert(keywords_grouped_by_length(), "the lookup needs the 27 keywords sorted by length");

VlTokenType keyword_type(const char* word, size_t length) {
    if (length > LONGEST_KEYWORD) return TOKEN_IDENTIFIER;
    for (size_t i = KEYWORD_RANGES[length].first; i < KEYWORD_RANGES[length].end; i++) {
        const Keyword& keyword = KEYWORDS[i];
        if (keyword.word[0] == word[0] && std::memcmp(keyword.word.data(), word, length) == 0) return keyword.type;
    }
    return TOKEN_IDENTIFIER;
}

// Letters, digits and the underscore continue a word.
constexpr std::array<bool, 256> word_chars() {
    std::array<bool, 256> table{};
    for (int c = 0; c < 256; c++)
        table[c] = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
    return table;
}
constexpr auto WORD_CHAR = word_chars();

// Space, tab and carriage return separate tokens.
constexpr std::array<bool, 256> blanks() {
    std::array<bool, 256> table{};
    table[' '] = table['\t'] = table['\r'] = true;
    return table;
}
constexpr auto BLANK = blanks();

bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The lexer's read position while one token is read, written back at the
// end.  Columns are not counted byte by byte: a column is its distance from
// the start of its line.  The source ends with its NUL, which no rule below
// takes for part of a token, so reads stop there without a bounds test.
struct Cursor {
    const char* p;           // the next unread byte
    const char* end;         // the source's NUL
    const char* line_start;  // the first byte of the current line
    int32_t line;

    int32_t column_of(const char* at) const { return static_cast<int32_t>(at - line_start) + 1; }
    void new_line(const char* after_feed) {
        line++;
        line_start = after_feed;
    }
};

// Asks the feed for the next window, keeping the bytes from `keep` on (at
// or before the cursor); the cursor moves with them.  False when nothing
// new came: the input has ended.
bool next_window(Cursor& cursor, VlLexer* lexer, const char* keep) {
    if (!lexer->feed) return false;
    const size_t offset = static_cast<size_t>(cursor.p - keep);
    const int32_t column = cursor.column_of(cursor.p);
    size_t length = 0;
    const char* window = lexer->feed->more(lexer->feed->context, keep, &length);
    lexer->source = window;
    lexer->length = length;
    cursor.p = window + offset;
    cursor.end = window + length;
    // A window ends after a line feed, so the line begins at or after `keep`.
    cursor.line_start = cursor.p - (column - 1);
    return cursor.p < cursor.end;
}

VlToken make_token(VlTokenType type, const char* start, size_t length, int32_t line, int32_t column) {
    return VlToken{type, start, length, line, column, 0.0, nullptr};
}

VlToken lex_string(Cursor& cursor, VlLexer* lexer, const char* start, int32_t line, int32_t column) {
    const char* p = cursor.p;
    for (;;) {
        while (p < cursor.end && *p != '"') {
            if (*p == '\\' && p + 1 < cursor.end) p++;  // the escaped byte stays, whatever it is
            if (*p == '\n') cursor.new_line(p + 1);
            p++;
        }
        if (p < cursor.end || !lexer->feed) break;
        // The window ended inside the literal: the next one starts at its quote.
        cursor.p = p;
        bool more = next_window(cursor, lexer, start);
        start = lexer->source;
        p = cursor.p;
        if (!more) break;
    }
    const char* content = start + 1;
    size_t n = static_cast<size_t>(p - content);
    if (p < cursor.end) p++;  // closing quote
    cursor.p = p;
    VlToken token = make_token(TOKEN_STRING, start, n + 2, line, column);
    token.text = vl_arena_must_strndup(lexer->arena, content, n);
    return token;
}

VlToken lex_number(Cursor& cursor, const char* start, int32_t line, int32_t column) {
    const char* p = cursor.p;
    while (is_digit(*p)) p++;
    bool fraction = p[0] == '.' && is_digit(p[1]);
    if (fraction) {
        p++;
        while (is_digit(*p)) p++;
    }
    cursor.p = p;
    size_t length = static_cast<size_t>(p - start);
    VlToken token = make_token(TOKEN_NUMBER, start, length, line, column);
    if (!fraction && length <= 15) {
        // Up to 15 digits the integer is exact in a double: no conversion needed.
        uint64_t whole = 0;
        for (size_t i = 0; i < length; i++) whole = whole * 10 + static_cast<uint64_t>(start[i] - '0');
        token.number = static_cast<double>(whole);
        return token;
    }
    // Correctly rounded for any length.  Digits cannot fail to parse; out of
    // range means overflow (a nonzero integer part: infinity) or underflow (0).
    double value = 0.0;
    if (std::from_chars(start, start + length, value).ec == std::errc::result_out_of_range) {
        bool large = false;
        for (const char* q = start; q < start + length && *q != '.'; q++) large |= *q != '0';
        value = large ? std::numeric_limits<double>::infinity() : 0.0;
    }
    token.number = value;
    return token;
}

VlToken lex_word(Cursor& cursor, VlArena* arena, const char* start, int32_t line, int32_t column) {
    const char* p = cursor.p;
    while (WORD_CHAR[static_cast<unsigned char>(*p)]) p++;
    cursor.p = p;
    size_t n = static_cast<size_t>(p - start);
    if (n == 7 && std::memcmp(start, "divided", 7) == 0) {
        const char* q = p;
        while (*q == ' ') q++;
        if (q[0] == 'b' && q[1] == 'y') {
            cursor.p = q + 2;
            return make_token(TOKEN_DIVIDE, start, static_cast<size_t>(cursor.p - start), line, column);
        }
    }
    VlToken token = make_token(keyword_type(start, n), start, n, line, column);
    token.text = vl_arena_must_strndup(arena, start, n);
    return token;
}

VlTokenType single_byte_token(char c) {
    switch (c) {
        case '/': return TOKEN_DIVIDE;
        case '(': return TOKEN_LPAREN;
        case ')': return TOKEN_RPAREN;
        case '*': return TOKEN_MULTIPLY;
        case '+': return TOKEN_PLUS;
        case ',': return TOKEN_COMMA;
        case '-': return TOKEN_MINUS;
        case ':': return TOKEN_COLON;
        case '=': return TOKEN_ASSIGN;
        case '[': return TOKEN_LBRACKET;
        case ']': return TOKEN_RBRACKET;
        default: return TOKEN_ERROR;
    }
}

VlToken read_token(Cursor& cursor, VlLexer* lexer) {
    const int32_t line = cursor.line;
    const char* end_at = cursor.p;  // where the column reported for EOF is taken
    const char* p = cursor.p;
    for (;;) {
        if (BLANK[static_cast<unsigned char>(*p)]) {
            p++;
        } else if (p[0] == '/' && p[1] == '/') {
            // A comment runs to the line feed, which stays for the next token.
            const void* feed = std::memchr(p, '\n', static_cast<size_t>(cursor.end - p));
            p = feed ? static_cast<const char*>(feed) : cursor.end;
            end_at = p;
        } else if (p >= cursor.end && lexer->feed) {
            // At a window's end nothing is pending: it ends after a line feed.
            cursor.p = p;
            bool more = next_window(cursor, lexer, p);
            p = end_at = cursor.p;
            if (!more) break;
        } else {
            break;
        }
    }
    cursor.p = p;
    if (p >= cursor.end) {
        const int32_t end_column = cursor.column_of(end_at);
        if (lexer->indent_depth > 0) {
            lexer->pending_dedents += lexer->indent_depth - 1;
            lexer->indent_depth = 0;
            return make_token(TOKEN_DEDENT, nullptr, 0, line, end_column);
        }
        return make_token(TOKEN_EOF, nullptr, 0, line, end_column);
    }

    const char* start = p;
    const int32_t column = cursor.column_of(start);
    const char c = *start;
    cursor.p = start + 1;
    if (c == '\n') {
        cursor.new_line(cursor.p);
        return make_token(TOKEN_NEWLINE, start, 1, line, column);
    }
    if (c == '"') return lex_string(cursor, lexer, start, line, column);
    if (is_digit(c)) return lex_number(cursor, start, line, column);
    if (is_letter(c) || c == '_') return lex_word(cursor, lexer->arena, start, line, column);
    return make_token(single_byte_token(c), start, 1, line, column);
}

}  // namespace

VlLexer* vl_lexer_create(VlArena* arena, const char* source) {
    auto* lexer = static_cast<VlLexer*>(vl_arena_must_alloc_zero(arena, sizeof(VlLexer)));
    lexer->source = source ? source : "";
    lexer->length = std::strlen(lexer->source);
    lexer->line = 1;
    lexer->column = 1;
    lexer->arena = arena;
    return lexer;
}

VlToken vl_lexer_next_token(VlLexer* lexer) {
    if (lexer->pending_dedents > 0) {
        lexer->pending_dedents--;
        return make_token(TOKEN_DEDENT, nullptr, 0, lexer->line, lexer->column);
    }
    const char* p = lexer->source + lexer->position;
    Cursor cursor{p, lexer->source + lexer->length, p - (lexer->column - 1), lexer->line};
    VlToken token = read_token(cursor, lexer);
    lexer->position = static_cast<size_t>(cursor.p - lexer->source);
    lexer->line = cursor.line;
    lexer->column = cursor.column_of(cursor.p);
    return token;
}

const char* vl_token_type_name(VlTokenType type) {
    switch (type) {
        case TOKEN_START: return "start";
        case TOKEN_STOP: return "stop";
        case TOKEN_STORE: return "store";
        case TOKEN_DISPLAY: return "display";
        case TOKEN_CHECK: return "check";
        case TOKEN_OTHERWISE: return "otherwise";
        case TOKEN_COUNT: return "count";
        case TOKEN_PLUS: return "plus";
        case TOKEN_MINUS: return "minus";
        case TOKEN_MULTIPLY: return "into";
        case TOKEN_DIVIDE: return "divided by";
        case TOKEN_IDENTIFIER: return "IDENTIFIER";
        case TOKEN_NUMBER: return "NUMBER";
        case TOKEN_STRING: return "STRING";
        default: return "TOKEN";
    }
}
