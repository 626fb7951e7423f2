// The number rule shared by predicates, aggregation, top-k keys and ordering.
//
// A field is a number when its whole text is a decimal or hexadecimal
// floating-point literal whose value is finite in binary64. Whatever the
// callers compare, sum or sort as numbers goes through this one function, so
// "1.0", "1e0", "0x1" and "1" are the same value everywhere.
#pragma once

#include <optional>
#include <string_view>

namespace rowkit {

// Parses the whole of `text` as a binary64 number, rounded to nearest with
// ties to even. Accepted forms, with no blanks or other bytes around them:
//
//   [+|-] digits [. [digits]] [(e|E) [+|-] digits]      ("5.", ".5", "1e-3")
//   [+|-] . digits [(e|E) [+|-] digits]
//   [+|-] (0x|0X) hexdigits [. [hexdigits]] [(p|P) [+|-] digits]
//   [+|-] (0x|0X) . hexdigits [(p|P) [+|-] digits]
//
// A single underscore may stand between two digits of the same run
// ("1_000", "1.5_5", "1e1_0", "0xF_F"), nowhere else.
//
// Returns nothing for anything else, for the words inf/infinity/nan, and
// for values too large for binary64. Values too small round to a subnormal
// or to a zero that keeps the sign ("-1e-400" is -0.0), which are numbers.
//
// Allocates nothing unless the text holds underscores and is longer than 128
// bytes; if that allocation fails the text is treated as not a number.
std::optional<double> parseNumeric(std::string_view text);

}  // namespace rowkit
