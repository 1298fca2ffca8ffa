// The lexer: token rules, positions, the "divided by" look-ahead, literals.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "vl_arena.h"
#include "vl_lexer.h"
#include "vl_source_stream.h"
#include "temp_dir.h"

namespace {

class Lexer : public ::testing::Test {
protected:
    VlArena* arena = vl_arena_create(65536);
    void TearDown() override { vl_arena_destroy(arena); }

    // Every token of `source` up to and including the first TOKEN_EOF.
    std::vector<VlToken> lex(const char* source) {
        VlLexer* lexer = vl_lexer_create(arena, source);
        std::vector<VlToken> tokens;
        for (;;) {
            tokens.push_back(vl_lexer_next_token(lexer));
            if (tokens.back().type == TOKEN_EOF || tokens.size() > 100000) return tokens;  // a lexer that never ends
        }
    }

    std::vector<VlTokenType> types(const char* source) {
        std::vector<VlTokenType> result;
        for (const VlToken& t : lex(source)) result.push_back(t.type);
        return result;
    }

    VlToken only(const char* source) {
        std::vector<VlToken> tokens = lex(source);
        EXPECT_EQ(tokens.size(), 2u) << source;
        return tokens[0];
    }
};

std::string lexeme(const VlToken& t) { return t.start ? std::string(t.start, t.length) : std::string(); }

TEST_F(Lexer, EmptySourceGivesEofForever) {
    VlLexer* lexer = vl_lexer_create(arena, "");
    for (int i = 0; i < 3; i++) {
        VlToken t = vl_lexer_next_token(lexer);
        EXPECT_EQ(t.type, TOKEN_EOF);
        EXPECT_EQ(t.start, nullptr);
        EXPECT_EQ(t.length, 0u);
        EXPECT_EQ(t.line, 1);
        EXPECT_EQ(t.column, 1);
        EXPECT_EQ(t.text, nullptr);
        EXPECT_EQ(t.number, 0.0);
    }
    EXPECT_EQ(lexer->length, 0u);
    EXPECT_EQ(lexer->indent_depth, 0);
    EXPECT_EQ(lexer->pending_dedents, 0);
}

TEST_F(Lexer, KeywordsAndTheirTexts) {
    struct { const char* word; VlTokenType type; } const table[] = {
        {"start", TOKEN_START},       {"stop", TOKEN_STOP},           {"store", TOKEN_STORE},
        {"display", TOKEN_DISPLAY},   {"check", TOKEN_CHECK},         {"otherwise", TOKEN_OTHERWISE},
        {"count", TOKEN_COUNT},       {"from", TOKEN_FROM},           {"to", TOKEN_TO},
        {"create", TOKEN_CREATE},     {"blueprint", TOKEN_BLUEPRINT}, {"open", TOKEN_OPEN},
        {"freeze", TOKEN_FREEZE},     {"move", TOKEN_MOVE},           {"as", TOKEN_AS},
        {"same", TOKEN_SAME},         {"big", TOKEN_BIG},             {"small", TOKEN_SMALL},
        {"yes", TOKEN_YES},           {"no", TOKEN_NO},               {"number", TOKEN_TYPE_NUMBER},
        {"word", TOKEN_TYPE_WORD},    {"flag", TOKEN_TYPE_FLAG},      {"list", TOKEN_TYPE_LIST},
        {"plus", TOKEN_PLUS},         {"minus", TOKEN_MINUS},         {"into", TOKEN_MULTIPLY},
    };
    for (const auto& k : table) {
        VlToken t = only(k.word);
        EXPECT_EQ(t.type, k.type) << k.word;
        ASSERT_NE(t.text, nullptr) << k.word;
        EXPECT_STREQ(t.text, k.word);
        EXPECT_EQ(t.length, std::strlen(k.word));
        EXPECT_EQ(t.number, 0.0);
    }
}

TEST_F(Lexer, NearKeywordsAreIdentifiers) {
    for (const char* word : {"Store", "STOP", "displayed", "Display", "sto", "stops", "divide", "by",
                             "intoo", "_start", "start_", "start1", "a", "_", "_x1", "Z9_z"}) {
        VlToken t = only(word);
        EXPECT_EQ(t.type, TOKEN_IDENTIFIER) << word;
        ASSERT_NE(t.text, nullptr);
        EXPECT_STREQ(t.text, word);
        EXPECT_EQ(t.text == t.start, false) << "text must be a copy";
    }
}

TEST_F(Lexer, SingleByteTokens) {
    struct { const char* src; VlTokenType type; } const table[] = {
        {"(", TOKEN_LPAREN}, {")", TOKEN_RPAREN},   {"*", TOKEN_MULTIPLY}, {"+", TOKEN_PLUS},
        {",", TOKEN_COMMA},  {"-", TOKEN_MINUS},    {":", TOKEN_COLON},    {"=", TOKEN_ASSIGN},
        {"[", TOKEN_LBRACKET}, {"]", TOKEN_RBRACKET}, {"/", TOKEN_DIVIDE},  {"\n", TOKEN_NEWLINE},
    };
    for (const auto& s : table) {
        VlToken t = only(s.src);
        EXPECT_EQ(t.type, s.type) << s.src;
        EXPECT_EQ(t.length, 1u);
        EXPECT_EQ(t.text, nullptr);
        EXPECT_EQ(t.number, 0.0);
        EXPECT_EQ(t.column, 1);
    }
}

TEST_F(Lexer, BytesThatStartNoTokenAreErrorsOfOneByte) {
    for (const char* src : {".", "!", "#", ";", "<", ">", "'", "\\", "\x80", "\xFF", "\xE2\x80\x94", "\f", "\v",
                            "{", "}", "%", "&", "|", "?", "@", "$", "~", "`", "^"}) {
        std::vector<VlToken> tokens = lex(src);
        ASSERT_EQ(tokens.size(), std::strlen(src) + 1) << src;
        for (size_t i = 0; i + 1 < tokens.size(); i++) {
            EXPECT_EQ(tokens[i].type, TOKEN_ERROR) << src;
            EXPECT_EQ(tokens[i].length, 1u);
            EXPECT_EQ(tokens[i].column, static_cast<int32_t>(i + 1));
            EXPECT_EQ(tokens[i].text, nullptr);
        }
    }
}

TEST_F(Lexer, LinesColumnsAndComments) {
    std::vector<VlToken> t = lex("display x // note\n  store");
    ASSERT_EQ(t.size(), 5u);
    EXPECT_EQ(t[0].type, TOKEN_DISPLAY);
    EXPECT_EQ(t[1].type, TOKEN_IDENTIFIER);
    EXPECT_STREQ(t[1].text, "x");
    EXPECT_EQ(t[1].column, 9);
    EXPECT_EQ(t[2].type, TOKEN_NEWLINE);
    EXPECT_EQ(t[2].line, 1);  // the line feed keeps the line it ends
    EXPECT_EQ(t[2].column, 18);
    EXPECT_EQ(t[3].type, TOKEN_STORE);
    EXPECT_EQ(t[3].line, 2);
    EXPECT_EQ(t[3].column, 3);
    EXPECT_EQ(t[4].type, TOKEN_EOF);
    EXPECT_EQ(t[4].line, 2);
    EXPECT_EQ(t[4].column, 8);

    // A tab counts as one column; start points at the token's first byte.
    const char* src = "\t\tx\n\n\ty";
    t = lex(src);
    ASSERT_EQ(t.size(), 5u);
    EXPECT_EQ(t[0].column, 3);
    EXPECT_EQ(t[0].start, src + 2);
    EXPECT_EQ(t[1].line, 1);
    EXPECT_EQ(t[2].line, 2);
    EXPECT_EQ(t[2].column, 1);
    EXPECT_EQ(t[3].line, 3);
    EXPECT_EQ(t[3].column, 2);
    EXPECT_EQ(t[3].start, src + 6);
}

TEST_F(Lexer, SlashIsDivisionTwoSlashesAComment) {
    EXPECT_EQ(types("a/b"), (std::vector{TOKEN_IDENTIFIER, TOKEN_DIVIDE, TOKEN_IDENTIFIER, TOKEN_EOF}));
    EXPECT_EQ(types("a//b"), (std::vector{TOKEN_IDENTIFIER, TOKEN_EOF}));
    EXPECT_EQ(types("a//b\nc"), (std::vector{TOKEN_IDENTIFIER, TOKEN_NEWLINE, TOKEN_IDENTIFIER, TOKEN_EOF}));
    EXPECT_EQ(types("/ /"), (std::vector{TOKEN_DIVIDE, TOKEN_DIVIDE, TOKEN_EOF}));
    EXPECT_EQ(types("///"), (std::vector{TOKEN_EOF}));
    EXPECT_EQ(types("a/"), (std::vector{TOKEN_IDENTIFIER, TOKEN_DIVIDE, TOKEN_EOF}));
}

TEST_F(Lexer, EofColumnAfterBlanksAndComments) {
    // Blanks alone: the column at which the call began.
    std::vector<VlToken> t = lex("ab   ");
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t[1].column, 3);
    // A comment: the column just past it.
    t = lex("ab  // xyz");
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t[1].column, 11);
    EXPECT_EQ(t[1].line, 1);
    t = lex("x\n// only a comment");
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[2].line, 2);
    EXPECT_EQ(t[2].column, 18);
}

