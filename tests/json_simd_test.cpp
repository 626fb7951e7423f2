// The JSON structural scan and string routines against plain loops: every
// length up to 64 at every alignment with the match at every position, near
// misses of the structural bytes, ranges that touch an unreadable page, and
// the decoding of every escape.
#include "json_simd.hpp"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

using namespace rowkit;
using namespace rowkit::json;

namespace {

const std::string kStructural = "{}[]\":,";

// Bytes one bit away from a structural byte (0x20 in particular, which the
// kernels fold), and high-bit bytes.
const std::string kNearMisses = std::string("\x3b\x1a\x02\x0c\x2d\x2e\x1b\x3d") +
                                "\xfb\xdb\xfd\xdd\xa2\xba\xac" + "\x7a\x5a\x7c\x5c\x7e\x5e" + "a0 \n";

std::vector<Token> plainStructure(const char *p, size_t n) {
    std::vector<Token> out;
    for (size_t i = 0; i < n && out.size() < kMaxTokens; ++i) {
        size_t k = kStructural.find(p[i]);
        if (k != std::string::npos && p[i] != '\0') out.push_back({i, static_cast<TokenType>(k)});
    }
    return out;
}

::testing::AssertionResult structureAgrees(const char *p, size_t n) {
    static Token table[kMaxTokens];
    size_t got = findJsonStructure(std::string_view(p, n), table);
    std::vector<Token> want = plainStructure(p, n);
    if (got != want.size())
        return ::testing::AssertionFailure() << "n=" << n << ": " << got << " tokens, want " << want.size();
    for (size_t i = 0; i < got; ++i)
        if (table[i].pos != want[i].pos || table[i].type != want[i].type)
            return ::testing::AssertionFailure() << "n=" << n << ": token " << i << " at " << table[i].pos
                                                 << ", want " << want[i].pos;
    return ::testing::AssertionSuccess();
}

bool plainHasBackslash(const char *p, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (p[i] == '\\') return true;
    return false;
}

std::optional<size_t> plainStringEnd(std::string_view s, size_t start) {
    bool escaped = false;
    for (size_t i = start; i < s.size(); ++i) {
        if (escaped)
            escaped = false;
        else if (s[i] == '\\')
            escaped = true;
        else if (s[i] == '"')
            return i;
    }
    return std::nullopt;
}

::testing::AssertionResult stringRoutinesAgree(const char *p, size_t n) {
    std::string_view s(p, n);
    if (hasJsonEscape(s) != plainHasBackslash(p, n))
        return ::testing::AssertionFailure() << "hasJsonEscape n=" << n;
    for (size_t from = 0; from <= n; from += (n > 20 ? 7 : 1)) {
        if (plainStringEnd(s, from) != findStringEnd(s, from))
            return ::testing::AssertionFailure() << "findStringEnd n=" << n << " from " << from;
        size_t want = n;
        for (size_t i = from; i < n; ++i)
            if (p[i] == '"' || p[i] == '\\') {
                want = i;
                break;
            }
        if (unescapedStringEnd(s, from) != want)
            return ::testing::AssertionFailure() << "unescapedStringEnd n=" << n << " from " << from;
    }
    return ::testing::AssertionSuccess();
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
    char *first() const { return base_ + page_; }
    char *end() const { return base_ + 2 * page_; }

private:
    char *base_ = nullptr;
    size_t page_ = 0;
};

}  // namespace

TEST(JsonSimd, KernelMatchesBuild) {
#if defined(ROWKIT_SCALAR)
    EXPECT_STREQ(kernelName(), "scalar");
#elif defined(__x86_64__)
    EXPECT_STREQ(kernelName(), "sse2");
#elif defined(__aarch64__)
    EXPECT_STREQ(kernelName(), "neon");
#endif
}

