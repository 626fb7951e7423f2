#include "numeric.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <charconv>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "alloc.hpp"

using namespace rowkit;

static constexpr double kNone =
    std::numeric_limits<double>::quiet_NaN();  // parseNumeric never gives a NaN

// Bit-exact, so that -0.0 and 0.0 differ and every rounding step counts.
static void expectValues(std::initializer_list<std::pair<std::string_view, double>> cases) {
    for (auto [text, want] : cases)
        EXPECT_EQ(std::bit_cast<uint64_t>(parseNumeric(text).value_or(kNone)),
                  std::bit_cast<uint64_t>(want))
            << text;
}

TEST(ParseNumeric, DecimalHexadecimalAndUnderscoreForms) {
    expectValues({{"-0", -0.0}, {"+5", 5.0}, {"007", 7.0}, {"5.", 5.0}, {"-.5", -0.5},
                  {"4.56", 4.56}, {"1E+3", 1000.0}, {"1e-3", 0.001}, {"5.e3", 5000.0},
                  {".5e1", 5.0}, {"0X1F", 31.0}, {"0x1.8p1", 3.0}, {"-0X.8", -0.5}, {"0x1.", 1.0},
                  {"+0x1P+4", 16.0}, {"0x1e5", 485.0}, {"0x1p-1074", DBL_TRUE_MIN},
                  // Only the view's bytes count, never what follows it in memory.
                  {std::string_view("1.5e9x", 3), 1.5},
                  {std::string_view("1.5e9x", 5), 1.5e9},
                  // Underscores only between two digits.
                  {"1_2_3", 123.0}, {"1.5_5", 1.55}, {"1e1_0", 1e10}, {"0xF_F", 255.0},
                  {"0x1.8_0p1", 3.0}, {"0x1p1_0", 1024.0}, {"-1_0.0_1e-0_1", -1.001}, {"_1", kNone},
                  {"1_", kNone}, {"1__0", kNone}, {"1._5", kNone}, {"1e+_5", kNone},
                  {"0_x1", kNone}, {"0x1_p1", kNone}, {"0x1p_1", kNone}});
    // Long texts with underscores are copied to the heap (short ones are
    // not); a failed allocation makes the text count as not a number.
    std::string grouped = "1", plain = "1";
    for (int i = 0; i < 60; ++i) grouped += "_000", plain += "000";
    alloc_hook::reset();
    EXPECT_EQ(parseNumeric(grouped), parseNumeric(plain));
    EXPECT_EQ(alloc_hook::count(), 1u);
    alloc_hook::failAt(1);
    EXPECT_FALSE(parseNumeric(grouped).has_value());
    alloc_hook::reset();
}

TEST(ParseNumeric, RoundsToNearestEvenAndUnderflowsToSignedZero) {
    expectValues({{"9007199254740993", 9007199254740992.0},
                  {"9007199254740995", 9007199254740996.0},
                  {"9007199254740993.000000000000000000001", 9007199254740994.0},
                  {"0x1.00000000000008p0", 1.0},
                  {"1.7976931348623157e308", DBL_MAX},
                  {"0x1.00000000000018p0", 0x1.0000000000002p0},
                  {"0x1.000000000000080000000001p0", 0x1.0000000000001p0},
                  {"2.2250738585072011e-308", 0x0.fffffffffffffp-1022},
                  {"2.4703282292062328e-324", DBL_TRUE_MIN},
                  // Too small: a subnormal or a zero that keeps the sign.
                  {"-1e-400", -0.0}, {"2.4703282292062327e-324", 0.0},
                  {"1e-99999999999999999999", 0.0}, {"-0e-99999", -0.0}, {"0x1p-1075", 0.0},
                  {"0x100p-1090", 0.0}, {"1e-3_2_4", 0.0},
                  {"-1" + std::string(350, '0') + "e-700", -0.0},
                  {"0x0." + std::string(399, '0') + "1p400", 0.0}});
    // Short decimals take a path of their own; it must agree with the general
    // conversion bit for bit, at every length and point position.
    std::mt19937_64 rng(42);
    for (int i = 0; i < 100000; ++i) {
        std::string text = std::to_string(rng() >> (i % 60 + 4));
        text.insert(rng() % (text.size() + 1), ".");
        double want = 0;  // the general conversion
        std::from_chars(text.data(), text.data() + text.size(), want);
        ASSERT_EQ(std::bit_cast<uint64_t>(parseNumeric(text).value_or(-1.0)),
                  std::bit_cast<uint64_t>(want))
            << text;
    }
}

// The last: many digits against an exponent of the opposite sign, 2^2000 * 2^-501.
TEST(ParseNumeric, MalformedNonFiniteAndOverflowGiveNone) {
    for (const std::string &t : std::vector<std::string>{"", "+", ".", "1e", "1e+", "e5", ".e5",
                                                         "--1", "1.2.3", " 1", "1 ", "0x", "0x.",
                                                         "0xg", "0x1p", "0x.p1", "1,000", "1e5.5",
                                                         "0x1e+5", "1p5", "12345678901234567x",
                                                         std::string("1\0", 2), "inf", "-INF",
                                                         "nan", "1e400", "1e99999999999999999999",
                                                         "1.7976931348623159e308", "0.0001e313",
                                                         "0x1.fffffffffffff8p1023",
                                                         "-0x1p99999999999999999999",
                                                         std::string(400, '9'),
                                                         "0x1" + std::string(500, '0') + "p-501"})
        EXPECT_FALSE(parseNumeric(t).has_value()) << "'" << t << "'";
    EXPECT_EQ(parseNumeric("0.0001e312"), 1e308);
}
