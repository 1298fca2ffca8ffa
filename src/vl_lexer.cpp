// The lexer: one token per call, pointing into the caller's source text.
#include "vl_lexer.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
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

// Each keyword's spelling, which is the text of its tokens: a keyword is
// never copied or looked up in the name table.  Not const only because a
// token's text is a `char*`; nothing writes to it.
constinit auto KEYWORD_TEXT = [] {
    std::array<std::array<char, LONGEST_KEYWORD + 1>, 64> texts{};
    for (size_t slot = 0; slot < KEYWORD_TABLE.size(); slot++)
        std::copy(KEYWORD_TABLE[slot].word.begin(), KEYWORD_TABLE[slot].word.end(), texts[slot].begin());
    return texts;
}();

// The slot of the keyword spelled by the word, or -1.
int keyword_slot(const char* word, size_t length) {
    if (length < SHORTEST_KEYWORD || length > LONGEST_KEYWORD) return -1;
    const size_t slot =
        hash_slot(HASH, length, static_cast<unsigned char>(word[0]), static_cast<unsigned char>(word[length - 1]));
    const Keyword& keyword = KEYWORD_TABLE[slot];
    if (keyword.word.size() != length) return -1;
    for (size_t i = 0; i < length; i++)
        if (keyword.word[i] != word[i]) return -1;
    return static_cast<int>(slot);
}

// Letters, digits and the underscore continue a word.
constexpr std::array<bool, 256> word_chars() {
    std::array<bool, 256> table{};
    for (int c = 0; c < 256; c++)
        table[c] = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
    return table;
}
constexpr auto WORD_CHAR = word_chars();

// What a token's first byte says.  One dispatch on it reads every token;
// blanks are space, tab and carriage return, and the source's (or a
// window's) NUL is its end.
enum ByteKind : uint8_t { KIND_SYMBOL, KIND_BLANK, KIND_WORD, KIND_DIGIT, KIND_FEED, KIND_SLASH, KIND_QUOTE, KIND_END };

constexpr std::array<ByteKind, 256> byte_kinds() {
    std::array<ByteKind, 256> table{};  // KIND_SYMBOL: a one-byte token, TOKEN_ERROR included
    for (int c = 0; c < 256; c++) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_') table[c] = KIND_WORD;
        if (c >= '0' && c <= '9') table[c] = KIND_DIGIT;
    }
    table[' '] = table['\t'] = table['\r'] = KIND_BLANK;
    table['\n'] = KIND_FEED;
    table['/'] = KIND_SLASH;
    table['"'] = KIND_QUOTE;
    table[0] = KIND_END;
    return table;
}
constexpr auto BYTE_KIND = byte_kinds();

