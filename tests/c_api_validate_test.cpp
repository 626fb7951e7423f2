// The validation report through the public interface: messages, byte-exact
// report JSON, truncation, CSV and JSON-records sources, awkward data and
// allocation failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "alloc.hpp"
#include "rowkit.h"
#include "support/test_files.hpp"

using rowkit_test::lastError;
using rowkit_test::TempDir;

namespace {

const char *kPeople =
    "id,name,age,city\n"
    "1,ann,34,Oslo\n"
    "2,bob,-4,Lima\n"
    "x,cy,,Rome\n"
    "4,dee,41\n"
    "5,eve,50,Oslo,extra\n";

const char *kPeopleSchema =
    R"({"id": {"type": "integer", "required": true},
        "age": {"type": "integer", "required": true, "min": 0, "max": 120},
        "city": {"one_of": ["Oslo", "Lima", "Rome"]}})";

// The report JSON of a validation, or "<null: message>".
std::string reportOf(const std::string &path, const char *schema, size_t max_errors = 0) {
    ValidationReport *vr = rowkit_validate(path.c_str(), schema, max_errors);
    if (!vr) return "<null: " + lastError() + ">";
    EXPECT_EQ(rowkit_last_error(), nullptr);
    std::string json = rowkit_validate_json(vr);
    rowkit_validate_free(vr);
    return json;
}

size_t occurrences(const std::string &text, const std::string &what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

}  // namespace

TEST(CApiValidate, ReportJsonByteForByte) {
    TempDir dir;
    std::string path = dir.write("people.csv", kPeople);
    EXPECT_EQ(reportOf(path, kPeopleSchema),
              R"({"rows_total":5,"rows_valid":1,"rows_invalid":4,"errors_total":5,"truncated":false,)"
              R"("counts":{"too_few_fields":1,"too_many_fields":1,"missing_required":1,"bad_type":1,"below_min":1},)"
              R"("errors":[)"
              R"({"row":2,"column":2,"column_name":"age","rule":"below_min","value":"-4"},)"
              R"({"row":3,"column":0,"column_name":"id","rule":"bad_type","value":"x"},)"
              R"({"row":3,"column":2,"column_name":"age","rule":"missing_required","value":""},)"
              R"({"row":4,"column":null,"column_name":"","rule":"too_few_fields","value":""},)"
              R"({"row":5,"column":null,"column_name":"","rule":"too_many_fields","value":""}]})");
    std::string header_only = dir.write("h.csv", "id,name,age,city\n");
    EXPECT_EQ(reportOf(header_only, kPeopleSchema),
              R"({"rows_total":0,"rows_valid":0,"rows_invalid":0,"errors_total":0,"truncated":false,"counts":{},"errors":[]})");
    // Quotes, control bytes, NUL and invalid UTF-8 in values.
    std::string odd = dir.write("odd.csv", std::string("v\n\"a\"\"b\tc\"\n\xff" "A\n") + std::string("x\0y\n", 4) + "\x01\\/\n");
    EXPECT_EQ(reportOf(odd, R"({"v":{"type":"integer"}})"),
              R"({"rows_total":4,"rows_valid":0,"rows_invalid":4,"errors_total":4,"truncated":false,)"
              R"("counts":{"bad_type":4},"errors":[)"
              R"({"row":1,"column":0,"column_name":"v","rule":"bad_type","value":"a\"b\tc"},)"
              R"({"row":2,"column":0,"column_name":"v","rule":"bad_type","value":[255,65]},)"
              R"({"row":3,"column":0,"column_name":"v","rule":"bad_type","value":"x\u0000y"},)"
              R"({"row":4,"column":0,"column_name":"v","rule":"bad_type","value":"\u0001\\/"}]})");
    // A column name with characters that need escaping.
    std::string quoted = dir.write("q.csv", "\"a\"\"b\tc\"\n1\n");
    EXPECT_EQ(reportOf(quoted, R"({"a\"b\tc":{"max":0}})"),
              R"({"rows_total":1,"rows_valid":0,"rows_invalid":1,"errors_total":1,"truncated":false,)"
              R"("counts":{"above_max":1},"errors":[{"row":1,"column":0,"column_name":"a\"b\tc","rule":"above_max","value":"1"}]})");
}

