// Vectorised byte searches.
//
// One algorithm, three implementations chosen at compile time: SSE2 on
// x86-64, NEON on aarch64, and a portable scalar path (also forced by the
// ROWKIT_SCALAR build option). Each search walks 16-byte blocks with a vector
// compare, then one 8-byte block with a SWAR compare, then single bytes. Loads
// never read outside [p, p + n).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if !defined(ROWKIT_SCALAR) && (defined(__SSE2__) || defined(_M_X64))
#define ROWKIT_SIMD_SSE2 1
#include <emmintrin.h>
#elif !defined(ROWKIT_SCALAR) && (defined(__ARM_NEON) || defined(__aarch64__))
#define ROWKIT_SIMD_NEON 1
#include <arm_neon.h>
#else
#define ROWKIT_SIMD_SCALAR 1
#endif

namespace rowkit::bytes {

// Name of the compiled kernel family: "sse2", "neon" or "scalar".
const char *kernelName();

namespace detail {

inline uint64_t load64(const char *p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

inline constexpr uint64_t kOnes = 0x0101010101010101ull;
inline constexpr uint64_t kHighs = 0x8080808080808080ull;

// High bit set in every byte of v that is zero (exact, no false positives).
inline uint64_t zeroBytes(uint64_t v) {
    return ~(((v & ~kHighs) + ~kHighs) | v) & kHighs;
}

// Index of the first byte of the 8-byte little-endian word `w` equal to one
// of the bytes replicated in `a`, or 8.
inline size_t firstMatch8(uint64_t w, uint64_t a) {
    uint64_t m = zeroBytes(w ^ a);
    return m ? static_cast<size_t>(__builtin_ctzll(m) >> 3) : 8;
}
inline size_t firstMatch8(uint64_t w, uint64_t a, uint64_t b) {
    uint64_t m = zeroBytes(w ^ a) | zeroBytes(w ^ b);
    return m ? static_cast<size_t>(__builtin_ctzll(m) >> 3) : 8;
}

#if ROWKIT_SIMD_NEON
// 4 bits per byte lane: a 64-bit mask whose nibble i is set when lane i matched.
inline uint64_t neonMask(uint8x16_t eq) {
    uint8x8_t narrowed = vshrn_n_u16(vreinterpretq_u16_u8(eq), 4);
    return vget_lane_u64(vreinterpret_u64_u8(narrowed), 0);
}
#endif

}  // namespace detail

// A 16-bit mask with bit i set when p[i] == c, for i in [0, 16). Reads
// exactly the 16 bytes at p.
inline uint32_t matchMask16(const char *p, char c) {
#if ROWKIT_SIMD_SSE2
    __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    return static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, _mm_set1_epi8(c))));
#elif ROWKIT_SIMD_NEON
    static const uint8_t kBits[16] = {1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};
    uint8x16_t eq = vceqq_u8(vld1q_u8(reinterpret_cast<const uint8_t *>(p)),
                             vdupq_n_u8(static_cast<uint8_t>(c)));
    uint8x16_t bits = vandq_u8(eq, vld1q_u8(kBits));
    return static_cast<uint32_t>(vaddv_u8(vget_low_u8(bits))) |
           (static_cast<uint32_t>(vaddv_u8(vget_high_u8(bits))) << 8);
#else
    // SWAR: the high bit of each matching byte, gathered into one byte per
    // word by a multiply.
    const uint64_t a = detail::kOnes * static_cast<uint8_t>(c);
    uint64_t m0 = detail::zeroBytes(detail::load64(p) ^ a) >> 7;
    uint64_t m1 = detail::zeroBytes(detail::load64(p + 8) ^ a) >> 7;
    constexpr uint64_t kGather = 0x0102040810204080ull;
    return static_cast<uint32_t>((m0 * kGather) >> 56) |
           (static_cast<uint32_t>((m1 * kGather) >> 56) << 8);
#endif
}

// Masks of the bytes equal to `a` and to `b` among the 16 bytes at p, from
// one load.
inline void matchMasks16(const char *p, char a, char b, uint32_t *mask_a, uint32_t *mask_b) {
#if ROWKIT_SIMD_SSE2
    __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    *mask_a = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, _mm_set1_epi8(a))));
    *mask_b = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, _mm_set1_epi8(b))));
#else
    *mask_a = matchMask16(p, a);
    *mask_b = matchMask16(p, b);
