#include "json_simd.hpp"

#include "utf8.hpp"

#include <cstring>

namespace rowkit::json {

namespace {

// Token type of each byte; unknown for the bytes that are not structural.
struct TypeTable {
    TokenType of[256];
    constexpr TypeTable() : of() {
        for (TokenType &t : of) t = TokenType::unknown;
        of[static_cast<unsigned char>('{')] = TokenType::open_brace;
        of[static_cast<unsigned char>('}')] = TokenType::close_brace;
        of[static_cast<unsigned char>('[')] = TokenType::open_bracket;
        of[static_cast<unsigned char>(']')] = TokenType::close_bracket;
        of[static_cast<unsigned char>('"')] = TokenType::quote;
        of[static_cast<unsigned char>(':')] = TokenType::colon;
        of[static_cast<unsigned char>(',')] = TokenType::comma;
    }
};
constexpr TypeTable kTypes;

inline TokenType typeOf(char c) { return kTypes.of[static_cast<unsigned char>(c)]; }

// The 16-bit mask of the structural bytes among the 16 bytes at p (bit i for
// p[i]). '{' and '[' differ only in bit 0x20, as do '}' and ']', so setting
// that bit first lets one compare cover each pair.
inline uint32_t structuralMask16(const char *p) {
#if ROWKIT_SIMD_SSE2
    __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    __m128i folded = _mm_or_si128(b, _mm_set1_epi8(0x20));
    __m128i m = _mm_or_si128(_mm_cmpeq_epi8(folded, _mm_set1_epi8('{')),
                             _mm_cmpeq_epi8(folded, _mm_set1_epi8('}')));
    m = _mm_or_si128(m, _mm_cmpeq_epi8(b, _mm_set1_epi8('"')));
    m = _mm_or_si128(m, _mm_cmpeq_epi8(b, _mm_set1_epi8(':')));
    m = _mm_or_si128(m, _mm_cmpeq_epi8(b, _mm_set1_epi8(',')));
    return static_cast<uint32_t>(_mm_movemask_epi8(m));
#elif ROWKIT_SIMD_NEON
    uint8x16_t b = vld1q_u8(reinterpret_cast<const uint8_t *>(p));
    uint8x16_t folded = vorrq_u8(b, vdupq_n_u8(0x20));
    uint8x16_t m = vorrq_u8(vceqq_u8(folded, vdupq_n_u8('{')), vceqq_u8(folded, vdupq_n_u8('}')));
    m = vorrq_u8(m, vceqq_u8(b, vdupq_n_u8('"')));
    m = vorrq_u8(m, vceqq_u8(b, vdupq_n_u8(':')));
    m = vorrq_u8(m, vceqq_u8(b, vdupq_n_u8(',')));
    static const uint8_t kBits[16] = {1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};
    uint8x16_t bits = vandq_u8(m, vld1q_u8(kBits));
    return static_cast<uint32_t>(vaddv_u8(vget_low_u8(bits))) |
           (static_cast<uint32_t>(vaddv_u8(vget_high_u8(bits))) << 8);
#else
    // SWAR over two 8-byte words; the high bit of each matching byte is
    // gathered into one byte per word by a multiply.
    using bytes::detail::kOnes;
    using bytes::detail::zeroBytes;
    constexpr uint64_t kGather = 0x0102040810204080ull;
    uint32_t mask = 0;
    for (int half = 0; half < 2; ++half) {
        uint64_t w = bytes::detail::load64(p + 8 * half);
        uint64_t folded = w | (kOnes * 0x20);
        uint64_t m = zeroBytes(folded ^ (kOnes * '{')) | zeroBytes(folded ^ (kOnes * '}')) |
                     zeroBytes(w ^ (kOnes * '"')) | zeroBytes(w ^ (kOnes * ':')) |
                     zeroBytes(w ^ (kOnes * ','));
        mask |= static_cast<uint32_t>(((m >> 7) * kGather) >> 56) << (8 * half);
    }
    return mask;
#endif
}

// Whether any of the 16 bytes at p is a backslash.
inline bool hasBackslash16(const char *p) {
#if ROWKIT_SIMD_SSE2
    __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    return _mm_movemask_epi8(_mm_cmpeq_epi8(b, _mm_set1_epi8('\\'))) != 0;
#elif ROWKIT_SIMD_NEON
    uint8x16_t b = vld1q_u8(reinterpret_cast<const uint8_t *>(p));
    return vmaxvq_u8(vceqq_u8(b, vdupq_n_u8('\\'))) != 0;
#else
    const uint64_t a = bytes::detail::kOnes * '\\';
    return (bytes::detail::zeroBytes(bytes::detail::load64(p) ^ a) |
            bytes::detail::zeroBytes(bytes::detail::load64(p + 8) ^ a)) != 0;
#endif
}

// The same for the 32 bytes at p, from two blocks combined.
inline bool hasBackslash32(const char *p) {
#if ROWKIT_SIMD_SSE2
    const __m128i bs = _mm_set1_epi8('\\');
    __m128i b0 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    __m128i b1 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 16));
    return _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(b0, bs), _mm_cmpeq_epi8(b1, bs))) != 0;