TEST(JsonSimd, StructureEveryLengthAlignmentAndPosition) {
    alignas(64) char buf[16 + 64 + 16];
    std::mt19937 rng(7);
    for (size_t align = 0; align < 16; ++align) {
        for (size_t n = 0; n <= 64; ++n) {
            char *p = buf + align;
            // Structural bytes right outside the range must not be listed.
            for (char &c : buf) c = '"';
            for (size_t i = 0; i < n; ++i) p[i] = kNearMisses[rng() % kNearMisses.size()];
            ASSERT_TRUE(structureAgrees(p, n));
            for (size_t k = 0; k < n; ++k) {
                for (char s : kStructural) {
                    for (size_t i = 0; i < n; ++i) p[i] = kNearMisses[rng() % kNearMisses.size()];
                    p[k] = s;
                    if (k + 1 < n) p[k + 1 + rng() % (n - k - 1)] = kStructural[rng() % 7];
                    ASSERT_TRUE(structureAgrees(p, n)) << "align " << align << " pos " << k;
                }
            }
            // Dense: every byte structural or a near miss.
            for (size_t i = 0; i < n; ++i)
                p[i] = (rng() & 1) ? kStructural[rng() % 7] : kNearMisses[rng() % kNearMisses.size()];
            ASSERT_TRUE(structureAgrees(p, n));
        }
    }
}

TEST(JsonSimd, StructureTableFillsAtItsCapacity) {
    static Token table[kMaxTokens];
    EXPECT_EQ(findJsonStructure("", table), 0u);
    std::string commas(5000, ',');
    ASSERT_EQ(findJsonStructure(commas, table), kMaxTokens);
    EXPECT_EQ(table[kMaxTokens - 1].pos, kMaxTokens - 1);
    // The capacity is met inside a block and in the byte-at-a-time tail.
    for (size_t n : {kMaxTokens - 1, kMaxTokens, kMaxTokens + 1, kMaxTokens + 9}) {
        std::string text(n, ':');
        ASSERT_TRUE(structureAgrees(text.data(), n));
        text = "x" + text;
        ASSERT_TRUE(structureAgrees(text.data(), text.size()));
    }
    // The types of a small object, in order (the colon inside the key too).
    std::string obj = R"({"a:b":1})";
    size_t n = findJsonStructure(obj, table);
    std::vector<TokenType> types;
    for (size_t i = 0; i < n; ++i) types.push_back(table[i].type);
    EXPECT_EQ(types, (std::vector<TokenType>{TokenType::open_brace, TokenType::quote, TokenType::colon,
                                             TokenType::quote, TokenType::colon, TokenType::close_brace}));
}

