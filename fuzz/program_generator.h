// Random programs with the output that they must display, built in one pass
// from a stream of choices: a reference evaluator of the language written
// from its rules, which works because a count loop runs its body exactly
// once, in source order.  The differential fuzzer and the debugger's tests
// both draw from it.
#pragma once
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz_input.h"

namespace vl_generated {

inline constexpr const char* NAMES[] = {"a", "b", "x1", "total", "_t", "n_2"};
inline constexpr size_t NAME_COUNT = sizeof NAMES / sizeof NAMES[0];
inline constexpr const char* NUMBERS[] = {"0", "1", "2", "3", "7", "10", "255", "1000", "123456789",
                                   "1000000000000000", "9007199254740993", "99999999999999999999", "0.5",
                                   "2.25", "3.14159", "1000000000000000000000000000000",
                                   "111111111111111111111111111111111111111111111111111111111111111",
                                   "1797693134862315807937289714053034150799341327100378269361737789804449682927"
                                   "6475094664901797758720709633028641669288791094655554785194040263065748867150"
                                   "5820681908902000708383676273854845817711531764475730270069855571366959622842"
                                   "9148198608349364752927190741684443655107043427115596995080930428801779041744"
                                   "97792"};  // just past the largest double: infinity
inline constexpr const char* STRINGS[] = {"", "x", "hi there", "0", "a-b", "display 1", "// no comment",
                                   ("longlonglonglonglonglonglonglonglonglonglonglonglonglonglonglonglonglonglonglonglonglong"
                                    "longlonglonglonglonglonglonglonglonglonglonglonglonglonglonglonglonglonglonglonglonglong")};
enum Op { ADD, SUB, MUL, DIV };
struct Spelling {
    const char* text;
    Op op;
};
inline constexpr Spelling OPERATORS[] = {{"plus", ADD},  {"+", ADD},           {"same", ADD},  {"big", ADD},
                                  {"small", ADD}, {"minus", SUB},       {"-", SUB},     {"into", MUL},
                                  {"*", MUL},     {"divided by", DIV},  {"/", DIV},     {"divided   by", DIV}};

template <typename T, size_t N>
constexpr size_t count_of(T (&)[N]) {
    return N;
}

struct Value {
    bool is_string = false;
    double number = 0;
    std::string text;
};

using Input = FuzzInput;

// How a number reads inside a joined string: "%.0f", and glibc's words for
// the values that are not finite.
inline std::string joined(double number) {
    if (std::isnan(number)) return std::signbit(number) ? "-nan" : "nan";
    if (std::isinf(number)) return number < 0 ? "-inf" : "inf";
    char text[400];
    std::snprintf(text, sizeof text, "%.0f", number);
    return text;
}

inline std::string shown(const Value& value) {
    if (value.is_string) return value.text;
    double v = value.number;
    char text[64];
    if (v >= -9223372036854775808.0 && v < 9223372036854775808.0 && v == std::trunc(v))
        std::snprintf(text, sizeof text, "%lld", static_cast<long long>(v));
    else if (std::isfinite(v))
        std::snprintf(text, sizeof text, "%g", v);
    else
        return joined(v);
    return text;
}

inline double numeric(const Value& value) { return value.is_string ? 0.0 : value.number; }

inline Value apply(Op op, const Value& left, const Value& right) {
    Value result;
    switch (op) {
        case ADD:
            if (!left.is_string && !right.is_string) {
                result.number = left.number + right.number;
            } else {
                result.is_string = true;
                result.text = (left.is_string ? left.text : joined(left.number)) +
                              (right.is_string ? right.text : joined(right.number));
                if (result.text.size() > 511) result.text.resize(511);
            }
            break;
        case SUB: result.number = numeric(left) - numeric(right); break;
        case MUL: result.number = numeric(left) * numeric(right); break;
        case DIV: result.number = numeric(right) == 0 ? 0.0 : numeric(left) / numeric(right); break;
    }
    return result;
}

struct Generator {
    Input in{nullptr, 0};
    Value variables[NAME_COUNT];
    std::string source;
    std::string expected;
    int statements_left = 60;

    Value operand(int depth) {
        switch (in.pick(8)) {
            case 0:
            case 1: {
                const char* literal = NUMBERS[in.pick(count_of(NUMBERS))];
                source += literal;
                Value v;
                v.number = std::strtod(literal, nullptr);  // correctly rounded, whatever the length
                return v;
            }
            case 2: {
                const char* literal = STRINGS[in.pick(count_of(STRINGS))];
                source += '"';
                source += literal;
                source += '"';
                Value v;
                v.is_string = true;
                v.text = literal;
                return v;
            }
            case 6:
            case 7:
                if (depth < 3) {
                    source += '(';
                    Value v = expression(depth + 1);
                    source += ')';
                    return v;
                }
                [[fallthrough]];
            default: {
                size_t name = in.pick(NAME_COUNT);
                source += NAMES[name];
                return variables[name];
            }
        }
    }

    Value expression(int depth = 0) {
        Value value = operand(depth);
        for (size_t pairs = in.pick(5); pairs > 0; pairs--) {
            const Spelling& spelling = OPERATORS[in.pick(count_of(OPERATORS))];
            source += ' ';
            source += spelling.text;
            source += ' ';
            Value right = operand(depth);
            value = apply(spelling.op, value, right);
        }
        return value;
    }

    void statements(int depth, const char* indent) {
        size_t count = depth == 0 ? 1000 : in.pick(5);
        for (; count > 0 && in.more() && statements_left > 0; count--, statements_left--) {
            source += indent;
            switch (in.pick(10)) {
                case 0:
                case 1:
                case 2:
                case 3: {
                    source += "display ";
                    expected += shown(expression()) + "\n";
                    if (in.pick(4) == 0) source += " // display 0";
                    break;
                }
                case 4:
                case 5:
                case 6: {
                    size_t name = in.pick(NAME_COUNT);
                    static constexpr const char* forms[] = {" = ", " ", " as number = ", " as word "};
                    source += std::string("store ") + NAMES[name] + forms[in.pick(4)];
                    variables[name] = expression();
                    break;
                }
                case 7: {
                    if (depth >= 2) break;
                    size_t name = in.pick(NAME_COUNT);
                    source += std::string("count ") + NAMES[name] + " from ";
                    Value start = expression();
                    source += " to ";
                    (void)expression();
                    source += '\n';
                    variables[name] = start;
                    statements(depth + 1, depth ? "        " : "    ");
                    source += indent;
                    source += "stop";
                    Value one;
                    one.number = 1;
                    variables[name] = apply(ADD, variables[name], one);
                    break;
                }
                case 8: {  // skipped word by word: no effect
                    source += "check ";
                    (void)expression();
                    break;
                }
                default:
                    if (in.pick(2)) source += "// store a = 5";
                    break;
            }
            source += '\n';
        }
    }
};

}  // namespace vl_generated
