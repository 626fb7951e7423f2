#include "json_writer.hpp"

#include <charconv>

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

Status put(ByteBuf &out, std::string_view s) {
    return appendView(out, s) ? Status() : Status(Error::OutOfMemory);
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
    size_t run = 0;  // start of the bytes not yet written
    for (size_t i = 0; i < text.size(); ++i) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (!needsEscape(b)) continue;
        ROWKIT_TRY(put(out, text.substr(run, i - run)));
        ROWKIT_TRY(put(out, kEscapes.text[b]));
        run = i + 1;
    }
    ROWKIT_TRY(put(out, text.substr(run)));
    return put(out, "\"");
}

Status writeJsonText(ByteBuf &out, std::string_view text) {
    if (!isValidUtf8(text)) return writeByteArray(out, text);
    return writeJsonString(out, text);
}

Status writeJsonUnsigned(ByteBuf &out, uint64_t value) {
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, value);
    return put(out, std::string_view(buf, static_cast<size_t>(r.ptr - buf)));
}

Status writeJsonTextArray(ByteBuf &out, std::span<const std::string_view> texts) {
    ROWKIT_TRY(put(out, "["));
    for (size_t i = 0; i < texts.size(); ++i) {
        if (i) ROWKIT_TRY(put(out, ","));
        ROWKIT_TRY(writeJsonText(out, texts[i]));
    }
    return put(out, "]");
}

Status writeJsonRaw(ByteBuf &out, std::string_view raw) {
    return put(out, raw);
}

}  // namespace rowkit
