// The NEON instruction set of AArch64: 16-byte blocks in one register. A mask
// block holds 0xFF in the lanes that matched, 0 elsewhere. The operations
// are those listed in native.hpp.
#pragma once

#include <arm_neon.h>

#include <cstddef>
#include <cstdint>

namespace rowkit::simd {

struct Neon {
    using Block = uint8x16_t;
    static constexpr const char *kName = "neon";
    static constexpr size_t kBlockBytes = 16;
    static constexpr size_t kMaxCountBlocks = 255;

    static Block load(const char *p) { return vld1q_u8(reinterpret_cast<const uint8_t *>(p)); }
    static Block splat(char c) { return vdupq_n_u8(static_cast<uint8_t>(c)); }
    static Block bitOr(Block a, Block b) { return vorrq_u8(a, b); }
    static Block equal(Block a, Block b) { return vceqq_u8(a, b); }
    // NEON has no movemask: each lane keeps its own bit, then the bytes of
    // each half are added.
    static uint32_t movemask(Block m) {
        static const uint8_t kBits[16] = {1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};
        uint8x16_t bits = vandq_u8(m, vld1q_u8(kBits));
        return static_cast<uint32_t>(vaddv_u8(vget_low_u8(bits))) |
               (static_cast<uint32_t>(vaddv_u8(vget_high_u8(bits))) << 8);
    }
    // The cheaper test and search: a 64-bit mask with 4 bits per lane, from
    // one narrowing shift.
    static uint64_t nibbleMask(Block m) {
        uint8x8_t narrowed = vshrn_n_u16(vreinterpretq_u16_u8(m), 4);
        return vget_lane_u64(vreinterpret_u64_u8(narrowed), 0);
    }
    static bool any(Block m) { return nibbleMask(m) != 0; }
    static size_t firstLane(Block m) {
        return static_cast<size_t>(__builtin_ctzll(nibbleMask(m)) >> 2);
    }

    static Block zeroCounts() { return vdupq_n_u8(0); }
    // A matching lane is 0xFF, that is -1: subtracting it adds 1.
    static Block countMatches(Block counts, Block m) { return vsubq_u8(counts, m); }
    static size_t sumCounts(Block counts) {
        // Pairwise widening adds fold the 16 lanes into two 64-bit sums.
        uint64x2_t sums = vpaddlq_u32(vpaddlq_u16(vpaddlq_u8(counts)));
        return static_cast<size_t>(vgetq_lane_u64(sums, 0) + vgetq_lane_u64(sums, 1));
    }
};

}  // namespace rowkit::simd
