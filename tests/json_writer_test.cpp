// The JSON text rule and the report writer, byte for byte.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
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
        {"", "\"\""}, {"\xff", "[255]"}, {"a\xc0\xaf", "[97,192,175]"}, {"\xed\xa0\x80", "[237,160,128]"}};
    for (auto [in, out] : cases) EXPECT_EQ(text(in), out) << testing::PrintToString(std::string(in));
    // Every escaped string reads back to the same bytes.
    std::string all;
    for (int b = 0; b < 128; ++b) all += static_cast<char>(b);
    auto tree = parseJsonTree(text(all));
    EXPECT_TRUE(tree.ok() && tree->root().text == all) << text(all);
}

// Counts too large for any file, a column name that needs escaping, and
// every allocation failing in turn.
TEST(JsonWriter, ReportWithLargeCountsAwkwardNamesAndAllocationFailures) {
    Report r;
    std::tie(r.rows_total, r.rows_valid, r.rows_invalid, r.errors_total, r.truncated) =
        std::make_tuple(18446744073709551615ull, 1, 2, 12, true);
    r.counts[static_cast<size_t>(ErrorKind::not_in_set)] = 10;
    r.counts[static_cast<size_t>(ErrorKind::too_few_fields)] = 2;
    ASSERT_TRUE(r.errors.push(RowError{9, size_t{0}, "n\"m", "\xfe", ErrorKind::not_in_set}));
    ASSERT_TRUE(r.errors.push(RowError{7, std::nullopt, "", "", ErrorKind::too_few_fields}));
    bool done = false;
    for (uint64_t nth = 1; nth < 20 && !done; ++nth) {
        ByteBuf out;
        alloc_hook::failAt(nth);
        Status s = writeReportJson(out, r);
        alloc_hook::reset();
        ASSERT_TRUE((done = s.ok()) || s.error() == Error::OutOfMemory) << nth;
        if (!done) continue;
        EXPECT_EQ(view(out), R"({"rows_total":18446744073709551615,"rows_valid":1,"rows_invalid":2,)"
                             R"("errors_total":12,"truncated":true,"counts":{"too_few_fields":2,"not_in_set":10},)"
                             R"("errors":[{"row":9,"column":0,"column_name":"n\"m","rule":"not_in_set","value":[254]},)"
                             R"({"row":7,"column":null,"column_name":"","rule":"too_few_fields","value":""}]})");
    }
    EXPECT_TRUE(done);
}