TEST_F(Lexer, CarriageReturnIsABlankBeforeTheLineFeed) {
    std::vector<VlToken> t = lex("stop\r\nx");
    ASSERT_EQ(t.size(), 4u);
    EXPECT_EQ(t[0].type, TOKEN_STOP);
    EXPECT_EQ(t[0].length, 4u);
    EXPECT_EQ(t[1].type, TOKEN_NEWLINE);
    EXPECT_EQ(t[1].column, 6);
    EXPECT_EQ(*t[1].start, '\n');
    EXPECT_EQ(t[2].line, 2);
    EXPECT_EQ(t[2].column, 1);
}

TEST_F(Lexer, DividedByIsOneToken) {
    const char* src = "10 divided by 2";
    std::vector<VlToken> t = lex(src);
    ASSERT_EQ(t.size(), 4u);
    EXPECT_EQ(t[0].type, TOKEN_NUMBER);
    EXPECT_EQ(t[0].number, 10.0);
    EXPECT_EQ(t[1].type, TOKEN_DIVIDE);
    EXPECT_EQ(t[1].start, src + 3);
    EXPECT_EQ(lexeme(t[1]), "divided by");
    EXPECT_EQ(t[1].text, nullptr);
    EXPECT_EQ(t[1].column, 4);
    EXPECT_EQ(t[2].type, TOKEN_NUMBER);
    EXPECT_EQ(t[2].number, 2.0);
    EXPECT_EQ(t[2].column, 15);

    t = lex("divided   by");
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t[0].type, TOKEN_DIVIDE);
    EXPECT_EQ(lexeme(t[0]), "divided   by");
    EXPECT_EQ(t[1].column, 13);

    t = lex("dividedby");  // one word, no look-ahead
    EXPECT_EQ(t[0].type, TOKEN_IDENTIFIER);
    EXPECT_STREQ(t[0].text, "dividedby");
}

