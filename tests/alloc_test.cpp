// The allocator, the growable array, the owned string and the arena,
// including every way an allocation can fail (through the test hook).
#include "alloc.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

using rowkit::Arena;
using rowkit::ByteBuf;
using rowkit::OwnedStr;
using rowkit::Vec;
namespace alloc_hook = rowkit::alloc_hook;

// Resets the allocation hook around every test so that a failed assertion
// cannot leave failures planned for the next one.
class Alloc : public ::testing::Test {
protected:
    void SetUp() override { alloc_hook::reset(); }
    void TearDown() override { alloc_hook::reset(); }
};

bool aligned(const void *p, size_t align) { return reinterpret_cast<uintptr_t>(p) % align == 0; }

// A move-only element that counts how many of its objects are alive, so a
// test can see that the array constructs and destroys exactly what it holds.
struct Tracked {
    static inline int alive = 0;
    int value = -1;
    Tracked() { ++alive; }
    explicit Tracked(int v) : value(v) { ++alive; }
    Tracked(const Tracked &) = delete;
    Tracked &operator=(const Tracked &) = delete;
    Tracked(Tracked &&o) noexcept : value(o.value) {
        o.value = -1;
        ++alive;
    }
    Tracked &operator=(Tracked &&o) noexcept {
        value = o.value;
        o.value = -1;
        return *this;
    }
    ~Tracked() { --alive; }
};

TEST_F(Alloc, HookCountsAndFailsTheChosenAllocations) {
    EXPECT_EQ(alloc_hook::count(), 0u);
    void *a = rowkit::allocBytes(10);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(alloc_hook::count(), 1u);
    rowkit::freeBytes(a);
    EXPECT_EQ(alloc_hook::count(), 1u);  // frees are not counted

    // failAt counts from now: with one allocation already made, the second
    // one from here fails and nothing else does.
    alloc_hook::failAt(2);
    void *p1 = rowkit::allocBytes(8);
    void *p2 = rowkit::allocBytes(8);
    void *p3 = rowkit::allocBytes(8);
    void *p4 = rowkit::allocBytes(8);
    EXPECT_NE(p1, nullptr);
    EXPECT_EQ(p2, nullptr);
    EXPECT_NE(p3, nullptr);
    EXPECT_NE(p4, nullptr);
    EXPECT_EQ(alloc_hook::count(), 5u);  // failed attempts count too
    for (void *p : {p1, p2, p3, p4}) rowkit::freeBytes(p);

    alloc_hook::failAt(1);
    EXPECT_EQ(rowkit::allocBytes(8), nullptr);
    void *ok = rowkit::allocBytes(8);
    EXPECT_NE(ok, nullptr);
    rowkit::freeBytes(ok);

    // failFrom: the nth and every later one.
    alloc_hook::failFrom(3);
    void *q1 = rowkit::allocBytes(8);
    void *q2 = rowkit::allocBytes(8);
    EXPECT_NE(q1, nullptr);
    EXPECT_NE(q2, nullptr);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(rowkit::allocBytes(8), nullptr);
    rowkit::freeBytes(q1);
    rowkit::freeBytes(q2);

    // failAt after failFrom plans a single failure again.
    alloc_hook::failAt(1);
    EXPECT_EQ(rowkit::allocBytes(8), nullptr);
    void *r = rowkit::allocBytes(8);
    EXPECT_NE(r, nullptr);
    rowkit::freeBytes(r);

    // failAt(0) plans no failure; reset clears a planned one and the count.
    alloc_hook::failFrom(1);
    alloc_hook::failAt(0);
    void *s = rowkit::allocBytes(8);
    EXPECT_NE(s, nullptr);
    rowkit::freeBytes(s);
    alloc_hook::failFrom(1);
    alloc_hook::reset();
    EXPECT_EQ(alloc_hook::count(), 0u);
    void *t = rowkit::allocBytes(8);
    EXPECT_NE(t, nullptr);
    rowkit::freeBytes(t);
    EXPECT_EQ(alloc_hook::count(), 1u);
}

TEST_F(Alloc, RawBlocks) {
    for (size_t align : {size_t{1}, size_t{8}, size_t{16}, size_t{64}, size_t{4096}}) {
        for (size_t n : {size_t{0}, size_t{1}, size_t{100}}) {
            void *p = rowkit::allocBytes(n, align);
            ASSERT_NE(p, nullptr);
            EXPECT_TRUE(aligned(p, align < sizeof(void *) ? sizeof(void *) : align));
            EXPECT_GE(rowkit::usableSize(p), n);
            std::memset(p, 0xab, n);
            rowkit::freeBytes(p);
        }
    }
    rowkit::freeBytes(nullptr);
    EXPECT_EQ(rowkit::usableSize(nullptr), 0u);
}

