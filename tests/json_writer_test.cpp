// The JSON text rule and the row-error and report writers, byte for byte.
#include <gtest/gtest.h>

#include <string>

#include "alloc.hpp"
#include "json_value.hpp"
#include "json_writer.hpp"

using namespace rowkit;

namespace {

std::string text(std::string_view s) {
    ByteBuf out;
    EXPECT_TRUE(writeJsonText(out, s).ok());
    return std::string(view(out));
}

}  // namespace

TEST(JsonWriter, EscapesOnlyWhatJsonRequires) {
    EXPECT_EQ(text(""), "\"\"");
    EXPECT_EQ(text("a\"b\nc"), "\"a\\\"b\\nc\"");
    EXPECT_EQ(text("a\"b\nc").size(), 9u);  // 7 characters between the quotes
    EXPECT_EQ(text("\\ / \b\f\n\r\t"), "\"\\\\ / \\b\\f\\n\\r\\t\"");
    EXPECT_EQ(text(std::string_view("\0\x01\x1f\x7f", 4)), "\"\\u0000\\u0001\\u001f\x7f\"");
    EXPECT_EQ(text("\x0b\x1b"), "\"\\u000b\\u001b\"");
    EXPECT_EQ(text("h\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"), "\"h\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80\"");
    // Text that is not UTF-8 becomes its bytes.
    EXPECT_EQ(text("\xff" "A"), "[255,65]");
    EXPECT_EQ(text("a\xc0\xaf"), "[97,192,175]");
    EXPECT_EQ(text("\xed\xa0\x80"), "[237,160,128]");
    // Every escaped string reads back to the same bytes.
    std::string all;
    for (int b = 0; b < 128; ++b) all.push_back(static_cast<char>(b));
    all += "\xc3\xa9";
    std::string written = text(all);
    auto tree = parseJsonTree(written);
    ASSERT_TRUE(tree.ok()) << written;
    EXPECT_EQ(tree->root().text, all);
}

TEST(JsonWriter, ErrorObjectsAndReport) {
    ByteBuf out;
    RowError e{3, size_t{1}, "age", "-4", ErrorKind::below_min};
    RowError count{7, std::nullopt, "", "", ErrorKind::too_many_fields};
    RowError odd{9, size_t{0}, "n\"m", "\xfe", ErrorKind::not_in_set};
    ASSERT_TRUE(writeErrorObject(out, e).ok());
    EXPECT_EQ(view(out), R"({"row":3,"column":1,"column_name":"age","rule":"below_min","value":"-4"})");
    out.clear();
    ASSERT_TRUE(writeErrorObject(out, count).ok());
    EXPECT_EQ(view(out), R"({"row":7,"column":null,"column_name":"","rule":"too_many_fields","value":""})");
    out.clear();
    ASSERT_TRUE(writeRowErrorsJson(out, {}).ok());
    EXPECT_EQ(view(out), "[]");
    out.clear();
    RowError list[] = {e, odd};
    ASSERT_TRUE(writeRowErrorsJson(out, list).ok());
    EXPECT_EQ(view(out), R"([{"row":3,"column":1,"column_name":"age","rule":"below_min","value":"-4"},)"
                         R"({"row":9,"column":0,"column_name":"n\"m","rule":"not_in_set","value":[254]}])");

    Report r;
    out.clear();
    ASSERT_TRUE(writeReportJson(out, r).ok());
    EXPECT_EQ(view(out), R"({"rows_total":0,"rows_valid":0,"rows_invalid":0,"errors_total":0,)"
                         R"("truncated":false,"counts":{},"errors":[]})");
    r.rows_total = 18446744073709551615ull;
    r.rows_valid = 1;
    r.rows_invalid = 2;
    r.errors_total = 12;
    r.truncated = true;
    r.counts[static_cast<size_t>(ErrorKind::not_in_set)] = 10;
    r.counts[static_cast<size_t>(ErrorKind::too_few_fields)] = 2;
    ASSERT_TRUE(r.errors.push(count));
    out.clear();
    ASSERT_TRUE(writeReportJson(out, r).ok());
    EXPECT_EQ(view(out), R"({"rows_total":18446744073709551615,"rows_valid":1,"rows_invalid":2,)"
                         R"("errors_total":12,"truncated":true,"counts":{"too_few_fields":2,"not_in_set":10},)"
                         R"("errors":[{"row":7,"column":null,"column_name":"","rule":"too_many_fields","value":""}]})");
}

TEST(JsonWriter, AllocationFailuresReportOutOfMemory) {
    RowError e{3, size_t{1}, "age", "a\nb\xff", ErrorKind::below_min};
    RowError list[] = {e, e, e};
    bool done = false;
    for (uint64_t nth = 1; nth < 20 && !done; ++nth) {
        ByteBuf out;
        alloc_hook::reset();
        alloc_hook::failAt(nth);
        Status s = writeRowErrorsJson(out, list);
        alloc_hook::reset();
        if (s.ok()) {
            done = true;
        } else {
            EXPECT_EQ(s.error(), Error::OutOfMemory);
        }
    }
    EXPECT_TRUE(done);
}
