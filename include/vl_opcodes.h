// The instruction set, written out once.  Each line is
//
//     VL_OPCODE(name, fields, "effect")
//
// in opcode order: a line's position is its opcode's number, so new opcodes
// go at the end.  `fields` are the VlField bits of the instruction fields the
// opcode reads (the compiler leaves every other field zero); `effect` is what
// it does, in one line.  An includer defines VL_OPCODE, includes this file
// (it has no include guard on purpose), and gets one expansion per opcode.
//
//        name          fields                                         effect
VL_OPCODE(LOAD_CONST,   VL_FIELD_DST | VL_FIELD_NUMBER,                "r[dst] = number")
VL_OPCODE(LOAD_STR,     VL_FIELD_DST | VL_FIELD_STRING,                "r[dst] = string (shared, not copied)")
VL_OPCODE(MOVE,         VL_FIELD_DST | VL_FIELD_SRC1,                  "r[dst] = r[src1], tag and payload")
VL_OPCODE(ADD,          VL_FIELD_DST | VL_FIELD_SRC1 | VL_FIELD_SRC2,  "r[dst] = r[src1] + r[src2]; with a string on either side, the two joined as text")
VL_OPCODE(SUB,          VL_FIELD_DST | VL_FIELD_SRC1 | VL_FIELD_SRC2,  "r[dst] = r[src1] - r[src2] (a string reads as 0)")
VL_OPCODE(MUL,          VL_FIELD_DST | VL_FIELD_SRC1 | VL_FIELD_SRC2,  "r[dst] = r[src1] * r[src2] (a string reads as 0)")
VL_OPCODE(DIV,          VL_FIELD_DST | VL_FIELD_SRC1 | VL_FIELD_SRC2,  "r[dst] = r[src1] / r[src2], or 0 when r[src2] is 0 (a string reads as 0)")
VL_OPCODE(PRINT,        VL_FIELD_SRC1,                                 "write r[src1] and a line feed to standard output, then flush it")
VL_OPCODE(JUMP,         VL_FIELD_TARGET,                               "continue at instruction target")
VL_OPCODE(JUMP_IF_ZERO, VL_FIELD_SRC1 | VL_FIELD_TARGET,               "continue at target when r[src1] is 0, else at the next instruction")
VL_OPCODE(HALT,         VL_FIELD_NONE,                                 "stop the machine")

#undef VL_OPCODE