TEST_F(Alloc, GrowBytes) {
    // From null: a fresh block.
    char *p = static_cast<char *>(rowkit::growBytes(nullptr, 0, 10));
    ASSERT_NE(p, nullptr);
    std::memcpy(p, "0123456789", 10);

    // Within the usable size: the same block, and no allocation attempted.
    uint64_t before = alloc_hook::count();
    size_t usable = rowkit::usableSize(p);
    EXPECT_EQ(rowkit::growBytes(p, 10, usable), p);
    EXPECT_EQ(alloc_hook::count(), before);

    // Beyond it: a new block with the used bytes copied.
    char *q = static_cast<char *>(rowkit::growBytes(p, 10, usable + 1000));
    ASSERT_NE(q, nullptr);
    EXPECT_GE(rowkit::usableSize(q), usable + 1000);
    EXPECT_EQ(std::string_view(q, 10), "0123456789");
    std::memset(q + 10, 'x', usable + 990);

    // A failed growth returns null and leaves the old block allocated and
    // unchanged (ASan reports a use after free otherwise).
    alloc_hook::failAt(1);
    size_t big = rowkit::usableSize(q) + 1;
    EXPECT_EQ(rowkit::growBytes(q, 10, big), nullptr);
    EXPECT_EQ(std::string_view(q, 10), "0123456789");
    q[usable + 999] = 'y';

    // Alignment is honoured when a new block is needed.
    void *r = rowkit::growBytes(q, 10, big, 64);
    ASSERT_NE(r, nullptr);
    EXPECT_TRUE(aligned(r, 64));
    EXPECT_EQ(std::string_view(static_cast<char *>(r), 10), "0123456789");
    rowkit::freeBytes(r);
}

TEST_F(Alloc, CheckedMulAndGrowthPolicy) {
    size_t out = 0;
    EXPECT_TRUE(rowkit::checkedMul(0, SIZE_MAX, &out));
    EXPECT_EQ(out, 0u);
    EXPECT_TRUE(rowkit::checkedMul(SIZE_MAX, 1, &out));
    EXPECT_EQ(out, SIZE_MAX);
    EXPECT_TRUE(rowkit::checkedMul(SIZE_MAX / 2, 2, &out));
    EXPECT_EQ(out, SIZE_MAX - 1);
    EXPECT_FALSE(rowkit::checkedMul(SIZE_MAX / 2 + 1, 2, &out));
    EXPECT_FALSE(rowkit::checkedMul(SIZE_MAX, SIZE_MAX, &out));
    EXPECT_FALSE(rowkit::checkedMul(size_t{1} << (sizeof(size_t) * 4), size_t{1} << (sizeof(size_t) * 4), &out));

    EXPECT_EQ(rowkit::grownCapacity(0, 1, 16), 16u);
    EXPECT_EQ(rowkit::grownCapacity(16, 17, 16), 32u);
    EXPECT_EQ(rowkit::grownCapacity(16, 1000, 16), 1024u);
    EXPECT_EQ(rowkit::grownCapacity(100, 50, 16), 100u);
    // Doubling would overflow: exactly what is needed.
    EXPECT_EQ(rowkit::grownCapacity(SIZE_MAX / 2 + 10, SIZE_MAX - 3, 1), SIZE_MAX - 3);
}

