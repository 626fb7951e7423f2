// Vectorised byte counting: how many times one byte occurs in a range.
//
// Used with '\n' to count the lines left in an input without splitting them
// (ChunkReader::countRemainingLines). The kernel is written once over an
// instruction set V (simd/native.hpp): it compares whole blocks and adds the
// matches into per-lane counters, folded into the total before a lane can
// wrap, then finishes with single bytes. Loads never read outside [p, p + n).
#pragma once

#include <cstddef>

#include "simd/native.hpp"

namespace rowkit::bytes {

// Number of bytes equal to `c` in p[0..n), with the compiled set.
size_t countByte(const char *p, size_t n, char c);

// The kernel behind countByte, for any set V.
template <class V>
size_t countByteWith(const char *p, size_t n, char c) {
    const typename V::Block needle = V::splat(c);
    size_t total = 0;
    size_t i = 0;
    while (n - i >= V::kBlockBytes) {
        size_t blocks = (n - i) / V::kBlockBytes;
        if (blocks > V::kMaxCountBlocks) blocks = V::kMaxCountBlocks;
        typename V::Block counts = V::zeroCounts();
        for (size_t b = 0; b < blocks; ++b, i += V::kBlockBytes)
            counts = V::countMatches(counts, V::equal(V::load(p + i), needle));
        total += V::sumCounts(counts);
    }
    for (; i < n; ++i) total += p[i] == c;
    return total;
}

}  // namespace rowkit::bytes