TEST_F(Lexer, DividedByLookAheadStopsAtTabsAndLineFeeds) {
    std::vector<VlToken> t = lex("divided\tby");
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[0].type, TOKEN_IDENTIFIER);
    EXPECT_STREQ(t[0].text, "divided");
    EXPECT_EQ(t[1].type, TOKEN_IDENTIFIER);
    EXPECT_STREQ(t[1].text, "by");
    EXPECT_EQ(t[1].column, 9);

    EXPECT_EQ(types("divided \tby"), (std::vector{TOKEN_IDENTIFIER, TOKEN_IDENTIFIER, TOKEN_EOF}));
    EXPECT_EQ(types("divided\nby"), (std::vector{TOKEN_IDENTIFIER, TOKEN_NEWLINE, TOKEN_IDENTIFIER, TOKEN_EOF}));
    EXPECT_EQ(types("divided b"), (std::vector{TOKEN_IDENTIFIER, TOKEN_IDENTIFIER, TOKEN_EOF}));
    EXPECT_EQ(types("divided   "), (std::vector{TOKEN_IDENTIFIER, TOKEN_EOF}));
    EXPECT_EQ(types("divided"), (std::vector{TOKEN_IDENTIFIER, TOKEN_EOF}));
    EXPECT_EQ(types("divided By"), (std::vector{TOKEN_IDENTIFIER, TOKEN_IDENTIFIER, TOKEN_EOF}));
}