TEST_F(Alloc, VecPushReserveResizeTruncate) {
    Vec<int> v;
    EXPECT_TRUE(v.empty());
    EXPECT_EQ(v.data(), nullptr);
    for (int i = 0; i < 1000; ++i) ASSERT_TRUE(v.push(i));
    ASSERT_EQ(v.size(), 1000u);
    EXPECT_GE(v.capacity(), 1000u);
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(v[i], i);
    EXPECT_EQ(v.back(), 999);
    long sum = 0;
    for (int x : v) sum += x;
    EXPECT_EQ(sum, 999L * 1000 / 2);

    v.truncate(10);
    EXPECT_EQ(v.size(), 10u);
    v.truncate(20);  // longer than the array: nothing changes
    EXPECT_EQ(v.size(), 10u);
    v.popBack();
    EXPECT_EQ(v.size(), 9u);
    EXPECT_EQ(v.back(), 8);

    // resize up value-initialises the new elements; down drops the tail.
    size_t cap = v.capacity();
    ASSERT_TRUE(v.resize(cap + 5));
    EXPECT_EQ(v.size(), cap + 5);
    for (size_t i = 9; i < v.size(); ++i) ASSERT_EQ(v[i], 0) << i;
    EXPECT_EQ(v[8], 8);
    ASSERT_TRUE(v.resize(3));
    EXPECT_EQ(v.size(), 3u);
    EXPECT_EQ(v[2], 2);

    // reserve never shrinks and keeps the contents.
    cap = v.capacity();
    ASSERT_TRUE(v.reserve(1));
    EXPECT_EQ(v.capacity(), cap);
    ASSERT_TRUE(v.reserve(cap * 4));
    EXPECT_GE(v.capacity(), cap * 4);
    EXPECT_EQ(v[0], 0);
    EXPECT_EQ(v[2], 2);

    v.clear();
    EXPECT_TRUE(v.empty());
    EXPECT_GE(v.capacity(), cap * 4);  // clear keeps the block
}

TEST_F(Alloc, VecGrowsInPlaceUpToTheUsableSize) {
    // The capacity is whatever the block really holds, and pushes within it
    // neither move the data nor allocate.
    ByteBuf b;
    ASSERT_TRUE(b.push('a'));
    EXPECT_EQ(b.capacity(), rowkit::usableSize(b.data()));
    const char *first = b.data();
    uint64_t before = alloc_hook::count();
    while (b.size() < b.capacity()) ASSERT_TRUE(b.push('a'));
    EXPECT_EQ(b.data(), first);
    EXPECT_EQ(alloc_hook::count(), before);
    ASSERT_TRUE(b.push('b'));
    EXPECT_EQ(alloc_hook::count(), before + 1);
    EXPECT_EQ(b.capacity(), rowkit::usableSize(b.data()));

    Vec<uint64_t> w;
    ASSERT_TRUE(w.reserve(3));
    EXPECT_EQ(w.capacity(), rowkit::usableSize(w.data()) / sizeof(uint64_t));
}

TEST_F(Alloc, VecAppendAndRelease) {
    ByteBuf b;
    ASSERT_TRUE(b.append(nullptr, 0));
    EXPECT_TRUE(b.empty());
    std::string expect;
    for (int i = 0; i < 300; ++i) {
        std::string piece(static_cast<size_t>(i % 37), static_cast<char>('a' + i % 26));
        ASSERT_TRUE(rowkit::appendView(b, piece));
        expect += piece;
    }
    EXPECT_EQ(rowkit::view(b), expect);
    ASSERT_TRUE(b.append("\0x", 2));
    EXPECT_EQ(b.size(), expect.size() + 2);
    EXPECT_EQ(b[expect.size()], '\0');

    size_t n = b.size();
    char *raw = b.release();
    EXPECT_EQ(b.data(), nullptr);
    EXPECT_EQ(b.size(), 0u);
    EXPECT_EQ(b.capacity(), 0u);
    EXPECT_EQ(std::string_view(raw, expect.size()), expect);
    EXPECT_EQ(raw[n - 1], 'x');
    rowkit::freeBytes(raw);

    // Usable again after release.
    ASSERT_TRUE(rowkit::appendView(b, "again"));
    EXPECT_EQ(rowkit::view(b), "again");
}

TEST_F(Alloc, VecMove) {
    Vec<int> a;
    for (int i = 0; i < 50; ++i) ASSERT_TRUE(a.push(i));
    const int *data = a.data();

    Vec<int> b(std::move(a));
    EXPECT_EQ(b.data(), data);
    EXPECT_EQ(b.size(), 50u);
    EXPECT_EQ(a.data(), nullptr);
    EXPECT_EQ(a.size(), 0u);
    EXPECT_EQ(a.capacity(), 0u);

    // The moved-from array is usable; assigning over a full array frees its block.
    ASSERT_TRUE(a.push(7));
    a = std::move(b);
    EXPECT_EQ(a.data(), data);
    EXPECT_EQ(a.size(), 50u);
    EXPECT_EQ(a[49], 49);
    EXPECT_EQ(b.size(), 0u);
    EXPECT_EQ(b.data(), nullptr);
}

