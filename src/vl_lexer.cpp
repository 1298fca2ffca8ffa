// The lexer: one token per call, pointing into the caller's source text.
#include "vl_lexer.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <limits>
#include <string_view>
#include <utility>

namespace {

struct Keyword {
    std::string_view word;
    VlTokenType type;
};

// The one-word keywords; "divided by" is read as a word and "by".
constexpr auto KEYWORDS = [] {
    std::array<Keyword, 64> all{};
    size_t n = 0;
#define VL_KEYWORD(token, spelling, detail, meaning) all[n++] = Keyword{spelling, token};
#include "vl_keywords.h"
    std::array<Keyword, 64> words{};
    size_t kept = 0;
    for (size_t i = 0; i < n; i++)
        if (all[i].word.find(' ') == std::string_view::npos) words[kept++] = all[i];
    return std::pair{words, kept};
}();
constexpr size_t KEYWORD_COUNT = KEYWORDS.second;

constexpr size_t SHORTEST_KEYWORD = [] {
    size_t shortest = SIZE_MAX;
    for (size_t i = 0; i < KEYWORD_COUNT; i++) shortest = std::min(shortest, KEYWORDS.first[i].word.size());
    return shortest;
}();
constexpr size_t LONGEST_KEYWORD = [] {
    size_t longest = 0;
    for (size_t i = 0; i < KEYWORD_COUNT; i++) longest = std::max(longest, KEYWORDS.first[i].word.size());
    return longest;
}();

// A perfect hash of the keywords into 64 slots, from a word's length and its
// first and last bytes, so that a word is compared with one keyword at most:
// (length * a + first * b + last * c) mod 64.  The factors are the first
// that give every keyword a slot of its own, found below at compile time;
// a new keyword that collides makes the search go on, or fail the build.
struct HashFactors {
    unsigned a, b, c;
};

constexpr size_t hash_slot(HashFactors f, size_t length, unsigned char first, unsigned char last) {
    return (length * f.a + first * f.b + last * f.c) & 63u;
}

constexpr HashFactors HASH = [] {
    for (unsigned a = 1; a < 16; a++) {
        for (unsigned b = 1; b < 16; b++) {
            for (unsigned c = 1; c < 16; c++) {
                uint64_t taken = 0;
                bool perfect = true;
                for (size_t i = 0; i < KEYWORD_COUNT && perfect; i++) {
                    std::string_view word = KEYWORDS.first[i].word;
                    uint64_t bit = uint64_t{1} << hash_slot({a, b, c}, word.size(), static_cast<unsigned char>(word.front()),
                                                             static_cast<unsigned char>(word.back()));
                    perfect = !(taken & bit);
                    taken |= bit;
                }
                if (perfect) return HashFactors{a, b, c};
            }
        }
    }
    return HashFactors{0, 0, 0};
}();
static_assert(HASH.a != 0, "no factors below 16 hash the keywords perfectly");

constexpr auto KEYWORD_TABLE = [] {
    std::array<Keyword, 64> slots{};
    for (size_t i = 0; i < KEYWORD_COUNT; i++) {
        const Keyword& keyword = KEYWORDS.first[i];
        slots[hash_slot(HASH, keyword.word.size(), static_cast<unsigned char>(keyword.word.front()),
                        static_cast<unsigned char>(keyword.word.back()))] = keyword;
    }
    return slots;
}();

VlTokenType keyword_type(const char* word, size_t length) {
    if (length < SHORTEST_KEYWORD || length > LONGEST_KEYWORD) return TOKEN_IDENTIFIER;
    const Keyword& keyword = KEYWORD_TABLE[hash_slot(HASH, length, static_cast<unsigned char>(word[0]),
                                                     static_cast<unsigned char>(word[length - 1]))];
    if (keyword.word.size() != length) return TOKEN_IDENTIFIER;
    for (size_t i = 0; i < length; i++)
        if (keyword.word[i] != word[i]) return TOKEN_IDENTIFIER;
    return keyword.type;
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

// How the lexer's quick road treats a token's first byte.  OTHER takes the
// general road: the source's NUL, blanks, and the quote of a string.
enum ByteKind : uint8_t { KIND_OTHER, KIND_WORD, KIND_DIGIT, KIND_FEED, KIND_SYMBOL };

constexpr std::array<ByteKind, 256> byte_kinds() {
    std::array<ByteKind, 256> table{};
    for (int c = 1; c < 256; c++) table[c] = KIND_SYMBOL;  // a one-byte token, TOKEN_ERROR included
    for (int c = 0; c < 256; c++) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_') table[c] = KIND_WORD;
        if (c >= '0' && c <= '9') table[c] = KIND_DIGIT;
    }
    table['\n'] = KIND_FEED;
    table[' '] = table['\t'] = table['\r'] = table['"'] = KIND_OTHER;
    return table;
}
constexpr auto BYTE_KIND = byte_kinds();

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

// Tokens are written field by field into the caller's record.  A record
// returned by value is copied with wide loads just after the narrow stores
// that built it, and that store-forwarding stall cost the parser more time
// than the lexing itself.
void set_token(VlToken& out, VlTokenType type, const char* start, size_t length, int32_t line, int32_t column) {
    out.type = type;
    out.start = start;
    out.length = length;
    out.line = line;
    out.column = column;
    out.number = 0.0;
    out.text = nullptr;
}

[[gnu::noinline]] void lex_string(VlToken& out, Cursor& cursor, VlLexer* lexer, const char* start, int32_t line, int32_t column) {
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
    set_token(out, TOKEN_STRING, start, n + 2, line, column);
    out.text = vl_arena_must_strndup(lexer->arena, content, n);
}

// A number whose first digit is at `start`; returns the end of the literal.
const char* lex_number(VlToken& out, const char* start, int32_t line, int32_t column) {
    const char* p = start + 1;
    while (is_digit(*p)) p++;
    bool fraction = p[0] == '.' && is_digit(p[1]);
    if (fraction) {
        p++;
        while (is_digit(*p)) p++;
    }
    size_t length = static_cast<size_t>(p - start);
    set_token(out, TOKEN_NUMBER, start, length, line, column);
    // Correctly rounded for any length.  Digits cannot fail to parse; out of
    // range means overflow (a nonzero integer part: infinity) or underflow (0).
    double value = 0.0;
    if (std::from_chars(start, start + length, value).ec == std::errc::result_out_of_range) {
        bool large = false;
        for (const char* q = start; q < start + length && *q != '.'; q++) large |= *q != '0';
        value = large ? std::numeric_limits<double>::infinity() : 0.0;
    }
    out.number = value;
    return p;
}

// A word whose first byte is at `start`; returns its end.
[[gnu::always_inline]] inline const char* lex_word(VlToken& out, VlArena* arena, VlNameTable* names, const char* start,
                                                   int32_t line, int32_t column) {
    const char* p = start + 1;
    while (WORD_CHAR[static_cast<unsigned char>(*p)]) p++;
    size_t n = static_cast<size_t>(p - start);
    if (n == 7 && std::memcmp(start, "divided", 7) == 0) {
        const char* q = p;
        while (*q == ' ') q++;
        if (q[0] == 'b' && q[1] == 'y') {
            set_token(out, TOKEN_DIVIDE, start, static_cast<size_t>(q + 2 - start), line, column);
            return q + 2;
        }
    }
    set_token(out, keyword_type(start, n), start, n, line, column);
    out.text = names ? vl_names_intern(names, start, n) : vl_arena_must_strndup(arena, start, n);
    return p;
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

// Skips what lies between tokens (blanks, comments, the ends of windows)
// and makes the end-of-input token there.  True when it made a token.
bool skip_gap(VlToken& out, Cursor& cursor, VlLexer* lexer) {
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
    if (p < cursor.end) return false;
    const int32_t end_column = cursor.column_of(end_at);
    if (lexer->indent_depth > 0) {
        lexer->pending_dedents += lexer->indent_depth - 1;
        lexer->indent_depth = 0;
        set_token(out, TOKEN_DEDENT, nullptr, 0, line, end_column);
        return true;
    }
    set_token(out, TOKEN_EOF, nullptr, 0, line, end_column);
    return true;
}

// Any token, from a cursor in memory: the general road, out of line.
[[gnu::noinline]] void read_token(VlToken& out, Cursor& cursor, VlLexer* lexer) {
    const int32_t line = cursor.line;
    if (skip_gap(out, cursor, lexer)) return;
    const char* p = cursor.p;
    const char* start = p;
    const int32_t column = cursor.column_of(start);
    const char c = *start;
    cursor.p = start + 1;
    if (c == '\n') {
        cursor.new_line(cursor.p);
        set_token(out, TOKEN_NEWLINE, start, 1, line, column);
    } else if (c == '"') {
        lex_string(out, cursor, lexer, start, line, column);
    } else if (is_digit(c)) {
        cursor.p = lex_number(out, start, line, column);
    } else if (is_letter(c) || c == '_') {
        cursor.p = lex_word(out, lexer->arena, lexer->names, start, line, column);
    } else {
        set_token(out, single_byte_token(c), start, 1, line, column);
    }
}

// Where the next call starts: the position fields follow the pointer.
void finish(VlLexer* lexer, const char* end) {
    lexer->next_byte = end;
    lexer->position = static_cast<size_t>(end - lexer->source);
    lexer->column = static_cast<int32_t>(end - lexer->line_start) + 1;
}

// The roads below are out of line so that the entry reaches them by a jump,
// not a call.
[[gnu::noinline]] void read_word(VlLexer* lexer, VlToken& out, const char* start, int32_t line, int32_t column) {
    finish(lexer, lex_word(out, lexer->arena, lexer->names, start, line, column));
}

[[gnu::noinline]] void read_general_number(VlLexer* lexer, VlToken& out, const char* start, int32_t line,
                                           int32_t column) {
    finish(lexer, lex_number(out, start, line, column));
}

// The quick road's numbers: a whole number of up to 15 digits, exact in a
// double, summed as it is scanned.  Any other goes to lex_number, which
// converts every literal from its text (the general road's numbers too).
[[gnu::noinline]] void read_number(VlLexer* lexer, VlToken& out, const char* start, int32_t line, int32_t column) {
    const char* p = start;
    uint64_t whole = 0;
    do whole = whole * 10 + static_cast<uint64_t>(*p++ - '0');
    while (is_digit(*p));
    const auto length = static_cast<size_t>(p - start);
    if ((p[0] == '.' && is_digit(p[1])) || length > 15) return read_general_number(lexer, out, start, line, column);
    set_token(out, TOKEN_NUMBER, start, length, line, column);
    out.number = static_cast<double>(static_cast<int64_t>(whole));  // signed: one conversion instruction
    finish(lexer, p);
}

void read_pending_dedent(VlLexer* lexer, VlToken& out) {
    lexer->pending_dedents--;
    set_token(out, TOKEN_DEDENT, nullptr, 0, lexer->line, lexer->column);
}

[[gnu::noinline]] void read_general(VlLexer* lexer, VlToken& out) {
    Cursor cursor{lexer->next_byte, lexer->source + lexer->length, lexer->line_start, lexer->line};
    read_token(out, cursor, lexer);
    lexer->line_start = cursor.line_start;
    lexer->line = cursor.line;
    finish(lexer, cursor.p);
}

}  // namespace

VlLexer* vl_lexer_create(VlArena* arena, const char* source) {
    auto* lexer = static_cast<VlLexer*>(vl_arena_must_alloc_zero(arena, sizeof(VlLexer)));
    lexer->source = source ? source : "";
    lexer->length = std::strlen(lexer->source);
    lexer->line = 1;
    lexer->column = 1;
    lexer->arena = arena;
    lexer->next_byte = lexer->line_start = lexer->source;
    return lexer;
}

VlLexer* vl_lexer_create_from(VlArena* arena, const VlLexerSetup& setup) {
    VlLexer* lexer = vl_lexer_create(arena, setup.source);
    lexer->feed = setup.feed;
    if (setup.texts) lexer->arena = setup.texts;
    lexer->names = setup.names;
    return lexer;
}

void vl_lexer_detach(VlLexer* lexer) { lexer->feed = nullptr; }

bool vl_lexer_text_is_interned(const VlLexer* lexer, const VlToken& token) {
    return lexer->names && token.text && token.type != TOKEN_STRING;
}

void vl_lexer_read_token(VlLexer* lexer, VlToken* out) {
    if (lexer->pending_dedents > 0) return read_pending_dedent(lexer, *out);
    // The common case, plain spaces and then a word, a number, a line feed
    // or a symbol, is read here with the position in registers; the rest
    // (comments, tabs, strings, the end of a window) goes to read_general,
    // whose cursor lives in memory.  Every road ends in a call in tail
    // position or in finish(), so this entry needs no stack frame (with the
    // frameless number road, 8% fewer instructions for the front end).
    const char* p = lexer->next_byte;
    while (*p == ' ') p++;
    const char c = *p;
    const ByteKind kind = BYTE_KIND[static_cast<unsigned char>(c)];
    // A comment begins "//".  The second byte is read only after a slash
    // (p[0] is c itself otherwise, which is no slash): a branch on the first
    // slash would be taken at random on every division.
    const bool comment = p[c == '/'] == '/';
    if ((kind == KIND_OTHER) | comment) return read_general(lexer, *out);
    const int32_t line = lexer->line;
    const auto column = static_cast<int32_t>(p - lexer->line_start) + 1;
    switch (kind) {
        case KIND_WORD: return read_word(lexer, *out, p, line, column);
        case KIND_DIGIT: return read_number(lexer, *out, p, line, column);
        case KIND_FEED:
            set_token(*out, TOKEN_NEWLINE, p, 1, line, column);
            lexer->line = line + 1;
            lexer->line_start = p + 1;
            return finish(lexer, p + 1);
        default:
            set_token(*out, single_byte_token(c), p, 1, line, column);
            return finish(lexer, p + 1);
    }
}

VlToken vl_lexer_next_token(VlLexer* lexer) {
    VlToken token;
    vl_lexer_read_token(lexer, &token);
    return token;
}

const char* vl_token_type_name(VlTokenType type) {
    // The statement words and the operators go by their spelling; the other
    // keywords, like every other token but three, are just "TOKEN".
    if ((type >= TOKEN_START && type <= TOKEN_COUNT) || (type >= TOKEN_PLUS && type <= TOKEN_DIVIDE)) {
        switch (type) {
#define VL_KEYWORD(token, spelling, detail, meaning) \
    case token: return spelling;
#include "vl_keywords.h"
            default: break;
        }
    }
    switch (type) {
        case TOKEN_IDENTIFIER: return "IDENTIFIER";
        case TOKEN_NUMBER: return "NUMBER";
        case TOKEN_STRING: return "STRING";
        default: return "TOKEN";
    }
}
