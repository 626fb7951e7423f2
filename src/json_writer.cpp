#include "json_writer.hpp"

#include <charconv>
#include <cstring>

#include "utf8.hpp"

namespace rowkit {

namespace {

// The escape of each byte below 0x20 and of '"' and '\'; null for bytes
// written as they are.
struct EscapeTable {
    char text[128][7] = {};
    constexpr EscapeTable() {
        constexpr char kHex[] = "0123456789abcdef";
        for (int b = 0; b < 0x20; ++b) {
            char *e = text[b];
            e[0] = '\\';
            e[1] = 'u';
            e[2] = '0';
            e[3] = '0';
            e[4] = kHex[b >> 4];
            e[5] = kHex[b & 15];
        }
        auto shortEscape = [this](int b, char letter) {
            text[b][0] = '\\';
            text[b][1] = letter;
            text[b][2] = 0;
        };
        shortEscape('\b', 'b');
        shortEscape('\f', 'f');
        shortEscape('\n', 'n');
        shortEscape('\r', 'r');
        shortEscape('\t', 't');
        shortEscape('"', '"');
        shortEscape('\\', '\\');
    }
};
constexpr EscapeTable kEscapes;

bool needsEscape(unsigned char b) { return b < 0x20 || b == '"' || b == '\\'; }

constexpr uint64_t kOnes = 0x0101010101010101ull;
constexpr uint64_t kHighs = 0x8080808080808080ull;

// The high bit of some byte is set when a byte of `w` is zero (exact as to
// whether there is one, not as to which).
constexpr uint64_t zeroBytes(uint64_t w) { return (w - kOnes) & ~w & kHighs; }

// Non-zero when one of the eight bytes of `w` needs an escape.
constexpr uint64_t escapeBytes(uint64_t w) {
    return ((w - kOnes * 0x20) & ~w & kHighs) | zeroBytes(w ^ (kOnes * '"')) |
           zeroBytes(w ^ (kOnes * '\\'));
}

// Non-zero when one of the eight bytes of `w` needs an escape or is not
// ASCII. When no byte has its high bit set, a borrow can start only at a
// byte below 0x20 (or at a quote or backslash after the XOR) and sets the
// high bit of that byte, so the test is exact; any other word has a high
// bit set anyway.
constexpr uint64_t attentionBytes(uint64_t w) {
    return (w | (w - kOnes * 0x20) | ((w ^ (kOnes * '"')) - kOnes) |
            ((w ^ (kOnes * '\\')) - kOnes)) & kHighs;
}

inline uint64_t load8(const char *p) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    return w;
}

inline void store8(char *p, uint64_t w) { std::memcpy(p, &w, 8); }

// Writes `text` in quotes at `to`, which has room for it, and returns the
// end, when the text is ASCII without a byte that needs an escape: a JSON
// string as it stands. Otherwise returns null, having written bytes at `to`
// that the caller writes over. The bytes are checked while they are copied,
// eight at a time; the last word may overlap the one before, and shorter
// texts are checked as one word padded with plain bytes.
[[gnu::always_inline]] inline char *putIfPlain(char *to, std::string_view text) {
    const char *p = text.data();
    const size_t n = text.size();
    char *d = to + 1;
    *to = '"';
    uint64_t attention;
    if (n >= 8) {
        attention = 0;
        size_t i = 0;
        for (; i + 8 <= n; i += 8) {
            const uint64_t w = load8(p + i);
            attention |= attentionBytes(w);
            store8(d + i, w);
        }
        if (i < n) {
            const uint64_t w = load8(p + n - 8);
            attention |= attentionBytes(w);
            store8(d + n - 8, w);
        }
    } else if (n >= 4) {
        uint32_t a, b;
        std::memcpy(&a, p, 4);
        std::memcpy(&b, p + n - 4, 4);
        std::memcpy(d, &a, 4);
        std::memcpy(d + n - 4, &b, 4);
        attention = attentionBytes(a | static_cast<uint64_t>(b) << 32);
    } else {
        uint64_t w = kOnes * 'a';
        if (n > 0) {
            const auto first = static_cast<unsigned char>(p[0]);
            const auto middle = static_cast<unsigned char>(p[n / 2]);
            const auto last = static_cast<unsigned char>(p[n - 1]);
            d[0] = static_cast<char>(first);
            d[n / 2] = static_cast<char>(middle);
            d[n - 1] = static_cast<char>(last);
            w = (w << 24) | first | static_cast<uint64_t>(middle) << 8 |
                static_cast<uint64_t>(last) << 16;
        }
        attention = attentionBytes(w);
    }
    if (attention) return nullptr;
    d[n] = '"';
    return d + n + 1;
}

// Appends `s`; the pieces of a JSON text are short, so they are copied
// inline rather than by a library call.
inline Status put(ByteBuf &out, std::string_view s) {
    if (!out.reserveMore(s.size())) return Error::OutOfMemory;
    copyBytes(out.end(), s.data(), s.size());
    out.commit(s.size());
    return Status();
}

Status writeByteArray(ByteBuf &out, std::string_view text) {
    // At most four bytes per value ("255,").
    if (!out.reserveMore(text.size() * 4 + 2)) return Error::OutOfMemory;
    ROWKIT_TRY(put(out, "["));
    for (size_t i = 0; i < text.size(); ++i) {
        if (i) ROWKIT_TRY(put(out, ","));
        ROWKIT_TRY(writeJsonUnsigned(out, static_cast<unsigned char>(text[i])));
    }
    return put(out, "]");
}

}  // namespace