TEST(CApiValidate, MaxErrorsAndTruncation) {
    TempDir dir;
    std::string three = dir.write("three.csv", "n\nx\ny\nz\n");
    EXPECT_EQ(reportOf(three, R"({"n":{"type":"integer"}})", 1),
              R"({"rows_total":3,"rows_valid":0,"rows_invalid":3,"errors_total":3,"truncated":true,)"
              R"("counts":{"bad_type":3},"errors":[{"row":1,"column":0,"column_name":"n","rule":"bad_type","value":"x"}]})");
    // Two errors in a row with one slot left: the first in check order stays.
    std::string two = dir.write("two.csv", "a,b\nq,1\nr,s\n");
    std::string json = reportOf(two, R"({"a":{"type":"integer"},"b":{"type":"integer"}})", 2);
    EXPECT_NE(json.find(R"("value":"q"},{"row":2,"column":0,"column_name":"a")"), std::string::npos) << json;
    EXPECT_EQ(json.find(R"("value":"s")"), std::string::npos);
    EXPECT_NE(json.find(R"("errors_total":3,"truncated":true)"), std::string::npos);
    // 0 keeps up to 100.
    std::string many_text = "n\n";
    for (int i = 0; i < 150; ++i) many_text += "bad\n";
    std::string many = dir.write("many.csv", many_text);
    json = reportOf(many, R"({"n":{"type":"float"}})", 0);
    EXPECT_EQ(occurrences(json, "\"row\":"), 100u);
    EXPECT_NE(json.find(R"("errors_total":150,"truncated":true)"), std::string::npos);
    json = reportOf(many, R"({"n":{"type":"float"}})", 1000);
    EXPECT_EQ(occurrences(json, "\"row\":"), 150u);
    EXPECT_NE(json.find(R"("truncated":false)"), std::string::npos);
}

TEST(CApiValidate, JsonRecordSources) {
    TempDir dir;
    std::string path = dir.write("p.ndjson",
                                 "{\"id\": 1, \"name\": \"ann\", \"ok\": true}\n"
                                 "{\"id\": \"x\", \"name\": \"b\\u00e9\", \"ok\": \"maybe\"}\n"
                                 "{\"id\": 3, \"name\": null, \"ok\": false}\n"
                                 "{\"id\": 4, \"name\": \"a\\\"b\\nc\", \"ok\": 1}\n");
    const char *schema = R"({"id":{"type":"integer"},"name":{"required":true,"min_len":2,"max_len":4},"ok":{"type":"boolean"}})";
    std::string json = reportOf(path, schema);
    EXPECT_NE(json.find(R"("rows_total":4,"rows_valid":1,"rows_invalid":3)"), std::string::npos) << json;
    // A decoded quote and LF are escaped again: seven characters in all.
    EXPECT_NE(json.find(R"({"row":4,"column":1,"column_name":"name","rule":"too_long","value":"a\"b\nc"},)"
                        R"({"row":4,"column":2,"column_name":"ok","rule":"bad_type","value":"1"})"),
              std::string::npos) << json;
    EXPECT_NE(json.find(R"({"row":2,"column":0,"column_name":"id","rule":"bad_type","value":"x"})"),
              std::string::npos) << json;
    EXPECT_NE(json.find(R"({"row":2,"column":2,"column_name":"ok","rule":"bad_type","value":"maybe"})"),
              std::string::npos) << json;
    EXPECT_NE(json.find(R"("rule":"missing_required")"), std::string::npos) << json;
    EXPECT_EQ(json.find(R"("too_short")"), std::string::npos) << json;  // "bé" is two code points
    EXPECT_EQ(reportOf(path, R"({"nope":{}})"), "<null: validate failed: UnknownColumn>");
    std::string broken = dir.write("b.ndjson", "{\"id\": 1}\n{\"id\": \n");
    EXPECT_EQ(reportOf(broken, R"({"id":{}})"), "<null: validate failed: InvalidJson>");
}

