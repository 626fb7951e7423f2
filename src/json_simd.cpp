#include "json_simd.hpp"

#include "utf8.hpp"

#include <cstring>

namespace rowkit::json {

namespace {

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

size_t findJsonStructure(std::string_view text, Token *tokens) {
    return findJsonStructureWith<simd::Native>(text, tokens);
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

bool hasJsonEscape(std::string_view s) { return bytes::containsByte(s.data(), s.size(), '\\'); }

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
