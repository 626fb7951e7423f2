// The portable instruction set: SWAR ("SIMD within a register") over 64-bit
// words, one word per block. It is the compiled set where no vector unit is
// selected (or ROWKIT_SCALAR forces it), and every set's kernels use it for
// the last 8 bytes after their whole blocks. The operations are those listed
// in native.hpp.
//
// A mask block has the high bit set in each byte that matched and nothing
// else, found exactly: no false positives from carries between bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace rowkit::simd {

struct Scalar {
    using Block = uint64_t;
    static constexpr const char *kName = "scalar";
    static constexpr size_t kBlockBytes = 8;
    static constexpr size_t kMaxCountBlocks = 255;
    static constexpr uint64_t kOnes = 0x0101010101010101ull;
    static constexpr uint64_t kHighs = 0x8080808080808080ull;

    static Block load(const char *p) {
        uint64_t v;
        std::memcpy(&v, p, 8);
        return v;
    }
    static Block splat(char c) { return kOnes * static_cast<uint8_t>(c); }
    static Block bitOr(Block a, Block b) { return a | b; }
    static Block equal(Block a, Block b) {
        uint64_t v = a ^ b;
        return ~(((v & ~kHighs) + ~kHighs) | v) & kHighs;
    }
    static bool any(Block m) { return m != 0; }
    static size_t firstLane(Block m) { return static_cast<size_t>(__builtin_ctzll(m) >> 3); }
    // The high bits gathered into the top byte by a multiply.
    static uint32_t movemask(Block m) {
        return static_cast<uint32_t>(((m >> 7) * 0x0102040810204080ull) >> 56);
    }

    static Block zeroCounts() { return 0; }
    static Block countMatches(Block counts, Block m) { return counts + (m >> 7); }
    // The byte lanes added pairwise into 16-bit lanes (at most 2 * 255
    // each), then one multiply adds those into the top 16 bits.
    static size_t sumCounts(Block counts) {
        constexpr uint64_t kEven = 0x00FF00FF00FF00FFull;
        uint64_t pairs = (counts & kEven) + ((counts >> 8) & kEven);
        return static_cast<size_t>((pairs * 0x0001000100010001ull) >> 48);
    }
};

}  // namespace rowkit::simd
