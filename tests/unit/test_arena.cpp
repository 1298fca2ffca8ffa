// The arena: growth, alignment, block reuse after a reset, and the size
// arithmetic at the edges of the address space.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <vector>

#include "test_support.h"
#include "vl_arena.h"
#include "vl_platform.h"

// Under AddressSanitizer an impossible malloc aborts the process by default;
// the product relies on it returning null, as the C library's does.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }

namespace {

uintptr_t address(const void* p) { return reinterpret_cast<uintptr_t>(p); }

size_t chain_length(const VlArena* arena) {
    size_t n = 0;
    for (const VlArenaBlock* b = arena->first; b; b = b->next) n++;
    return n;
}

bool inside(const VlArenaBlock* block, const void* p) {
    auto data = reinterpret_cast<uintptr_t>(block + 1);
    return address(p) >= data && address(p) < data + block->capacity;
}

TEST(Arena, FirstBlockIsAtLeast64KiB) {
    ArenaPtr small(1);
    ASSERT_NE(small.get(), nullptr);
    EXPECT_EQ(small->first->capacity, 65536u);
    EXPECT_EQ(small->first, small->current);
    EXPECT_EQ(small->first->next, nullptr);
    EXPECT_EQ(small->first->used, 0u);
    EXPECT_EQ(small->total_capacity, 65536u);

    ArenaPtr zero(0);
    EXPECT_EQ(zero->first->capacity, 65536u);

    ArenaPtr big(1048576);
    EXPECT_EQ(big->first->capacity, 1048576u);
    EXPECT_EQ(big->total_capacity, 1048576u);
    // The whole first block is usable.
    auto* bytes = static_cast<unsigned char*>(vl_arena_alloc(big, 1048576));
    ASSERT_NE(bytes, nullptr);
    bytes[0] = 1;
    bytes[1048575] = 2;
    EXPECT_EQ(big->current, big->first);
}

TEST(Arena, CreateThatCannotGetItsFirstBlockGivesNull) {
    EXPECT_EQ(vl_arena_create(SIZE_MAX), nullptr);
    EXPECT_EQ(vl_arena_create(SIZE_MAX - 16), nullptr);
}

TEST(Arena, SmallRequestsAreRoundedToEightAndAligned) {
    ArenaPtr arena(65536);
    char* a = static_cast<char*>(vl_arena_alloc(arena, 1));
    char* b = static_cast<char*>(vl_arena_alloc(arena, 1));
    char* c = static_cast<char*>(vl_arena_alloc(arena, 9));
    char* d = static_cast<char*>(vl_arena_alloc(arena, 8));
    ASSERT_TRUE(a && b && c && d);
    EXPECT_EQ(b - a, 8);
    EXPECT_EQ(c - b, 8);
    EXPECT_EQ(d - c, 16);
    EXPECT_EQ(arena->current->used, 40u);
    for (int size : {1, 3, 7, 13, 24, 100, 4095}) {
        void* p = vl_arena_alloc(arena, static_cast<size_t>(size));
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(address(p) % 8, 0u) << size;
        EXPECT_EQ(arena->current->used % 8, 0u);
    }
}

TEST(Arena, ZeroSizeAndNullArenaGiveNullAndChangeNothing) {
    ArenaPtr arena(65536);
    ASSERT_NE(vl_arena_alloc(arena, 16), nullptr);
    EXPECT_EQ(vl_arena_alloc(arena, 0), nullptr);
    EXPECT_EQ(vl_arena_alloc_zero(arena, 0), nullptr);
    EXPECT_EQ(arena->current->used, 16u);

    EXPECT_EQ(vl_arena_alloc(nullptr, 8), nullptr);
    EXPECT_EQ(vl_arena_alloc_zero(nullptr, 8), nullptr);
    EXPECT_EQ(vl_arena_strdup(nullptr, "x"), nullptr);
    EXPECT_EQ(vl_arena_strndup(nullptr, "x", 1), nullptr);
    EXPECT_EQ(vl_arena_strdup(arena, nullptr), nullptr);
    EXPECT_EQ(vl_arena_strndup(arena, nullptr, 0), nullptr);
    EXPECT_EQ(arena->current->used, 16u);
    vl_arena_reset(nullptr);
    vl_arena_destroy(nullptr);
}

TEST(Arena, ExactFillStaysInBlockOneByteMoreGrows) {
    ArenaPtr arena(65536);
    ASSERT_NE(vl_arena_alloc(arena, 100), nullptr);  // uses 104
    void* rest = vl_arena_alloc(arena, 65536 - 104);
    ASSERT_NE(rest, nullptr);
    EXPECT_TRUE(inside(arena->first, rest));
    EXPECT_EQ(arena->first->used, 65536u);
    EXPECT_EQ(arena->current, arena->first);
    EXPECT_EQ(chain_length(arena), 1u);

    ArenaPtr other(65536);
    ASSERT_NE(vl_arena_alloc(other, 100), nullptr);
    void* over = vl_arena_alloc(other, 65536 - 104 + 1);
    ASSERT_NE(over, nullptr);
    EXPECT_FALSE(inside(other->first, over));
    EXPECT_EQ(other->first->used, 104u);  // the old block is left as it was
    EXPECT_EQ(chain_length(other), 2u);
}

TEST(Arena, GrowthDoublesThenMakesRoomForLargeRequests) {
    ArenaPtr arena(65536);
    ASSERT_NE(vl_arena_alloc(arena, 65536), nullptr);
    ASSERT_NE(vl_arena_alloc(arena, 8), nullptr);
    EXPECT_EQ(arena->current->capacity, 131072u);
    EXPECT_EQ(arena->current->used, 8u);
    EXPECT_EQ(arena->first->next, arena->current);
    ASSERT_NE(vl_arena_alloc(arena, 131072), nullptr);  // does not fit beside the 8
    EXPECT_EQ(arena->current->capacity, 262144u);
    EXPECT_EQ(arena->total_capacity, 65536u + 131072u + 262144u);
    EXPECT_EQ(chain_length(arena), 3u);

    // A request larger than twice the current block: r + 64 KiB.
    ArenaPtr large(65536);
    void* p = vl_arena_alloc(large, 300000);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(large->current->capacity, 300000u + 65536u);
    EXPECT_EQ(large->current->used, 300000u);
    EXPECT_EQ(p, static_cast<void*>(large->current + 1));
    EXPECT_EQ(large->total_capacity, 65536u + 365536u);
    // Rounding happens before the rule is applied.
    ArenaPtr odd(65536);
    ASSERT_NE(vl_arena_alloc(odd, 300001), nullptr);
    EXPECT_EQ(odd->current->capacity, 300008u + 65536u);
}

TEST(Arena, AbandonedTailIsNeverUsedAgain) {
    ArenaPtr arena(65536);
    ASSERT_NE(vl_arena_alloc(arena, 60000), nullptr);
    ASSERT_NE(vl_arena_alloc(arena, 10000), nullptr);  // grows; 5536 bytes left behind
    VlArenaBlock* first = arena->first;
    for (int i = 0; i < 1000; i++) {
        void* p = vl_arena_alloc(arena, 8);
        ASSERT_NE(p, nullptr);
        ASSERT_FALSE(inside(first, p));
    }
    EXPECT_EQ(first->used, 60000u);
}

TEST(Arena, MemoryIsDistinctWritableAndZeroedOnRequest) {
    ArenaPtr arena(65536);
    std::vector<unsigned char*> blocks;
    for (size_t i = 0; i < 200; i++) {
        size_t size = 1000 + i * 37;
        auto* p = static_cast<unsigned char*>(vl_arena_alloc(arena, size));
        ASSERT_NE(p, nullptr);
        std::memset(p, static_cast<int>(i), size);
        blocks.push_back(p);
    }
    for (size_t i = 0; i < blocks.size(); i++) {
        size_t size = 1000 + i * 37;
        ASSERT_EQ(blocks[i][0], static_cast<unsigned char>(i));
        ASSERT_EQ(blocks[i][size - 1], static_cast<unsigned char>(i));
    }

    // Dirty memory, rewind it, and ask for zeroed bytes over the same place.
    vl_arena_reset(arena);
    auto* z = static_cast<unsigned char*>(vl_arena_alloc_zero(arena, 5000));
    ASSERT_EQ(z, blocks[0]);
    for (size_t i = 0; i < 5000; i++) ASSERT_EQ(z[i], 0) << i;
    EXPECT_EQ(address(z) % 8, 0u);
}

TEST(Arena, StrdupAndStrndupEdges) {
    ArenaPtr arena(65536);
    char* empty = vl_arena_strdup(arena, "");
    ASSERT_NE(empty, nullptr);
    EXPECT_STREQ(empty, "");
    EXPECT_EQ(arena->current->used, 8u);

    char* word = vl_arena_strdup(arena, "velmorine");  // 10 bytes -> 16
    EXPECT_STREQ(word, "velmorine");
    EXPECT_EQ(arena->current->used, 24u);

    char* none = vl_arena_strndup(arena, "abc", 0);
    ASSERT_NE(none, nullptr);
    EXPECT_STREQ(none, "");

    // Exactly n bytes, embedded NULs included, then a terminator.
    const char raw[] = {'a', '\0', 'b', 'c', 'd'};
    char* part = vl_arena_strndup(arena, raw, 4);
    ASSERT_NE(part, nullptr);
    EXPECT_EQ(std::memcmp(part, raw, 4), 0);
    EXPECT_EQ(part[4], '\0');
    EXPECT_EQ(address(part) % 8, 0u);

    // Seven bytes plus the NUL fill one 8-byte slot exactly.
    size_t before = arena->current->used;
    char* seven = vl_arena_strndup(arena, "1234567", 7);
    EXPECT_STREQ(seven, "1234567");
    EXPECT_EQ(arena->current->used - before, 8u);

    // n + 1 would wrap to 0, and n + 1 rounded would wrap past the top.
    before = arena->current->used;
    EXPECT_EQ(vl_arena_strndup(arena, "x", SIZE_MAX), nullptr);
    EXPECT_EQ(vl_arena_strndup(arena, "x", SIZE_MAX - 1), nullptr);
    EXPECT_EQ(vl_arena_strndup(arena, "x", SIZE_MAX - 7), nullptr);
    EXPECT_EQ(arena->current->used, before);
    EXPECT_EQ(chain_length(arena), 1u);
}

TEST(Arena, RequestsNearTheTopOfTheAddressSpaceGiveNull) {
    ArenaPtr arena(65536);
    ASSERT_NE(vl_arena_alloc(arena, 24), nullptr);
    for (size_t size : {SIZE_MAX, SIZE_MAX - 1, SIZE_MAX - 7, SIZE_MAX - 8, SIZE_MAX - 65536,
                        SIZE_MAX - 65536 - 24, SIZE_MAX / 2, SIZE_MAX / 2 + 1, (size_t{1} << 62)}) {
        EXPECT_EQ(vl_arena_alloc(arena, size), nullptr) << size;
        EXPECT_EQ(vl_arena_alloc_zero(arena, size), nullptr) << size;
    }
    // The arena is left as it was and still serves requests.
    EXPECT_EQ(chain_length(arena), 1u);
    EXPECT_EQ(arena->total_capacity, 65536u);
    EXPECT_EQ(arena->current->used, 24u);
    void* p = vl_arena_alloc(arena, 16);
    EXPECT_EQ(p, static_cast<void*>(reinterpret_cast<char*>(arena->first + 1) + 24));
}

TEST(Arena, ResetRewindsAndReusesEveryBlock) {
    ArenaPtr arena(65536);
    std::vector<void*> first_round;
    for (int i = 0; i < 40; i++) first_round.push_back(vl_arena_alloc(arena, 20000));
    size_t blocks = chain_length(arena);
    uint64_t capacity = arena->total_capacity;
    ASSERT_GE(blocks, 3u);

    for (int round = 0; round < 5; round++) {
        vl_arena_reset(arena);
        EXPECT_EQ(arena->current, arena->first);
        for (const VlArenaBlock* b = arena->first; b; b = b->next) EXPECT_EQ(b->used, 0u);
        // The same requests land at the same places: nothing new is obtained.
        for (int i = 0; i < 40; i++) ASSERT_EQ(vl_arena_alloc(arena, 20000), first_round[i]) << round << " " << i;
        EXPECT_EQ(chain_length(arena), blocks);
        EXPECT_EQ(arena->total_capacity, capacity);
    }
}

TEST(Arena, GrowthAfterResetKeepsRewoundBlocksReachable) {
    ArenaPtr arena(65536);
    ASSERT_NE(vl_arena_alloc(arena, 65536), nullptr);
    ASSERT_NE(vl_arena_alloc(arena, 131072), nullptr);  // second block, full
    std::set<const VlArenaBlock*> before;
    for (const VlArenaBlock* b = arena->first; b; b = b->next) before.insert(b);
    ASSERT_EQ(before.size(), 2u);

    vl_arena_reset(arena);
    // Too large for any rewound block: a new one must join the chain
    // without cutting the rewound second block off.
    void* huge = vl_arena_alloc(arena, 1 << 20);
    ASSERT_NE(huge, nullptr);
    std::set<const VlArenaBlock*> after;
    for (const VlArenaBlock* b = arena->first; b; b = b->next) after.insert(b);
    EXPECT_EQ(after.size(), 3u);
    for (const VlArenaBlock* b : before) EXPECT_TRUE(after.count(b));
    EXPECT_TRUE(inside(arena->current, huge));

    // The rewound second block is still found and used before anything new.
    uint64_t capacity = arena->total_capacity;
    vl_arena_reset(arena);
    ASSERT_NE(vl_arena_alloc(arena, 65536), nullptr);
    void* again = vl_arena_alloc(arena, 131072);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(arena->total_capacity, capacity);
    EXPECT_EQ(chain_length(arena), 3u);
}

TEST(Arena, ManyBlocksAreAllReleased) {
    // Run under the sanitizer lane this fails on any block or record left behind.
    for (int round = 0; round < 20; round++) {
        VlArena* arena = vl_arena_create(65536);
        ASSERT_NE(arena, nullptr);
        for (int i = 0; i < 30; i++) ASSERT_NE(vl_arena_alloc(arena, 50000 + static_cast<size_t>(i)), nullptr);
        if (round % 2) vl_arena_reset(arena);
        ASSERT_NE(vl_arena_strdup(arena, "tail"), nullptr);
        vl_arena_destroy(arena);
    }
}

}  // namespace

