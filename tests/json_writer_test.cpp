// The JSON text rule, byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>

#include "alloc.hpp"
#include "json_value.hpp"
#include "json_writer.hpp"
#include "utf8.hpp"

using namespace rowkit;

static std::string text(std::string_view s) {
    ByteBuf out;
    EXPECT_TRUE(writeJsonText(out, s).ok());
    return std::string(view(out));
}

TEST(JsonWriter, EscapesOnlyWhatJsonRequires) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"\\ / \b\f\n\r\t\"", "\"\\\\ / \\b\\f\\n\\r\\t\\\"\""},
        {std::string_view("\0\x0b\x1b\x1f\x7f", 5), "\"\\u0000\\u000b\\u001b\\u001f\x7f\""},
        {"h\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "\"h\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80\""},
        // Text that is not UTF-8 becomes its bytes.
        {"", "\"\""}, {"\xff", "[255]"}, {"a\xc0\xaf", "[97,192,175]"},
        {"\xe0\x80\xaf", "[224,128,175]"}, {"\xed\xa0\x80", "[237,160,128]"}};
    for (auto [in, out] : cases)
        EXPECT_EQ(text(in), out) << testing::PrintToString(std::string(in));
    // Every escaped string reads back to the same bytes.
    std::string all;
    for (int b = 0; b < 128; ++b) all += static_cast<char>(b);
    auto tree = parseJsonTree(text(all));
    ASSERT_TRUE(tree.ok()) << text(all);
    EXPECT_EQ(tree->root().text, all);
}

// The word-at-a-time paths against the rule applied byte by byte: every
// length up to 40, every alignment, one byte that needs attention at every
// position, alone and in arrays.
TEST(JsonWriter, WordPathsMatchTheByteRule) {
    auto reference = [](std::string_view s) {
        std::string out;
        if (!isValidUtf8(s)) {
            for (unsigned char b : s)
                out += (out.empty() ? "[" : ",") + std::to_string(b);
            return out.empty() ? std::string("[]") : out + "]";
        }
        static const char *kShort[] = {"b", "t", "n", nullptr, "f", "r"};
        out = "\"";
        for (unsigned char b : s) {
            if (b == '"' || b == '\\')
                out += std::string("\\") + static_cast<char>(b);
            else if (b >= 8 && b <= 13 && kShort[b - 8])
                out += std::string("\\") + kShort[b - 8];
            else if (b < 0x20)
                out += "\\u00" + std::string(1, "0123456789abcdef"[b >> 4]) +
                       "0123456789abcdef"[b & 15];
            else
                out += static_cast<char>(b);
        }
        return out + "\"";
    };
    const std::string specials[] = {"\"",   "\\",   std::string(1, '\0'), "\x1f", "\n", " ",
                                    "\x7f", "\x80", "\xc3\xa9",           "\xff", "!",  "~"};
    std::string buffer(64, 'x');
    for (size_t align = 0; align < 8; ++align) {
        for (size_t len = 0; len <= 40; ++len) {
            for (size_t pos = 0; pos < len; pos += (len > 20 ? 3 : 1)) {
                for (const std::string &special : specials) {
                    std::string text(len, 'a' + static_cast<char>(len % 26));
                    text.replace(pos, std::min(special.size(), len - pos),
                                 special.substr(0, len - pos));
                    std::copy(text.begin(), text.end(),
                              buffer.begin() + static_cast<std::ptrdiff_t>(align));
                    const std::string_view in(buffer.data() + align, text.size());
                    const std::string_view pair[] = {in, std::string_view(text).substr(0, pos)};
                    ByteBuf one, array;
                    ASSERT_TRUE(writeJsonText(one, in).ok() &&
                                writeJsonTextArray(array, pair).ok());
                    ASSERT_EQ(view(one), reference(in)) << testing::PrintToString(text);
                    ASSERT_EQ(view(array), "[" + reference(in) + "," + reference(pair[1]) + "]")
                        << testing::PrintToString(text);
                }
            }
        }
    }
    ByteBuf empty;
    ASSERT_TRUE(writeJsonTextArray(empty, {}).ok());
    EXPECT_EQ(view(empty), "[]");
}