TEST_F(Alloc, VecOfMoveOnlyOwners) {
    {
        Vec<Tracked> v;
        for (int i = 0; i < 100; ++i) ASSERT_TRUE(v.push(Tracked(i)));  // relocates several times
        EXPECT_EQ(Tracked::alive, 100);
        for (int i = 0; i < 100; ++i) ASSERT_EQ(v[i].value, i);
        v.truncate(40);
        EXPECT_EQ(Tracked::alive, 40);
        v.popBack();
        EXPECT_EQ(Tracked::alive, 39);
        ASSERT_TRUE(v.resize(60));
        EXPECT_EQ(Tracked::alive, 60);
        EXPECT_EQ(v[59].value, -1);
        EXPECT_EQ(v[38].value, 38);
        ASSERT_TRUE(v.resize(10));
        EXPECT_EQ(Tracked::alive, 10);

        Vec<Tracked> w;
        ASSERT_TRUE(w.push(Tracked(1000)));
        w = std::move(v);  // destroys w's own element
        EXPECT_EQ(Tracked::alive, 10);
        EXPECT_EQ(w[9].value, 9);
    }
    EXPECT_EQ(Tracked::alive, 0);

    // Owned strings: relocated by growth, destroyed by truncate and by the
    // array's destructor (LeakSanitizer reports any block left behind).
    Vec<OwnedStr> s;
    for (int i = 0; i < 200; ++i) {
        OwnedStr o;
        ASSERT_TRUE(OwnedStr::copy("string number " + std::to_string(i), &o));
        ASSERT_TRUE(s.push(std::move(o)));
        EXPECT_EQ(o.size(), 0u);
    }
    EXPECT_EQ(s[123].view(), "string number 123");
    EXPECT_STREQ(s[7].cstr(), "string number 7");
    s.truncate(50);
    Vec<OwnedStr> t(std::move(s));
    EXPECT_EQ(t[49].view(), "string number 49");
}

TEST_F(Alloc, VecFailuresLeaveItIntact) {
    // Reserving more elements than size_t can count in bytes fails without
    // trying to allocate.
    Vec<uint32_t> v;
    ASSERT_TRUE(v.push(1));
    ASSERT_TRUE(v.push(2));
    uint64_t before = alloc_hook::count();
    EXPECT_FALSE(v.reserve(SIZE_MAX / sizeof(uint32_t) + 1));
    EXPECT_FALSE(v.reserve(SIZE_MAX));
    EXPECT_FALSE(v.reserveMore(SIZE_MAX));
    EXPECT_FALSE(v.resize(SIZE_MAX / 2));
    EXPECT_EQ(alloc_hook::count(), before);
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(v[0], 1u);
    EXPECT_EQ(v[1], 2u);

    ByteBuf b;
    ASSERT_TRUE(b.push('x'));
    EXPECT_FALSE(b.reserveMore(SIZE_MAX));
    EXPECT_EQ(rowkit::view(b), "x");

    // An allocation failure while growing: false, contents and block intact.
    while (v.size() < v.capacity()) ASSERT_TRUE(v.push(static_cast<uint32_t>(v.size() + 1)));
    size_t n = v.size();
    const uint32_t *data = v.data();
    alloc_hook::failAt(1);
    EXPECT_FALSE(v.push(99));
    alloc_hook::failAt(1);
    EXPECT_FALSE(v.resize(n + 1));
    EXPECT_EQ(v.size(), n);
    EXPECT_EQ(v.data(), data);
    for (size_t i = 0; i < n; ++i) ASSERT_EQ(v[i], i + 1);
    ASSERT_TRUE(v.push(99));  // the failure was a single one
    EXPECT_EQ(v.back(), 99u);

    // A failed push of an owner destroys the argument (no leak).
    Vec<OwnedStr> s;
    OwnedStr o;
    ASSERT_TRUE(OwnedStr::copy("kept", &o));
    alloc_hook::failAt(1);
    EXPECT_FALSE(s.push(std::move(o)));
    EXPECT_TRUE(s.empty());
    {
        Vec<Tracked> t;
        alloc_hook::failAt(1);
        EXPECT_FALSE(t.push(Tracked(5)));
        EXPECT_EQ(Tracked::alive, 0);
        alloc_hook::failAt(1);
        EXPECT_FALSE(t.resize(3));
        EXPECT_EQ(Tracked::alive, 0);
    }
}

TEST_F(Alloc, VecOfOverAlignedElements) {
    struct alignas(64) Line {
        char bytes[64];
    };
    Vec<Line> v;
    for (size_t i = 0; i < 20; ++i) {
        ASSERT_TRUE(v.resize(i + 1));
        ASSERT_TRUE(aligned(v.data(), 64));
        std::memset(v[i].bytes, static_cast<int>('a' + i), sizeof v[i].bytes);
    }
    for (size_t i = 0; i < 20; ++i) {
        ASSERT_EQ(v[i].bytes[0], static_cast<char>('a' + i));
        ASSERT_EQ(v[i].bytes[63], static_cast<char>('a' + i));
    }
}