#elif ROWKIT_SIMD_NEON
    const uint8x16_t bs = vdupq_n_u8('\\');
    uint8x16_t b0 = vld1q_u8(reinterpret_cast<const uint8_t *>(p));
    uint8x16_t b1 = vld1q_u8(reinterpret_cast<const uint8_t *>(p + 16));
    return vmaxvq_u8(vorrq_u8(vceqq_u8(b0, bs), vceqq_u8(b1, bs))) != 0;
#else
    return hasBackslash16(p) || hasBackslash16(p + 16);
#endif
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Four hexadecimal digits at p.
bool parseHex4(const char *p, uint32_t *out) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
        int d = hexDigit(p[i]);
        if (d < 0) return false;
        v = (v << 4) | static_cast<uint32_t>(d);
    }
    *out = v;
    return true;
}


}  // namespace

const char *kernelName() { return bytes::kernelName(); }

size_t findJsonStructure(std::string_view text, Token *tokens) {
    const char *p = text.data();
    const size_t n = text.size();
    size_t count = 0;
    size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        uint32_t mask = structuralMask16(p + i);
        while (mask) {
            size_t at = i + static_cast<size_t>(__builtin_ctz(mask));
            tokens[count].pos = at;
            tokens[count].type = typeOf(p[at]);
            if (++count == kMaxTokens) return count;
            mask &= mask - 1;
        }
    }
    for (; i < n; ++i) {
        TokenType t = typeOf(p[i]);
        if (t == TokenType::unknown) continue;
        tokens[count].pos = i;
        tokens[count].type = t;
        if (++count == kMaxTokens) return count;
    }
    return count;
}

std::optional<size_t> findStringEnd(std::string_view text, size_t start) {
    const char *p = text.data();
    const size_t n = text.size();
    size_t i = start;
    while (i < n) {
        i += bytes::findEither(p + i, n - i, '"', '\\');
        if (i >= n) break;
        if (p[i] == '"') return i;
        i += 2;  // the backslash and the byte it escapes
    }
    return std::nullopt;
}

std::optional<size_t> findStringEndFromTokens(std::string_view text, const Token *tokens,
                                              size_t n_tokens, size_t token_start,
                                              size_t string_start) {
    if (token_start + 1 < n_tokens) {
        const Token &t = tokens[token_start + 1];
        if (t.type == TokenType::quote && !isEscapedAt(text, t.pos)) return t.pos;
    }
    return findStringEnd(text, string_start);
}

bool hasJsonEscape(std::string_view s) {
    const char *p = s.data();
    const size_t n = s.size();
    size_t i = 0;
    for (; i + 32 <= n; i += 32)
        if (hasBackslash32(p + i)) return true;
    if (i + 16 <= n) {
        if (hasBackslash16(p + i)) return true;
        i += 16;
    }
    if (i + 8 <= n) {
        if (bytes::detail::zeroBytes(bytes::detail::load64(p + i) ^ (bytes::detail::kOnes * '\\')))
            return true;
        i += 8;
    }
    for (; i < n; ++i)
        if (p[i] == '\\') return true;
    return false;
}

Result<size_t> decodeJsonString(std::string_view s, char *out) {
    const char *p = s.data();
    const size_t n = s.size();
    size_t i = 0;
    size_t o = 0;
    for (;;) {
        size_t k = bytes::findByte(p + i, n - i, '\\');
        if (k) std::memcpy(out + o, p + i, k);
        o += k;
        i += k;
        if (i >= n) return o;
        if (i + 1 >= n) return Error::InvalidEscape;
        char c = p[i + 1];
        char plain;
        switch (c) {
            case '"': plain = '"'; break;
            case '\\': plain = '\\'; break;
            case '/': plain = '/'; break;
            case 'b': plain = '\b'; break;
            case 'f': plain = '\f'; break;
            case 'n': plain = '\n'; break;
            case 'r': plain = '\r'; break;
            case 't': plain = '\t'; break;
            case 'u': {
                uint32_t cp;
                if (n - i < 6 || !parseHex4(p + i + 2, &cp)) return Error::InvalidUnicodeEscape;
                size_t used = 6;
                if (cp >= 0xD800 && cp <= 0xDBFF) {
                    uint32_t low;
                    if (n - i < 12 || p[i + 6] != '\\' || p[i + 7] != 'u' ||
                        !parseHex4(p + i + 8, &low) || low < 0xDC00 || low > 0xDFFF)
                        return Error::InvalidUnicodeEscape;
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    used = 12;
                } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
                    return Error::InvalidUnicodeEscape;
                }
                o += encodeUtf8(cp, out + o);
                i += used;
                continue;
            }
            default: return Error::InvalidEscape;
        }
        out[o++] = plain;
        i += 2;
    }
}

Result<std::string_view> decodeOwnedJsonString(std::string_view s, Arena &arena) {
    if (s.empty()) return std::string_view();
    char *out = static_cast<char *>(arena.alloc(s.size(), 1));
    if (!out) return Error::OutOfMemory;
    auto n = decodeJsonString(s, out);
    if (!n.ok()) return n.error();
    return std::string_view(out, *n);
}

}  // namespace rowkit::json
