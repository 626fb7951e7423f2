// The JSON structural scan and string routines against plain loops: every
// length up to 64 at every alignment with the match at every position, near
// misses of the bytes they look for, ranges that touch an unreadable page, and
// the decoding of every escape.
#include "json_simd.hpp"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>

using namespace rowkit;
using namespace rowkit::json;

namespace {

const std::string kStructural = "{}[]\":,";

// Bytes one bit away from a structural byte or a backslash (0x20 in
// particular, which the kernels fold), and high-bit bytes.
const std::string kNearMisses = std::string("\x3b\x1a\x02\x0c\x2d\x2e\x1b\x3d") + "\xfb\xdb\xfd\xdd\xa2\xba\xac" +
                                "\x7a\x5a\x7c\x7e\x5e\xdc\x1c\x4c\x58\x23" + "a0 \n";

// Both the structural scan and the string routines give what plain loops
// give over p[0..n).
::testing::AssertionResult agreesWithPlainLoops(const char *p, size_t n) {
    static Token table[kMaxTokens];
    std::string_view s(p, n);
    size_t got = findJsonStructure(s, table), want = 0;
    for (size_t i = 0; i < n && want < kMaxTokens; ++i) {
        size_t k = kStructural.find(p[i]);
        if (k == std::string::npos || p[i] == '\0') continue;
        if (want >= got || table[want].pos != i || table[want].type != static_cast<TokenType>(k))
            return ::testing::AssertionFailure() << "n=" << n << ": token " << want << " should be at " << i;
        ++want;
    }
    if (got != want) return ::testing::AssertionFailure() << "n=" << n << ": " << got << " tokens, want " << want;
    if (hasJsonEscape(s) != (s.find('\\') != std::string_view::npos))
        return ::testing::AssertionFailure() << "hasJsonEscape n=" << n;
    for (size_t from = 0; from <= n; from += (n > 20 ? 7 : 1)) {
        std::optional<size_t> end;
        for (size_t i = from; i < n && !end; ++i)
            if (s[i] == '\\') ++i;
            else if (s[i] == '"') end = i;
        if (findStringEnd(s, from) != end) return ::testing::AssertionFailure() << "findStringEnd n=" << n << " from " << from;
        if (unescapedStringEnd(s, from) != std::min(s.find_first_of("\"\\", from), n))
            return ::testing::AssertionFailure() << "unescapedStringEnd n=" << n << " from " << from;
    }
    return ::testing::AssertionSuccess();
}

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

TEST(JsonSimd, EveryLengthAlignmentAndPosition) {
    alignas(64) char buf[16 + 64 + 16];
    std::mt19937 rng(7);
    const std::string wanted = kStructural + "\\";
    auto fill = [&](char *p, size_t n) {
        for (size_t i = 0; i < n; ++i) p[i] = kNearMisses[rng() % kNearMisses.size()];
    };
    for (size_t align = 0; align < 16; ++align) {
        for (size_t n = 0; n <= 64; ++n) {
            char *p = buf + align;
            for (char &c : buf) c = rng() & 1 ? '"' : '\\';  // wanted bytes right outside the range are not seen
            fill(p, n);
            ASSERT_TRUE(agreesWithPlainLoops(p, n));
            // Each wanted byte at each position, over the lengths and
            // alignments, with a second one after it.
            for (size_t k = 0; k < n; ++k) {
                fill(p, n);
                p[k] = wanted[(k + n + align) % wanted.size()];
                if (k + 1 < n) p[k + 1 + rng() % (n - k - 1)] = wanted[rng() % wanted.size()];
                ASSERT_TRUE(agreesWithPlainLoops(p, n)) << "align " << align << " pos " << k;
            }
            // Dense: every byte wanted or a near miss.
            for (size_t i = 0; i < n; ++i) p[i] = rng() & 1 ? wanted[rng() % wanted.size()] : kNearMisses[rng() % kNearMisses.size()];
            ASSERT_TRUE(agreesWithPlainLoops(p, n));
        }
    }
    // The capacity of the table is met inside a block and in the
    // byte-at-a-time tail.
    for (size_t n : {kMaxTokens - 1, kMaxTokens, kMaxTokens + 1, kMaxTokens + 9})
        for (const std::string &text : {std::string(n, ':'), "x" + std::string(n, ':')})
            ASSERT_TRUE(agreesWithPlainLoops(text.data(), text.size()));
}

TEST(JsonSimd, NoLoadOutsideTheRange) {
    // Three pages: unreadable, readable, unreadable.
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    void *m = mmap(nullptr, 3 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(m, MAP_FAILED);
    char *base = static_cast<char *>(m);
    ASSERT_EQ(mprotect(base, page, PROT_NONE) | mprotect(base + 2 * page, page, PROT_NONE), 0);
    std::mt19937 rng(3);
    for (size_t n = 0; n <= 200; ++n) {
        for (char *p : {base + 2 * page - n, base + page}) {
            for (size_t i = 0; i < n; ++i) p[i] = kNearMisses[rng() % kNearMisses.size()];
            ASSERT_TRUE(agreesWithPlainLoops(p, n));
            for (char last : {'\\', ','}) {
                if (n) p[n - 1] = last;
                ASSERT_TRUE(agreesWithPlainLoops(p, n));
            }
        }
    }
    munmap(base, 3 * page);
}

TEST(JsonSimd, EscapesAndTokenTableLookups) {
    // isEscapedAt counts the run of backslashes before the byte.
    EXPECT_TRUE(!isEscapedAt(R"(a\\")", 3) && isEscapedAt(R"(\\\")", 3));
    // "a:b" then "c\"d": the second string's next token is an escaped quote,
    // so its end is found by a scan; the last string's end is in the table
    // unless the table stops before it.
    static Token table[kMaxTokens];
    std::string text = R"("a:b" "c\"d" "e")";
    size_t n = findJsonStructure(text, table);
    ASSERT_EQ(n, 8u);
    EXPECT_EQ(findStringEndFromTokens(text, table, n, 0, 1), std::optional<size_t>(4));
    EXPECT_EQ(findStringEndFromTokens(text, table, n, 3, 7), std::optional<size_t>(11));
    EXPECT_EQ(findStringEndFromTokens(text, table, 7, 6, 14), std::optional<size_t>(15));
    size_t index = 0;
    EXPECT_TRUE(advanceTokenIndex(table, n, &index, 4) && index == 3u);
    EXPECT_TRUE(!advanceTokenIndex(table, n, &index, 15) && index == n);
}

TEST(JsonSimd, DecodesEveryEscape) {
    auto decoded = [](std::string_view s) {
        std::string out(s.size(), '\0');
        auto n = decodeJsonString(s, out.data());
        return n.ok() ? out.substr(0, *n) : std::string("!") + errorName(n.error());
    };
    const std::pair<std::string, std::string> cases[] = {
        {R"(\"\\\/\b\f\n\r\t)", "\"\\/\b\f\n\r\t"},
        {R"(a\u0041\u00E9\u20ac\u0000!)", std::string("aA\xc3\xa9\xe2\x82\xac\0!", 9)},
        {R"(\ud83d\ude00\uDBFF\uDFFFx\u07ff\u0800\uffff)", "\xf0\x9f\x98\x80\xf4\x8f\xbf\xbfx\xdf\xbf\xe0\xa0\x80\xef\xbf\xbf"},
        {"\xff\xfe\x01", "\xff\xfe\x01"},  // bytes other than escapes pass unchanged
    };
    for (const auto &[in, want] : cases) EXPECT_EQ(decoded(in), want) << in;
    for (const char *bad : {R"(\ud83d)", R"(\ude00)", R"(\u12g4)", R"(\ud83d\u0041)", R"(\ud83d\ue000)", R"(\ud83dx\ude00)", R"(\ud83d\ude0)", R"(\u)"})
        EXPECT_EQ(decoded(bad), "!InvalidUnicodeEscape") << bad;
    for (const char *bad : {R"(abc\)", R"(\U0041)"}) EXPECT_EQ(decoded(bad), "!InvalidEscape") << bad;
}
