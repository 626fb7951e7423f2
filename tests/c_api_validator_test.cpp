// The streaming validator through the public interface: rows, numbers,
// errors text and counters step by step, out-parameters, messages, the end
// of a failed validation, allocation failures and the steady state.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "alloc.hpp"
#include "rowkit.h"
#include "support/test_files.hpp"

using namespace rowkit_test;

namespace {

const char *kSchema =
    R"({"id":{"type":"integer","required":true},"age":{"type":"integer","min":0}})";

// One step as text: "number|field,field|errors counters" where counters are
// total/valid/invalid after the step; "end" or "-1 message" otherwise.
std::string step(ValidatorCtx *v) {
    const char *const *fields = nullptr;
    const char *errors = "untouched";
    size_t n = 0;
    uint64_t number = 0;
    const int rc = rowkit_validator_next(v, &fields, &n, &errors, &number);
    const std::string counters = std::to_string(rowkit_validator_rows_total(v)) + "/" +
                                 std::to_string(rowkit_validator_rows_valid(v)) + "/" +
                                 std::to_string(rowkit_validator_rows_invalid(v));
    if (rc != 1) {
        EXPECT_TRUE(fields == nullptr && n == 0 && number == 0 &&
                    std::string(errors) == "untouched");
        return (rc == 0 ? "end" : "-1 " + lastError()) + " " + counters;
    }
    EXPECT_EQ(rowkit_last_error(), nullptr);
    std::string out = std::to_string(number) + "|";
    for (size_t i = 0; i < n; ++i)
        out += (i ? "," : "") + std::string(fields[i]);
    return out + "|" + (errors ? errors : "null") + " " + counters;
}

std::vector<std::string> steps(const std::string &path, const char *schema) {
    ValidatorCtx *v = rowkit_validator_open(path.c_str(), schema);
    if (!v) return {"<null: " + lastError() + ">"};
    std::vector<std::string> out;
    for (;;) {
        out.push_back(step(v));
        if (out.back().rfind("end", 0) == 0 || out.back().rfind("-1", 0) == 0) break;
    }
    rowkit_validator_close(v);
    return out;
}

}  // namespace

