// The register machine and its threaded interpreter.
#include "vlvm.h"
#include "vl_output.h"
#include "vl_platform.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

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
// returns its length.  Joins write the common whole numbers themselves
// (write_whole); fractions, zero's sign and the rest come here.
size_t format_number(char* out, size_t size, double value) {
    int length = std::isfinite(value) ? std::snprintf(out, size, "%.0f", value)
                                      : std::snprintf(out, size, "%s", non_finite_text(value));
    return length < 0 ? 0 : std::min(static_cast<size_t>(length), size - 1);
}

// The text a display shows for a number, NUL-terminated, and its length:
// whole numbers inside the signed 64-bit range as integers, others as %g.
size_t display_number(char* out, size_t size, double v) {
    int length = 0;
    if (v >= -9223372036854775808.0 && v < 9223372036854775808.0 &&
        static_cast<double>(static_cast<long long>(v)) == v) {
        length = std::snprintf(out, size, "%lld", static_cast<long long>(v));
    } else if (std::isfinite(v)) {
        length = std::snprintf(out, size, "%g", v);
    } else {
        length = std::snprintf(out, size, "%s", non_finite_text(v));
    }
    return length < 0 ? 0 : std::min(static_cast<size_t>(length), size - 1);
}

// A display's line for a sink: the bytes print_value writes.
void send_value(const VlOutputSink& sink, const VlValue& value) {
    std::string line = vlvm_display_text(value);
    line += '\n';
    sink.write(sink.context, line.data(), line.size());
}

void print_value(const VlVM* machine, const VlValue& value) {
    if (machine->output.write) {
        send_value(machine->output, value);
        return;
    }
    if (value.type == VALUE_STRING) {
        vl_puts(value.string ? value.string : "");
    } else {
        char text[64];
        display_number(text, sizeof text, value.number);
        vl_printf(stdout, "%s\n", text);
    }
    std::fflush(stdout);
}

// The wide loads below read past the NUL (never past the page): sanitizers
// rightly count that as a read outside the string, so their builds copy
// with memchr.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VL_NO_WIDE_COPY 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define VL_NO_WIDE_COPY 1
#endif

// Copies the bytes of `text` before its NUL, no more than `room` of them, to
// `out`, and returns how many; up to 16 bytes past them may be written too.
// The texts are short: sixteen bytes at a time with no calls, and never a
// load that reaches into the next page, which may not exist.
size_t copy_text(char* out, size_t room, const char* text) {
#if (defined(__SSE2__) || defined(_M_X64)) && !defined(VL_NO_WIDE_COPY)
    constexpr uintptr_t PAGE = 4096;
    size_t n = 0;
    while (n < room) {
        if ((reinterpret_cast<uintptr_t>(text + n) & (PAGE - 1)) > PAGE - 16) {
            if (!text[n]) return n;  // close to a page's end: a byte at a time
            out[n] = text[n];
            n++;
            continue;
        }
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + n));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + n), bytes);
        const auto nuls = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_setzero_si128())));
        if (nuls) return std::min(n + static_cast<size_t>(std::countr_zero(nuls)), room);
        n += 16;
    }
    return room;
#else
    const void* end = std::memchr(text, '\0', room);
    size_t n = end ? static_cast<size_t>(static_cast<const char*>(end) - text) : room;
    std::memcpy(out, text, n);
    return n;
#endif
}

constexpr auto DIGIT_PAIRS = [] {
    std::array<char, 200> pairs{};
    for (int i = 0; i < 100; i++) {
        pairs[2 * i] = static_cast<char>('0' + i / 10);
        pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
    }
    return pairs;
}();