TEST_F(Alloc, OwnedStr) {
    OwnedStr empty;
    EXPECT_EQ(empty.size(), 0u);
    EXPECT_STREQ(empty.cstr(), "");
    EXPECT_EQ(empty.view(), "");

    OwnedStr s;
    ASSERT_TRUE(OwnedStr::copy(std::string_view("a\0b", 3), &s));
    EXPECT_EQ(s.size(), 3u);
    EXPECT_EQ(s.view(), std::string_view("a\0b", 3));
    EXPECT_EQ(s.cstr()[3], '\0');

    // Copying over a string frees the old one; a failed copy leaves the
    // target as it was.
    ASSERT_TRUE(OwnedStr::copy("second", &s));
    EXPECT_STREQ(s.cstr(), "second");
    alloc_hook::failAt(1);
    EXPECT_FALSE(OwnedStr::copy("third", &s));
    EXPECT_STREQ(s.cstr(), "second");

    OwnedStr t(std::move(s));
    EXPECT_STREQ(t.cstr(), "second");
    EXPECT_EQ(s.size(), 0u);
    EXPECT_STREQ(s.cstr(), "");
    ASSERT_TRUE(OwnedStr::copy("", &s));
    EXPECT_STREQ(s.cstr(), "");
    s = std::move(t);
    EXPECT_STREQ(s.cstr(), "second");
}

// Records every allocation made from an arena and checks that they are
// aligned, do not overlap and keep their contents.
struct ArenaChecker {
    struct Piece {
        char *p;
        size_t n;
        char fill;
    };
    std::vector<Piece> pieces;

    ::testing::AssertionResult take(Arena &a, size_t n, size_t align) {
        char *p = static_cast<char *>(a.alloc(n, align));
        if (!p) return ::testing::AssertionFailure() << "alloc(" << n << ", " << align << ") failed";
        if (!aligned(p, align))
            return ::testing::AssertionFailure() << "alloc(" << n << ", " << align << ") returned " << (void *)p;
        char fill = static_cast<char>('A' + pieces.size() % 50);
        std::memset(p, fill, n);  // ASan reports a write outside the block
        pieces.push_back({p, n, fill});
        return ::testing::AssertionSuccess();
    }
    ::testing::AssertionResult intact() const {
        for (size_t i = 0; i < pieces.size(); ++i)
            for (size_t k = 0; k < pieces[i].n; ++k)
                if (pieces[i].p[k] != pieces[i].fill)
                    return ::testing::AssertionFailure() << "piece " << i << " overwritten at " << k;
        return ::testing::AssertionSuccess();
    }
};

TEST_F(Alloc, ArenaAlignmentAndLargeAllocations) {
    const size_t aligns[] = {1, 8, 16, 64, 1, 64, 1, 16, 1, 8, 64, 64};
    for (size_t block : {size_t{64}, size_t{256}, size_t{4096}}) {
        Arena a(block);
        ArenaChecker c;
        size_t sizes[] = {0, 1, 3, 7, 8, 15, 17, 33, 63, 64, 65, 100};
        for (int round = 0; round < 40; ++round)
            for (size_t i = 0; i < 12; ++i)
                ASSERT_TRUE(c.take(a, sizes[(i + round) % 12], aligns[(i * 7 + round) % 12]))
                    << "block size " << block << ", round " << round;
        // Bigger than the block size, then small ones again.
        ASSERT_TRUE(c.take(a, block * 3 + 5, 8));
        ASSERT_TRUE(c.take(a, 3, 1));
        ASSERT_TRUE(c.take(a, 10000, 64));
        ASSERT_TRUE(c.take(a, 5, 64));
        ASSERT_TRUE(c.take(a, 1, 1));
        EXPECT_TRUE(c.intact());
    }

    // Sizes that cannot be represented fail without allocating.
    Arena a;
    ASSERT_NE(a.alloc(10), nullptr);
    uint64_t before = alloc_hook::count();
    EXPECT_EQ(a.alloc(SIZE_MAX, 64), nullptr);
    EXPECT_EQ(a.alloc(SIZE_MAX - 8, 8), nullptr);
    EXPECT_EQ(alloc_hook::count(), before);
}