// The instruction array's pages are prepared by the platform layer's thread
// while the array grows: what was written survives every move of the block,
// the pages prepared on the side read as zero, and a block resized or
// released with a request still pending loses nothing.
TEST(Arena, PagesPreparedOnTheSideKeepWhatWasWritten) {
    VlArena* arena = vl_arena_create(0);
    size_t size = size_t{2} << 20;
    auto* bytes = static_cast<unsigned char*>(vl_arena_alloc_own(arena, size));
    ASSERT_NE(bytes, nullptr);
    for (int round = 0; round < 4; round++) {
        std::memset(bytes, 0xA5, size / 2);
        vl_platform_pages_prepare_soon(bytes + size / 2, size / 2);
        bytes = static_cast<unsigned char*>(vl_arena_resize_own(arena, bytes, size, size * 2));
        ASSERT_NE(bytes, nullptr);
        size_t written = 0, zero = 0;
        for (size_t i = 0; i < size / 2; i++) written += bytes[i] == 0xA5;
        for (size_t i = size / 2; i < size * 2; i++) zero += bytes[i] == 0;
        EXPECT_EQ(written, size / 2) << "round " << round;
        EXPECT_EQ(zero, size * 2 - size / 2) << "round " << round;
        size *= 2;
    }
    vl_platform_pages_prepare_soon(bytes, size);
    vl_arena_destroy(arena);
}
