// The JSON structural scan and string routines against plain loops, the scan
// on the compiled instruction set and on the portable one: every length up
// to 64 at every alignment with the match at every position, near misses of
// the bytes they look for, ranges that touch an unreadable page, and the
// decoding of every escape.
#include "json_simd.hpp"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "support/instruction_sets.hpp"

using namespace rowkit;
using namespace rowkit::json;

namespace {

const std::string kStructural = "{}[]\":,", kWanted = kStructural + "\\";

// Bytes one bit away from a structural byte or a backslash (0x20 in
// particular, which the kernels fold), and high-bit bytes.
const std::string kNearMisses = std::string("\x3b\x1a\x02\x0c\x2d\x2e\x1b\x3d") +
                                "\xfb\xdb\xfd\xdd\xa2\xba\xac\x7a\x5a\x7c\x7e\x5e\xdc\x1c\x4c" +
                                "\x58\x23" + "a0 \n";

// What the structural scan (on set V) and the string routines give over
// p[0..n), or (plain) what plain loops give: tokens as pos * 8 + type, then
// the escape flag, then string ends from several starts.
template <class V>
std::vector<size_t> results(const char *p, size_t n, bool plain) {
    static Token table[kMaxTokens];
    std::string_view s(p, n);
    std::vector<size_t> out;
    size_t got = 0;
    if (!plain) {
        if constexpr (std::is_same_v<V, simd::Native>)
            got = findJsonStructure(s, table);
        else
            got = findJsonStructureWith<V>(s, table);
    }
    for (size_t t = 0; t < got; ++t)
        out.push_back(table[t].pos * 8 + static_cast<size_t>(table[t].type));
    for (size_t i = 0; plain && i < n && out.size() < kMaxTokens; ++i)
        if (size_t k = kStructural.find(p[i]); k != std::string::npos) out.push_back(i * 8 + k);
    out.push_back(plain ? s.find('\\') != std::string_view::npos : hasJsonEscape(s));
    for (size_t from = 0; from <= n; from += (n > 20 ? 7 : 1)) {
        std::optional<size_t> end;
        for (size_t i = from; plain && i < n && !end; ++i) {
            if (s[i] == '\\')
                ++i;
            else if (s[i] == '"')
                end = i;
        }
        out.push_back((plain ? end : findStringEnd(s, from)).value_or(SIZE_MAX));
        out.push_back(plain ? std::min(s.find_first_of("\"\\", from), n)
                            : unescapedStringEnd(s, from));
    }
    return out;
}

template <class V>
class JsonSimd : public ::testing::Test {};
TYPED_TEST_SUITE(JsonSimd, rowkit_test::InstructionSets, rowkit_test::InstructionSetName);

}  // namespace

TYPED_TEST(JsonSimd, EveryLengthAlignmentAndPosition) {
    alignas(64) char buf[16 + 64 + 16];
    std::mt19937 rng(7);
    auto any = [&](const std::string &from) { return from[rng() % from.size()]; };
    for (size_t align = 0; align < 16; ++align)
        for (size_t n = 0; n <= 64; ++n) {
            char *p = buf + align;
            // Wanted bytes right outside the range are not seen.
            for (char &c : buf)
                c = rng() & 1 ? '"' : '\\';
            // k < n: each wanted byte at each position with a second one after
            // it; k == n: near misses only; k == n + 1: dense.
            for (size_t k = 0; k <= n + 1; ++k) {
                for (size_t i = 0; i < n; ++i)
                    p[i] = k > n && rng() & 1 ? any(kWanted) : any(kNearMisses);
                if (k < n) p[k] = kWanted[(k + n + align) % kWanted.size()];
                if (k + 1 < n) p[k + 1 + rng() % (n - k - 1)] = any(kWanted);
                ASSERT_EQ(results<TypeParam>(p, n, false), results<TypeParam>(p, n, true))
                    << "align " << align << " n " << n << " k " << k;
            }
        }
    // The capacity of the table is met inside a block and in the
    // byte-at-a-time tail.
    for (size_t n : {kMaxTokens - 1, kMaxTokens, kMaxTokens + 1, kMaxTokens + 9})
        for (const std::string &t : {std::string(n, ':'), "x" + std::string(n, ':')})
            ASSERT_EQ(results<TypeParam>(t.data(), t.size(), false),
                      results<TypeParam>(t.data(), t.size(), true))
                << n;
}

