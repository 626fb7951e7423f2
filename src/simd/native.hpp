// Picks the instruction set the kernels are compiled for: SSE2 on x86-64,
// NEON on AArch64, the portable SWAR set anywhere else or when the
// ROWKIT_SCALAR build option forces it. The kernels (byte_search, json_simd,
// simd_count) are templates over a set and use simd::Native by default.
//
// Every set is a struct of static functions over its `Block` type with the
// same operations:
//   kName, kBlockBytes    the set's name and block width in bytes (8 for the
//                         portable set, 16 for SSE2 and NEON)
//   load(p)               kBlockBytes bytes at p, any alignment
//   splat(c)              c in every lane
//   equal(a, b)           a mask block: the lanes where a and b are equal
//   bitOr(a, b)           bitwise or (of masks, or of data)
//   any(m)                whether a mask has a matching lane
//   firstLane(m)          index of the first matching lane (any(m) holds)
//   movemask(m)           bit i set when lane i matched
//   zeroCounts, countMatches(counts, m), sumCounts(counts)
//                         per-lane match counters, folded into a total
//                         at least every kMaxCountBlocks blocks
// A mask block's lane values are the set's own (0xFF, or a high bit); only
// these operations look at them.
#pragma once

#include "simd/scalar.hpp"

#if !defined(ROWKIT_SCALAR) && (defined(__SSE2__) || defined(_M_X64))
#include "simd/sse2.hpp"
namespace rowkit::simd {
using Native = Sse2;
}
#elif !defined(ROWKIT_SCALAR) && defined(__aarch64__)
#include "simd/neon.hpp"
namespace rowkit::simd {
using Native = Neon;
}
#else
namespace rowkit::simd {
using Native = Scalar;
}
#endif
