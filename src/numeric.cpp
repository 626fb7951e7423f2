#include "numeric.hpp"

#include <cfloat>
#include <charconv>
#include <cstddef>
#include <cstdint>

#include "alloc.hpp"

namespace rowkit {

namespace {

// Texts with underscores are copied without them before conversion; up to
// this many bytes the copy lives on the stack.
constexpr size_t kStackDigits = 128;

// Powers of ten that binary64 holds exactly (10^22 is the last one).
constexpr double kExactPow10[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11,
                                  1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21,
                                  1e22};

// Up to this many digits the mantissa is below 2^53, hence exact.
constexpr int kShortDigits = 15;

// Dividing by a power of ten gives the correctly rounded quotient only when
// the division is done in binary64 itself, not in a wider register.
constexpr bool kDoubleArithmetic = FLT_EVAL_METHOD == 0;

inline bool isDecimalDigit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

inline bool isDigitOf(char c, bool hex) {
    if (isDecimalDigit(c)) return true;
    return hex && static_cast<unsigned char>((c | 0x20) - 'a') < 6;
}

// The common field: plain decimal digits with at most one point and at most
// kShortDigits digits in all, no exponent. The mantissa and the power of ten
// are both exact, so a single division rounds correctly. False when the text
// has any other shape; the caller then takes the general path.
inline bool parseShortDecimal(const char *p, const char *end, double *out) {
    if (end - p > kShortDigits + 1) return false;
    uint64_t mantissa = 0;
    int digits = 0;
    int fraction_digits = -1;  // -1 until a point is seen
    for (; p < end; ++p) {
        unsigned d = static_cast<unsigned char>(*p - '0');
        if (d < 10) {
            mantissa = mantissa * 10 + d;
            ++digits;
            if (fraction_digits >= 0) ++fraction_digits;
        } else if (*p == '.' && fraction_digits < 0) {
            fraction_digits = 0;
        } else {
            return false;
        }
    }
    if (digits == 0 || digits > kShortDigits) return false;
    double value = static_cast<double>(mantissa);
    if (fraction_digits > 0) {
        if (!kDoubleArithmetic) return false;
        value /= kExactPow10[fraction_digits];
    }
    *out = value;
    return true;
}

// Skips a run of digits in which a single underscore may stand between two
// digits. An underscore anywhere else ends the run and is left in place, so
// the caller's grammar rejects it. Adds the run's digits to *count.
const char *skipDigits(const char *p, const char *end, bool hex, size_t *count,
                       bool *underscores) {
    size_t run = 0;
    while (p < end) {
        if (isDigitOf(*p, hex)) {
            ++run;
            ++p;
        } else if (*p == '_' && run > 0 && p + 1 < end && isDigitOf(p[1], hex)) {
            *underscores = true;
            p += 2;
            ++run;
        } else {
            break;
        }
    }
    *count += run;
    return p;
}

// The shape of an unsigned literal that passed the grammar check.
struct Literal {
    const char *body;  // first byte after the hexadecimal prefix, if any
    bool hex;
    bool underscores;
};

// Checks [p, end) (sign already removed) against the grammar. from_chars is
// more lenient (it takes inf/nan and stops at the first stray byte), so only
// texts that pass here reach it.
bool scanLiteral(const char *p, const char *end, Literal *out) {
    bool hex = end - p >= 2 && p[0] == '0' && (p[1] | 0x20) == 'x';
    if (hex) p += 2;
    out->body = p;
    out->hex = hex;
    out->underscores = false;

    size_t mantissa_digits = 0;
    p = skipDigits(p, end, hex, &mantissa_digits, &out->underscores);
    if (p < end && *p == '.') p = skipDigits(p + 1, end, hex, &mantissa_digits, &out->underscores);
    if (mantissa_digits == 0) return false;

    if (p < end && (*p | 0x20) == (hex ? 'p' : 'e')) {
        ++p;
        if (p < end && (*p == '+' || *p == '-')) ++p;
        size_t exponent_digits = 0;
        p = skipDigits(p, end, false, &exponent_digits, &out->underscores);
        if (exponent_digits == 0) return false;
    }
    return p == end;
}

// from_chars reports both overflow and underflow to zero as out of range.
// Tells them apart for a valid literal without underscores: the value is
// below 1 exactly when the leading nonzero digit's position plus the exponent
// is negative. Overflow needs at least 2^1024 and underflow at most 2^-1075,
// so this threshold cannot misplace either.
bool magnitudeBelowOne(const char *p, const char *end, bool hex) {
    bool found = false;
    int64_t scale = 0;  // power of the base at the leading nonzero digit
    int64_t integer_digits = 0;
    int64_t lead = 0;
    for (; p < end && isDigitOf(*p, hex); ++p, ++integer_digits) {
        if (!found && *p != '0') {
            found = true;
            lead = integer_digits;
        }
    }
    if (found) scale = integer_digits - 1 - lead;
    if (p < end && *p == '.') {
        ++p;
        for (int64_t i = 1; p < end && isDigitOf(*p, hex); ++p, ++i) {
            if (!found && *p != '0') {
                found = true;
                scale = -i;
            }
        }
    }
    if (!found) return true;  // zero

    // Exponents saturate far beyond any range that matters.
    constexpr int64_t kExponentCap = int64_t{1} << 40;
    int64_t exponent = 0;
    if (p < end) {
        ++p;  // 'e' or 'p'
        bool negative = false;
        if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
        for (; p < end; ++p) {
            if (exponent < kExponentCap) exponent = exponent * 10 + (*p - '0');
        }
        if (negative) exponent = -exponent;
    }
    return scale * (hex ? 4 : 1) + exponent < 0;
}

// Converts a valid unsigned literal without underscores.
std::optional<double> convert(const char *p, const char *end, bool hex, bool negative) {
    double value = 0;
    auto result =
        std::from_chars(p, end, value, hex ? std::chars_format::hex : std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range) {
        if (!magnitudeBelowOne(p, end, hex)) return std::nullopt;
        value = 0.0;
    } else if (result.ec != std::errc() || result.ptr != end) {
        return std::nullopt;
    }
    return negative ? -value : value;
}

}  // namespace

std::optional<double> parseNumeric(std::string_view text) {
    const char *p = text.data();
    const char *end = p + text.size();
    if (p == end) return std::nullopt;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    // Every number goes on with a digit or a point. This turns away words
    // (names, "inf", "NaN") and doubled signs on their first byte.
    if (p == end || !(isDecimalDigit(*p) || *p == '.')) return std::nullopt;

    double value;
    if (parseShortDecimal(p, end, &value)) return negative ? -value : value;

    Literal literal;
    if (!scanLiteral(p, end, &literal)) return std::nullopt;
    if (!literal.underscores) return convert(literal.body, end, literal.hex, negative);

    // Copy the literal without its underscores.
    size_t length = static_cast<size_t>(end - literal.body);
    char stack_digits[kStackDigits] = {};
    char *digits = stack_digits;
    if (length > kStackDigits) {
        digits = static_cast<char *>(allocBytes(length));
        // Without memory the text cannot be converted; it then counts as not
        // a number, the answer that needs no error path in every caller.
        if (!digits) return std::nullopt;
    }
    size_t n = 0;
    for (const char *q = literal.body; q < end; ++q) {
        if (*q != '_') digits[n++] = *q;
    }
    std::optional<double> result = convert(digits, digits + n, literal.hex, negative);
    if (digits != stack_digits) freeBytes(digits);
    return result;
}

}  // namespace rowkit
