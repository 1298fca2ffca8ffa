// A register's value: a number or a string.  Depends on nothing, so that
// the machine and the string store can both build on it.
#pragma once
#include <cstdint>

enum VlValueType : uint32_t { VALUE_NUMBER = 0, VALUE_STRING = 1 };

struct VlValue {
    uint32_t type;
    union {
        double number;
        const char* string;
    };
};