TEST_F(Alloc, ArenaDup) {
    Arena a(32);
    std::vector<std::pair<std::string_view, std::string>> copies;
    for (int i = 0; i < 200; ++i) {
        std::string s(static_cast<size_t>(i % 70), static_cast<char>('a' + i % 26));
        std::string_view out;
        ASSERT_TRUE(a.dup(s, &out));
        ASSERT_EQ(out, s);
        if (!s.empty()) {
            EXPECT_NE(out.data(), s.data());
        }
        copies.push_back({out, s});
    }
    for (auto &[copy, original] : copies) ASSERT_EQ(copy, original);

    std::string_view out = "unchanged";
    uint64_t before = alloc_hook::count();
    ASSERT_TRUE(a.dup("", &out));
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(alloc_hook::count(), before);

    // An allocation failure: false, and the arena keeps working.
    std::string big(size_t{1} << 20, 'z');  // larger than any block so far
    alloc_hook::failAt(1);
    EXPECT_FALSE(a.dup(big, &out));
    ASSERT_TRUE(a.dup(big, &out));
    EXPECT_EQ(out, big);
    for (auto &[copy, original] : copies) ASSERT_EQ(copy, original);
}

TEST_F(Alloc, WarmArenaAllocatesNothing) {
    // One round: many small texts, a few over the block size, mixed alignments.
    auto round = [](Arena &a, ArenaChecker &c) {
        c.pieces.clear();
        for (size_t i = 0; i < 300; ++i)
            if (!c.take(a, (i * 13) % 50, i % 3 == 0 ? 16 : 1)) return false;
        if (!c.take(a, 3000, 64) || !c.take(a, 1000, 8)) return false;
        for (size_t i = 0; i < 20; ++i)
            if (!c.take(a, i, 8)) return false;
        return static_cast<bool>(c.intact());
    };
    Arena a(512);
    ArenaChecker c;
    int rounds_to_warm = 0;
    for (;;) {
        uint64_t before = alloc_hook::count();
        ASSERT_TRUE(round(a, c));
        a.reset();
        if (alloc_hook::count() == before) break;
        ASSERT_LT(++rounds_to_warm, 6) << "the arena keeps allocating after reset";
    }
    EXPECT_GE(rounds_to_warm, 1);  // the first round did need blocks
    uint64_t warm = alloc_hook::count();
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(round(a, c));
        a.reset();
    }
    EXPECT_EQ(alloc_hook::count(), warm);

    // A small per-row pattern stays within the one kept block from the start.
    Arena row(256);
    std::string_view out;
    ASSERT_TRUE(row.dup("first row", &out));
    row.reset();
    warm = alloc_hook::count();
    for (int i = 0; i < 100; ++i) {
        ASSERT_TRUE(row.dup("field one", &out));
        ASSERT_TRUE(row.dup("field two", &out));
        EXPECT_EQ(out, "field two");
        row.reset();
    }
    EXPECT_EQ(alloc_hook::count(), warm);

    // Resetting an arena that never allocated is harmless.
    Arena fresh;
    fresh.reset();
    EXPECT_NE(fresh.alloc(1), nullptr);
}

TEST_F(Alloc, ArenaMoveAndFailure) {
    Arena a(64);
    std::string_view x, y;
    ASSERT_TRUE(a.dup("kept across the move", &x));
    ASSERT_TRUE(a.dup(std::string(500, 'q'), &y));

    Arena b(std::move(a));
    EXPECT_EQ(x, "kept across the move");
    EXPECT_EQ(y, std::string(500, 'q'));
    std::string_view z;
    ASSERT_TRUE(b.dup("more", &z));
    ASSERT_TRUE(a.dup("the moved-from arena still works", &z));
    EXPECT_EQ(z, "the moved-from arena still works");

    // Assigning over an arena frees its blocks (LeakSanitizer checks).
    Arena c(32);
    ASSERT_TRUE(c.dup(std::string(300, 'c'), &z));
    c = std::move(b);
    EXPECT_EQ(x, "kept across the move");
    ASSERT_TRUE(c.dup("after assignment", &z));
    EXPECT_EQ(z, "after assignment");

    // A failed block allocation returns null; earlier texts survive and the
    // next allocation succeeds.
    alloc_hook::failAt(1);
    EXPECT_EQ(c.alloc(100000), nullptr);
    EXPECT_EQ(x, "kept across the move");
    void *p = c.alloc(100000, 64);
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(aligned(p, 64));
    std::memset(p, 0, 100000);
}

}  // namespace
