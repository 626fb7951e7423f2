// The byte searches against a plain loop: every length up to 64 at every
// alignment with the match at every position, bytes that differ from the
// needle in a single bit (the cases a word-at-a-time compare gets wrong), and
// ranges that end or start right at an unreadable page so that any load
// outside [p, p + n) faults.
#include "byte_search.hpp"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using rowkit::bytes::findByte;
using rowkit::bytes::findEither;

size_t plainFind(const char *p, size_t n, char c) {
    for (size_t i = 0; i < n; ++i)
        if (p[i] == c) return i;
    return n;
}

size_t plainFindEither(const char *p, size_t n, char a, char b) {
    for (size_t i = 0; i < n; ++i)
        if (p[i] == a || p[i] == b) return i;
    return n;
}

std::string describe(const char *p, size_t n) {
    std::string s;
    char hex[4];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(hex, sizeof hex, "%02x ", static_cast<unsigned char>(p[i]));
        s += hex;
    }
    return s;
}

// Both searches agree with the plain loop on p[0..n) for needles a and b.
::testing::AssertionResult searchesAgree(const char *p, size_t n, char a, char b) {
    size_t got, want;
    if ((got = findByte(p, n, a)) != (want = plainFind(p, n, a)))
        return ::testing::AssertionFailure()
               << "findByte(n=" << n << ", 0x" << std::hex << (unsigned)(unsigned char)a << std::dec
               << ") = " << got << ", want " << want << " in [" << describe(p, n) << "]";
    if ((got = findByte(p, n, b)) != (want = plainFind(p, n, b)))
        return ::testing::AssertionFailure()
               << "findByte(n=" << n << ", 0x" << std::hex << (unsigned)(unsigned char)b << std::dec
               << ") = " << got << ", want " << want << " in [" << describe(p, n) << "]";
    if ((got = findEither(p, n, a, b)) != (want = plainFindEither(p, n, a, b)))
        return ::testing::AssertionFailure()
               << "findEither(n=" << n << ", 0x" << std::hex << (unsigned)(unsigned char)a << ", 0x"
               << (unsigned)(unsigned char)b << std::dec << ") = " << got << ", want " << want
               << " in [" << describe(p, n) << "]";
    return ::testing::AssertionSuccess();
}

struct NeedlePair {
    char a, b;
};

// High-bit needles, NUL, the bytes the readers search for, and equal pairs.
const NeedlePair kNeedles[] = {
    {',', '\n'},           {'"', '\n'},           {'\0', '\x80'},        {'\xff', '\0'},
    {'\x80', '\x7f'},      {'\xfe', '\xff'},      {'\x01', '\x81'},      {'\\', '"'},
    {'\n', '\n'},          {'\xff', '\xff'},      {'\0', '\0'},          {'\x80', '\x80'},
};

// Random bytes that are neither a nor b, drawn mostly from the near misses:
// the needles with one bit flipped (the high bit in particular), their
// neighbours, and 0x00 / 0x80 / 0xff.
class Filler {
public:
    Filler(char a, char b, uint32_t seed) : rng_(seed) {
        const int base[] = {a ^ 0x80, a ^ 0x01, a + 1, a - 1, a ^ 0x40,
                            b ^ 0x80, b ^ 0x01, b + 1, b - 1, 0x00, 0x80, 0xff, 0x7f, 0x01};
        for (int v : base) {
            char c = static_cast<char>(v);
            if (c != a && c != b) pool_.push_back(c);
        }
        a_ = a;
        b_ = b;
    }
    char next() {
        if (rng_() % 4 != 0) return pool_[rng_() % pool_.size()];
        for (;;) {
            char c = static_cast<char>(rng_() & 0xff);
            if (c != a_ && c != b_) return c;
        }
    }
    void fill(char *p, size_t n) {
        for (size_t i = 0; i < n; ++i) p[i] = next();
    }
    uint32_t below(uint32_t k) { return static_cast<uint32_t>(rng_() % k); }

private:
    std::mt19937 rng_;
    std::vector<char> pool_;
    char a_ = 0, b_ = 0;
};