TEST_F(Lexer, DividedByteSplitsAfterTheBy) {
    const char* src = "divided byte";
    std::vector<VlToken> t = lex(src);
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[0].type, TOKEN_DIVIDE);
    EXPECT_EQ(t[0].length, 10u);
    EXPECT_EQ(t[1].type, TOKEN_IDENTIFIER);
    EXPECT_STREQ(t[1].text, "te");
    EXPECT_EQ(t[1].start, src + 10);
    EXPECT_EQ(t[1].column, 11);
}

TEST_F(Lexer, FailedLookAheadLeavesThePositionAlone) {
    std::vector<VlToken> t = lex("x divided  y");
    ASSERT_EQ(t.size(), 4u);
    EXPECT_EQ(t[1].type, TOKEN_IDENTIFIER);
    EXPECT_STREQ(t[1].text, "divided");
    EXPECT_EQ(t[1].length, 7u);
    EXPECT_EQ(t[2].column, 12);
    EXPECT_STREQ(t[2].text, "y");

    t = lex("divided  bx\nz");
    ASSERT_EQ(t.size(), 5u);
    EXPECT_EQ(t[1].column, 10);
    EXPECT_STREQ(t[1].text, "bx");
    EXPECT_EQ(t[3].line, 2);
    EXPECT_EQ(t[3].column, 1);
}

TEST_F(Lexer, NumberLiteralShapes) {
    VlToken pi = only("3.14");
    EXPECT_EQ(pi.type, TOKEN_NUMBER);
    EXPECT_EQ(pi.number, 3.14);
    EXPECT_EQ(pi.length, 4u);
    EXPECT_EQ(pi.text, nullptr);

    std::vector<VlToken> t = lex("3.");
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[0].number, 3.0);
    EXPECT_EQ(t[0].length, 1u);
    EXPECT_EQ(t[1].type, TOKEN_ERROR);

    t = lex("1.2.3");
    ASSERT_EQ(t.size(), 4u);
    EXPECT_EQ(t[0].number, 1.2);
    EXPECT_EQ(t[1].type, TOKEN_ERROR);
    EXPECT_EQ(t[1].column, 4);
    EXPECT_EQ(t[2].number, 3.0);

    EXPECT_EQ(types(".5"), (std::vector{TOKEN_ERROR, TOKEN_NUMBER, TOKEN_EOF}));
    EXPECT_EQ(types("-5"), (std::vector{TOKEN_MINUS, TOKEN_NUMBER, TOKEN_EOF}));
    EXPECT_EQ(types("1e5"), (std::vector{TOKEN_NUMBER, TOKEN_IDENTIFIER, TOKEN_EOF}));

    t = lex("1x");
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[0].number, 1.0);
    EXPECT_STREQ(t[1].text, "x");
    EXPECT_EQ(t[1].column, 2);

    EXPECT_EQ(only("0").number, 0.0);
    EXPECT_EQ(only("007").number, 7.0);
    EXPECT_EQ(only("0.5").number, 0.5);
    EXPECT_EQ(only("0.1").number, 0.1);
    EXPECT_EQ(only("9007199254740993").number, 9007199254740992.0);  // ties go to even
    EXPECT_EQ(only("123456789.000000001").number, 123456789.000000001);
}