// Valid rows get no errors text (not "[]"); a short row hands out the fields
// it has, a long one all of them; the counters move row by row and the end
// is repeatable. JSON records and arrays are validated alike.
TEST(CApiValidator, RowsNumbersErrorsAndCountersStepByStep) {
    TempDir dir;
    const std::string csv =
        dir.write("p.csv", "id,name,age\n1,ann,34\nx,\"b\"\"o\",-4\n3,cy\n4,dee,41,extra\n");
    ValidatorCtx *v = rowkit_validator_open(csv.c_str(), kSchema);
    ASSERT_TRUE(v && !rowkit_last_error());
    EXPECT_TRUE(rowkit_validator_n_columns(v) == 3 &&
                std::string(rowkit_validator_column_name(v, 2)) == "age" &&
                !rowkit_validator_column_name(v, 3));
    EXPECT_EQ(step(v), "1|1,ann,34|null 1/1/0");
    EXPECT_EQ(
        step(v),
        R"(2|x,b"o,-4|[{"row":2,"column":0,"column_name":"id","rule":"bad_type","value":"x"},)"
        R"({"row":2,"column":2,"column_name":"age","rule":"below_min","value":"-4"}] 2/1/1)");
    EXPECT_EQ(
        step(v),
        R"(3|3,cy|[{"row":3,"column":null,"column_name":"","rule":"too_few_fields","value":""}] 3/1/2)");
    // Every out-parameter may be NULL: the row is still read and counted.
    EXPECT_EQ(rowkit_validator_next(v, nullptr, nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(step(v), "end 4/1/3");
    EXPECT_EQ(step(v), "end 4/1/3");
    rowkit_validator_close(v);
    EXPECT_EQ(steps(csv, "{}").back(), "end 4/2/2");  // field counts are checked without rules

    const std::string first = R"({"id": 7, "age": "a\u00e9"})",
                      second = R"({"id": null, "age": 5, "x": 1})";
    const std::vector<std::string> want = {
        R"(1|7,aé|[{"row":1,"column":1,"column_name":"age","rule":"bad_type","value":"aé"}] 1/0/1)",
        R"(2|,5|[{"row":2,"column":0,"column_name":"id","rule":"missing_required","value":""}] 2/0/2)",
        "end 2/0/2"};
    EXPECT_EQ(steps(dir.write("r.ndjson", first + "\n" + second + "\n"), kSchema), want);
    EXPECT_EQ(steps(dir.write("r.json", "[" + first + ",\n" + second + "]"), kSchema), want);
}

TEST(CApiValidator, MessagesAndTheEndOfAFailedValidation) {
    TempDir dir;
    const std::string p = dir.write("p.csv", "id,age\n1,2\n\"3,4\n5,6\n");
    EXPECT_TRUE(!rowkit_validator_open(nullptr, "{}") && lastError() == "path is null");
    EXPECT_TRUE(!rowkit_validator_open(p.c_str(), nullptr) && lastError() == "schema_json is null");
    EXPECT_EQ(steps(dir.path() + "/none.csv", "{}")[0] + steps(p, R"({"id":{"type":"int"}})")[0],
              "<null: cannot open validator: FileNotFound><null: cannot open validator: BadSchema>");
    EXPECT_EQ(rowkit_validator_next(nullptr, nullptr, nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(lastError(), "validator is null");
    // Accessors and close take NULL and leave the message alone.
    rowkit_validator_close(nullptr);
    EXPECT_TRUE(!rowkit_validator_n_columns(nullptr) && !rowkit_validator_column_name(nullptr, 0) &&
                !rowkit_validator_rows_total(nullptr) && !rowkit_validator_rows_valid(nullptr) &&
                !rowkit_validator_rows_invalid(nullptr) && lastError() == "validator is null");
    // A reader error writes nothing, counts nothing and ends the validation.
    ValidatorCtx *v = rowkit_validator_open(p.c_str(), R"({"id":{"min":2}})");
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(
        step(v),
        R"(1|1,2|[{"row":1,"column":0,"column_name":"id","rule":"below_min","value":"1"}] 1/0/1)");
    EXPECT_EQ(step(v), "-1 validate failed: UnterminatedQuote 1/0/1");
    EXPECT_EQ(step(v), "-1 validate failed: UnterminatedQuote 1/0/1");
    Batch *b = nullptr;
    EXPECT_TRUE(rowkit_validator_next_batch(v, 10, 1000, &b) == -1 && !b &&
                lastError() == "batch failed: UnterminatedQuote");
    rowkit_validator_close(v);
}

// Every allocation of open and of each step can fail: each failure gives a
// documented message and leaks nothing (the sanitizer build checks), and
// the run that gets through gives every row. Once the buffers have grown
// for the widest row and the most errors, rows allocate nothing.
TEST(CApiValidator, AllocationFailuresAndTheSteadyState) {
    TempDir dir;
    std::string text = "id,name,age\n", tail;
    text += "-1,nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn,x\n";
    for (int i = 0; i < 300; ++i)
        tail +=
            std::to_string(i) + ",n" + std::to_string(i % 7) + "," + (i % 3 ? "40" : "-1") + "\n";
    // Names are looked up in a set large enough to be hashed.
    std::string names = "\"n0\"";
    for (int i = 1; i < 40; ++i) names += ",\"n" + std::to_string(i) + "\"";
    const std::string path = dir.write("p.csv", text + tail),
                      schema = R"({"id":{"type":"integer","min":0},"age":{"min":0},)"
                               R"("name":{"one_of":[)" + names + "]}}";
    const std::vector<std::string> expected = steps(path, schema.c_str());
    ASSERT_EQ(expected.size(), 302u);
    std::set<std::string> seen;
    for (uint64_t nth = 1;; ++nth) {
        rowkit::alloc_hook::failAt(nth);
        std::vector<std::string> got = steps(path, schema.c_str());
        const bool failed = rowkit::alloc_hook::count() >= nth;
        rowkit::alloc_hook::reset();
        if (!failed) {
            EXPECT_EQ(got, expected);
            break;
        }
        const std::string &last = got.back();
        seen.insert(last[0] == '<' ? last
                                   : last.substr(0, last.rfind(' ')));  // without the counters
    }
    EXPECT_EQ(seen, (std::set<std::string>{
                        "<null: cannot open validator: OutOfMemory>",
                        "<null: out of memory>",
                        "<null: out of memory copying header>", "-1 validate failed: OutOfMemory",
                        "-1 out of memory growing field buffers", "-1 out of memory copying row",
                        "-1 out of memory rendering row errors"}));

    ValidatorCtx *v = rowkit_validator_open(path.c_str(), schema.c_str());
    ASSERT_NE(v, nullptr);
    const char *const *fields;
    const char *errors;
    ASSERT_EQ(rowkit_validator_next(v, &fields, nullptr, &errors, nullptr), 1);
    rowkit::alloc_hook::reset();
    while (rowkit_validator_next(v, &fields, nullptr, &errors, nullptr) == 1) {
    }
    EXPECT_TRUE(rowkit_validator_rows_invalid(v) == 101 && rowkit::alloc_hook::count() == 0);
    rowkit_validator_close(v);
}