TEST(CApiValidate, MessagesAndNullArguments) {
    TempDir dir;
    std::string path = dir.write("people.csv", kPeople);
    EXPECT_EQ(rowkit_validate(nullptr, "{}", 0), nullptr);
    EXPECT_EQ(lastError(), "path is null");
    EXPECT_EQ(rowkit_validate(path.c_str(), nullptr, 0), nullptr);
    EXPECT_EQ(lastError(), "schema_json is null");
    EXPECT_EQ(reportOf(dir.path() + "/missing.csv", "{}"), "<null: validate failed: FileNotFound>");
    EXPECT_EQ(reportOf(dir.path(), "{}"), "<null: validate failed: IsDir>");
    for (const char *bad : {"", "[]", "{\"id\":1}", "{\"id\":{\"pattern\":\"x\"}}", "{\"id\":{},\"id\":{}}",
                            "{\"id\":{\"type\":\"int\"}}", "{\"id\":{\"min_len\":2.0}}"})
        EXPECT_EQ(reportOf(path, bad), "<null: validate failed: BadSchema>") << bad;
    EXPECT_EQ(reportOf(path, std::string(100000, '[').c_str()), "<null: validate failed: BadSchema>");
    EXPECT_EQ(reportOf(path, "{\"Id\":{}}"), "<null: validate failed: UnknownColumn>");
    std::string unterminated = dir.write("u.csv", "a\n1\n\"oops\n");
    EXPECT_EQ(reportOf(unterminated, "{}"), "<null: validate failed: UnterminatedQuote>");
    EXPECT_EQ(rowkit_validate_json(nullptr), nullptr);
    rowkit_validate_free(nullptr);
    // An empty schema checks field counts only.
    EXPECT_NE(reportOf(path, " { } ").find(R"("rows_valid":3,"rows_invalid":2)"), std::string::npos);
}

// Every allocation can fail: each failure gives a documented message and
// leaks nothing (checked by the sanitizer build); the first run that gets
// through gives the full report.
TEST(CApiValidate, AllocationFailures) {
    TempDir dir;
    std::string text = "id,name,age,city\n";
    for (int i = 0; i < 300; ++i) text += std::to_string(i) + ",n" + std::to_string(i) + "," + (i % 3 ? "40" : "-1") + ",Oslo\n";
    std::string path = dir.write("p.csv", text);
    const std::string expected = reportOf(path, kPeopleSchema, 150);
    ASSERT_EQ(expected.find("<null"), std::string::npos);
    const std::vector<std::string> messages = {"validate failed: OutOfMemory", "validate failed: BadSchema",
                                               "out of memory rendering report", "out of memory"};
    std::vector<std::string> seen;
    bool done = false;
    for (uint64_t nth = 1; nth < 400 && !done; ++nth) {
        rowkit::alloc_hook::reset();
        rowkit::alloc_hook::failAt(nth);
        ValidationReport *vr = rowkit_validate(path.c_str(), kPeopleSchema, 150);
        rowkit::alloc_hook::reset();
        if (vr) {
            done = true;
            EXPECT_EQ(rowkit_validate_json(vr), expected);
            rowkit_validate_free(vr);
            break;
        }
        std::string msg = lastError();
        EXPECT_NE(std::find(messages.begin(), messages.end(), msg), messages.end()) << nth << ": " << msg;
        if (std::find(seen.begin(), seen.end(), msg) == seen.end()) seen.push_back(msg);
    }
    EXPECT_TRUE(done);
    EXPECT_EQ(seen.size(), messages.size());
}
