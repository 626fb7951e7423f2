// The JSON text rule, byte for byte.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "alloc.hpp"
#include "json_value.hpp"
#include "json_writer.hpp"

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