// Writes a whole number of at most 17 characters (below 2^53 in magnitude,
// not 0) at `out` as "%.0f" does, and returns its length.  The digits
// go straight to their places from the right, two at a time: built in a
// buffer and then moved, the narrow stores stalled the wide loads.
size_t write_whole(char* out, long long whole) {
    uint64_t left = whole < 0 ? 0 - static_cast<uint64_t>(whole) : static_cast<uint64_t>(whole);
    size_t length = whole < 0 ? 2 : 1;
    for (uint64_t power = 10; left >= power && length < 20; power *= 10) length++;
    if (whole < 0) out[0] = '-';
    char* p = out + length;
    while (left >= 100) {
        p -= 2;
        std::memcpy(p, &DIGIT_PAIRS[2 * (left % 100)], 2);
        left /= 100;
    }
    if (left >= 10) {
        std::memcpy(p - 2, &DIGIT_PAIRS[2 * left], 2);
    } else {
        p[-1] = static_cast<char>('0' + left);
    }
    return length;
}

// Writes `value` as a join shows it at `out`, no more than `room` bytes of
// it, and returns how many; up to 16 bytes past them may be written too.
[[gnu::always_inline]] inline size_t put_text(char* out, size_t room, const VlValue& value) {
    if (value.type == VALUE_STRING) return value.string ? copy_text(out, room, value.string) : 0;
    constexpr size_t WHOLE_DIGITS = 17;  // the longest that write_whole writes
    const double number = value.number;
    // Inside the range the conversion to an integer is exact, so converting
    // back tells a whole number (std::trunc is a library call on x86-64).
    if (room >= WHOLE_DIGITS && number != 0.0 && number > -EXACT_INTEGERS && number < EXACT_INTEGERS) {
        const auto whole = static_cast<long long>(number);
        if (static_cast<double>(whole) == number) return write_whole(out, whole);
    }
    char digits[400];
    size_t length = format_number(digits, sizeof digits, number);
    size_t n = length < room ? length : room;
    std::memcpy(out, digits, n);
    return n;
}

// Joins two registers, one of them a string at least, into `dst`; the text
// is cut, silently, to VL_STRINGS_MAX_LENGTH bytes.  It is written straight
// into the string store, or, while the store still copies, into a buffer.
void join(VlVM* machine, uint8_t dst, uint8_t left, uint8_t right) {
    char* room = vl_strings_room(&machine->strings, machine->arena, machine->registers, VL_REGISTER_COUNT);
    char buffer[VL_STRINGS_ROOM];
    char* out = room ? room : buffer;
    // Read after vl_strings_room, which may have moved the strings.
    size_t used = put_text(out, VL_STRINGS_MAX_LENGTH, machine->registers[left]);
    used += put_text(out + used, VL_STRINGS_MAX_LENGTH - used, machine->registers[right]);
    const char* text = room ? vl_strings_keep(&machine->strings, room, used)
                            : vl_strings_store(&machine->strings, machine->arena, machine->registers,
                                               VL_REGISTER_COUNT, buffer, used);
    if (!text) vl_out_of_memory();
    machine->registers[dst].type = VALUE_STRING;
    machine->registers[dst].string = text;
}

inline void set_number(VlValue& dst, double number) {
    dst.type = VALUE_NUMBER;
    dst.number = number;
}

}  // namespace

std::string vlvm_display_text(const VlValue& value) {
    if (value.type == VALUE_STRING) return value.string ? value.string : "";
    char text[64];
    return std::string(text, display_number(text, sizeof text, value.number));
}

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
        // Two numbers, by far the common case, add in place; the rest joins
        // strings.  One test for both: VALUE_NUMBER is 0.
        static_assert(VALUE_NUMBER == 0);
        if ((reg[ip->src1].type | reg[ip->src2].type) == VALUE_NUMBER) {
            set_number(reg[ip->dst], reg[ip->src1].number + reg[ip->src2].number);
            ip++;
            NEXT();
        }
        const VlInstruction* current = ip++;
        machine->pc = static_cast<uint64_t>(ip - code);
        join(machine, current->dst, current->src1, current->src2);
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
        print_value(machine, reg[current->src1]);
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
