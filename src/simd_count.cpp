#include "simd_count.hpp"

#include <cstdint>

namespace rowkit::bytes {

namespace {

// Matching lanes are summed per byte lane; a lane can count at most 255
// blocks before it would wrap, so the lanes are folded into the total after
// at most this many blocks.
constexpr size_t kBlocksPerFold = 255;

#if ROWKIT_SIMD_SCALAR
// Number of bytes of `w` equal to the byte replicated in `a`: the exact
// zero-byte mask has one high bit per match; the multiply adds the bits into
// the top byte (at most 8, so nothing carries out of it).
inline size_t count8(uint64_t w, uint64_t a) {
    uint64_t m = detail::zeroBytes(w ^ a) >> 7;
    return static_cast<size_t>((m * detail::kOnes) >> 56);
}
#endif

}  // namespace

size_t countByte(const char *p, size_t n, char c) {
    size_t total = 0;
    size_t i = 0;
#if ROWKIT_SIMD_SSE2
    const __m128i needle = _mm_set1_epi8(c);
    const __m128i zero = _mm_setzero_si128();
    while (n - i >= 16) {
        size_t blocks = (n - i) / 16;
        if (blocks > kBlocksPerFold) blocks = kBlocksPerFold;
        __m128i lanes = zero;
        for (size_t b = 0; b < blocks; ++b, i += 16) {
            __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i));
            // A match is the lane value 0xFF, that is -1: subtracting it adds 1.
            lanes = _mm_sub_epi8(lanes, _mm_cmpeq_epi8(block, needle));
        }
        // Sums of absolute differences against zero add the 8 lanes of each half.
        __m128i halves = _mm_sad_epu8(lanes, zero);
        total += static_cast<size_t>(_mm_cvtsi128_si32(halves)) +
                 static_cast<size_t>(_mm_extract_epi16(halves, 4));
    }
#elif ROWKIT_SIMD_NEON
    const uint8x16_t needle = vdupq_n_u8(static_cast<uint8_t>(c));
    while (n - i >= 16) {
        size_t blocks = (n - i) / 16;
        if (blocks > kBlocksPerFold) blocks = kBlocksPerFold;
        uint8x16_t lanes = vdupq_n_u8(0);
        for (size_t b = 0; b < blocks; ++b, i += 16) {
            uint8x16_t block = vld1q_u8(reinterpret_cast<const uint8_t *>(p + i));
            // A match is the lane value 0xFF, that is -1: subtracting it adds 1.
            lanes = vsubq_u8(lanes, vceqq_u8(block, needle));
        }
        // Pairwise widening adds fold the 16 lanes into two 64-bit sums.
        uint64x2_t sums = vpaddlq_u32(vpaddlq_u16(vpaddlq_u8(lanes)));
        total += static_cast<size_t>(vgetq_lane_u64(sums, 0) + vgetq_lane_u64(sums, 1));
    }
#else
    // Scalar: two 8-byte words per 16-byte block.
    const uint64_t a = detail::kOnes * static_cast<uint8_t>(c);
    for (; n - i >= 16; i += 16)
        total += count8(detail::load64(p + i), a) + count8(detail::load64(p + i + 8), a);
#endif
    for (; i < n; ++i) total += p[i] == c;
    return total;
}

}  // namespace rowkit::bytes
