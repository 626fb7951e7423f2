// UTF-8 checks shared by the validator (text length) and the JSON texts the
// library reads and writes.
//
// Valid UTF-8 here is the strict form: no overlong encodings, no encoded
// surrogates (U+D800..U+DFFF), nothing above U+10FFFF, no stray continuation
// bytes and no sequence cut off by the end of the text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

namespace rowkit {

// Bytes of the valid multi-byte sequence at p[0..avail), p[0] >= 0x80; 0
// when the bytes there are not one.
size_t utf8SequenceLength(const unsigned char *p, size_t avail);

// The number of code points of `text`, or nothing when it is not valid UTF-8.
std::optional<size_t> utf8CodePoints(std::string_view text);

// Whether every byte of `text` is below 0x80: the bytes OR-ed together
// eight at a time, for the short texts of fields.
inline bool isAscii(std::string_view text) {
    const char *p = text.data();
    size_t n = text.size();
    uint64_t any = 0;
    for (; n >= 8; p += 8, n -= 8) {
        uint64_t w;
        std::memcpy(&w, p, 8);
        any |= w;
    }
    if (n >= 4) {
        uint32_t w;
        std::memcpy(&w, p, 4);
        any |= w;
        p += 4;
        n -= 4;
    }
    for (; n > 0; ++p, --n) any |= static_cast<unsigned char>(*p);
    return (any & 0x8080808080808080ull) == 0;
}

inline bool isValidUtf8(std::string_view text) {
    return isAscii(text) || utf8CodePoints(text).has_value();
}

// Writes code point `cp` (at most U+10FFFF, not a surrogate) to `out` and
// returns the number of bytes written (1 to 4).
size_t encodeUtf8(uint32_t cp, char *out);

}  // namespace rowkit