// For p[0..n): no match, then the first match at every position k (a, then
// b), with a second match somewhere after it.
::testing::AssertionResult everyPosition(char *p, size_t n, const NeedlePair &np, Filler &f) {
    f.fill(p, n);
    if (auto r = searchesAgree(p, n, np.a, np.b); !r) return r;
    for (size_t k = 0; k < n; ++k) {
        for (char which : {np.a, np.b}) {
            f.fill(p, n);
            p[k] = which;
            if (k + 1 < n) p[k + 1 + f.below(static_cast<uint32_t>(n - k - 1))] = f.below(2) ? np.a : np.b;
            if (plainFindEither(p, n, np.a, np.b) != k)
                return ::testing::AssertionFailure() << "test setup: match not at " << k;
            if (auto r = searchesAgree(p, n, np.a, np.b); !r) return r;
        }
    }
    return ::testing::AssertionSuccess();
}

TEST(ByteSearch, KernelMatchesBuild) {
#if defined(ROWKIT_SCALAR)
    EXPECT_STREQ(rowkit::bytes::kernelName(), "scalar");
#elif defined(__x86_64__)
    EXPECT_STREQ(rowkit::bytes::kernelName(), "sse2");
#elif defined(__aarch64__)
    EXPECT_STREQ(rowkit::bytes::kernelName(), "neon");
#endif
}

TEST(ByteSearch, EveryLengthAlignmentAndPosition) {
    alignas(64) char buf[64 + 16 + 64 + 64];
    uint32_t seed = 1;
    for (const NeedlePair &np : kNeedles) {
        for (size_t align = 0; align < 16; ++align) {
            for (size_t n = 0; n <= 64; ++n) {
                // Needles right before and after the range: a search that
                // looks outside [p, p + n) reports them.
                for (size_t i = 0; i < sizeof buf; ++i) buf[i] = (i & 1) ? np.a : np.b;
                char *p = buf + 64 + align;
                Filler f(np.a, np.b, seed++);
                ASSERT_TRUE(everyPosition(p, n, np, f)) << "alignment " << align;
                EXPECT_EQ(p[-1], (64 + align - 1) & 1 ? np.a : np.b);
                EXPECT_EQ(p[n], (64 + align + n) & 1 ? np.a : np.b);
            }
        }
    }
}

TEST(ByteSearch, LargeRandomBuffers) {
    std::mt19937 rng(12345);
    std::vector<char> buf(8192 + 16);
    for (int round = 0; round < 400; ++round) {
        const NeedlePair &np = kNeedles[round % (sizeof kNeedles / sizeof kNeedles[0])];
        size_t n = rng() % 4097;
        size_t align = rng() % 16;
        char *p = buf.data() + align;
        Filler f(np.a, np.b, static_cast<uint32_t>(rng()));
        f.fill(p, n);
        ASSERT_TRUE(searchesAgree(p, n, np.a, np.b));  // no match at all
        if (n == 0) continue;
        // One match far in, then a sprinkling of matches.
        p[rng() % n] = (rng() & 1) ? np.a : np.b;
        ASSERT_TRUE(searchesAgree(p, n, np.a, np.b));
        for (int k = 0; k < 8; ++k) {
            p[rng() % n] = (rng() & 1) ? np.a : np.b;
            ASSERT_TRUE(searchesAgree(p, n, np.a, np.b));
        }
        // Dense: random bytes from a four-letter alphabet holding the needles.
        const char alphabet[] = {np.a, np.b, static_cast<char>(np.a ^ 0x80), static_cast<char>(np.b ^ 1)};
        for (size_t i = 0; i < n; ++i) p[i] = alphabet[rng() % 4];
        ASSERT_TRUE(searchesAgree(p, n, np.a, np.b));
    }
}

