// The byte searches against a plain loop: every length up to 64 at every
// alignment with the match at every position, filler bytes that differ from
// the needles in a single bit (the cases a word-at-a-time compare gets
// wrong), and ranges that end or start right at an unreadable page so that
// any load outside [p, p + n) faults.
#include "byte_search.hpp"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <random>

namespace {

using rowkit::bytes::findByte;
using rowkit::bytes::findEither;

size_t plainFind(const char *p, size_t n, char a, char b) {
    for (size_t i = 0; i < n; ++i)
        if (p[i] == a || p[i] == b) return i;
    return n;
}

// High-bit needles, NUL, the bytes the readers search for, and equal pairs.
const std::pair<char, char> kNeedles[] = {{',', '\n'}, {'"', '\\'}, {'\0', '\x80'}, {'\xff', '\x7f'},
                                          {'\x01', '\x81'}, {'\n', '\n'}, {'\xff', '\xff'}, {'\0', '\0'}};

// Fills p[0..n) with bytes that are neither a nor b, mostly near misses.
void fillMisses(char *p, size_t n, char a, char b, std::mt19937 &rng) {
    const int near[] = {a ^ 0x80, a ^ 1, a + 1, a - 1, b ^ 0x80, b ^ 1, b + 1, 0, 0x80, 0xff};
    for (size_t i = 0; i < n; ++i)
        do p[i] = static_cast<char>(rng() % 4 ? near[rng() % 10] : static_cast<int>(rng())); while (p[i] == a || p[i] == b);
}

// For p[0..n): no match, then the first match at every position k (a, then
// b) with a second one somewhere after it; both searches agree with the loop.
::testing::AssertionResult everyPosition(char *p, size_t n, char a, char b, std::mt19937 &rng) {
    for (size_t k = 0; k <= n; ++k)
        for (char which : {a, b}) {
            fillMisses(p, n, a, b, rng);
            if (k < n) p[k] = which;
            if (k + 1 < n) p[k + 1 + rng() % (n - k - 1)] = rng() % 2 ? a : b;
            if (findByte(p, n, a) != plainFind(p, n, a, a) || findByte(p, n, b) != plainFind(p, n, b, b) ||
                findEither(p, n, a, b) != k)
                return ::testing::AssertionFailure() << "n=" << n << ", needles " << int{a} << " " << int{b} << ", at " << k;
        }
    return ::testing::AssertionSuccess();
}

TEST(ByteSearch, EveryLengthAlignmentAndPosition) {
    alignas(64) char buf[16 + 64 + 16 + 64];
    std::mt19937 rng(1);
    for (auto [a, b] : kNeedles)
        for (size_t align = 0; align < 16; ++align) {
            // Needles all around the range: a search that looks outside finds
            // them. Each length only rewrites bytes the next one covers.
            for (size_t i = 0; i < sizeof buf; ++i) buf[i] = i % 2 ? a : b;
            for (size_t n = 0; n <= 64; ++n)
                ASSERT_TRUE(everyPosition(buf + 16 + align, n, a, b, rng)) << "alignment " << align;
        }
}

TEST(ByteSearch, NoLoadOutsideTheRange) {
    // Three pages: unreadable, readable, unreadable.
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    void *m = mmap(nullptr, 3 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(m, MAP_FAILED);
    char *first = static_cast<char *>(m) + page, *end = first + page;
    ASSERT_TRUE(mprotect(m, page, PROT_NONE) == 0 && mprotect(end, page, PROT_NONE) == 0);
    std::mt19937 rng(99);
    for (auto [a, b] : kNeedles)
        for (size_t n : {0, 1, 7, 8, 9, 15, 16, 17, 23, 24, 31, 33, 47, 63, 64, 65, 127})
            for (char *p : {end - n, first}) ASSERT_TRUE(everyPosition(p, n, a, b, rng)) << n;
    // A partial block of the line splitter right before the guard page.
    for (size_t n = 0; n < 16; ++n)
        EXPECT_EQ(rowkit::bytes::matchMaskPartial(static_cast<char *>(std::memset(end - n, ',', n)), n, ','), (1u << n) - 1u);
    munmap(m, 3 * page);
}

// The block masks behind the CSV line splitter: bit i for byte i, the two
// needles from one load, and a partial block with no bits at or past n.
TEST(ByteSearch, BlockMasksMatchAPlainLoop) {
    std::mt19937 rng(99);
    const char needles[] = {',', '"', '\0', '\x80', '\xff'};
    for (int round = 0; round < 2000; ++round) {
        char block[16], a = needles[round % 5], b = needles[(round / 5) % 5];
        uint32_t want[2] = {0, 0}, got[2] = {0, 0}, n = round % 16;
        for (int i = 0; i < 16; ++i) {
            block[i] = rng() % 4 == 0 ? a : rng() % 3 == 0 ? b : static_cast<char>(rng());
            want[0] |= uint32_t{block[i] == a} << i;
            want[1] |= uint32_t{block[i] == b} << i;
        }
        rowkit::bytes::matchMasks16(block, a, b, &got[0], &got[1]);
        ASSERT_TRUE(got[0] == want[0] && got[1] == want[1] && rowkit::bytes::matchMask16(block, a) == want[0] &&
                    rowkit::bytes::matchMaskPartial(block, n, a) == (want[0] & ((1u << n) - 1u))) << round;
    }
}

}  // namespace