TEST(JsonSimd, StringRoutinesEveryLengthAlignmentAndPosition) {
    alignas(64) char buf[16 + 64 + 16];
    std::mt19937 rng(11);
    // The two bytes that matter, then near misses of them (high bit, low bit
    // and 0x20 flipped).
    const char alphabet[] = {'a', '"', '\\', '\xdc', '\x23', '\x7c', 'z'};
    for (size_t align = 0; align < 16; ++align) {
        for (size_t n = 0; n <= 64; ++n) {
            char *p = buf + align;
            for (char &c : buf) c = '\\';
            for (size_t i = 0; i < n; ++i) p[i] = 'a' + static_cast<char>(rng() % 26);
            ASSERT_TRUE(stringRoutinesAgree(p, n));
            for (size_t k = 0; k < n; ++k) {
                for (char c : {'"', '\\'}) {
                    for (size_t i = 0; i < n; ++i) p[i] = alphabet[rng() % 2 ? 0 : 3 + rng() % 4];
                    p[k] = c;
                    ASSERT_TRUE(stringRoutinesAgree(p, n)) << "align " << align << " pos " << k;
                }
            }
            for (size_t i = 0; i < n; ++i) p[i] = alphabet[rng() % 3];
            ASSERT_TRUE(stringRoutinesAgree(p, n));
        }
    }
    // isEscapedAt counts the run of backslashes before the byte.
    EXPECT_FALSE(isEscapedAt(R"(a\\")", 3));
    EXPECT_TRUE(isEscapedAt(R"(a\")", 2));
    EXPECT_TRUE(isEscapedAt(R"(\\\")", 3));
    EXPECT_FALSE(isEscapedAt("\"", 0));
    EXPECT_EQ(findStringEnd(R"(a\\"x")", 0), std::optional<size_t>(3));
    EXPECT_EQ(findStringEnd(R"(a\"x")", 0), std::optional<size_t>(4));
    EXPECT_EQ(findStringEnd(R"(abc\)", 0), std::nullopt);
}

TEST(JsonSimd, StringEndFromTokensUsesTheTableOnlyWhenItCan) {
    static Token table[kMaxTokens];
    // "a:b" then "c\"d": the second string's next token is an escaped quote.
    std::string text = R"("a:b" "c\"d" "e")";
    size_t n = findJsonStructure(text, table);
    ASSERT_EQ(n, 8u);
    EXPECT_EQ(findStringEndFromTokens(text, table, n, 0, 1), std::optional<size_t>(4));
    EXPECT_EQ(findStringEndFromTokens(text, table, n, 3, 7), std::optional<size_t>(11));
    EXPECT_EQ(findStringEndFromTokens(text, table, n, 6, 14), std::optional<size_t>(15));
    EXPECT_EQ(findStringEndFromTokens(text, table, 7, 6, 14), std::optional<size_t>(15));
    size_t index = 0;
    EXPECT_TRUE(advanceTokenIndex(table, n, &index, 4));
    EXPECT_EQ(index, 3u);
    EXPECT_FALSE(advanceTokenIndex(table, n, &index, 15));
    EXPECT_EQ(index, n);
}

TEST(JsonSimd, NoLoadOutsideTheRange) {
    GuardedPage g;
    ASSERT_TRUE(g.ok());
    std::mt19937 rng(3);
    for (size_t n = 0; n <= 200; ++n) {
        for (char *p : {g.end() - n, g.first()}) {
            for (size_t i = 0; i < n; ++i) p[i] = kNearMisses[rng() % kNearMisses.size()];
            ASSERT_TRUE(structureAgrees(p, n));
            ASSERT_TRUE(stringRoutinesAgree(p, n));
            if (n) {
                p[n - 1] = '\\';
                ASSERT_TRUE(stringRoutinesAgree(p, n));
                p[n - 1] = ',';
                ASSERT_TRUE(structureAgrees(p, n));
            }
        }
    }
}

namespace {

std::string decoded(std::string_view s) {
    std::string out(s.size(), '\0');
    auto n = decodeJsonString(s, out.data());
    if (!n.ok()) return std::string("!") + errorName(n.error());
    out.resize(*n);
    return out;
}

}  // namespace

TEST(JsonSimd, DecodesEveryEscape) {
    EXPECT_EQ(decoded(R"(plain)"), "plain");
    EXPECT_EQ(decoded(R"(\"\\\/\b\f\n\r\t)"), "\"\\/\b\f\n\r\t");
    EXPECT_EQ(decoded(R"(a\u0041\u00e9\u20ac)"), "aA\xc3\xa9\xe2\x82\xac");
    EXPECT_EQ(decoded(R"(\u00E9\u0000!)"), std::string("\xc3\xa9\0!", 4));
    EXPECT_EQ(decoded(R"(\ud83d\ude00)"), "\xf0\x9f\x98\x80");
    EXPECT_EQ(decoded(R"(\uDBFF\uDFFFx)"), "\xf4\x8f\xbf\xbfx");
    EXPECT_EQ(decoded(R"(\u07ff\u0800\uffff)"), "\xdf\xbf\xe0\xa0\x80\xef\xbf\xbf");
    // Bytes other than escapes pass unchanged, invalid UTF-8 included.
    EXPECT_EQ(decoded("\xff\xfe\x01"), "\xff\xfe\x01");

    for (const char *bad : {R"(\ud83d)", R"(\ude00)", R"(\u12)", R"(\u12g4)", R"(\ud83d\u0041)",
                            R"(\ud83dx\ude00)", R"(\ud83d\ude0)", R"(\ud83d\n)", R"(\u)", R"(\uDC00\uD800)"})
        EXPECT_EQ(decoded(bad), "!InvalidUnicodeEscape") << bad;
    for (const char *bad : {R"(\x)", R"(abc\)", R"(\)", R"(\U0041)", R"(\'")"})
        EXPECT_EQ(decoded(bad), "!InvalidEscape") << bad;

    Arena arena;
    auto owned = decodeOwnedJsonString(R"(x\ty)", arena);
    ASSERT_TRUE(owned.ok());
    EXPECT_EQ(*owned, "x\ty");
    EXPECT_EQ(decodeOwnedJsonString(R"(\q)", arena).error(), Error::InvalidEscape);
    alloc_hook::reset();
    alloc_hook::failAt(1);
    Arena fresh;
    EXPECT_EQ(decodeOwnedJsonString(R"(\n)", fresh).error(), Error::OutOfMemory);
    alloc_hook::reset();
}
