// The SSE2 instruction set (every x86-64 processor): 16-byte blocks in one
// register. A mask block holds 0xFF in the lanes that matched, 0 elsewhere.
// The operations are those listed in native.hpp.
#pragma once

#include <emmintrin.h>

#include <cstddef>
#include <cstdint>

namespace rowkit::simd {

struct Sse2 {
    using Block = __m128i;
    static constexpr const char *kName = "sse2";
    static constexpr size_t kBlockBytes = 16;
    static constexpr size_t kMaxCountBlocks = 255;

    static Block load(const char *p) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    }
    static Block splat(char c) { return _mm_set1_epi8(c); }
    static Block bitOr(Block a, Block b) { return _mm_or_si128(a, b); }
    static Block equal(Block a, Block b) { return _mm_cmpeq_epi8(a, b); }
    static uint32_t movemask(Block m) { return static_cast<uint32_t>(_mm_movemask_epi8(m)); }
    static bool any(Block m) { return movemask(m) != 0; }
    static size_t firstLane(Block m) { return static_cast<size_t>(__builtin_ctz(movemask(m))); }

    static Block zeroCounts() { return _mm_setzero_si128(); }
    // A matching lane is 0xFF, that is -1: subtracting it adds 1.
    static Block countMatches(Block counts, Block m) { return _mm_sub_epi8(counts, m); }
    static size_t sumCounts(Block counts) {
        // Sums of absolute differences against zero add the 8 lanes of each half.
        __m128i halves = _mm_sad_epu8(counts, _mm_setzero_si128());
        return static_cast<size_t>(_mm_cvtsi128_si32(halves)) +
               static_cast<size_t>(_mm_extract_epi16(halves, 4));
    }
};

}  // namespace rowkit::simd
