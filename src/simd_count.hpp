// Vectorised byte counting: how many times one byte occurs in a range.
//
// Used with '\n' to count the lines left in an input without splitting them.
// Like byte_search.hpp, one algorithm with three implementations chosen at
// compile time: SSE2 on x86-64, NEON on aarch64 and a portable scalar path
// (also forced by the ROWKIT_SCALAR build option). Each compares 16-byte
// blocks and counts the matching lanes, then finishes with single bytes.
// Loads never read outside [p, p + n).
#pragma once

#include <cstddef>

#include "byte_search.hpp"

namespace rowkit::bytes {

// Number of bytes equal to `c` in p[0..n).
size_t countByte(const char *p, size_t n, char c);

}  // namespace rowkit::bytes
