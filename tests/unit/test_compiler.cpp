// What the compiler emits, as listings, and the register limits.
#include <gtest/gtest.h>

#include <string>

#include "vl_compiler.h"
#include "vl_disasm.h"
#include "vl_pipeline.h"

namespace {

// A field the opcode does not read must be zero: the listing cannot show it.
void expect_unread_fields_zero(const VlChunk& chunk) {
    for (uint64_t i = 0; i < chunk.count; i++) {
        const VlInstruction& in = chunk.code[i];
        const VlOpcodeInfo* info = vl_opcode_info(in.opcode);
        ASSERT_NE(info, nullptr) << i;
        SCOPED_TRACE("instruction " + std::to_string(i));
        if (!(info->fields & VL_FIELD_DST)) { EXPECT_EQ(in.dst, 0); }
        if (!(info->fields & VL_FIELD_SRC1)) { EXPECT_EQ(in.src1, 0); }
        if (!(info->fields & VL_FIELD_SRC2)) { EXPECT_EQ(in.src2, 0); }
        if (!(info->fields & VL_FIELD_NUMBER)) { EXPECT_EQ(in.number, 0.0); }
        if (!(info->fields & VL_FIELD_STRING)) { EXPECT_EQ(in.string, nullptr); }
        if (!(info->fields & VL_FIELD_TARGET)) { EXPECT_EQ(in.target, 0u); }
    }
}

// Compiled the way a run compiles: statement by statement as they are parsed.
struct Compiled {
    VlArena* arena = vl_arena_create(0);
    VlVM* vm = nullptr;
    VlCompiler* compiler = nullptr;
    bool ok = false;

    explicit Compiled(const std::string& source) {
        VlPipeline built = vl_pipeline_build(arena, source.c_str(), VL_GOAL_RUN);
        EXPECT_NE(built.status, VL_PIPELINE_SYNTAX_ERROR) << source;
        vm = built.machine;
        compiler = built.compiler;
        ok = built.status == VL_PIPELINE_OK;
    }
    ~Compiled() { vl_arena_destroy(arena); }
    const VlChunk& chunk() const { return vm->chunk; }