// After plain spaces a number takes the lexer's quick road, after a tab the
// general one; both must read every shape alike, at the 15-digit limit of
// the quick road's exact sum too.
TEST_F(Lexer, NumbersReadAlikeOnBothRoads) {
    for (const char* literal : {"7", "007", "123456789012345", "1234567890123456", "999999999999999999", "3.14",
                                "2.", "9007199254740993", "123456789012345678901234", "0.000000000000000000001"}) {
        std::vector<VlToken> quick = lex((std::string(" ") + literal + " 1").c_str());
        std::vector<VlToken> general = lex((std::string("\t") + literal + "\t1").c_str());
        ASSERT_EQ(quick.size(), general.size()) << literal;
        for (size_t i = 0; i < quick.size(); i++) {
            EXPECT_EQ(quick[i].type, general[i].type) << literal << " token " << i;
            EXPECT_EQ(quick[i].length, general[i].length) << literal << " token " << i;
            EXPECT_EQ(quick[i].column, general[i].column) << literal << " token " << i;
            EXPECT_EQ(quick[i].number, general[i].number) << literal << " token " << i;
        }
        EXPECT_EQ(quick[0].number, std::strtod(literal, nullptr)) << literal;
    }
}

// A literal of n digits; `digits` are repeated to fill it.
std::string run_of(size_t n, const char* digits = "1234567890") {
    std::string s;
    while (s.size() < n) s += digits[s.size() % std::strlen(digits)];
    return s;
}

TEST_F(Lexer, LongLiteralsAreCorrectlyRounded) {
    for (size_t n : {15, 17, 20, 40, 61, 62, 63, 64, 100, 200, 308, 309}) {
        std::string text = run_of(n);
        VlToken t = only(text.c_str());
        EXPECT_EQ(t.type, TOKEN_NUMBER);
        EXPECT_EQ(t.length, n);
        EXPECT_EQ(t.number, std::strtod(text.c_str(), nullptr)) << n << " digits";
        EXPECT_GT(t.number, 1e14) << n;
    }
    // Long fractions too, including ones far past any fixed buffer.
    for (size_t n : {30, 62, 63, 300, 1000}) {
        std::string text = "0." + run_of(n, "3");
        EXPECT_EQ(only(text.c_str()).number, std::strtod(text.c_str(), nullptr)) << n;
    }
    // Values fixed by the compiler's own conversion, independent of the C library.
    EXPECT_EQ(only("123456789012345678901234567890123456789012345678901234567890123").number,
              123456789012345678901234567890123456789012345678901234567890123.0);
    EXPECT_EQ(only("9007199254740993.000000000000000000000000000000000000000000000000000000000001").number,
              9007199254740994.0);  // just above the tie: rounds up
    // A tie decided by a digit beyond the 800th.
    std::string tie = "9007199254740993." + std::string(800, '0') + "1";
    EXPECT_EQ(only(tie.c_str()).number, 9007199254740994.0);
    std::string below = "9007199254740992." + std::string(800, '9');
    EXPECT_EQ(only(below.c_str()).number, 9007199254740992.0);
}

TEST_F(Lexer, LiteralsBeyondTheRangeOfADouble) {
    std::string huge = run_of(400);
    VlToken t = only(huge.c_str());
    EXPECT_EQ(t.length, 400u);
    EXPECT_TRUE(std::isinf(t.number));
    EXPECT_GT(t.number, 0);

    std::string with_fraction = run_of(400) + ".5";
    EXPECT_TRUE(std::isinf(only(with_fraction.c_str()).number));

    // Just above the largest double but below the rounding midpoint: the largest double.
    EXPECT_EQ(only("179769313486231580793728971405303415079934132710037826936173778980444968292764750946649017977587207096330286416692887910946555547851940402630657488671505820681908902000708383676273854845817711531764475730270069855571366959622842914819860834936475292719074168444365510704342711559699508093042880177904174497791").number,
              std::numeric_limits<double>::max());
    // The midpoint itself rounds away, to infinity.
    EXPECT_TRUE(std::isinf(only("179769313486231580793728971405303415079934132710037826936173778980444968292764750946649017977587207096330286416692887910946555547851940402630657488671505820681908902000708383676273854845817711531764475730270069855571366959622842914819860834936475292719074168444365510704342711559699508093042880177904174497792").number));

    // Underflow to zero, and a tiny value that still rounds to the smallest subnormal.
    std::string tiny = "0." + std::string(400, '0') + "1";
    EXPECT_EQ(only(tiny.c_str()).number, 0.0);
    std::string subnormal = "0." + std::string(323, '0') + "3";  // 3e-324
    EXPECT_EQ(only(subnormal.c_str()).number, std::numeric_limits<double>::denorm_min());
    std::string zeros(500, '0');
    EXPECT_EQ(only(zeros.c_str()).number, 0.0);
}

