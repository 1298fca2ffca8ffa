// The register machine and its threaded interpreter.
#include "vlvm.h"
#include "vl_output.h"
#include "vl_platform.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

VlVM* vlvm_create(VlArena* arena) {
    auto* machine = static_cast<VlVM*>(vl_arena_must_alloc_zero(arena, sizeof(VlVM)));
    machine->arena = arena;
    vl_chunk_init(&machine->chunk, arena);
    return machine;
}

namespace {

// Subtraction, multiplication, division and the zero test read a number;
// a string there counts as 0, the same on every run and platform.
inline double number_of(const VlValue& value) {
    return value.type == VALUE_NUMBER ? value.number : 0.0;
}

// glibc's spelling of the values that are not finite, used everywhere.
const char* non_finite_text(double value) {
    if (std::isnan(value)) return std::signbit(value) ? "-nan" : "nan";
    return value < 0 ? "-inf" : "inf";
}

// Below 2^53 in magnitude every whole double is an exact 64-bit integer.
constexpr double EXACT_INTEGERS = 9007199254740992.0;

// Writes a number into `out` as "%.0f" shows it (concatenation's format) and
// returns its length.  Whole numbers, the common case, skip the general
// formatter; fractions and zero's sign are left to it.
size_t format_whole(char* out, size_t size, double value) {
    if (value != 0.0 && value > -EXACT_INTEGERS && value < EXACT_INTEGERS && value == std::trunc(value)) {
        auto written = std::to_chars(out, out + size - 1, static_cast<long long>(value));
        *written.ptr = '\0';
        return static_cast<size_t>(written.ptr - out);
    }
    int length = std::isfinite(value) ? std::snprintf(out, size, "%.0f", value)
                                      : std::snprintf(out, size, "%s", non_finite_text(value));
    return length < 0 ? 0 : std::min(static_cast<size_t>(length), size - 1);
}

void print_value(const VlValue& value) {
    if (value.type == VALUE_STRING) {
        vl_puts(value.string ? value.string : "");
    } else {
        double v = value.number;
        // Whole numbers inside the signed 64-bit range print as integers.
        if (v >= -9223372036854775808.0 && v < 9223372036854775808.0 &&
            static_cast<double>(static_cast<long long>(v)) == v) {
            vl_printf(stdout, "%lld\n", static_cast<long long>(v));
        } else if (std::isfinite(v)) {
            vl_printf(stdout, "%g\n", v);
        } else {
            vl_printf(stdout, "%s\n", non_finite_text(v));
        }
    }
    std::fflush(stdout);
}

// Appends `length` bytes of `text` at `used`, stopping one byte short of
// `size`; returns the new length.
size_t append_cut(char* buffer, size_t size, size_t used, const char* text, size_t length) {
    size_t room = size - 1 - used;
    size_t n = length < room ? length : room;
    if (n) std::memcpy(buffer + used, text, n);
    return used + n;
}

// The bytes of `text` up to its NUL, but no more than `limit` are looked at.
size_t bounded_length(const char* text, size_t limit) {
    if (!text) return 0;
    const void* end = std::memchr(text, '\0', limit);
    return end ? static_cast<size_t>(static_cast<const char*>(end) - text) : limit;
}

void add_values(VlVM* machine, VlValue& dst, VlValue a, VlValue b) {
    if (a.type == VALUE_NUMBER && b.type == VALUE_NUMBER) {
        dst.type = VALUE_NUMBER;
        dst.number = a.number + b.number;
        return;
    }
    char left[400], right[400];
    const char* a_text = a.string;
    const char* b_text = b.string;
    size_t a_length = 0, b_length = 0;
    constexpr size_t LIMIT = 511;  // the joined text is cut, silently, to 511 bytes
    if (a.type == VALUE_NUMBER) {
        a_length = format_whole(left, sizeof left, a.number);
        a_text = left;
    } else {
        a_length = bounded_length(a_text, LIMIT);
    }
    if (b.type == VALUE_NUMBER) {
        b_length = format_whole(right, sizeof right, b.number);
        b_text = right;
    } else {
        b_length = bounded_length(b_text, LIMIT);
    }
    char buffer[LIMIT + 1];
    size_t used = append_cut(buffer, sizeof buffer, 0, a_text, a_length);
    used = append_cut(buffer, sizeof buffer, used, b_text, b_length);
    const char* copy =
        vl_strings_store(&machine->strings, machine->arena, machine->registers, VL_REGISTER_COUNT, buffer, used);
    if (!copy) vl_out_of_memory();
    dst.type = VALUE_STRING;
    dst.string = copy;
}

inline void set_number(VlValue& dst, double number) {
    dst.type = VALUE_NUMBER;
    dst.number = number;
}

}  // namespace