ByteKind kind_of(char c) { return BYTE_KIND[static_cast<unsigned char>(c)]; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The lexer's position is `next_byte`, and a column is the distance from
// `line_start`: nothing is counted byte by byte.  Reads stop at the NUL that
// ends the source or the window without a bounds test, since no rule takes
// it for part of a token.
int32_t column_of(const VlLexer* lexer, const char* at) { return static_cast<int32_t>(at - lexer->line_start) + 1; }

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

// Asks the feed for the next window, keeping the bytes from `keep` on; `at`
// (at or after `keep`) moves with them.  False when nothing new came: the
// input has ended.
bool next_window(VlLexer* lexer, const char* keep, const char*& at) {
    const size_t offset = static_cast<size_t>(at - keep);
    const int32_t column = column_of(lexer, at);
    size_t length = 0;
    const char* window = lexer->feed->more(lexer->feed->context, keep, &length);
    lexer->source = window;
    lexer->length = length;
    at = window + offset;
    // A window ends after a line feed (or inside a string), so the line
    // that `at` is on began at or after `keep`.
    lexer->line_start = at - (column - 1);
    return at < window + length;
}

// A word whose first byte is at `start`.
[[gnu::noinline]] void read_word(VlLexer* lexer, VlToken& out, const char* start) {
    const int32_t column = column_of(lexer, start);
    const char* p = start + 1;
    while (WORD_CHAR[static_cast<unsigned char>(*p)]) p++;
    const auto n = static_cast<size_t>(p - start);
    if (n == 7 && std::memcmp(start, "divided", 7) == 0) {
        const char* q = p;
        while (*q == ' ') q++;
        if (q[0] == 'b' && q[1] == 'y') {
            set_token(out, TOKEN_DIVIDE, start, static_cast<size_t>(q + 2 - start), lexer->line, column);
            lexer->next_byte = q + 2;
            return;
        }
    }
    lexer->next_byte = p;
    if (const int slot = keyword_slot(start, n); slot >= 0) {
        set_token(out, KEYWORD_TABLE[slot].type, start, n, lexer->line, column);
        out.text = KEYWORD_TEXT[slot].data();
        return;
    }
    set_token(out, TOKEN_IDENTIFIER, start, n, lexer->line, column);
    out.text = lexer->names ? vl_names_intern(lexer->names, start, n) : vl_arena_must_strndup(lexer->arena, start, n);
}

// The value of a literal that is not a whole number of up to 15 digits:
// correctly rounded for any length.  Digits cannot fail to parse; out of
// range means overflow (a nonzero integer part: infinity) or underflow (0).
[[gnu::noinline]] double convert_number(const char* start, size_t length) {
#if defined(__cpp_lib_to_chars)
    double value = 0.0;
    if (std::from_chars(start, start + length, value).ec == std::errc::result_out_of_range) {
        bool large = false;
        for (const char* q = start; q < start + length && *q != '.'; q++) large |= *q != '0';
        value = large ? std::numeric_limits<double>::infinity() : 0.0;
    }
    return value;
#else
    // No floating-point from_chars (libc++ 14, the WebAssembly build): strtod,
    // which rounds as correctly and also gives infinity and 0 out of range.
    // It is given the digits and a decimal exponent instead of the point,
    // so that the locale's decimal separator plays no part.
    std::string text;
    text.reserve(length + 24);
    size_t fraction_digits = 0;
    for (const char* q = start; q < start + length; q++) {
        if (*q == '.')
            fraction_digits = static_cast<size_t>(start + length - q - 1);
        else
            text += *q;
    }
    if (fraction_digits) text += "e-" + std::to_string(fraction_digits);
    return std::strtod(text.c_str(), nullptr);
#endif
}

// A number whose first digit is at `start`.  A whole number of up to 15
// digits, exact in a double, is summed as it is scanned; any other is
// converted from its text.
[[gnu::noinline]] void read_number(VlLexer* lexer, VlToken& out, const char* start) {
    const char* p = start;
    uint64_t whole = 0;
    do whole = whole * 10 + static_cast<uint64_t>(*p++ - '0');
    while (is_digit(*p));
    const bool fraction = p[0] == '.' && is_digit(p[1]);
    if (fraction) {
        p++;
        while (is_digit(*p)) p++;
    }
    const auto length = static_cast<size_t>(p - start);
    set_token(out, TOKEN_NUMBER, start, length, lexer->line, column_of(lexer, start));
    out.number = !fraction && length <= 15 ? static_cast<double>(static_cast<int64_t>(whole))  // one instruction
                                           : convert_number(start, length);
    lexer->next_byte = p;
}

// A string whose opening quote is at `start`; it may span windows.
[[gnu::noinline]] void read_string(VlLexer* lexer, VlToken& out, const char* start) {
    const int32_t line = lexer->line, column = column_of(lexer, start);
    const char* p = start + 1;
    for (;;) {
        const char* end = lexer->source + lexer->length;
        while (p < end && *p != '"') {
            if (*p == '\\' && p + 1 < end) p++;  // the escaped byte stays, whatever it is
            if (*p == '\n') {
                lexer->line++;
                lexer->line_start = p + 1;
            }
            p++;
        }
        if (p < end || !lexer->feed) break;
        // The window ended inside the literal: the next one starts at its quote.
        const bool more = next_window(lexer, start, p);
        start = lexer->source;
        if (!more) break;
    }
    const char* content = start + 1;
    const auto n = static_cast<size_t>(p - content);
    if (*p == '"') p++;  // the closing quote
    set_token(out, TOKEN_STRING, start, n + 2, line, column);
    out.text = vl_arena_must_strndup(lexer->arena, content, n);
    lexer->next_byte = p;
}

// The end of the window at `p`: the next token is in the next window, or
// the input has ended.  EOF's column is where the call began, or just past
// the comment it skipped (`gap_end`), or, when a window ended there, where it
// ended.
[[gnu::noinline]] void read_end(VlLexer* lexer, VlToken& out, const char* p, const char* gap_end) {
    if (lexer->feed) {
        const bool more = next_window(lexer, p, p);
        lexer->next_byte = p;
        if (more) return vl_lexer_read_token(lexer, &out);
        gap_end = p;
    }
    const int32_t column = column_of(lexer, gap_end);
    lexer->next_byte = p;
    if (lexer->indent_depth > 0) {
        lexer->pending_dedents += lexer->indent_depth - 1;
        lexer->indent_depth = 0;
        set_token(out, TOKEN_DEDENT, nullptr, 0, lexer->line, column);
        return;
    }
    set_token(out, TOKEN_EOF, nullptr, 0, lexer->line, column);
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

}  // namespace

VlLexer* vl_lexer_create(VlArena* arena, const char* source) {
    auto* lexer = static_cast<VlLexer*>(vl_arena_must_alloc_zero(arena, sizeof(VlLexer)));
    lexer->source = source ? source : "";
    lexer->length = std::strlen(lexer->source);
    lexer->line = 1;
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
    if (!token.text || token.type == TOKEN_STRING) return false;
    return lexer->names || token.type != TOKEN_IDENTIFIER;  // a keyword's spelling outlives every arena
}

void vl_lexer_read_token(VlLexer* lexer, VlToken* out) {
    if (lexer->pending_dedents > 0) {
        lexer->pending_dedents--;
        set_token(*out, TOKEN_DEDENT, nullptr, 0, lexer->line, column_of(lexer, lexer->next_byte));
        return;
    }
    // One dispatch on the first byte.  The common tokens end here or in a
    // call in tail position, with the position in a register; comments and
    // blanks loop back to the dispatch.
    const char* p = lexer->next_byte;
    const char* gap_end = p;  // where EOF's column is taken
    // Tokens are mostly one space apart: that space is passed here, by a
    // branch that is nearly always right, rather than by a second dispatch.
    if (*p == ' ') p++;
    for (;;) {
        switch (kind_of(*p)) {
            case KIND_BLANK:
                p++;
                continue;
            case KIND_WORD:
                return read_word(lexer, *out, p);
            case KIND_DIGIT:
                return read_number(lexer, *out, p);
            case KIND_FEED:
                set_token(*out, TOKEN_NEWLINE, p, 1, lexer->line, column_of(lexer, p));
                lexer->line++;
                lexer->line_start = lexer->next_byte = p + 1;
                return;
            case KIND_SLASH:
                if (p[1] == '/') {
                    // A comment runs to the line feed, which stays for the next token.
                    const char* end = lexer->source + lexer->length;
                    const void* feed = std::memchr(p, '\n', static_cast<size_t>(end - p));
                    p = gap_end = feed ? static_cast<const char*>(feed) : end;
                    continue;
                }
                [[fallthrough]];
            case KIND_SYMBOL:
                set_token(*out, single_byte_token(*p), p, 1, lexer->line, column_of(lexer, p));
                lexer->next_byte = p + 1;
                return;
            case KIND_QUOTE:
                return read_string(lexer, *out, p);
            case KIND_END:
                return read_end(lexer, *out, p, gap_end);
        }
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
