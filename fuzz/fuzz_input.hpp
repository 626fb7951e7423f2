// What every fuzz target shares: the parameter bytes at the front of an
// input, and the check that stops the run with a message.
//
// An input is a few parameter bytes (chunk size, column bound, limits, ...)
// followed by the text itself. Parameters are taken from the front so that
// the seed writer can put a readable text after a fixed-size prefix; an
// input shorter than the prefix reads zeros for the missing bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>

namespace rowkit_fuzz {

class ParamReader {
public:
    ParamReader(const uint8_t *data, size_t size) : p_(data), n_(size) {}

    uint8_t byte() {
        if (n_ == 0) return 0;
        --n_;
        return *p_++;
    }
    uint16_t u16() { return static_cast<uint16_t>(byte() | byte() << 8); }

    // Chunk sizes from 1 to 64 KiB, small ones (1..128, where every chunk
    // boundary falls inside some line) half of the time.
    size_t chunkSize() {
        uint8_t b = byte();
        uint16_t wide = u16();
        if (b & 0x80) return 1 + (b & 0x7f);
        return 1 + static_cast<size_t>(wide);
    }
    // 0 means none; otherwise the value minus one.
    std::optional<size_t> optionalSmall() {
        uint8_t b = byte();
        if (b == 0) return std::nullopt;
        return static_cast<size_t>(b - 1);
    }

    std::string_view rest() const { return std::string_view(reinterpret_cast<const char *>(p_), n_); }

private:
    const uint8_t *p_;
    size_t n_;
};

// Parameter bytes of each target, so that seeds can be written for them.
inline constexpr size_t kCsvParamBytes = 8;     // chunk(3) stop record-bytes fields delimiter rows-before-count
inline constexpr size_t kNdjsonParamBytes = 8;  // chunk(3) stop record-bytes fields array rows-before-count
inline constexpr size_t kJsonObjectParamBytes = 1;  // wanted columns

[[noreturn]] inline void fail(const char *what, const char *file, int line) {
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
    std::abort();
}

}  // namespace rowkit_fuzz

#define FUZZ_CHECK(cond) \
    ((cond) ? (void)0 : ::rowkit_fuzz::fail(#cond, __FILE__, __LINE__))