#endif
}

// The same for the n < 16 bytes at p: bits at and past n are clear. Reads
// only p[0..n).
inline uint32_t matchMaskPartial(const char *p, size_t n, char c) {
    char tmp[16] = {};
    if (n) std::memcpy(tmp, p, n);
    return matchMask16(tmp, c) & ((1u << n) - 1u);
}

// Index of the first byte equal to `c` in p[0..n), or n when there is none.
inline size_t findByte(const char *p, size_t n, char c) {
    size_t i = 0;
#if ROWKIT_SIMD_SSE2
    const __m128i needle = _mm_set1_epi8(c);
    for (; i + 16 <= n; i += 16) {
        __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i));
        int mask = _mm_movemask_epi8(_mm_cmpeq_epi8(block, needle));
        if (mask) return i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
    }
#elif ROWKIT_SIMD_NEON
    const uint8x16_t needle = vdupq_n_u8(static_cast<uint8_t>(c));
    for (; i + 16 <= n; i += 16) {
        uint8x16_t block = vld1q_u8(reinterpret_cast<const uint8_t *>(p + i));
        uint64_t mask = detail::neonMask(vceqq_u8(block, needle));
        if (mask) return i + static_cast<size_t>(__builtin_ctzll(mask) >> 2);
    }
#else
    // Scalar: two 8-byte words per step in place of the vector block.
    const uint64_t a = detail::kOnes * static_cast<uint8_t>(c);
    for (; i + 16 <= n; i += 16) {
        uint64_t m0 = detail::zeroBytes(detail::load64(p + i) ^ a);
        uint64_t m1 = detail::zeroBytes(detail::load64(p + i + 8) ^ a);
        if (m0) return i + static_cast<size_t>(__builtin_ctzll(m0) >> 3);
        if (m1) return i + 8 + static_cast<size_t>(__builtin_ctzll(m1) >> 3);
    }
#endif
    if (i + 8 <= n) {
        size_t k = detail::firstMatch8(detail::load64(p + i), detail::kOnes * static_cast<uint8_t>(c));
        if (k < 8) return i + k;
        i += 8;
    }
    for (; i < n; ++i)
        if (p[i] == c) return i;
    return n;
}

// Index of the first byte equal to `a` or `b` in p[0..n), or n.
inline size_t findEither(const char *p, size_t n, char a, char b) {
    size_t i = 0;
#if ROWKIT_SIMD_SSE2
    const __m128i na = _mm_set1_epi8(a);
    const __m128i nb = _mm_set1_epi8(b);
    for (; i + 16 <= n; i += 16) {
        __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i));
        __m128i eq = _mm_or_si128(_mm_cmpeq_epi8(block, na), _mm_cmpeq_epi8(block, nb));
        int mask = _mm_movemask_epi8(eq);
        if (mask) return i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
    }
#elif ROWKIT_SIMD_NEON
    const uint8x16_t na = vdupq_n_u8(static_cast<uint8_t>(a));
    const uint8x16_t nb = vdupq_n_u8(static_cast<uint8_t>(b));
    for (; i + 16 <= n; i += 16) {
        uint8x16_t block = vld1q_u8(reinterpret_cast<const uint8_t *>(p + i));
        uint64_t mask = detail::neonMask(vorrq_u8(vceqq_u8(block, na), vceqq_u8(block, nb)));
        if (mask) return i + static_cast<size_t>(__builtin_ctzll(mask) >> 2);
    }
#else
    const uint64_t wa = detail::kOnes * static_cast<uint8_t>(a);
    const uint64_t wb = detail::kOnes * static_cast<uint8_t>(b);
    for (; i + 16 <= n; i += 16) {
        size_t k = detail::firstMatch8(detail::load64(p + i), wa, wb);
        if (k < 8) return i + k;
        k = detail::firstMatch8(detail::load64(p + i + 8), wa, wb);
        if (k < 8) return i + 8 + k;
    }
#endif
    if (i + 8 <= n) {
        size_t k = detail::firstMatch8(detail::load64(p + i), detail::kOnes * static_cast<uint8_t>(a),
                                       detail::kOnes * static_cast<uint8_t>(b));
        if (k < 8) return i + k;
        i += 8;
    }
    for (; i < n; ++i)
        if (p[i] == a || p[i] == b) return i;
    return n;
}

}  // namespace rowkit::bytes
