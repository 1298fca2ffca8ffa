// The listing's forms for what the compiler never emits: exact numbers,
// strings that would break a line, jumps, and opcodes outside the table.
#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "test_support.h"
#include "vl_disasm.h"

namespace {

TEST(Listing, EveryFieldFormAndUnknownOpcodes) {
    VlInstruction code[] = {
        ins(OP_LOAD_CONST, 255, 0, 0, 0.1 + 0.2),
        ins(OP_LOAD_CONST, 1, 0, 0, 1e20),
        ins(OP_LOAD_CONST, 2, 0, 0, -0.0),
        ins(OP_LOAD_CONST, 3, 0, 0, std::numeric_limits<double>::infinity()),
        ins(OP_LOAD_STR, 4, 0, 0, 0, 0, "say \"hi\"\\\n\t\r\x01\x7F caf\xC3\xA9"),
        ins(OP_LOAD_STR, 5),
        ins(OP_JUMP, 0, 0, 0, 0, 12345),
        ins(OP_JUMP_IF_ZERO, 0, 9, 0, 0, 3),
        ins(42, 1, 2, 0, 3),
        ins(0xFFFFFFFFu),
        ins(OP_HALT),
    };
    VlChunk chunk{};
    chunk.code = code;
    chunk.count = chunk.capacity = std::size(code);
    std::string out;
    vl_disassemble_chunk(&chunk, out);
    EXPECT_EQ(out,
              "0000  LOAD_CONST  r255, 0.30000000000000004\n"
              "0001  LOAD_CONST  r1, 1e+20\n"
              "0002  LOAD_CONST  r2, -0\n"
              "0003  LOAD_CONST  r3, inf\n"
              "0004  LOAD_STR    r4, \"say \\\"hi\\\"\\\\\\n\\t\\r\\x01\\x7F caf\xC3\xA9\"\n"
              "0005  LOAD_STR    r5, null\n"
              "0006  JUMP        12345\n"
              "0007  JUMP_IF_ZERO r9, 0003\n"
              "0008  UNKNOWN(42)\n"
              "0009  UNKNOWN(4294967295)\n"
              "0010  HALT\n");
}

}  // namespace