TEST_F(Lexer, StringLiterals) {
    const char* src = "\"hello world\" x";
    std::vector<VlToken> t = lex(src);
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[0].type, TOKEN_STRING);
    EXPECT_EQ(t[0].start, src);
    EXPECT_EQ(t[0].length, 13u);
    EXPECT_STREQ(t[0].text, "hello world");
    EXPECT_EQ(t[0].number, 0.0);
    EXPECT_EQ(t[1].column, 15);

    VlToken empty = only("\"\"");
    EXPECT_EQ(empty.length, 2u);
    ASSERT_NE(empty.text, nullptr);
    EXPECT_STREQ(empty.text, "");

    // Keywords, comments and symbols inside quotes are plain text.
    EXPECT_STREQ(only("\"display // stop\"").text, "display // stop");
}

TEST_F(Lexer, EscapesAreKeptAsWritten) {
    VlToken t = only("\"a\\\"b\"");
    EXPECT_EQ(t.type, TOKEN_STRING);
    EXPECT_EQ(t.length, 6u);
    EXPECT_STREQ(t.text, "a\\\"b");

    EXPECT_STREQ(only("\"\\\\\"").text, "\\\\");  // an escaped backslash does not escape the quote
    EXPECT_STREQ(only("\"\\n\"").text, "\\n");

    std::vector<VlToken> tokens = lex("\"a\\\nb\" c");
    ASSERT_EQ(tokens.size(), 3u);
    EXPECT_STREQ(tokens[0].text, "a\\\nb");
    EXPECT_EQ(tokens[1].line, 2);
    EXPECT_EQ(tokens[1].column, 4);
}

TEST_F(Lexer, StringsAcrossLinesAdvanceTheLineCount) {
    std::vector<VlToken> t = lex("display \"one\ntwo\"\nstop");
    ASSERT_EQ(t.size(), 5u);
    EXPECT_EQ(t[1].line, 1);
    EXPECT_STREQ(t[1].text, "one\ntwo");
    EXPECT_EQ(t[2].type, TOKEN_NEWLINE);
    EXPECT_EQ(t[2].line, 2);
    EXPECT_EQ(t[2].column, 5);
    EXPECT_EQ(t[3].type, TOKEN_STOP);
    EXPECT_EQ(t[3].line, 3);
}

TEST_F(Lexer, UnterminatedStringRunsToTheEnd) {
    std::vector<VlToken> t = lex("x \"abc");
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[1].type, TOKEN_STRING);
    EXPECT_EQ(t[1].length, 5u);  // as if it were closed
    EXPECT_STREQ(t[1].text, "abc");
    EXPECT_EQ(t[2].type, TOKEN_EOF);
    EXPECT_EQ(t[2].column, 7);

    VlToken quote = only("\"");
    EXPECT_EQ(quote.length, 2u);
    EXPECT_STREQ(quote.text, "");

    // A trailing backslash escapes nothing and must not run past the end.
    t = lex("\"ab\\");
    ASSERT_EQ(t.size(), 2u);
    EXPECT_STREQ(t[0].text, "ab\\");
    EXPECT_EQ(t[0].length, 5u);
}

TEST_F(Lexer, TheLexerStopsAtTheFirstNul) {
    const char src[] = "x\0y";
    std::vector<VlToken> t = lex(src);
    ASSERT_EQ(t.size(), 2u);
    EXPECT_STREQ(t[0].text, "x");
}

