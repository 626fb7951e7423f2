// Vectorised byte searches.
//
// Each kernel is written once over an instruction set V (simd/native.hpp)
// and uses the compiled one, simd::Native, by default. A search walks whole
// blocks of V, then (when V's blocks are wider) one 8-byte word of the
// portable set, then single bytes. Loads never read outside [p, p + n).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "simd/native.hpp"

namespace rowkit::bytes {

namespace detail {

// The lanes of the block of set S at `at` equal to any of the needles.
template <class S, class... More>
inline typename S::Block matchAny(const char *at, char needle, More... more) {
    const typename S::Block block = S::load(at);
    typename S::Block m = S::equal(block, S::splat(needle));
    ((m = S::bitOr(m, S::equal(block, S::splat(more)))), ...);
    return m;
}

// Index of the first byte of p[0..n) equal to any of the needles, or n.
// Always inlined, like the searches built on it: they run in the readers'
// inner loops, where a call would cost more than a short search.
template <class V, class... Needles>
[[gnu::always_inline]] inline size_t findFirstOf(const char *p, size_t n, Needles... needles) {
    size_t i = 0;
    for (; i + V::kBlockBytes <= n; i += V::kBlockBytes) {
        const typename V::Block m = matchAny<V>(p + i, needles...);
        if (V::any(m)) return i + V::firstLane(m);
    }
    using Word = simd::Scalar;
    if (V::kBlockBytes > Word::kBlockBytes && i + Word::kBlockBytes <= n) {
        const Word::Block m = matchAny<Word>(p + i, needles...);
        if (Word::any(m)) return i + Word::firstLane(m);
        i += Word::kBlockBytes;
    }
    for (; i < n; ++i)
        if (((p[i] == needles) || ...)) return i;
    return n;
}

}  // namespace detail

// Index of the first byte equal to `c` in p[0..n), or n when there is none.
template <class V = simd::Native>
[[gnu::always_inline]] inline size_t findByte(const char *p, size_t n, char c) {
    return detail::findFirstOf<V>(p, n, c);
}

// Index of the first byte equal to `a` or `b` in p[0..n), or n.
template <class V = simd::Native>
[[gnu::always_inline]] inline size_t findEither(const char *p, size_t n, char a, char b) {
    return detail::findFirstOf<V>(p, n, a, b);
}

// Whether p[0..n) holds the byte `c`: two blocks at a time with one test of
// the masks combined, then one block, one 8-byte word and single bytes.
template <class V = simd::Native>
inline bool containsByte(const char *p, size_t n, char c) {
    const typename V::Block needle = V::splat(c);
    size_t i = 0;
    for (; i + 2 * V::kBlockBytes <= n; i += 2 * V::kBlockBytes) {
        const typename V::Block m = V::bitOr(V::equal(V::load(p + i), needle),
                                             V::equal(V::load(p + i + V::kBlockBytes), needle));
        if (V::any(m)) return true;
    }
    if (i + V::kBlockBytes <= n) {
        if (V::any(V::equal(V::load(p + i), needle))) return true;
        i += V::kBlockBytes;
    }
    using Word = simd::Scalar;
    if (V::kBlockBytes > Word::kBlockBytes && i + Word::kBlockBytes <= n) {
        if (Word::any(detail::matchAny<Word>(p + i, c))) return true;
        i += Word::kBlockBytes;
    }
    for (; i < n; ++i)
        if (p[i] == c) return true;
    return false;
}

// The block masks of the CSV line splitter, always with the compiled set:
// one 16-byte block or two 8-byte words, unrolled into straight-line code.
static_assert(16 % simd::Native::kBlockBytes == 0);

// A 16-bit mask with bit i set when p[i] == c, for i in [0, 16). Reads
// exactly the 16 bytes at p.
inline uint32_t matchMask16(const char *p, char c) {
    using V = simd::Native;
    uint32_t mask = 0;
#pragma GCC unroll 2
    for (size_t k = 0; k < 16; k += V::kBlockBytes)
        mask |= V::movemask(V::equal(V::load(p + k), V::splat(c))) << k;
    return mask;
}

// Masks of the bytes equal to `a` and to `b` among the 16 bytes at p, from
// one load of each block.
inline void matchMasks16(const char *p, char a, char b, uint32_t *mask_a, uint32_t *mask_b) {
    using V = simd::Native;
    uint32_t ma = 0, mb = 0;
#pragma GCC unroll 2
    for (size_t k = 0; k < 16; k += V::kBlockBytes) {
        const V::Block block = V::load(p + k);
        ma |= V::movemask(V::equal(block, V::splat(a))) << k;
        mb |= V::movemask(V::equal(block, V::splat(b))) << k;
    }
    *mask_a = ma;
    *mask_b = mb;
}

// The same for the n < 16 bytes at p: bits at and past n are clear. Reads
// only p[0..n).
inline uint32_t matchMaskPartial(const char *p, size_t n, char c) {
    char tmp[16] = {};
    if (n) std::memcpy(tmp, p, n);
    return matchMask16(tmp, c) & ((1u << n) - 1u);
}

}  // namespace rowkit::bytes
