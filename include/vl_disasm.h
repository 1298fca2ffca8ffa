// Listing of a chunk as text, one instruction per line:
//
//     0002  ADD         r2, r0, r1
//
// the index in four digits, the opcode's name from its column, then the
// fields that opcode reads (vl_opcodes.h) from column 18, in the order dst,
// src1, src2, number, string, target:
//   - registers as rN;
//   - numbers in the shortest form that reads back to the same double;
//   - strings in double quotes, with \" \\ \n \r \t for those bytes and \xHH
//     for other control bytes, so that one instruction stays on one line
//     (other bytes, UTF-8 included, as they are; a null string as null);
//   - jump targets as an instruction index in four digits.
// A number that names no opcode is listed as UNKNOWN(n) without fields.
#pragma once
#include <cstdint>
#include <string>
#include "vlvm.h"

void vl_disassemble_instruction(const VlInstruction& instruction, uint64_t index, std::string& out);
void vl_disassemble_chunk(const VlChunk* chunk, std::string& out);
