// The allocator, the growable array, the owned string and the arena,
// including the ways an allocation can fail (through the test hook).
#include "alloc.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

using rowkit::Arena, rowkit::OwnedStr, rowkit::Vec;
namespace alloc_hook = rowkit::alloc_hook;

// Resets the hook around every test so a failed assertion cannot leave
// failures planned for the next one.
class Alloc : public ::testing::Test {
    void SetUp() override { alloc_hook::reset(); }
    void TearDown() override { alloc_hook::reset(); }
};

bool aligned(const void *p, size_t align) {
    return reinterpret_cast<uintptr_t>(p) % align == 0;
}

// Move-only element counting its live objects.
struct Tracked {
    static inline int alive = 0;
    int value;
    explicit Tracked(int v = -1) : value(v) { ++alive; }
    Tracked(Tracked &&o) noexcept : value(o.value) { ++alive; }
    ~Tracked() { --alive; }
};

TEST_F(Alloc, VecConstructsAndDestroysExactlyWhatItHolds) {
    {
        Vec<Tracked> v;
        for (int i = 0; i < 100; ++i)
            ASSERT_TRUE(v.push(Tracked(i)));  // relocates several times
        v.truncate(40);
        v.truncate(50);  // longer than the array: nothing changes
        v.popBack();
        ASSERT_EQ(Tracked::alive, 39);
        ASSERT_TRUE(v.resize(60));
        EXPECT_EQ(v[38].value, 38);
        EXPECT_EQ(v[59].value, -1);  // new elements value-initialised
        Vec<Tracked> w;
        ASSERT_TRUE(w.push(Tracked(1000)));
        w = std::move(v);  // destroys w's own element
        EXPECT_EQ(Tracked::alive, 60);
    }
    EXPECT_EQ(Tracked::alive, 0);
    struct alignas(64) Line {
        char bytes[64];
    };
    Vec<Line> lines;
    for (size_t i = 0; i < 20; ++i) {
        ASSERT_TRUE(lines.resize(i + 1));
        ASSERT_TRUE(aligned(lines.data(), 64));
        std::memset(lines[i].bytes, static_cast<int>('a' + i), 64);
        ASSERT_EQ(lines[i / 2].bytes[63], static_cast<char>('a' + i / 2));  // kept by each move
    }
    // Growth never overflows: near the top it stops at what was asked for.
    EXPECT_EQ(rowkit::grownCapacity(16, 1000, 16), 1024u);
    EXPECT_EQ(rowkit::grownCapacity(SIZE_MAX / 2 + 10, SIZE_MAX - 3, 1), SIZE_MAX - 3);
}

TEST_F(Alloc, VecGrowsInPlaceAndSurvivesFailures) {
    Vec<uint32_t> v;
    ASSERT_TRUE(v.push(1));
    // Sizes whose byte count overflows fail without trying to allocate.
    EXPECT_FALSE(v.reserve(SIZE_MAX / sizeof(uint32_t) + 1));
    EXPECT_FALSE(v.reserveMore(SIZE_MAX));
    // The capacity is all the block holds; filling it allocates nothing.
    EXPECT_EQ(v.capacity(), rowkit::usableSize(v.data()) / sizeof(uint32_t));
    while (v.size() < v.capacity())
        ASSERT_TRUE(v.push(static_cast<uint32_t>(v.size() + 1)));
    EXPECT_EQ(alloc_hook::count(), 1u);
    alloc_hook::failAt(1);
    EXPECT_FALSE(v.push(99));
    EXPECT_EQ(v.size(), v.capacity());
    for (size_t i = 0; i < v.size(); ++i)
        ASSERT_EQ(v[i], i + 1);  // ASan: old block still live
    // A failed copy keeps the old text; a failed push destroys its argument
    // (LeakSanitizer sees the string).
    OwnedStr o;
    ASSERT_TRUE(OwnedStr::copy(std::string_view("a\0b", 3), &o));
    alloc_hook::failAt(1);
    EXPECT_FALSE(OwnedStr::copy("other", &o));
    EXPECT_EQ(std::string(o.cstr(), 4), std::string("a\0b\0", 4));
    Vec<OwnedStr> s;
    alloc_hook::failAt(1);
    EXPECT_FALSE(s.push(std::move(o)));
}

// One batch of mixed sizes and alignments from the arena: every piece
// aligned, filled with a byte of its own, and intact at the end (no overlap).
bool arenaRound(Arena &a) {
    std::vector<std::string_view> pieces;
    for (size_t i = 0, n, align; i < 220; ++i) {
        n = i % 11 == 10 ? 3000 : i * 37 % 130;
        align = size_t{1} << (i * 5 % 7);
        char *p = static_cast<char *>(a.alloc(n, align));
        if (!p || !aligned(p, align)) return false;
        pieces.emplace_back(p, n);
        std::memset(p, static_cast<int>(i), n);  // ASan reports a write past the block
    }
    for (size_t i = 0; i < pieces.size(); ++i)
        if (pieces[i].find_first_not_of(static_cast<char>(i)) != std::string_view::npos)
            return false;
    return true;
}

TEST_F(Alloc, ArenaAlignsNeverOverlapsAndReusesItsBlock) {
    Arena small(64), a(512);
    ASSERT_TRUE(arenaRound(small));
    for (int i = 0; i < 4; ++i, a.reset())
        ASSERT_TRUE(arenaRound(a));
    uint64_t warm = alloc_hook::count();
    for (int i = 0; i < 4; ++i, a.reset())
        ASSERT_TRUE(arenaRound(a));
    std::string_view x;
    ASSERT_TRUE(a.dup("kept", &x));
    EXPECT_EQ(a.alloc(SIZE_MAX, 64), nullptr);    // unrepresentable
    EXPECT_EQ(alloc_hook::count(), warm);         // nothing else allocated
    const std::string big(size_t{1} << 20, 'z');  // larger than any block so far
    alloc_hook::failAt(1);
    EXPECT_FALSE(a.dup(big, &x));
    EXPECT_EQ(x, "kept");
    ASSERT_TRUE(a.dup(big, &x));
    EXPECT_EQ(x, big);
}

}  // namespace
