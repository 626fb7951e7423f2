// The validation report through the public interface: byte-exact report
// JSON, truncation, CSV and JSON-records sources and the default limit (its
// messages are checked with their details in c_api_errors_test.cpp).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "rowkit.h"
#include "support/test_files.hpp"

static const char *kPeople =
    "id,name,age,city\n1,ann,34,Oslo\n2,bob,-4,Lima\n4,dee,41\n5,eve,50,Oslo,extra\n";
static const char *kPeopleSchema = R"({"id": {"type": "integer", "required": true},
    "age": {"type": "integer", "required": true, "min": 0, "max": 120},
    "city": {"one_of": ["Oslo", "Lima", "Rome"]}})";

// The report JSON of a validation, or "<null: message>".
static std::string reportOf(const std::string &path, const char *schema, size_t max_errors = 0) {
    ValidationReport *vr = rowkit_validate(path.c_str(), schema, max_errors);
    if (!vr) return "<null: " + rowkit_test::lastError() + ">";
    EXPECT_EQ(rowkit_last_error(), nullptr);
    std::string json = rowkit_validate_json(vr);
    rowkit_validate_free(vr);
    return json;
}

// Records: "bé" is two code points; null is blank; a decoded quote and LF
// are escaped again: seven characters in all; a number is text like any other.
TEST(CApiValidate, ReportsByteForByte) {
    rowkit_test::TempDir dir;
    EXPECT_EQ(
        reportOf(dir.write("people.csv", kPeople), kPeopleSchema),
        R"({"rows_total":4,"rows_valid":1,"rows_invalid":3,"errors_total":3,"truncated":false,)"
        R"("counts":{"too_few_fields":1,"too_many_fields":1,"below_min":1},)"
        R"("errors":[{"row":2,"column":2,"column_name":"age","rule":"below_min","value":"-4"},)"
        R"({"row":3,"column":null,"column_name":"","rule":"too_few_fields","value":""},)"
        R"({"row":4,"column":null,"column_name":"","rule":"too_many_fields","value":""}]})");
    std::string path = dir.write("p.ndjson",
                                 "{\"id\": 1, \"name\": \"ann\", \"ok\": true}\n{\"id\": 2, "
                                 "\"name\": \"b\\u00e9\", \"ok\": \"maybe\"}\n"
                                 "{\"id\": 3, \"name\": null, \"ok\": false}\n{\"id\": 4, "
                                 "\"name\": \"a\\\"b\\nc\", \"ok\": 1}\n");
    EXPECT_EQ(
        reportOf(path,
                 R"({"name":{"required":true,"min_len":2,"max_len":4},"ok":{"type":"boolean"}})",
                 3),
        R"({"rows_total":4,"rows_valid":1,"rows_invalid":3,"errors_total":4,"truncated":true,)"
        R"("counts":{"missing_required":1,"bad_type":2,"too_long":1},"errors":[)"
        R"({"row":2,"column":2,"column_name":"ok","rule":"bad_type","value":"maybe"},)"
        R"({"row":3,"column":1,"column_name":"name","rule":"missing_required","value":""},)"
        R"({"row":4,"column":1,"column_name":"name","rule":"too_long","value":"a\"b\nc"}]})");
}

// A limit of 0 keeps 100 errors.
TEST(CApiValidate, TheDefaultLimit) {
    rowkit_test::TempDir dir;
    std::string text = "id,name,age,city\n";
    for (int i = 0; i < 450; ++i)
        text +=
            std::to_string(i) + ",n" + std::to_string(i) + "," + (i % 3 ? "40" : "-1") + ",Oslo\n";
    const std::string report = reportOf(dir.write("p.csv", text), kPeopleSchema);
    EXPECT_EQ(std::count(report.begin(), report.end(), '{'), 1 + 1 + 100) << report;
    EXPECT_NE(report.find(R"("errors_total":150,"truncated":true)"), std::string::npos);
}
