// The byte count against a plain loop, on the compiled instruction set and on
// the portable one: every length up to 64 at every alignment with matches at
// every position, random data of many densities, ranges long enough to fold
// the per-lane counters several times, and ranges that end right at an
// unreadable page so that any load past the end faults.
#include "simd_count.hpp"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <type_traits>
#include <vector>

#include "support/instruction_sets.hpp"

namespace {

namespace simd = rowkit::simd;

// The kernel on set V; the compiled set through the library's entry point.
template <class V>
size_t countByte(const char *p, size_t n, char c) {
    if constexpr (std::is_same_v<V, simd::Native>) return rowkit::bytes::countByte(p, n, c);
    return rowkit::bytes::countByteWith<V>(p, n, c);
}

// Needles with the high bit set, NUL and the line feed; fillers that differ
// from them in one bit, the cases a word-at-a-time compare gets wrong.
const char kNeedles[] = {'\n', '\0', '\x80', '\xff', ',', '\x7f'};

char nearMiss(char c, std::mt19937 &rng) {
    return static_cast<char>(static_cast<unsigned char>(c) ^ (1u << (rng() % 8)));
}

template <class V>
class SimdCount : public ::testing::Test {};
TYPED_TEST_SUITE(SimdCount, rowkit_test::InstructionSets, rowkit_test::InstructionSetName);

TYPED_TEST(SimdCount, EveryLengthAlignmentAndPositionAgainstALoop) {
    std::mt19937 rng(7);
    alignas(64) char buf[16 + 16 + 64];
    for (char c : kNeedles)
        for (size_t align = 0; align < 16; ++align)
            for (size_t n = 0; n <= 64; ++n) {
                // Matches right outside the range are never counted.
                std::memset(buf, c, sizeof buf);
                char *p = buf + 16 + align;
                for (size_t i = 0; i < n; ++i)
                    p[i] = nearMiss(c, rng);
                // One more match each time, in a random order of positions.
                std::vector<size_t> order(n);
                for (size_t i = 0; i < n; ++i)
                    order[i] = i;
                std::shuffle(order.begin(), order.end(), rng);
                for (size_t matches = 0;; p[order[matches++]] = c) {
                    ASSERT_EQ(countByte<TypeParam>(p, n, c), matches)
                        << "n=" << n << " align=" << align;
                    if (matches == n) break;
                }
            }
}

TYPED_TEST(SimdCount, LongRangesFoldTheLaneCounters) {
    // Long enough that the per-lane counters fold many times (255 blocks of
    // 16 bytes each), with densities from none to every byte: at 100 every
    // lane reaches its peak before each fold.
    std::mt19937 rng(7);
    std::vector<char> big(40000);
    for (unsigned density : {0u, 1u, 50u, 100u})
        for (char c : kNeedles) {
            for (char &b : big)
                b = rng() % 100 < density ? c : nearMiss(c, rng);
            for (int trial = 0; trial < 6; ++trial) {  // the whole buffer first
                const char *p = big.data() + (trial ? rng() % 64 : 0);
                size_t n = trial ? rng() % (big.size() - 64) : big.size();
                ASSERT_EQ(countByte<TypeParam>(p, n, c),
                          static_cast<size_t>(std::count(p, p + n, c)))
                    << density << " " << n;
            }
        }
}

TYPED_TEST(SimdCount, NoReadPastTheEnd) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    void *m = mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(m, MAP_FAILED);
    char *base = static_cast<char *>(m);
    ASSERT_EQ(mprotect(base + page, page, PROT_NONE), 0);
    std::memset(base, '\n', page);
    for (size_t n = 0; n <= 100; ++n)
        EXPECT_EQ(countByte<TypeParam>(base + page - n, n, '\n'), n);
    munmap(m, 2 * page);
}

}  // namespace
