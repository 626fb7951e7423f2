// The byte searches against a plain loop, on the compiled instruction set and
// on the portable one: every length up to 64 at every alignment with the
// match at every position, filler bytes that differ from the needles in a
// single bit (the cases a word-at-a-time compare gets wrong), and ranges that
// end or start right at an unreadable page so that any load outside
// [p, p + n) faults.
#include "byte_search.hpp"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <type_traits>

#include "support/instruction_sets.hpp"

namespace {

namespace bytes = rowkit::bytes;
namespace simd = rowkit::simd;

size_t plainFind(const char *p, size_t n, char a, char b) {
    for (size_t i = 0; i < n; ++i)
        if (p[i] == a || p[i] == b) return i;
    return n;
}

// High-bit needles, NUL, the bytes the readers search for, and equal pairs.
const std::pair<char, char> kNeedles[] = {{',', '\n'},      {'"', '\\'},      {'\0', '\x80'},
                                          {'\xff', '\x7f'}, {'\x01', '\x81'}, {'\n', '\n'},
                                          {'\xff', '\xff'}, {'\0', '\0'}};

// Fills p[0..n) with bytes that are neither a nor b, mostly near misses.
void fillMisses(char *p, size_t n, char a, char b, std::mt19937 &rng) {
    const int near[] = {a ^ 0x80, a ^ 1, a + 1, a - 1, b ^ 0x80, b ^ 1, b + 1, 0, 0x80, 0xff};
    for (size_t i = 0; i < n; ++i) {
        do {
            p[i] = static_cast<char>(rng() % 4 ? near[rng() % 10] : static_cast<int>(rng()));
        } while (p[i] == a || p[i] == b);
    }
}

// For p[0..n): no match, then the first match at every position k (a, then
// b) with a second one somewhere after it; every search agrees with the loop.
template <class V>
::testing::AssertionResult everyPosition(char *p, size_t n, char a, char b, std::mt19937 &rng) {
    for (size_t k = 0; k <= n; ++k)
        for (char which : {a, b}) {
            fillMisses(p, n, a, b, rng);
            if (k < n) p[k] = which;
            if (k + 1 < n) p[k + 1 + rng() % (n - k - 1)] = rng() % 2 ? a : b;
            const char *what = nullptr;
            if (bytes::findByte<V>(p, n, a) != plainFind(p, n, a, a))
                what = "findByte(a)";
            else if (bytes::findByte<V>(p, n, b) != plainFind(p, n, b, b))
                what = "findByte(b)";
            else if (bytes::findEither<V>(p, n, a, b) != k)
                what = "findEither";
            else if (bytes::containsByte<V>(p, n, a) != (plainFind(p, n, a, a) < n))
                what = "containsByte";
            if (what)
                return ::testing::AssertionFailure() << what << ": n=" << n << ", needles "
                                                     << int{a} << " " << int{b} << ", at " << k;
        }
    return ::testing::AssertionSuccess();
}

template <class V>
class ByteSearch : public ::testing::Test {};
TYPED_TEST_SUITE(ByteSearch, rowkit_test::InstructionSets, rowkit_test::InstructionSetName);

TYPED_TEST(ByteSearch, EveryLengthAlignmentAndPosition) {
    alignas(64) char buf[16 + 64 + 16 + 64];
    std::mt19937 rng(1);
    for (auto [a, b] : kNeedles)
        for (size_t align = 0; align < 16; ++align) {
            // Needles all around the range: a search that looks outside finds
            // them. Each length only rewrites bytes the next one covers.
            for (size_t i = 0; i < sizeof buf; ++i)
                buf[i] = i % 2 ? a : b;
            for (size_t n = 0; n <= 64; ++n)
                ASSERT_TRUE(everyPosition<TypeParam>(buf + 16 + align, n, a, b, rng))
                    << "alignment " << align;
        }
}

TYPED_TEST(ByteSearch, NoLoadOutsideTheRange) {
    // Three pages: unreadable, readable, unreadable.
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    void *m = mmap(nullptr, 3 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(m, MAP_FAILED);
    char *first = static_cast<char *>(m) + page, *end = first + page;
    ASSERT_EQ(mprotect(m, page, PROT_NONE), 0);
    ASSERT_EQ(mprotect(end, page, PROT_NONE), 0);
    std::mt19937 rng(99);
    for (auto [a, b] : kNeedles)
        for (size_t n : {0, 1, 7, 8, 9, 15, 16, 17, 23, 24, 31, 33, 47, 63, 64, 65, 127})
            for (char *p : {end - n, first})
                ASSERT_TRUE(everyPosition<TypeParam>(p, n, a, b, rng)) << n;
    // The CSV splitter's partial block mask, right before the unreadable page.
    for (size_t n = 0; n < 16; ++n)
        EXPECT_EQ(bytes::matchMaskPartial(static_cast<char *>(std::memset(end - n, ',', n)), n, ','),
                  (1u << n) - 1u);
    munmap(m, 3 * page);
}

// The block masks behind the CSV line splitter (compiled set only): bit i for
// byte i, the two needles from one load, and a partial block with no bits at
// or past n; at every alignment, with each needle at every position.
TEST(ByteSearch, BlockMasksMatchAPlainLoop) {
    alignas(64) char buf[16 + 16 + 16];
    std::mt19937 rng(99);
    const char needles[] = {',', '"', '\0', '\x80', '\xff'};
    for (char a : needles)
        for (char b : needles)
            for (size_t align = 0; align < 16; ++align)
                for (size_t k = 0; k <= 16; ++k) {
                    char *block = buf + 16 + align;
                    fillMisses(buf, sizeof buf, a, b, rng);
                    if (k < 16) block[k] = rng() % 2 ? a : b;
                    if (k + 1 < 16) block[k + 1 + rng() % (15 - k)] = rng() % 2 ? a : b;
                    uint32_t want_a = 0, want_b = 0;
                    for (int i = 0; i < 16; ++i) {
                        want_a |= uint32_t{block[i] == a} << i;
                        want_b |= uint32_t{block[i] == b} << i;
                    }
                    uint32_t got_a = 0, got_b = 0;
                    bytes::matchMasks16(block, a, b, &got_a, &got_b);
                    ASSERT_EQ(got_a, want_a) << int{a} << " " << int{b} << " at " << k;
                    ASSERT_EQ(got_b, want_b) << int{a} << " " << int{b} << " at " << k;
                    ASSERT_EQ(bytes::matchMask16(block, a), want_a);
                    for (size_t n = 0; n < 16; ++n)
                        ASSERT_EQ(bytes::matchMaskPartial(block, n, a), want_a & ((1u << n) - 1u))
                            << "n=" << n;
                }
}

// The ROWKIT_SCALAR build option reaches the kernels.
TEST(ByteSearch, CompiledSetFollowsTheBuildOption) {
#if defined(ROWKIT_SCALAR)
    EXPECT_STREQ(simd::Native::kName, "scalar");
#elif defined(__x86_64__)
    EXPECT_STREQ(simd::Native::kName, "sse2");
#elif defined(__aarch64__)
    EXPECT_STREQ(simd::Native::kName, "neon");
#endif
}

}  // namespace
