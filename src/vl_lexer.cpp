// The lexer: one token per call, pointing into the caller's source text.
#include "vl_lexer.h"

#include <charconv>
#include <cstring>
#include <limits>
#include <string_view>

namespace {

struct Keyword {
    std::string_view word;
    VlTokenType type;
};

constexpr Keyword KEYWORDS[] = {
    {"start", TOKEN_START},       {"stop", TOKEN_STOP},       {"store", TOKEN_STORE},
    {"display", TOKEN_DISPLAY},   {"check", TOKEN_CHECK},     {"otherwise", TOKEN_OTHERWISE},
    {"count", TOKEN_COUNT},       {"from", TOKEN_FROM},       {"to", TOKEN_TO},
    {"create", TOKEN_CREATE},     {"blueprint", TOKEN_BLUEPRINT}, {"open", TOKEN_OPEN},
    {"freeze", TOKEN_FREEZE},     {"move", TOKEN_MOVE},       {"as", TOKEN_AS},
    {"same", TOKEN_SAME},         {"big", TOKEN_BIG},         {"small", TOKEN_SMALL},
    {"yes", TOKEN_YES},           {"no", TOKEN_NO},           {"number", TOKEN_TYPE_NUMBER},
    {"word", TOKEN_TYPE_WORD},    {"flag", TOKEN_TYPE_FLAG},  {"list", TOKEN_TYPE_LIST},
    {"plus", TOKEN_PLUS},         {"minus", TOKEN_MINUS},     {"into", TOKEN_MULTIPLY},
};

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }
bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_word_char(char c) { return is_letter(c) || is_digit(c) || c == '_'; }

bool at_end(const VlLexer* lexer) { return lexer->position >= lexer->length; }

// The byte `ahead` places past the current one, or NUL past the end.
char peek(const VlLexer* lexer, size_t ahead = 0) {
    size_t index = lexer->position + ahead;
    return index < lexer->length ? lexer->source[index] : '\0';
}

void consume(VlLexer* lexer) {
    if (at_end(lexer)) return;
    if (lexer->source[lexer->position++] == '\n') {
        lexer->line++;
        lexer->column = 1;
    } else {
        lexer->column++;
    }
}

VlToken make_token(VlTokenType type, const char* start, size_t length, int32_t line, int32_t column) {
    return VlToken{type, start, length, line, column, 0.0, nullptr};
}

VlTokenType keyword_type(std::string_view word) {
    for (const Keyword& keyword : KEYWORDS)
        if (keyword.word == word) return keyword.type;
    return TOKEN_IDENTIFIER;
}

VlToken lex_string(VlLexer* lexer, const char* start, int32_t line, int32_t column) {
    size_t content = lexer->position;
    while (!at_end(lexer) && peek(lexer) != '"') {
        if (peek(lexer) == '\\') consume(lexer);  // the escaped byte is kept, whatever it is
        consume(lexer);
    }
    size_t n = lexer->position - content;
    if (!at_end(lexer)) consume(lexer);  // closing quote
    VlToken token = make_token(TOKEN_STRING, start, n + 2, line, column);
    token.text = vl_arena_must_strndup(lexer->arena, lexer->source + content, n);
    return token;
}

VlToken lex_number(VlLexer* lexer, const char* start, int32_t line, int32_t column) {
    while (is_digit(peek(lexer))) consume(lexer);
    if (peek(lexer) == '.' && is_digit(peek(lexer, 1))) {
        consume(lexer);
        while (is_digit(peek(lexer))) consume(lexer);
    }
    size_t length = static_cast<size_t>(lexer->source + lexer->position - start);
    VlToken token = make_token(TOKEN_NUMBER, start, length, line, column);
    // Correctly rounded for any length.  Digits cannot fail to parse; out of
    // range means overflow (a nonzero integer part: infinity) or underflow (0).
    double value = 0.0;
    if (std::from_chars(start, start + length, value).ec == std::errc::result_out_of_range) {
        bool large = false;
        for (const char* p = start; p < start + length && *p != '.'; p++) large |= *p != '0';
        value = large ? std::numeric_limits<double>::infinity() : 0.0;
    }
    token.number = value;
    return token;
}

VlToken lex_word(VlLexer* lexer, const char* start, int32_t line, int32_t column) {
    while (is_word_char(peek(lexer))) consume(lexer);
    size_t n = static_cast<size_t>(lexer->source + lexer->position - start);
    std::string_view word(start, n);
    if (word == "divided") {
        size_t spaces = 0;
        while (peek(lexer, spaces) == ' ') spaces++;
        if (peek(lexer, spaces) == 'b' && peek(lexer, spaces + 1) == 'y') {
            for (size_t i = 0; i < spaces + 2; i++) consume(lexer);
            return make_token(TOKEN_DIVIDE, start, n + spaces + 2, line, column);
        }
    }
    VlToken token = make_token(keyword_type(word), start, n, line, column);
    token.text = vl_arena_must_strndup(lexer->arena, start, n);
    return token;
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
    int32_t line = lexer->line;
    int32_t end_column = lexer->column;  // column reported for EOF
    while (!at_end(lexer)) {
        char c = peek(lexer);
        if (is_blank(c)) {
            consume(lexer);
        } else if (c == '/' && peek(lexer, 1) == '/') {
            while (!at_end(lexer) && peek(lexer) != '\n') consume(lexer);
            end_column = lexer->column;
        } else {
            break;
        }
    }
    if (at_end(lexer)) {
        if (lexer->indent_depth > 0) {
            lexer->pending_dedents += lexer->indent_depth - 1;
            lexer->indent_depth = 0;
            return make_token(TOKEN_DEDENT, nullptr, 0, line, end_column);
        }
        return make_token(TOKEN_EOF, nullptr, 0, line, end_column);
    }

    int32_t column = lexer->column;
    const char* start = lexer->source + lexer->position;
    char c = *start;
    consume(lexer);
    switch (c) {
        case '\n': return make_token(TOKEN_NEWLINE, start, 1, line, column);
        case '/': return make_token(TOKEN_DIVIDE, start, 1, line, column);
        case '(': return make_token(TOKEN_LPAREN, start, 1, line, column);
        case ')': return make_token(TOKEN_RPAREN, start, 1, line, column);
        case '*': return make_token(TOKEN_MULTIPLY, start, 1, line, column);
        case '+': return make_token(TOKEN_PLUS, start, 1, line, column);
        case ',': return make_token(TOKEN_COMMA, start, 1, line, column);
        case '-': return make_token(TOKEN_MINUS, start, 1, line, column);
        case ':': return make_token(TOKEN_COLON, start, 1, line, column);
        case '=': return make_token(TOKEN_ASSIGN, start, 1, line, column);
        case '[': return make_token(TOKEN_LBRACKET, start, 1, line, column);
        case ']': return make_token(TOKEN_RBRACKET, start, 1, line, column);
        case '"': return lex_string(lexer, start, line, column);
        default: break;
    }
    if (is_digit(c)) return lex_number(lexer, start, line, column);
    if (is_letter(c) || c == '_') return lex_word(lexer, start, line, column);
    return make_token(TOKEN_ERROR, start, 1, line, column);
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
