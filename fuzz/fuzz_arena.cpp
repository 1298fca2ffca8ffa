// Sequences of arena operations checked against a model: every live
// allocation keeps its bytes until a reset, pointers are 8-aligned, null
// comes exactly when the request cannot be met, and the block chain stays
// consistent with the arena's totals.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "vl_arena.h"

// Requests beyond the address space must come back null, not abort.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }

namespace {

constexpr size_t LIVE_LIMIT = size_t{2} << 20;  // bytes held at once, so no input exhausts RAM
constexpr size_t LARGEST = 300000;

struct Allocation {
    unsigned char* data;
    size_t size;
    unsigned char tag;
    bool own;  // from alloc_own or resize_own
};

struct Input : FuzzInput {
    // Tiny, small, around the 64 KiB block size, or (rarely, they are
    // slow to fill) several blocks large.
    size_t request() {
        uint8_t head = byte();
        if (head < 0x80) return head & 63;
        if (head < 0xC0) return (size_t(head & 63) << 8 | byte()) & 4095;
        if (head < 0xF0) return 65536 - 512 + ((size_t(head & 63) << 8 | byte()) & 1023);
        return (size_t(head & 15) << 16 | size_t(byte()) << 8 | byte()) % LARGEST + 1;
    }
};

void fail() { std::abort(); }

// Each allocation holds the pattern from its tag on: neighbours differ.
const unsigned char* patterns() {
    static unsigned char* bytes = [] {
        auto* p = new unsigned char[2 * LARGEST + 512];
        for (size_t i = 0; i < 2 * LARGEST + 512; i++) p[i] = static_cast<unsigned char>(i * 31 + (i >> 9));
        return p;
    }();
    return bytes;
}

// The same with a NUL at every seventh byte, for strndup.
const unsigned char* patterns_with_nuls() {
    static unsigned char* bytes = [] {
        auto* p = new unsigned char[2 * LARGEST + 512];
        for (size_t i = 0; i < 2 * LARGEST + 512; i++) p[i] = i % 7 ? patterns()[i] : 0;
        return p;
    }();
    return bytes;
}

bool all_zero(const unsigned char* data, size_t size) {
    static const auto* zeros = new unsigned char[LARGEST + 1]();
    return std::memcmp(data, zeros, size) == 0;
}

void fill(const Allocation& a) { std::memcpy(a.data, patterns() + a.tag, a.size); }

bool intact(const unsigned char* data, size_t size, unsigned char tag) {
    return std::memcmp(data, patterns() + tag, size) == 0;
}

void verify(const std::vector<Allocation>& live) {
    for (const Allocation& a : live)
        if (!intact(a.data, a.size, a.tag)) fail();
}

void check_chain(const VlArena* arena) {
    uint64_t total = 0;
    bool current_seen = false;
    for (const VlArenaBlock* block = arena->first; block; block = block->next) {
        if (block->used > block->capacity || block->used % 8) fail();
        total += block->capacity;
        current_seen |= block == arena->current;
    }
    if (total != arena->total_capacity || !current_seen) fail();
}

size_t held(const std::vector<Allocation>& live) {
    size_t sum = 0;
    for (const Allocation& a : live) sum += a.size;
    return sum;
}

void keep(std::vector<Allocation>& live, void* pointer, size_t size, unsigned char tag, bool own) {
    if (!pointer || reinterpret_cast<uintptr_t>(pointer) % 8) fail();
    Allocation a{static_cast<unsigned char*>(pointer), size, tag, own};
    fill(a);
    live.push_back(a);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in{{data, size}};
    VlArena* arena = vl_arena_create(in.byte() & 1 ? 0 : 200000);
    if (!arena) fail();
    std::vector<Allocation> live;
    unsigned char tag = 0;
    std::string bytes;
    for (int ops = 0; ops < 300 && in.more(); ops++) {
        uint8_t op = in.byte() % 12;
        size_t n = op == 4 || op == 7 ? 0 : in.request();
        tag++;
        if (n && held(live) + n > LIVE_LIMIT) {
            op = 4;  // out of the input's budget: start over
        }
        switch (op) {
            case 0: {
                void* p = vl_arena_alloc(arena, n);
                if (n == 0) {
                    if (p) fail();
                    break;
                }
                keep(live, p, n, tag, false);
                break;
            }
            case 1: {
                auto* p = static_cast<unsigned char*>(vl_arena_alloc_zero(arena, n));
                if (n == 0) {
                    if (p) fail();
                    break;
                }
                if (!p) fail();
                if (!all_zero(p, n)) fail();
                keep(live, p, n, tag, false);
                break;
            }
            case 2: {
                bytes.assign(n, static_cast<char>('a' + tag % 26));
                char* copy = vl_arena_strdup(arena, bytes.c_str());
                if (!copy || std::strlen(copy) != n || bytes != copy) fail();
                keep(live, copy, n + 1, tag, false);
                break;
            }
            case 3: {  // NULs inside are copied too
                const auto* source = reinterpret_cast<const char*>(patterns_with_nuls() + tag);
                char* copy = vl_arena_strndup(arena, source, n);
                if (!copy || std::memcmp(copy, source, n) != 0 || copy[n] != '\0') fail();
                keep(live, copy, n + 1, tag, false);
                break;
            }
            case 4:
                verify(live);
                vl_arena_reset(arena);
                live.clear();
                break;
            case 5: {
                void* p = vl_arena_alloc_own(arena, n);
                if (n == 0) {
                    if (p) fail();
                    break;
                }
                keep(live, p, n, tag, true);
                break;
            }
            case 6: {  // grow (or try to shrink) the newest array of its own
                size_t i = live.size();
                while (i > 0 && !live[i - 1].own) i--;
                if (i == 0) break;
                Allocation& a = live[i - 1];
                size_t wanted = in.byte() & 1 ? a.size + n : n;
                if (wanted > 2 * LARGEST) wanted = n;
                void* p = vl_arena_resize_own(arena, a.data, a.size, wanted);
                size_t rounded = (wanted + 7) & ~size_t{7};
                if (rounded < a.size) {  // shrinking is refused and changes nothing
                    if (p) fail();
                    break;
                }
                if (!p || reinterpret_cast<uintptr_t>(p) % 8) fail();
                a.data = static_cast<unsigned char*>(p);
                if (!intact(a.data, a.size, a.tag)) fail();
                a.size = wanted;
                fill(a);
                break;
            }
            case 7:
                verify(live);
                break;
            case 8: {  // requests that no machine can meet, or bad arguments
                // The last three get as far as the heap, which complains on
                // standard error: once per process is enough.
                static constexpr size_t impossible[] = {SIZE_MAX, SIZE_MAX - 7, SIZE_MAX - 65536, SIZE_MAX / 2,
                                                        size_t{1} << 50};
                static bool heap_refused = false;
                size_t huge = impossible[heap_refused ? n % 2 : n % 5];
                heap_refused |= huge == impossible[4] || huge == impossible[3] || huge == impossible[2];
                uint64_t total = arena->total_capacity;
                if (vl_arena_alloc(arena, huge) || vl_arena_alloc_zero(arena, huge) ||
                    vl_arena_alloc_own(arena, huge) || vl_arena_strndup(arena, "x", SIZE_MAX) ||
                    vl_arena_strdup(arena, nullptr) || vl_arena_strndup(arena, nullptr, 1) ||
                    vl_arena_alloc(nullptr, 8) || vl_arena_alloc_own(nullptr, 8))
                    fail();
                if (arena->total_capacity != total) fail();
                break;
            }
            case 9:  // the inline fast paths of the allocations that cannot fail
                if (n) keep(live, vl_arena_must_alloc(arena, n), n, tag, false);
                break;
            case 10: {
                if (!n) break;
                auto* p = static_cast<unsigned char*>(vl_arena_must_alloc_zero(arena, n));
                if (!p || !all_zero(p, n)) fail();
                keep(live, p, n, tag, false);
                break;
            }
            case 11: {
                const auto* source = reinterpret_cast<const char*>(patterns_with_nuls() + tag);
                char* copy = vl_arena_must_strndup(arena, source, n);
                if (!copy || std::memcmp(copy, source, n) != 0 || copy[n] != '\0') fail();
                keep(live, copy, n + 1, tag, false);
                break;
            }
        }
        check_chain(arena);
    }
    verify(live);
    vl_arena_destroy(arena);
    return 0;
}
