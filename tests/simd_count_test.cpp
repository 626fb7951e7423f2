// countByte against a plain loop: every length up to 64 at every alignment
// with matches at every position, random data of many densities, ranges long
// enough to fold the per-lane counters several times, and ranges that end
// right at an unreadable page so that any load past the end faults.
#include "simd_count.hpp"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace {

using rowkit::bytes::countByte;

size_t plainCount(const char *p, size_t n, char c) {
    size_t k = 0;
    for (size_t i = 0; i < n; ++i) k += p[i] == c;
    return k;
}

// Needles with the high bit set, NUL and the line feed; fillers that differ
// from them in one bit, the cases a word-at-a-time compare gets wrong.
const char kNeedles[] = {'\n', '\0', '\x80', '\xff', ',', '\x7f'};

char nearMiss(char c, std::mt19937 &rng) {
    char m;
    do {
        m = static_cast<char>(static_cast<unsigned char>(c) ^ (1u << (rng() % 8)));
    } while (m == c);
    return m;
}

}  // namespace

TEST(SimdCount, EveryLengthAlignmentAndPosition) {
    std::mt19937 rng(7);
    std::vector<char> buf(64 + 16 + 16);
    for (char c : kNeedles) {
        for (size_t align = 0; align < 16; ++align) {
            for (size_t n = 0; n <= 64; ++n) {
                char *p = buf.data() + align;
                // No match, then a single match at each position, then every
                // byte a match.
                for (size_t i = 0; i < n; ++i) p[i] = nearMiss(c, rng);
                ASSERT_EQ(countByte(p, n, c), 0u) << "n=" << n << " align=" << align;
                for (size_t pos = 0; pos < n; ++pos) {
                    char keep = p[pos];
                    p[pos] = c;
                    ASSERT_EQ(countByte(p, n, c), 1u) << "n=" << n << " pos=" << pos;
                    p[pos] = keep;
                }
                std::memset(p, c, n);
                ASSERT_EQ(countByte(p, n, c), n) << "n=" << n << " align=" << align;
                // Bytes just outside the range are never counted.
                if (align > 0) p[-1] = c;
                p[n] = c;
                ASSERT_EQ(countByte(p, n, c), n);
            }
        }
    }
}

TEST(SimdCount, RandomDataAndLongRanges) {
    std::mt19937 rng(11);
    // Long enough that the per-lane counters fold many times (255 blocks of
    // 16 bytes each), with densities from none to every byte.
    std::vector<char> buf(40000);
    for (unsigned density : {0u, 1u, 8u, 50u, 100u}) {
        for (char c : kNeedles) {
            for (char &b : buf) b = (rng() % 100 < density) ? c : nearMiss(c, rng);
            for (size_t trial = 0; trial < 20; ++trial) {
                size_t start = rng() % 64;
                size_t n = rng() % (buf.size() - start);
                ASSERT_EQ(countByte(buf.data() + start, n, c), plainCount(buf.data() + start, n, c))
                    << "density=" << density << " start=" << start << " n=" << n;
            }
            ASSERT_EQ(countByte(buf.data(), buf.size(), c), plainCount(buf.data(), buf.size(), c));
        }
    }
    // Exactly at the fold boundaries: all matches, so every lane is at its peak.
    for (size_t blocks : {254u, 255u, 256u, 510u, 511u}) {
        std::vector<char> all(blocks * 16 + 3, '\n');
        EXPECT_EQ(countByte(all.data(), all.size(), '\n'), all.size());
    }
}

TEST(SimdCount, NoReadPastTheEnd) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    void *mem = mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(mem, MAP_FAILED);
    char *base = static_cast<char *>(mem);
    ASSERT_EQ(mprotect(base + page, page, PROT_NONE), 0);
    std::memset(base, '\n', page);
    for (size_t n = 0; n <= 100; ++n) EXPECT_EQ(countByte(base + page - n, n, '\n'), n);
    munmap(mem, 2 * page);
}
