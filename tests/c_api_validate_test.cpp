// The validation report through the public interface: messages, byte-exact
// report JSON, truncation, CSV and JSON-records sources, awkward data and
// allocation failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <set>
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

bool has(const std::string &json, const std::string &part) { return json.find(part) != std::string::npos; }

}  // namespace

TEST(CApiValidate, ReportJsonByteForByte) {
    TempDir dir;
    EXPECT_EQ(reportOf(dir.write("people.csv", kPeople), kPeopleSchema),
              R"({"rows_total":5,"rows_valid":1,"rows_invalid":4,"errors_total":5,"truncated":false,)"
              R"("counts":{"too_few_fields":1,"too_many_fields":1,"missing_required":1,"bad_type":1,"below_min":1},)"
              R"("errors":[)"
              R"({"row":2,"column":2,"column_name":"age","rule":"below_min","value":"-4"},)"
              R"({"row":3,"column":0,"column_name":"id","rule":"bad_type","value":"x"},)"
              R"({"row":3,"column":2,"column_name":"age","rule":"missing_required","value":""},)"
              R"({"row":4,"column":null,"column_name":"","rule":"too_few_fields","value":""},)"
              R"({"row":5,"column":null,"column_name":"","rule":"too_many_fields","value":""}]})");
    EXPECT_EQ(reportOf(dir.write("h.csv", "id,name,age,city\n"), kPeopleSchema),
              R"({"rows_total":0,"rows_valid":0,"rows_invalid":0,"errors_total":0,"truncated":false,"counts":{},"errors":[]})");
    // A quoted field with a quote and a tab, invalid UTF-8, NUL and control bytes.
    std::string odd = dir.write("odd.csv", std::string("v\n\"a\"\"b\tc\"\n\xff" "A\nx\0y\x01\n", 19));
    EXPECT_EQ(reportOf(odd, R"({"v":{"type":"integer"}})"),
              R"({"rows_total":3,"rows_valid":0,"rows_invalid":3,"errors_total":3,"truncated":false,)"
              R"("counts":{"bad_type":3},"errors":[)"
              R"({"row":1,"column":0,"column_name":"v","rule":"bad_type","value":"a\"b\tc"},)"
              R"({"row":2,"column":0,"column_name":"v","rule":"bad_type","value":[255,65]},)"
              R"({"row":3,"column":0,"column_name":"v","rule":"bad_type","value":"x\u0000y\u0001"}]})");
}

TEST(CApiValidate, MaxErrorsAndTruncation) {
    TempDir dir;
    // Two errors in a row with one slot: the first in check order stays, and
    // later rows are still counted, valid or not.
    EXPECT_EQ(reportOf(dir.write("two.csv", "a,b\nq,s\nr,1\n1,2\n"),
                       R"({"a":{"type":"integer"},"b":{"type":"integer"}})", 1),
              R"({"rows_total":3,"rows_valid":1,"rows_invalid":2,"errors_total":3,"truncated":true,)"
              R"("counts":{"bad_type":3},"errors":[{"row":1,"column":0,"column_name":"a","rule":"bad_type","value":"q"}]})");
    // 0 keeps up to 100.
    std::string many = "n\n";
    for (int i = 0; i < 150; ++i) many += "bad\n";
    std::string json = reportOf(dir.write("many.csv", many), R"({"n":{"type":"float"}})", 0);
    EXPECT_EQ(std::count(json.begin(), json.end(), '{'), 1 + 1 + 100) << json;  // report, counts, errors
    EXPECT_TRUE(has(json, R"("errors_total":150,"truncated":true)")) << json;
}

TEST(CApiValidate, JsonRecordSources) {
    TempDir dir;
    std::string path = dir.write("p.ndjson",
                                 "{\"id\": 1, \"name\": \"ann\", \"ok\": true}\n"
                                 "{\"id\": 2, \"name\": \"b\\u00e9\", \"ok\": \"maybe\"}\n"
                                 "{\"id\": 3, \"name\": null, \"ok\": false}\n"
                                 "{\"id\": 4, \"name\": \"a\\\"b\\nc\", \"ok\": 1}\n");
    std::string json = reportOf(path, R"({"name":{"required":true,"min_len":2,"max_len":4},"ok":{"type":"boolean"}})");
    // "bé" is two code points; null is blank; a decoded quote and LF are
    // escaped again: seven characters in all; a number is text like any other.
    EXPECT_EQ(json, R"({"rows_total":4,"rows_valid":1,"rows_invalid":3,"errors_total":4,"truncated":false,)"
                    R"("counts":{"missing_required":1,"bad_type":2,"too_long":1},"errors":[)"
                    R"({"row":2,"column":2,"column_name":"ok","rule":"bad_type","value":"maybe"},)"
                    R"({"row":3,"column":1,"column_name":"name","rule":"missing_required","value":""},)"
                    R"({"row":4,"column":1,"column_name":"name","rule":"too_long","value":"a\"b\nc"},)"
                    R"({"row":4,"column":2,"column_name":"ok","rule":"bad_type","value":"1"}]})");
    EXPECT_EQ(reportOf(path, R"({"nope":{}})"), "<null: validate failed: UnknownColumn>");
    EXPECT_EQ(reportOf(dir.write("b.ndjson", "{\"id\": 1}\n{\"id\": \n"), "{}"), "<null: validate failed: InvalidJson>");
}

TEST(CApiValidate, MessagesAndNullArguments) {
    TempDir dir;
    std::string path = dir.write("people.csv", kPeople);
    EXPECT_EQ(rowkit_validate(nullptr, "{}", 0), nullptr);
    EXPECT_EQ(lastError(), "path is null");
    EXPECT_EQ(rowkit_validate(path.c_str(), nullptr, 0), nullptr);
    EXPECT_EQ(lastError(), "schema_json is null");
    EXPECT_EQ(reportOf(dir.path() + "/missing.csv", "{}"), "<null: validate failed: FileNotFound>");
    EXPECT_EQ(reportOf(path, "{\"id\":{\"pattern\":\"x\"}}"), "<null: validate failed: BadSchema>");
    EXPECT_EQ(reportOf(dir.write("u.csv", "a\n1\n\"oops\n"), "{}"), "<null: validate failed: UnterminatedQuote>");
    EXPECT_EQ(rowkit_validate_json(nullptr), nullptr);
    rowkit_validate_free(nullptr);
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
    ASSERT_FALSE(has(expected, "<null"));
    const std::set<std::string> messages = {"validate failed: OutOfMemory", "validate failed: BadSchema",
                                            "out of memory rendering report", "out of memory"};
    std::set<std::string> seen;
    bool done = false;
    for (uint64_t nth = 1; nth < 400 && !done; ++nth) {
        rowkit::alloc_hook::reset();
        rowkit::alloc_hook::failAt(nth);
        ValidationReport *vr = rowkit_validate(path.c_str(), kPeopleSchema, 150);
        rowkit::alloc_hook::reset();
        if ((done = vr != nullptr)) {
            EXPECT_EQ(rowkit_validate_json(vr), expected);
            rowkit_validate_free(vr);
        } else {
            seen.insert(lastError());
        }
    }
    EXPECT_TRUE(done);
    EXPECT_EQ(seen, messages);
}