Status writeJsonString(ByteBuf &out, std::string_view text) {
    ROWKIT_TRY(put(out, "\""));
    const size_t n = text.size();
    size_t run = 0;  // start of the bytes not yet written
    size_t i = 0;
    while (i < n) {
        // Eight bytes at a time past those that need nothing.
        if (i + 8 <= n && escapeBytes(load8(text.data() + i)) == 0) {
            i += 8;
            continue;
        }
        const auto b = static_cast<unsigned char>(text[i]);
        if (needsEscape(b)) {
            ROWKIT_TRY(put(out, text.substr(run, i - run)));
            ROWKIT_TRY(put(out, kEscapes.text[b]));
            run = i + 1;
        }
        ++i;
    }
    ROWKIT_TRY(put(out, text.substr(run)));
    return put(out, "\"");
}

Status writeJsonText(ByteBuf &out, std::string_view text) {
    if (!out.reserveMore(text.size() + 2)) return Error::OutOfMemory;
    if (char *end = putIfPlain(out.end(), text)) {
        out.commit(static_cast<size_t>(end - out.end()));
        return Status();
    }
    if (!isValidUtf8(text)) return writeByteArray(out, text);
    return writeJsonString(out, text);
}

Status writeJsonUnsigned(ByteBuf &out, uint64_t value) {
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, value);
    return put(out, std::string_view(buf, static_cast<size_t>(r.ptr - buf)));
}

Status writeJsonTextArray(ByteBuf &out, std::span<const std::string_view> texts) {
    // Room for the whole array when every text is plain: its bytes, two
    // quotes and a comma each, and the brackets. (Texts in memory cannot
    // add up to an overflow.) A text that is not plain is written by
    // writeJsonText, and room for the rest is made again.
    size_t room = 2;
    for (std::string_view t : texts) room += t.size() + 3;
    if (!out.reserveMore(room)) return Error::OutOfMemory;
    char *to = out.end();
    *to++ = '[';
    for (size_t i = 0; i < texts.size(); ++i) {
        if (i) *to++ = ',';
        if (char *end = putIfPlain(to, texts[i])) [[likely]] {
            to = end;
            continue;
        }
        out.commit(static_cast<size_t>(to - out.end()));
        ROWKIT_TRY(writeJsonText(out, texts[i]));
        room = 2;
        for (size_t k = i + 1; k < texts.size(); ++k) room += texts[k].size() + 3;
        if (!out.reserveMore(room)) return Error::OutOfMemory;
        to = out.end();
    }
    *to++ = ']';
    out.commit(static_cast<size_t>(to - out.end()));
    return Status();
}

Status writeJsonRaw(ByteBuf &out, std::string_view raw) {
    return put(out, raw);
}

}  // namespace rowkit
