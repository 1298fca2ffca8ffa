// The machine: chunk growth, chunk validation, and handlers observed
// through the registers they leave behind.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "test_support.h"
#include "vlvm.h"

namespace {

struct Machine {
    VlArena* arena = vl_arena_create(0);
    VlVM* vm = vlvm_create(arena);

    explicit Machine(const std::vector<VlInstruction>& code = {}) {
        for (const VlInstruction& instruction : code) vl_chunk_append(&vm->chunk, arena, instruction);
    }
    ~Machine() { vl_arena_destroy(arena); }
    double number(int reg) const { return vm->registers[reg].number; }
};

TEST(Machine, StartsEmptyAndZeroed) {
    Machine m;
    EXPECT_EQ(m.vm->chunk.count, 0u);
    EXPECT_EQ(m.vm->chunk.capacity, 64u);
    EXPECT_EQ(m.vm->pc, 0u);
    for (const VlValue& value : m.vm->registers) {
        EXPECT_EQ(value.type, VALUE_NUMBER);
        EXPECT_EQ(value.number, 0.0);
    }
    EXPECT_EQ(vlvm_run(m.vm), 0);
    EXPECT_EQ(vlvm_run(nullptr), 0);
}

TEST(Machine, ChunkDoublesAndKeepsItsCopies) {
    Machine m;
    VlInstruction instruction = ins(OP_LOAD_CONST);
    for (int i = 0; i < 129; i++) {
        instruction.number = i;
        vl_chunk_append(&m.vm->chunk, m.arena, instruction);
        instruction.number = -1;  // the chunk holds its own copy
        if (i == 63 || i == 64) {
            EXPECT_EQ(m.vm->chunk.capacity, i == 63 ? 64u : 128u);
        }
    }
    EXPECT_EQ(m.vm->chunk.capacity, 256u);
    for (int i = 0; i < 129; i++) EXPECT_EQ(m.vm->chunk.code[i].number, i);

    vl_chunk_init(&m.vm->chunk, m.arena);
    EXPECT_EQ(m.vm->chunk.count, 0u);
    EXPECT_EQ(m.vm->chunk.capacity, 64u);
}

TEST(Machine, ArithmeticAndDivisionByZero) {
    Machine m({ins(OP_LOAD_CONST, 0, 0, 0, 7), ins(OP_LOAD_CONST, 1, 0, 0, 2), ins(OP_SUB, 2, 0, 1),
               ins(OP_MUL, 3, 0, 1), ins(OP_DIV, 4, 0, 1), ins(OP_DIV, 5, 0, 9), ins(OP_ADD, 0, 0, 0),
               ins(OP_LOAD_CONST, 6, 0, 0, -0.0), ins(OP_DIV, 7, 1, 6), ins(OP_HALT)});
    EXPECT_EQ(vlvm_run(m.vm), 1);
    EXPECT_EQ(m.number(2), 5);
    EXPECT_EQ(m.number(3), 14);
    EXPECT_EQ(m.number(4), 3.5);
    EXPECT_EQ(m.number(5), 0);   // by zero
    EXPECT_EQ(m.number(0), 14);  // dst may be a source
    EXPECT_EQ(m.number(7), 0);   // by negative zero
    EXPECT_EQ(m.vm->pc, 9u);
}

TEST(Machine, StringsInNumericHandlersCountAsZero) {
    static const char text[] = "abc";
    VlInstruction load = ins(OP_LOAD_STR, 0);
    load.string = text;
    Machine m({load, ins(OP_LOAD_CONST, 1, 0, 0, 5), ins(OP_SUB, 2, 1, 0), ins(OP_MUL, 3, 0, 1),
               ins(OP_DIV, 4, 1, 0), ins(OP_JUMP_IF_ZERO, 0, 0, 0, 0, 7), ins(OP_LOAD_CONST, 5, 0, 0, 99),
               ins(OP_HALT)});
    EXPECT_EQ(vlvm_run(m.vm), 1);
    EXPECT_EQ(m.number(2), 5);
    EXPECT_EQ(m.number(3), 0);
    EXPECT_EQ(m.number(4), 0);
    EXPECT_EQ(m.number(5), 0);  // the jump was taken
}

TEST(Machine, ConditionalJumpTakesZeroOnly) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double cases[][2] = {{0.0, 0}, {-0.0, 0}, {1.0, 99}, {nan, 99}};
    for (const auto& c : cases) {
        Machine m({ins(OP_LOAD_CONST, 0, 0, 0, c[0]), ins(OP_JUMP_IF_ZERO, 0, 0, 0, 0, 3),
                   ins(OP_LOAD_CONST, 1, 0, 0, 99), ins(OP_HALT)});
        EXPECT_EQ(vlvm_run(m.vm), 1);
        EXPECT_EQ(m.number(1), c[1]) << c[0];
    }
}

