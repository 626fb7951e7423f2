#include "utf8.hpp"

#include <cstring>

namespace rowkit {

size_t utf8SequenceLength(const unsigned char *p, size_t avail) {
    const unsigned char b0 = p[0];
    auto cont = [](unsigned char b) { return (b & 0xC0) == 0x80; };
    if (b0 >= 0xC2 && b0 <= 0xDF) return avail >= 2 && cont(p[1]) ? 2 : 0;
    if (b0 >= 0xE0 && b0 <= 0xEF) {
        if (avail < 3 || !cont(p[1]) || !cont(p[2])) return 0;
        if (b0 == 0xE0 && p[1] < 0xA0) return 0;  // overlong
        if (b0 == 0xED && p[1] >= 0xA0) return 0; // surrogate
        return 3;
    }
    if (b0 >= 0xF0 && b0 <= 0xF4) {
        if (avail < 4 || !cont(p[1]) || !cont(p[2]) || !cont(p[3])) return 0;
        if (b0 == 0xF0 && p[1] < 0x90) return 0;  // overlong
        if (b0 == 0xF4 && p[1] >= 0x90) return 0; // above U+10FFFF
        return 4;
    }
    return 0;  // continuation byte, C0/C1 (overlong) or F5..FF
}

std::optional<size_t> utf8CodePoints(std::string_view text) {
    const auto *p = reinterpret_cast<const unsigned char *>(text.data());
    const size_t n = text.size();
    size_t i = 0;
    size_t count = 0;
    while (i < n) {
        // Runs of ASCII go eight bytes at a time.
        while (i + 8 <= n) {
            uint64_t w;
            std::memcpy(&w, p + i, 8);
            if (w & 0x8080808080808080ull) break;
            i += 8;
            count += 8;
        }
        if (i >= n) break;
        if (p[i] < 0x80) {
            ++i;
            ++count;
            continue;
        }
        size_t len = utf8SequenceLength(p + i, n - i);
        if (len == 0) return std::nullopt;
        i += len;
        ++count;
    }
    return count;
}

size_t encodeUtf8(uint32_t cp, char *out) {
    if (cp < 0x80) {
        out[0] = static_cast<char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<char>(0xC0 | (cp >> 6));
        out[1] = static_cast<char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (cp >> 12));
        out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (cp >> 18));
    out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (cp & 0x3F));
    return 4;
}

}  // namespace rowkit
