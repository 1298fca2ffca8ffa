// The compiler's register allocator: which of the machine's 256 registers
// are free.  Registers are handed out in order, 0, 1, 2, ..., while any has
// never been used, so a program that fits in 256 compiles to the in-order
// registers; after that the lowest dead temporary is taken again.  A
// temporary dies when its one reader has read it; a variable keeps its
// register for good.
#pragma once
#include <bit>
#include <cstdint>

struct VlRegisterAllocator {
    uint16_t never_used;  // registers from here up to 255 have never been handed out
    uint64_t live_temporaries[4];
    uint64_t dead_temporaries[4];  // free to be handed out again
    uint64_t written[4];           // once held a temporary that died
};

namespace vl_regalloc_detail {
inline bool test(const uint64_t (&bits)[4], uint8_t reg) { return (bits[reg / 64] >> (reg % 64)) & 1; }
inline void set(uint64_t (&bits)[4], uint8_t reg) { bits[reg / 64] |= uint64_t{1} << (reg % 64); }
inline void clear(uint64_t (&bits)[4], uint8_t reg) { bits[reg / 64] &= ~(uint64_t{1} << (reg % 64)); }
}  // namespace vl_regalloc_detail

// A register for a temporary or a variable in *reg; false when all 256 hold
// a live value.
[[nodiscard]] inline bool vl_regalloc_take(VlRegisterAllocator* registers, bool temporary, uint8_t* reg) {
    using namespace vl_regalloc_detail;
    if (registers->never_used < 256) {
        *reg = static_cast<uint8_t>(registers->never_used++);
    } else {
        int word = 0;
        while (word < 4 && !registers->dead_temporaries[word]) word++;
        if (word == 4) return false;
        *reg = static_cast<uint8_t>(word * 64 + std::countr_zero(registers->dead_temporaries[word]));
        clear(registers->dead_temporaries, *reg);
    }
    if (temporary) set(registers->live_temporaries, *reg);
    return true;
}

// A temporary's value has been read: its register may be taken again.
// Nothing happens for a register that holds no live temporary.
inline void vl_regalloc_release(VlRegisterAllocator* registers, uint8_t reg) {
    using namespace vl_regalloc_detail;
    if (!test(registers->live_temporaries, reg)) return;
    clear(registers->live_temporaries, reg);
    set(registers->dead_temporaries, reg);
    set(registers->written, reg);
}

// Whether a temporary left a value in the register: a name bound there must
// be cleared first, to read 0 as on a fresh machine.
[[nodiscard]] inline bool vl_regalloc_was_written(const VlRegisterAllocator* registers, uint8_t reg) {
    return vl_regalloc_detail::test(registers->written, reg);
}
