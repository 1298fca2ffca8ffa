// Emitted chunks, instruction for instruction, and the register limits.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vl_compiler.h"

namespace {

struct Compiled {
    VlArena* arena = vl_arena_create(0);
    VlVM* vm = vlvm_create(arena);
    VlCompiler* compiler = vl_compiler_create(arena, &vm->chunk);
    bool ok = false;

    explicit Compiled(const std::string& source) {
        VlParser* parser = vl_parser_create(arena, vl_lexer_create(arena, source.c_str()));
        VlNode* program = vl_parse_program(parser);
        EXPECT_FALSE(parser->had_error) << source;
        ok = vl_compile(compiler, program);
    }
    ~Compiled() { vl_arena_destroy(arena); }
    const VlChunk& chunk() const { return vm->chunk; }
};

// One expected instruction; fields a test does not name must be zero.
struct Want {
    uint32_t opcode;
    uint8_t dst = 0, src1 = 0, src2 = 0;
    double number = 0;
};

void expect_chunk(const VlChunk& chunk, const std::vector<Want>& want) {
    ASSERT_EQ(chunk.count, want.size());
    for (size_t i = 0; i < want.size(); i++) {
        const VlInstruction& got = chunk.code[i];
        SCOPED_TRACE("instruction " + std::to_string(i));
        EXPECT_EQ(got.opcode, want[i].opcode);
        EXPECT_EQ(got.dst, want[i].dst);
        EXPECT_EQ(got.src1, want[i].src1);
        EXPECT_EQ(got.src2, want[i].src2);
        EXPECT_EQ(got.number, want[i].number);
        if (got.opcode != OP_LOAD_STR) {
            EXPECT_EQ(got.string, nullptr);
        }
        EXPECT_EQ(got.target, 0u);
    }
}

TEST(Compiler, StoreThenDisplay) {
    Compiled c("store x = 2 plus 3\ndisplay x\n");
    ASSERT_TRUE(c.ok);
    expect_chunk(c.chunk(), {
        {OP_LOAD_CONST, 0, 0, 0, 2},
        {OP_LOAD_CONST, 1, 0, 0, 3},
        {OP_ADD, 2, 0, 1},
        {OP_MOVE, 3, 2},
        {OP_PRINT, 0, 3},
        {OP_HALT},
    });
}

TEST(Compiler, CountRunsItsBodyOnceThenSteps) {
    Compiled c("count i from 1 to 3\ndisplay i\nstop\n");
    ASSERT_TRUE(c.ok);
    expect_chunk(c.chunk(), {
        {OP_LOAD_CONST, 1, 0, 0, 1},
        {OP_LOAD_CONST, 2, 0, 0, 3},
        {OP_MOVE, 0, 1},
        {OP_PRINT, 0, 0},
        {OP_LOAD_CONST, 3, 0, 0, 1},
        {OP_ADD, 0, 0, 3},
        {OP_HALT},
    });
    Compiled empty("count i from 1 to 3\nstop\n");
    expect_chunk(empty.chunk(), {
        {OP_LOAD_CONST, 1, 0, 0, 1},
        {OP_LOAD_CONST, 2, 0, 0, 3},
        {OP_MOVE, 0, 1},
        {OP_LOAD_CONST, 3, 0, 0, 1},
        {OP_ADD, 0, 0, 3},
        {OP_HALT},
    });
}

TEST(Compiler, NamesKeepOneRegister) {
    Compiled c("store x = 1\nstore x = 2\ndisplay y\nstore y = x\n");
    expect_chunk(c.chunk(), {
        {OP_LOAD_CONST, 0, 0, 0, 1},
        {OP_MOVE, 1, 0},
        {OP_LOAD_CONST, 2, 0, 0, 2},
        {OP_MOVE, 1, 2},
        {OP_PRINT, 0, 3},  // y read before any store: a fresh register
        {OP_MOVE, 3, 1},
        {OP_HALT},
    });
}

TEST(Compiler, OperatorsMapToOpcodes) {
    Compiled c("display 1 same 2 big 3 small 4 minus 5 into 6 divided by 7 plus \"s\"");
    const VlChunk& chunk = c.chunk();
    std::vector<uint32_t> ops;
    for (uint64_t i = 0; i < chunk.count; i++)
        if (chunk.code[i].opcode >= OP_ADD && chunk.code[i].opcode <= OP_DIV) ops.push_back(chunk.code[i].opcode);
    EXPECT_EQ(ops, (std::vector<uint32_t>{OP_ADD, OP_ADD, OP_ADD, OP_SUB, OP_MUL, OP_DIV, OP_ADD}));
    EXPECT_EQ(chunk.code[chunk.count - 4].opcode, OP_LOAD_STR);
    EXPECT_STREQ(chunk.code[chunk.count - 4].string, "s");
}

TEST(Compiler, NullAndEmptyPrograms) {
    VlArena* arena = vl_arena_create(0);
    VlVM* vm = vlvm_create(arena);
    VlCompiler* compiler = vl_compiler_create(arena, &vm->chunk);
    EXPECT_FALSE(vl_compile(compiler, nullptr));
    EXPECT_EQ(vm->chunk.count, 0u);

    VlNode display{};  // a root that is a single statement
    display.type = NODE_DISPLAY;
    EXPECT_TRUE(vl_compile(compiler, &display));
    expect_chunk(vm->chunk, {{OP_PRINT}, {OP_HALT}});
    vl_arena_destroy(arena);

    Compiled empty("");
    EXPECT_TRUE(empty.ok);
    expect_chunk(empty.chunk(), {{OP_HALT}});
}

TEST(Compiler, NamelessLoopVariableGetsItsOwnRegister) {
    Compiled c("count 7 from 1 to 2\nstop\ndisplay 0\n");
    ASSERT_TRUE(c.ok);
    expect_chunk(c.chunk(), {
        {OP_LOAD_CONST, 1, 0, 0, 1},
        {OP_LOAD_CONST, 2, 0, 0, 2},
        {OP_MOVE, 0, 1},
        {OP_LOAD_CONST, 3, 0, 0, 1},
        {OP_ADD, 0, 0, 3},
        {OP_LOAD_CONST, 4},
        {OP_PRINT, 0, 4},
        {OP_HALT},
    });
}

TEST(Compiler, ExactlyTwoHundredFiftySixRegistersStayInOrder) {
    std::string source;
    for (int i = 0; i < 128; i++) source += "store v" + std::to_string(i) + " = " + std::to_string(i) + "\n";
    Compiled c(source);
    ASSERT_TRUE(c.ok);
    EXPECT_EQ(c.chunk().code[2 * 127].dst, 254);      // the last constant
    EXPECT_EQ(c.chunk().code[2 * 127 + 1].dst, 255);  // the last variable
    EXPECT_EQ(c.compiler->next_register, 0);           // all 256 handed out
}

TEST(Compiler, LongProgramsReuseDeadTemporaries) {
    std::string source;
    for (int i = 0; i < 1000; i++) source += "store x = x plus " + std::to_string(i) + "\n";
    source += "display x\n";
    Compiled c(source);
    ASSERT_TRUE(c.ok);
    for (uint64_t i = 0; i < c.chunk().count; i++) EXPECT_LT(c.chunk().code[i].dst, 4) << i;
}

TEST(Compiler, ARegisterOnceATemporaryIsClearedForANewName) {
    std::string source;
    for (int i = 0; i < 300; i++) source += "display " + std::to_string(i) + "\n";
    source += "display fresh\n";
    Compiled c(source);
    ASSERT_TRUE(c.ok);
    const VlChunk& chunk = c.chunk();
    ASSERT_GE(chunk.count, 3u);
    const VlInstruction& clear = chunk.code[chunk.count - 3];
    EXPECT_EQ(clear.opcode, OP_LOAD_CONST);
    EXPECT_EQ(clear.number, 0.0);
    EXPECT_EQ(chunk.code[chunk.count - 2].opcode, OP_PRINT);
    EXPECT_EQ(chunk.code[chunk.count - 2].src1, clear.dst);
}

TEST(Compiler, TooManyLiveValuesFailWithACause) {
    std::string source;
    for (int i = 0; i < 300; i++) source += "store v" + std::to_string(i) + " = 1\n";
    Compiled c(source);
    EXPECT_FALSE(c.ok);
    EXPECT_EQ(c.chunk().count, 0u);
    EXPECT_LE(c.compiler->symbol_count, 256u);
    EXPECT_NE(std::string(c.compiler->error_message).find("line 256"), std::string::npos)
        << c.compiler->error_message;
}

}  // namespace
