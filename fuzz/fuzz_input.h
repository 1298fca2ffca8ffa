// A fuzz input read as a stream of choices: past its end every read is 0,
// so any input decodes into something.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

struct FuzzInput {
    const uint8_t* data;
    size_t size;
    size_t at = 0;

    bool more() const { return at < size; }
    uint8_t byte() { return at < size ? data[at++] : 0; }
    size_t pick(size_t n) { return byte() % n; }
    // Up to `most` of the next bytes, as they are.
    std::string bytes(size_t most) {
        size_t n = pick(most + 1);
        if (n > size - at) n = size - at;
        std::string out(reinterpret_cast<const char*>(data + at), n);
        at += n;
        return out;
    }
};
