// countByte against a plain loop: every length up to 64 at several
// alignments with matches at every position, random data of many densities,
// ranges long enough to fold the per-lane counters several times, and ranges
// that end right at an unreadable page so that any load past the end faults.
#include "simd_count.hpp"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

namespace {

using rowkit::bytes::countByte;

// Needles with the high bit set, NUL and the line feed; fillers that differ
// from them in one bit, the cases a word-at-a-time compare gets wrong.
const char kNeedles[] = {'\n', '\0', '\x80', '\xff', ',', '\x7f'};

char nearMiss(char c, std::mt19937 &rng) { return static_cast<char>(static_cast<unsigned char>(c) ^ (1u << (rng() % 8))); }

}  // namespace

TEST(SimdCount, EveryLengthAndPositionAgainstALoop) {
    std::mt19937 rng(7);
    alignas(16) char buf[16 + 16 + 64];
    for (char c : kNeedles)
        for (size_t align : {0, 1, 7, 8, 15})
            for (size_t n = 0; n <= 64; ++n) {
                std::memset(buf, c, sizeof buf);  // matches right outside the range are never counted
                char *p = buf + 16 + align;
                for (size_t i = 0; i < n; ++i) p[i] = nearMiss(c, rng);
                for (size_t pos = 0; pos <= n; p[pos++] = c)  // one more match each time
                    ASSERT_EQ(countByte(p, n, c), pos) << "n=" << n << " align=" << align << " pos=" << pos;
            }
    // Long enough that the per-lane counters fold many times (255 blocks of
    // 16 bytes each), with densities from none to every byte: at 100 every
    // lane reaches its peak before each fold.
    std::vector<char> big(40000);
    for (unsigned density : {0u, 1u, 50u, 100u})
        for (char c : kNeedles)
            for (int trial = 0; trial < 6; ++trial) {  // the whole buffer first
                if (trial == 0) for (char &b : big) b = rng() % 100 < density ? c : nearMiss(c, rng);
                const char *p = big.data() + (trial ? rng() % 64 : 0);
                size_t n = trial ? rng() % (big.size() - 64) : big.size();
                ASSERT_EQ(countByte(p, n, c), static_cast<size_t>(std::count(p, p + n, c))) << density << " " << n;
            }
}

TEST(SimdCount, NoReadPastTheEnd) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    char *base = static_cast<char *>(mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_TRUE(base != MAP_FAILED && mprotect(base + page, page, PROT_NONE) == 0);
    std::memset(base, '\n', page);
    for (size_t n = 0; n <= 100; ++n) EXPECT_EQ(countByte(base + page - n, n, '\n'), n);
    munmap(base, 2 * page);
}
