// Syntax trees for the grammar's edge cases, and the parser's error rules.
#include <gtest/gtest.h>

#include <string>

#include "vl_parser.h"

namespace {

struct Parsed {
    VlArena* arena = vl_arena_create(0);
    VlParser* parser = nullptr;
    VlNode* program = nullptr;

    explicit Parsed(const char* source) {
        parser = vl_parser_create(arena, vl_lexer_create(arena, source));
        program = vl_parse_program(parser);
    }
    ~Parsed() { vl_arena_destroy(arena); }
    size_t count() const { return program->as.list.count; }
    VlNode* item(size_t i) const { return program->as.list.items[i]; }
    std::string message() const { return parser->error_message; }
};

TEST(Parser, EmptyProgramsHaveNoStatements) {
    for (const char* source : {"", "start\nstop\n", "\n\n\n", "start"}) {
        Parsed p(source);
        ASSERT_NE(p.program, nullptr);
        EXPECT_EQ(p.program->type, NODE_PROGRAM);
        EXPECT_EQ(p.count(), 0u) << source;
        EXPECT_FALSE(p.parser->had_error) << source;
    }
}

TEST(Parser, OperatorsShareOnePrecedenceAndGroupLeft) {
    Parsed p("display 1 plus 2 into 3");
    ASSERT_EQ(p.count(), 1u);
    VlNode* into = p.item(0)->as.display.expr;
    ASSERT_EQ(into->type, NODE_BINARY);
    EXPECT_EQ(into->as.binary.op, TOKEN_MULTIPLY);
    EXPECT_EQ(into->as.binary.right->as.number.number, 3.0);
    VlNode* plus = into->as.binary.left;
    ASSERT_EQ(plus->type, NODE_BINARY);
    EXPECT_EQ(plus->as.binary.op, TOKEN_PLUS);
    EXPECT_EQ(plus->as.binary.left->as.number.number, 1.0);
    EXPECT_EQ(plus->as.binary.right->as.number.number, 2.0);
}

TEST(Parser, WordAndSymbolOperatorsGiveTheSameOp) {
    const std::pair<const char*, VlTokenType> cases[] = {
        {"display 10 divided by 2", TOKEN_DIVIDE}, {"display 10 / 2", TOKEN_DIVIDE},
        {"display 1 same 2", TOKEN_SAME},          {"display 1 big 2", TOKEN_BIG},
        {"display 1 small 2", TOKEN_SMALL},        {"display 1 - 2", TOKEN_MINUS},
        {"display 1 minus 2", TOKEN_MINUS},        {"display 1 * 2", TOKEN_MULTIPLY},
    };
    for (auto [source, op] : cases) {
        Parsed p(source);
        ASSERT_EQ(p.count(), 1u) << source;
        EXPECT_EQ(p.item(0)->as.display.expr->as.binary.op, op) << source;
    }
}

TEST(Parser, LeavesCarryTheirTokenPosition) {
    Parsed p("\n  display   x");
    VlNode* x = p.item(0)->as.display.expr;
    EXPECT_EQ(x->type, NODE_IDENTIFIER);
    EXPECT_STREQ(x->as.identifier.name, "x");
    EXPECT_EQ(x->line, 2);
    EXPECT_EQ(x->column, 13);
    EXPECT_EQ(p.item(0)->line, 0);  // statements carry no position
}

TEST(Parser, MissingCloseParenIsTolerated) {
    Parsed p("display (1 plus 2");
    EXPECT_FALSE(p.parser->had_error);
    EXPECT_EQ(p.item(0)->as.display.expr->as.binary.op, TOKEN_PLUS);
}

TEST(Parser, MissingOperandsAreReportedAndParsingGoesOn) {
    Parsed bare("display\n");
    EXPECT_TRUE(bare.parser->had_error);
    EXPECT_EQ(bare.message(), "Unexpected token in expression: EOF at line 1");
    ASSERT_EQ(bare.count(), 1u);
    EXPECT_EQ(bare.item(0)->as.display.expr, nullptr);

    Parsed word("display plus 1");
    EXPECT_EQ(word.message(), "Unexpected token in expression: plus at line 1");
    EXPECT_EQ(word.count(), 1u);  // plus and 1 are skipped

    Parsed dangling("display 1 plus\n");
    EXPECT_EQ(dangling.message(), "Unexpected token in expression: EOF at line 1");
    VlNode* binary = dangling.item(0)->as.display.expr;
    ASSERT_EQ(binary->type, NODE_BINARY);
    EXPECT_EQ(binary->as.binary.right, nullptr);

    Parsed two("display\ndisplay 1 plus ]\n");
    EXPECT_EQ(two.message(), "Unexpected token in expression: EOF at line 2");
}

TEST(Parser, StoreForms) {
    const std::pair<const char*, VlTokenType> cases[] = {
        {"store x = 5", TOKEN_TYPE_WORD},
        {"store x 5", TOKEN_TYPE_WORD},
        {"store x as number = 5", TOKEN_TYPE_NUMBER},
        {"store x as list 5", TOKEN_TYPE_LIST},
    };
    for (auto [source, type] : cases) {
        Parsed p(source);
        ASSERT_EQ(p.count(), 1u) << source;
        VlNode* store = p.item(0);
        EXPECT_EQ(store->type, NODE_STORE);
        EXPECT_STREQ(store->as.store.name, "x");
        EXPECT_EQ(store->as.store.var_type, type) << source;
        EXPECT_EQ(store->as.store.value->as.number.number, 5.0);
        EXPECT_FALSE(p.parser->had_error);
    }
}

TEST(Parser, StoreWithoutNameSetsTheFlagButNoMessage) {
    Parsed p("store 5 = 1");
    EXPECT_TRUE(p.parser->had_error);
    EXPECT_EQ(p.message(), "");
    EXPECT_EQ(p.count(), 0u);

    Parsed after("display\nstore 5 = 1");  // an earlier message stays
    EXPECT_EQ(after.message(), "Unexpected token in expression: EOF at line 1");
}

TEST(Parser, CountLoops) {
    for (const char* source : {"count i from 1 to 3\ndisplay i\nstop\n", "count i 1 3\ndisplay i\nstop"}) {
        Parsed p(source);
        ASSERT_EQ(p.count(), 1u);
        VlNode* loop = p.item(0);
        ASSERT_EQ(loop->type, NODE_COUNT);
        EXPECT_STREQ(loop->as.count.name, "i");
        EXPECT_EQ(loop->as.count.from->as.number.number, 1.0);
        EXPECT_EQ(loop->as.count.to->as.number.number, 3.0);
        ASSERT_EQ(loop->as.count.body->type, NODE_BLOCK);
        ASSERT_EQ(loop->as.count.body->as.list.count, 1u);
        EXPECT_EQ(loop->as.count.body->as.list.items[0]->type, NODE_DISPLAY);
    }
    Parsed nameless("count 5 from 1 to 2\nstop");
    EXPECT_EQ(nameless.item(0)->as.count.name, nullptr);
    Parsed open_ended("count i from 1 to 2\ndisplay i");  // no stop: not an error
    EXPECT_FALSE(open_ended.parser->had_error);
    EXPECT_EQ(open_ended.item(0)->as.count.body->as.list.count, 1u);
}

TEST(Parser, CheckLinesAreSkippedAndTheirStopEndsTheProgram) {
    Parsed p("check x big 1\ndisplay x\nstop\ndisplay 2\n");
    ASSERT_EQ(p.count(), 1u);
    EXPECT_STREQ(p.item(0)->as.display.expr->as.identifier.name, "x");
    EXPECT_FALSE(p.parser->had_error);
}

TEST(Parser, WordsThatBeginNoStatementAreSkippedQuietly) {
    Parsed p("x = 1\nstart\n# otherwise 3\n");
    EXPECT_EQ(p.count(), 0u);
    EXPECT_FALSE(p.parser->had_error);
}

TEST(Parser, ListsGrowPastTheirFirstCapacity) {
    std::string program, loop = "count i 1 2\n";
    for (int i = 0; i < 33; i++) program += "display " + std::to_string(i) + "\n";
    for (int i = 0; i < 17; i++) loop += "display " + std::to_string(i) + "\n";
    Parsed p(program.c_str());
    ASSERT_EQ(p.count(), 33u);
    for (size_t i = 0; i < 33; i++) EXPECT_EQ(p.item(i)->as.display.expr->as.number.number, double(i));
    Parsed q((loop + "stop").c_str());
    VlNode* body = q.item(0)->as.count.body;
    ASSERT_EQ(body->as.list.count, 17u);
    EXPECT_EQ(body->as.list.items[16]->as.display.expr->as.number.number, 16.0);
}

TEST(Parser, DeepNestingIsAnErrorNotACrash) {
    std::string fine = std::string(200, '(') + "1" + std::string(200, ')');
    Parsed ok(("display " + fine).c_str());
    EXPECT_FALSE(ok.parser->had_error);

    std::string deep = "display " + std::string(100000, '(') + "1";
    Parsed parens(deep.c_str());
    EXPECT_TRUE(parens.parser->had_error);
    EXPECT_EQ(parens.message(), "Parentheses nested more than 200 levels deep at line 1");

    std::string loops;
    for (int i = 0; i < 201; i++) loops += "count i 1 2\n";
    Parsed counts(loops.c_str());
    EXPECT_TRUE(counts.parser->had_error);
    EXPECT_EQ(counts.message(), "Loops nested more than 200 levels deep at line 201");
    Parsed many((loops + std::string(50000, '\n') + loops).c_str());  // far deeper: no crash
    EXPECT_TRUE(many.parser->had_error);
}

TEST(Parser, LongOperatorChainsDoNotRecurse) {
    std::string chain = "display 1";
    for (int i = 0; i < 200000; i++) chain += " plus 1";
    Parsed p(chain.c_str());
    EXPECT_FALSE(p.parser->had_error);
    EXPECT_EQ(p.count(), 1u);
}

}  // namespace
