// Listing of a chunk as text (format in vl_disasm.h).
#include "vl_disasm.h"

#include <charconv>
#include <cinttypes>
#include <cstdio>

namespace {

constexpr size_t FIELD_COLUMN = 18;

void append_index(std::string& out, uint64_t index) {
    char text[24];
    std::snprintf(text, sizeof text, "%04" PRIu64, index);
    out += text;
}

void append_number(std::string& out, double number) {
    char text[32];
    auto result = std::to_chars(text, text + sizeof text, number);
    out.append(text, result.ptr);
}

void append_string(std::string& out, const char* string) {
    if (!string) {
        out += "null";
        return;
    }
    out += '"';
    for (const char* p = string; *p; p++) {
        unsigned char byte = static_cast<unsigned char>(*p);
        switch (byte) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (byte < 0x20 || byte == 0x7F) {
                    char hex[8];
                    std::snprintf(hex, sizeof hex, "\\x%02X", byte);
                    out += hex;
                } else {
                    out += static_cast<char>(byte);
                }
        }
    }
    out += '"';
}

}  // namespace

void vl_disassemble_instruction(const VlInstruction& instruction, uint64_t index, std::string& out) {
    size_t line_start = out.size();
    append_index(out, index);
    out += "  ";
    const VlOpcodeInfo* info = vl_opcode_info(instruction.opcode);
    if (!info) {
        out += "UNKNOWN(" + std::to_string(instruction.opcode) + ")\n";
        return;
    }
    out += info->name;
    if (info->fields == VL_FIELD_NONE) {
        out += '\n';
        return;
    }
    // A name as long as the column leaves one space (JUMP_IF_ZERO).
    size_t used = out.size() - line_start;
    out.append(used < FIELD_COLUMN ? FIELD_COLUMN - used : 1, ' ');

    const char* separator = "";
    auto next = [&] {
        out += separator;
        separator = ", ";
    };
    auto reg = [&](uint8_t r) {
        next();
        out += 'r';
        out += std::to_string(r);
    };
    if (info->fields & VL_FIELD_DST) reg(instruction.dst);
    if (info->fields & VL_FIELD_SRC1) reg(instruction.src1);
    if (info->fields & VL_FIELD_SRC2) reg(instruction.src2);
    if (info->fields & VL_FIELD_NUMBER) {
        next();
        append_number(out, instruction.number);
    }
    if (info->fields & VL_FIELD_STRING) {
        next();
        append_string(out, instruction.string);
    }
    if (info->fields & VL_FIELD_TARGET) {
        next();
        append_index(out, instruction.target);
    }
    out += '\n';
}

void vl_disassemble_chunk(const VlChunk* chunk, std::string& out) {
    for (uint64_t i = 0; i < chunk->count; i++) vl_disassemble_instruction(chunk->code[i], i, out);
}