TYPED_TEST(JsonSimd, NoLoadOutsideTheRange) {
    // Three pages: unreadable, readable, unreadable.
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    void *m = mmap(nullptr, 3 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(m, MAP_FAILED);
    char *base = static_cast<char *>(m);
    ASSERT_EQ(mprotect(base, page, PROT_NONE), 0);
    ASSERT_EQ(mprotect(base + 2 * page, page, PROT_NONE), 0);
    std::mt19937 rng(3);
    for (size_t n = 1; n <= 200; ++n)
        for (char *p : {base + 2 * page - n, base + page})
            for (char last : {'a', '\\', ','}) {
                for (size_t i = 0; i + 1 < n; ++i)
                    p[i] = kNearMisses[rng() % kNearMisses.size()];
                p[n - 1] = last;
                ASSERT_EQ(results<TypeParam>(p, n, false), results<TypeParam>(p, n, true)) << n;
            }
    munmap(m, 3 * page);
}

TEST(JsonSimd, EscapesTokenTableLookupsAndDecoding) {
    // isEscapedAt counts the run of backslashes before the byte.
    EXPECT_FALSE(isEscapedAt(R"(a\\")", 3));
    EXPECT_TRUE(isEscapedAt(R"(\\\")", 3));
    // "c\"d": its next token is an escaped quote, so its end is found by a
    // scan; the last string's end is found by a scan when the table stops
    // before it. (The parser's tests reach the lookups in full tables.)
    static Token table[kMaxTokens];
    std::string text = R"("a:b" "c\"d" "e")";
    size_t n = findJsonStructure(text, table), index = 0;
    EXPECT_EQ(findStringEndFromTokens(text, table, n, 3, 7), std::optional<size_t>(11));
    EXPECT_EQ(findStringEndFromTokens(text, table, 7, 6, 14), std::optional<size_t>(15));
    EXPECT_FALSE(advanceTokenIndex(table, n, &index, 15));
    EXPECT_EQ(index, n);

    const std::pair<std::string, std::string> cases[] = {
        {R"(\"\\\/\b\f\n\r\t)", "\"\\/\b\f\n\r\t"},
        {R"(a\u0041\u00E9\u20ac\u0000!)", std::string("aA\xc3\xa9\xe2\x82\xac\0!", 9)},
        {R"(\ud83d\ude00\uDBFF\uDFFFx\u07ff\u0800\uffff)",
         "\xf0\x9f\x98\x80\xf4\x8f\xbf\xbfx\xdf\xbf\xe0\xa0\x80\xef\xbf\xbf"},
        {"\xff\xfe\x01", "\xff\xfe\x01"},  // bytes other than escapes pass unchanged
        {R"(abc\)", "!InvalidEscape"},
        {R"(\U0041)", "!InvalidEscape"},
    };
    std::vector<std::pair<std::string, std::string>> all(std::begin(cases), std::end(cases));
    // A high surrogate needs a low one next: not a letter, a non-surrogate
    // or another high one.
    for (const char *bad : {R"(\ud83d)", R"(\ude00)", R"(\u12g4)", R"(\ud83d\u0041)",
                            R"(\ud83d\ue000)", R"(\ud83d\udbff)", R"(\ud83dx\ude00)",
                            R"(\ud83d\ude0)", R"(\u)"})
        all.emplace_back(bad, "!InvalidUnicodeEscape");
    for (const auto &[in, want] : all) {
        std::string out(in.size(), '\0');
        auto len = decodeJsonString(in, out.data());
        std::string got =
            len.ok() ? out.substr(0, *len) : "!" + std::string(errorName(len.error()));
        EXPECT_EQ(got, want) << in;
    }
}