// Three pages: unreadable, readable, unreadable.
class GuardedPage {
public:
    GuardedPage() {
        page_ = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        void *m = mmap(nullptr, 3 * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (m == MAP_FAILED) return;
        base_ = static_cast<char *>(m);
        if (mprotect(base_, page_, PROT_NONE) != 0 || mprotect(base_ + 2 * page_, page_, PROT_NONE) != 0) {
            munmap(base_, 3 * page_);
            base_ = nullptr;
        }
    }
    ~GuardedPage() {
        if (base_) munmap(base_, 3 * page_);
    }
    bool ok() const { return base_ != nullptr; }
    size_t size() const { return page_; }
    char *first() const { return base_ + page_; }       // right after a guard page
    char *end() const { return base_ + 2 * page_; }     // right before a guard page

private:
    char *base_ = nullptr;
    size_t page_ = 0;
};

TEST(ByteSearch, NoLoadOutsideTheRange) {
    GuardedPage g;
    ASSERT_TRUE(g.ok());
    uint32_t seed = 99;
    for (const NeedlePair &np : kNeedles) {
        for (size_t n = 0; n <= 64; ++n) {
            Filler f(np.a, np.b, seed++);
            ASSERT_TRUE(everyPosition(g.end() - n, n, np, f)) << "range ending at a guard page";
            ASSERT_TRUE(everyPosition(g.first(), n, np, f)) << "range starting after a guard page";
        }
        // Longer ranges, up to the whole page, at both ends.
        for (size_t n : {size_t{65}, size_t{127}, size_t{1000}, g.size() - 1, g.size()}) {
            Filler f(np.a, np.b, seed++);
            for (char *p : {g.end() - n, g.first()}) {
                f.fill(p, n);
                ASSERT_TRUE(searchesAgree(p, n, np.a, np.b));
                for (size_t k : {size_t{0}, n / 2, n - 9, n - 8, n - 1}) {
                    f.fill(p, n);
                    p[k] = np.b;
                    ASSERT_TRUE(searchesAgree(p, n, np.a, np.b));
                }
            }
        }
    }
}

}  // namespace

// The block masks behind the CSV line splitter: bit i for byte i, the two
// needles from one load, and a partial block that reads nothing past n.
TEST(ByteSearch, BlockMasksMatchAPlainLoop) {
    uint64_t seed = 99;
    auto rnd = [&seed]() {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<uint8_t>(seed >> 56);
    };
    const char needles[] = {',', '"', '\0', static_cast<char>(0x80), static_cast<char>(0xff)};
    for (int round = 0; round < 4000; ++round) {
        char block[16];
        char a = needles[round % 5];
        char b = needles[(round / 5) % 5];
        for (char &c : block) {
            uint8_t r = rnd();
            c = r < 60 ? a : r < 120 ? b : static_cast<char>(r);
        }
        uint32_t want_a = 0, want_b = 0;
        for (int i = 0; i < 16; ++i) {
            if (block[i] == a) want_a |= 1u << i;
            if (block[i] == b) want_b |= 1u << i;
        }
        ASSERT_EQ(rowkit::bytes::matchMask16(block, a), want_a);
        uint32_t got_a = 0, got_b = 0;
        rowkit::bytes::matchMasks16(block, a, b, &got_a, &got_b);
        ASSERT_EQ(got_a, want_a);
        ASSERT_EQ(got_b, want_b);
        size_t n = static_cast<size_t>(round % 16);
        ASSERT_EQ(rowkit::bytes::matchMaskPartial(block, n, a), want_a & ((1u << n) - 1u));
    }
    // A partial block at the very end of a page followed by a guard page.
    long page = sysconf(_SC_PAGESIZE);
    char *mem = static_cast<char *>(
        mmap(nullptr, static_cast<size_t>(page) * 2, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(mem, MAP_FAILED);
    ASSERT_EQ(mprotect(mem + page, static_cast<size_t>(page), PROT_NONE), 0);
    for (size_t n = 0; n < 16; ++n) {
        char *p = mem + page - n;
        std::memset(p, ',', n);
        EXPECT_EQ(rowkit::bytes::matchMaskPartial(p, n, ','), (1u << n) - 1u);
    }
    munmap(mem, static_cast<size_t>(page) * 2);
}