TEST(Machine, JumpsRunLoops) {
    // r0 = 5; while r0 != 0: r0 -= 1, r2 += 2
    Machine m({ins(OP_LOAD_CONST, 0, 0, 0, 5), ins(OP_LOAD_CONST, 1, 0, 0, 1), ins(OP_LOAD_CONST, 3, 0, 0, 2),
               ins(OP_JUMP_IF_ZERO, 0, 0, 0, 0, 7), ins(OP_SUB, 0, 0, 1), ins(OP_ADD, 2, 2, 3),
               ins(OP_JUMP, 0, 0, 0, 0, 3), ins(OP_HALT)});
    EXPECT_EQ(vlvm_run(m.vm), 1);
    EXPECT_EQ(m.number(2), 10);
    EXPECT_EQ(m.vm->pc, 7u);
}

TEST(Machine, SecondRunStartsAtTheHalt) {
    Machine m({ins(OP_LOAD_CONST, 0, 0, 0, 1), ins(OP_ADD, 0, 0, 0), ins(OP_HALT)});
    EXPECT_EQ(vlvm_run(m.vm), 1);
    EXPECT_EQ(vlvm_run(m.vm), 1);
    EXPECT_EQ(m.number(0), 2);  // not doubled again
}

TEST(Machine, InvalidChunksRunNothing) {
    const std::vector<std::vector<VlInstruction>> chunks = {
        {ins(OP_LOAD_CONST, 0, 0, 0, 1)},                                     // no final halt
        {ins(OP_LOAD_CONST, 0, 0, 0, 1), ins(11), ins(OP_HALT)},              // opcode out of range
        {ins(OP_LOAD_CONST, 0, 0, 0, 1), ins(0xFFFFFFFFu), ins(OP_HALT)},
        {ins(OP_LOAD_CONST, 0, 0, 0, 1), ins(OP_JUMP, 0, 0, 0, 0, 3), ins(OP_HALT)},  // target past the end
        {ins(OP_LOAD_CONST, 0, 0, 0, 1), ins(OP_JUMP_IF_ZERO, 0, 0, 0, 0, ~0ull), ins(OP_HALT)},
    };
    for (const auto& code : chunks) {
        Machine m(code);
        EXPECT_EQ(vlvm_run(m.vm), 0);
        EXPECT_EQ(m.number(0), 0);  // nothing executed
    }
    Machine past({ins(OP_HALT)});
    past.vm->pc = 5;
    EXPECT_EQ(vlvm_run(past.vm), 0);
    // A chunk cut short after it was written is checked again in full: its
    // jump now lands past the end.
    Machine cut({ins(OP_LOAD_CONST, 0, 0, 0, 1), ins(OP_JUMP, 0, 0, 0, 0, 3), ins(OP_HALT), ins(OP_HALT)});
    vl_chunk_truncate(&cut.vm->chunk, 3);
    EXPECT_EQ(vlvm_run(cut.vm), 0);
    EXPECT_EQ(cut.number(0), 0);
}

TEST(Machine, ConcatenationIsCutAt511Bytes) {
    static const char left[] = "ab";
    static std::string long_text(600, 'x');
    VlInstruction a = ins(OP_LOAD_STR, 0), b = ins(OP_LOAD_STR, 1);
    a.string = left;
    b.string = long_text.c_str();
    Machine m({a, b, ins(OP_ADD, 2, 0, 1), ins(OP_LOAD_CONST, 3, 0, 0, 2.5), ins(OP_ADD, 4, 0, 3),
               ins(OP_ADD, 5, 3, 0), ins(OP_HALT)});
    EXPECT_EQ(vlvm_run(m.vm), 1);
    EXPECT_EQ(m.vm->registers[2].type, VALUE_STRING);
    EXPECT_EQ(std::string(m.vm->registers[2].string), "ab" + std::string(509, 'x'));
    EXPECT_STREQ(m.vm->registers[4].string, "ab2");  // %.0f rounds half to even
    EXPECT_STREQ(m.vm->registers[5].string, "2ab");
    EXPECT_NE(m.vm->registers[4].string, m.vm->registers[5].string);
}

}  // namespace