    std::string listing() const {
        expect_unread_fields_zero(vm->chunk);
        std::string out;
        vl_disassemble_chunk(&vm->chunk, out);
        return out;
    }
    // The last `lines` lines of the listing.
    std::string tail(int lines) const {
        std::string all = listing();
        size_t at = all.size() - 1;
        for (int i = 0; i < lines && at != std::string::npos; i++) at = all.rfind('\n', at - 1);
        return at == std::string::npos ? all : all.substr(at + 1);
    }
};

// Expected listings open with a line feed so that they line up in the source.
std::string listing(const char* text) { return text[0] == '\n' ? text + 1 : text; }

TEST(Compiler, StoreThenDisplay) {
    Compiled c("store x = 2 plus 3\ndisplay x\n");
    ASSERT_TRUE(c.ok);
    EXPECT_EQ(c.listing(), listing(R"(
0000  LOAD_CONST  r0, 2
0001  LOAD_CONST  r1, 3
0002  ADD         r2, r0, r1
0003  MOVE        r3, r2
0004  PRINT       r3
0005  HALT
)"));
}

TEST(Compiler, CountRunsItsBodyOnceThenSteps) {
    Compiled c("count i from 1 to 3\ndisplay i\nstop\n");
    ASSERT_TRUE(c.ok);
    EXPECT_EQ(c.listing(), listing(R"(
0000  LOAD_CONST  r1, 1
0001  LOAD_CONST  r2, 3
0002  MOVE        r0, r1
0003  PRINT       r0
0004  LOAD_CONST  r3, 1
0005  ADD         r0, r0, r3
0006  HALT
)"));
    Compiled empty("count i from 1 to 3\nstop\n");
    EXPECT_EQ(empty.listing(), listing(R"(
0000  LOAD_CONST  r1, 1
0001  LOAD_CONST  r2, 3
0002  MOVE        r0, r1
0003  LOAD_CONST  r3, 1
0004  ADD         r0, r0, r3
0005  HALT
)"));
}

TEST(Compiler, NamesKeepOneRegister) {
    // y is read before any store: it gets a fresh register, which the store then fills.
    Compiled c("store x = 1\nstore x = 2\ndisplay y\nstore y = x\n");
    EXPECT_EQ(c.listing(), listing(R"(
0000  LOAD_CONST  r0, 1
0001  MOVE        r1, r0
0002  LOAD_CONST  r2, 2
0003  MOVE        r1, r2
0004  PRINT       r3
0005  MOVE        r3, r1
0006  HALT
)"));
}

TEST(Compiler, OperatorsMapToOpcodes) {
    Compiled c("display 1 same 2 big 3 small 4 minus 5 into 6 divided by 7 plus \"s\"");
    EXPECT_EQ(c.listing(), listing(R"(
0000  LOAD_CONST  r0, 1
0001  LOAD_CONST  r1, 2
0002  ADD         r2, r0, r1
0003  LOAD_CONST  r3, 3
0004  ADD         r4, r2, r3
0005  LOAD_CONST  r5, 4
0006  ADD         r6, r4, r5
0007  LOAD_CONST  r7, 5
0008  SUB         r8, r6, r7
0009  LOAD_CONST  r9, 6
0010  MUL         r10, r8, r9
0011  LOAD_CONST  r11, 7
0012  DIV         r12, r10, r11
0013  LOAD_STR    r13, "s"
0014  ADD         r14, r12, r13
0015  PRINT       r14
0016  HALT
)"));
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
    std::string out;
    vl_disassemble_chunk(&vm->chunk, out);
    EXPECT_EQ(out, "0000  PRINT       r0\n0001  HALT\n");
    vl_arena_destroy(arena);

    Compiled empty("");
    EXPECT_TRUE(empty.ok);
    EXPECT_EQ(empty.listing(), "0000  HALT\n");
}

TEST(Compiler, NamelessLoopVariableGetsItsOwnRegister) {
    Compiled c("count 7 from 1 to 2\nstop\ndisplay 0\n");
    ASSERT_TRUE(c.ok);
    EXPECT_EQ(c.listing(), listing(R"(
0000  LOAD_CONST  r1, 1
0001  LOAD_CONST  r2, 2
0002  MOVE        r0, r1
0003  LOAD_CONST  r3, 1
0004  ADD         r0, r0, r3
0005  LOAD_CONST  r4, 0
0006  PRINT       r4
0007  HALT
)"));
}

TEST(Compiler, ExactlyTwoHundredFiftySixRegistersStayInOrder) {
    std::string source;
    for (int i = 0; i < 128; i++) source += "store v" + std::to_string(i) + " = " + std::to_string(i) + "\n";
    Compiled c(source);
    ASSERT_TRUE(c.ok);
    EXPECT_EQ(c.tail(3), listing(R"(
0254  LOAD_CONST  r254, 127
0255  MOVE        r255, r254
0256  HALT
)"));
    EXPECT_EQ(c.compiler->registers.never_used, 256);  // all 256 handed out, none twice
}

TEST(Compiler, LongProgramsReuseDeadTemporaries) {
    std::string source;
    for (int i = 0; i < 1000; i++) source += "store x = x plus " + std::to_string(i) + "\n";
    source += "display x\n";
    Compiled c(source);
    ASSERT_TRUE(c.ok);
    // In order until all 256 are out (the 128th constant takes r255), then the lowest dead ones.
    EXPECT_EQ(c.chunk().code[3 * 127].dst, 255);
    for (uint64_t i = 3 * 128; i < c.chunk().count; i++) EXPECT_LT(c.chunk().code[i].dst, 4) << i;
}

TEST(Compiler, ARegisterOnceATemporaryIsClearedForANewName) {
    std::string source;
    for (int i = 0; i < 300; i++) source += "display " + std::to_string(i) + "\n";
    source += "display fresh\n";
    Compiled c(source);
    ASSERT_TRUE(c.ok);
    // fresh is given the register that last held 299, so it must read 0 again.
    EXPECT_EQ(c.tail(5), listing(R"(
0598  LOAD_CONST  r0, 299
0599  PRINT       r0
0600  LOAD_CONST  r0, 0
0601  PRINT       r0
0602  HALT
)"));
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