TEST_F(Lexer, AProgramLexesToTheExpectedStream) {
    const char* src =
        "start\n"
        "store total = 6 into 7\n"
        "count i from 1 to 3: display [1, 2] minus (total / 2)\n"
        "check total same 42 otherwise stop";
    EXPECT_EQ(types(src), (std::vector{
        TOKEN_START, TOKEN_NEWLINE,
        TOKEN_STORE, TOKEN_IDENTIFIER, TOKEN_ASSIGN, TOKEN_NUMBER, TOKEN_MULTIPLY, TOKEN_NUMBER, TOKEN_NEWLINE,
        TOKEN_COUNT, TOKEN_IDENTIFIER, TOKEN_FROM, TOKEN_NUMBER, TOKEN_TO, TOKEN_NUMBER, TOKEN_COLON,
        TOKEN_DISPLAY, TOKEN_LBRACKET, TOKEN_NUMBER, TOKEN_COMMA, TOKEN_NUMBER, TOKEN_RBRACKET, TOKEN_MINUS,
        TOKEN_LPAREN, TOKEN_IDENTIFIER, TOKEN_DIVIDE, TOKEN_NUMBER, TOKEN_RPAREN, TOKEN_NEWLINE,
        TOKEN_CHECK, TOKEN_IDENTIFIER, TOKEN_SAME, TOKEN_NUMBER, TOKEN_OTHERWISE, TOKEN_STOP, TOKEN_EOF}));
}

TEST_F(Lexer, TokenTextsLiveInTheArena) {
    std::string source = "alpha \"beta\"";
    std::vector<VlToken> t = lex(source.c_str());
    ASSERT_EQ(t.size(), 3u);
    // The copies survive changes to the source text.
    source.assign(source.size(), '#');
    EXPECT_STREQ(t[0].text, "alpha");
    EXPECT_STREQ(t[1].text, "beta");
}

TEST_F(Lexer, ManyTokensGrowTheArenaWithoutLoss) {
    std::string source;
    for (int i = 0; i < 20000; i++) source += "identifier_" + std::to_string(i) + " ";
    std::vector<VlToken> t = lex(source.c_str());
    ASSERT_EQ(t.size(), 20001u);
    EXPECT_STREQ(t[0].text, "identifier_0");
    EXPECT_STREQ(t[19999].text, "identifier_19999");
    EXPECT_NE(arena->first->next, nullptr);
}

// A source read in windows must lex exactly as the whole text does.
class Windows : public Lexer {
protected:
    // The feed's contract in its smallest form: one line per window.
    struct LineFeed {
        std::string text;
        size_t offset = 0;  // of the window's first byte in `text`
        std::string window;
        VlSourceFeed feed{this, more};
        static const char* more(void* self, const char* keep, size_t* length) {
            auto* f = static_cast<LineFeed*>(self);
            size_t from = keep ? f->offset + static_cast<size_t>(keep - f->window.data()) : 0;
            size_t line_end = f->text.find('\n', f->offset + f->window.size());
            size_t end = line_end == std::string::npos ? f->text.size() : line_end + 1;
            f->window = f->text.substr(from, end - from);
            f->offset = from;
            *length = f->window.size();
            return f->window.c_str();
        }
    };

    std::vector<VlToken> lex_fed(const VlSourceFeed* feed, const char* first) {
        VlLexer* lexer = vl_lexer_create_from(arena, VlLexerSetup{first, feed, nullptr, nullptr});
        std::vector<VlToken> tokens;
        do tokens.push_back(vl_lexer_next_token(lexer));
        while (tokens.back().type != TOKEN_EOF && tokens.size() < 100000);
        tokens.push_back(vl_lexer_next_token(lexer));  // the end stays the end
        return tokens;
    }

