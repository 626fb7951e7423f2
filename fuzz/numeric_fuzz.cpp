// parseNumeric against the C library's strtod: on every text both accept
// whole they give the same binary64 value (the same bits, so the sign of a
// zero counts too). Texts with underscores are compared without them.
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_input.hpp"
#include "numeric.hpp"

namespace {

// strtod's reading of the whole text: nothing when it stops early, when it
// accepts what this library's rule leaves out (blanks in front, words such as
// inf and nan), or when the value overflows.
std::optional<double> strtodWhole(const std::string &text) {
    if (text.empty() || std::strchr(" \t\n\v\f\r", text[0])) return std::nullopt;
    errno = 0;
    char *end = nullptr;
    double v = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size()) return std::nullopt;
    if (!std::isfinite(v)) return std::nullopt;
    return v;
}

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string text(reinterpret_cast<const char *>(data), size);
    const std::optional<double> ours = rowkit::parseNumeric(text);
    if (ours) FUZZ_CHECK(std::isfinite(*ours));
    if (text.find('\0') != std::string::npos) {
        FUZZ_CHECK(!ours);
        return 0;
    }
    if (text.find('_') == std::string::npos) {
        const std::optional<double> theirs = strtodWhole(text);
        if (ours && theirs) FUZZ_CHECK(sameBits(*ours, *theirs));
        // What strtod reads whole and finite, the rule accepts too, except
        // the words (inf, nan, ...), which strtod turns into non-finite
        // values and so never reach here.
        if (theirs) FUZZ_CHECK(ours.has_value());
        if (ours) FUZZ_CHECK(theirs.has_value());
        return 0;
    }
    if (!ours) return 0;
    // Underscores stand only between digits: without them the text is a
    // number of the same value.
    std::string plain;
    for (char c : text)
        if (c != '_') plain += c;
    const std::optional<double> theirs = strtodWhole(plain);
    FUZZ_CHECK(theirs.has_value() && sameBits(*ours, *theirs));
    return 0;
}