// Dispatch, in one of two shapes (as Lua's ljumptab.h does it).  With GCC and
// Clang, direct threading: every handler ends by jumping straight to the
// handler of the next instruction through a table of label addresses.
// Elsewhere, a switch in a loop.  Both come from vl_opcodes.h, so neither can
// miss an opcode or list one out of order.  VL_SWITCH_DISPATCH forces the
// switch, to check that it still builds and runs.
#if defined(__GNUC__) && !defined(VL_SWITCH_DISPATCH)
#define VL_THREADED 1
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"  // labels as values
#define VL_DISPATCH() goto* dispatch_table[ip->opcode];
#define CASE(name) op_##name:
// A long program's instructions come from memory, not the cache: asking
// for the line 24 instructions ahead took 5% off the arith workload.
#define NEXT()                   \
    __builtin_prefetch(ip + 24); \
    goto* dispatch_table[ip->opcode]
#else
#define VL_THREADED 0
#define VL_DISPATCH() for (;;) switch (ip->opcode)
#define CASE(name) case OP_##name:
#define NEXT() continue
#endif

int vlvm_run(VlVM* machine) {
    if (!machine || machine->chunk.count == 0) return 0;
    if (!vl_chunk_is_runnable(&machine->chunk, machine->pc)) return 0;

    const VlInstruction* code = machine->chunk.code;
    VlValue* reg = machine->registers;
    const VlInstruction* ip = code + machine->pc;

#if VL_THREADED
    static void* const dispatch_table[VL_OPCODE_COUNT] = {
#define VL_OPCODE(name, fields, effect) &&op_##name,
#include "vl_opcodes.h"
    };
#endif

    VL_DISPATCH() {
    CASE(LOAD_CONST) {
        set_number(reg[ip->dst], ip->number);
        ip++;
        NEXT();
    }
    CASE(LOAD_STR) {
        reg[ip->dst].type = VALUE_STRING;
        reg[ip->dst].string = ip->string;
        ip++;
        NEXT();
    }
    CASE(MOVE) {
        reg[ip->dst] = reg[ip->src1];
        ip++;
        NEXT();
    }
    CASE(ADD) {
        // Two numbers, by far the common case, add in place; the rest joins strings.
        if (reg[ip->src1].type == VALUE_NUMBER && reg[ip->src2].type == VALUE_NUMBER) {
            set_number(reg[ip->dst], reg[ip->src1].number + reg[ip->src2].number);
            ip++;
            NEXT();
        }
        const VlInstruction* current = ip++;
        machine->pc = static_cast<uint64_t>(ip - code);
        add_values(machine, reg[current->dst], reg[current->src1], reg[current->src2]);
        NEXT();
    }
    CASE(SUB) {
        set_number(reg[ip->dst], number_of(reg[ip->src1]) - number_of(reg[ip->src2]));
        ip++;
        NEXT();
    }
    CASE(MUL) {
        set_number(reg[ip->dst], number_of(reg[ip->src1]) * number_of(reg[ip->src2]));
        ip++;
        NEXT();
    }
    CASE(DIV) {
        double divisor = number_of(reg[ip->src2]);
        double dividend = number_of(reg[ip->src1]);
        set_number(reg[ip->dst], divisor == 0.0 ? 0.0 : dividend / divisor);
        ip++;
        NEXT();
    }
    CASE(PRINT) {
        const VlInstruction* current = ip++;
        machine->pc = static_cast<uint64_t>(ip - code);
        print_value(reg[current->src1]);
        NEXT();
    }
    CASE(JUMP) {
        ip = code + ip->target;
        NEXT();
    }
    CASE(JUMP_IF_ZERO) {
        ip = number_of(reg[ip->src1]) == 0.0 ? code + ip->target : ip + 1;
        NEXT();
    }
    CASE(HALT) {
        machine->pc = static_cast<uint64_t>(ip - code);
        return 1;
    }

    }
    return 0;  // not reached: a valid chunk ends in HALT
}

#undef VL_DISPATCH
#undef CASE
#undef NEXT
#if VL_THREADED
#pragma GCC diagnostic pop
#endif