    void expect_same(const std::vector<VlToken>& fed, std::vector<VlToken> whole) {
        whole.push_back(whole.back());
        ASSERT_EQ(fed.size(), whole.size());
        for (size_t i = 0; i < fed.size(); i++) {
            EXPECT_EQ(fed[i].type, whole[i].type) << i;
            EXPECT_EQ(fed[i].length, whole[i].length) << i;
            EXPECT_EQ(fed[i].line, whole[i].line) << i;
            EXPECT_EQ(fed[i].column, whole[i].column) << i;
            EXPECT_EQ(fed[i].number, whole[i].number) << i;
            EXPECT_STREQ(fed[i].text ? fed[i].text : "(null)", whole[i].text ? whole[i].text : "(null)") << i;
        }
    }
};

TEST_F(Windows, EveryLineInAWindowOfItsOwnLexesAsTheWhole) {
    for (const char* source : {"", "\n", "display 1", "store x = 2\n  display x // note\n\n",
                               "display \"one\ntwo\n\nthree\" + 1\n", "display \"a\\\nb\\\"\nc\"\nstop\n",
                               "display \"never closed\n\n", "x\r\n\ty divided\n by 3.5 // end",
                               "// only a remark", "display 1\n// last, no feed"}) {
        LineFeed feed;
        feed.text = source;
        size_t length = 0;
        const char* first = LineFeed::more(&feed, nullptr, &length);
        expect_same(lex_fed(&feed.feed, first), lex(source));
        if (HasFailure()) FAIL() << source;
    }
}

TEST_F(Windows, AFileReadInWindowsLexesAsTheWhole) {
    // Past the first window: a literal across its end, a line longer than
    // any window, and a NUL byte that ends the script early.
    std::string source;
    for (int i = 0; source.size() < 250 * 1024; i++) source += "store v" + std::to_string(i) + " = 12 + \"t\"\n";
    source += "display \"" + std::string(20 * 1024, 'q') + "\n" + std::string(100, 'r') + "\"\n";
    source += "display " + std::string(700 * 1024, 'w') + " + 1\n";
    source += "display 3\n";
    std::string file = source + std::string(1, '\0') + "display 4\n";
    TempDir dir;
    spill(dir / "long.velm", file);

    VlSourceStream stream((dir / "long.velm").c_str());
    ASSERT_EQ(stream.status(), VL_READ_OK);
    size_t length = 0;
    const char* first = stream.first_window(&length);
    EXPECT_LT(length, source.size());
    std::vector<VlToken> fed = lex_fed(stream.feed(), first);
    EXPECT_EQ(stream.status(), VL_READ_OK);
    expect_same(fed, lex(source.c_str()));
}

TEST(TokenTypeName, NamesAndTheFallback) {
    EXPECT_STREQ(vl_token_type_name(TOKEN_START), "start");
    EXPECT_STREQ(vl_token_type_name(TOKEN_STOP), "stop");
    EXPECT_STREQ(vl_token_type_name(TOKEN_STORE), "store");
    EXPECT_STREQ(vl_token_type_name(TOKEN_DISPLAY), "display");
    EXPECT_STREQ(vl_token_type_name(TOKEN_CHECK), "check");
    EXPECT_STREQ(vl_token_type_name(TOKEN_OTHERWISE), "otherwise");
    EXPECT_STREQ(vl_token_type_name(TOKEN_COUNT), "count");
    EXPECT_STREQ(vl_token_type_name(TOKEN_PLUS), "plus");
    EXPECT_STREQ(vl_token_type_name(TOKEN_MINUS), "minus");
    EXPECT_STREQ(vl_token_type_name(TOKEN_MULTIPLY), "into");
    EXPECT_STREQ(vl_token_type_name(TOKEN_DIVIDE), "divided by");
    EXPECT_STREQ(vl_token_type_name(TOKEN_IDENTIFIER), "IDENTIFIER");
    EXPECT_STREQ(vl_token_type_name(TOKEN_NUMBER), "NUMBER");
    EXPECT_STREQ(vl_token_type_name(TOKEN_STRING), "STRING");
    for (int type : {0, 1, 9, 10, 25, 30, 34, 35, 36, 42, 43, -1, -1000, 1 << 30})
        EXPECT_STREQ(vl_token_type_name(static_cast<VlTokenType>(type)), "TOKEN") << type;
}

}  // namespace
