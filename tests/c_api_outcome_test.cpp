// The validation outcome through the public interface: files and bytes in
// both formats and both modes, the early stop, the path rules, messages and
// allocation failures.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "alloc.hpp"
#include "rowkit.h"
#include "support/test_files.hpp"

using namespace rowkit_test;

namespace {

const char *kSchema = R"({"b":{"type":"integer"}})";

// The outcome text, or "<null: message>".
std::string outcome(const std::string &input, int format, int full, const char *schema = kSchema,
                    size_t len = SIZE_MAX) {
    char *text =
        rowkit_validate_outcome(reinterpret_cast<const uint8_t *>(input.data()),
                                len == SIZE_MAX ? input.size() : len, schema, format, full);
    if (!text) return "<null: " + lastError() + ">";
    EXPECT_EQ(rowkit_last_error(), nullptr);
    std::string out = text;
    rowkit_outcome_free(text);
    return out;
}

}  // namespace

// The same rows as CSV text, JSON lines, a JSON array and files give the
// same outcomes; error records carry no row number.
TEST(CApiOutcome, FilesAndBytesInBothFormatsAndModes) {
    TempDir dir;
    const std::string csv = "a,b\n1,x\n2,3\n\"q\"\"\",4,5\n";
    const std::string lines =
        "{\"a\": 1, \"b\": \"x\"}\n{\"a\": 2, \"b\": 3}\n{\"a\": \"q\\\"\"}\n";
    const std::string array =
        "[{\"a\": 1, \"b\": \"x\"},\n{\"a\": 2, \"b\": 3},{\"a\": \"q\\\"\"}]";
    const std::string invalid_csv =
        R"([{"values":["1","x"],"errors":[{"column":1,"column_name":"b","rule":"bad_type","value":"x"}]},)"
        R"({"values":["q\"","4","5"],"errors":[{"column":null,"column_name":"","rule":"too_many_fields",)"
        R"("value":""}]}])";
    EXPECT_EQ(outcome(csv, 1, 1), invalid_csv);
    EXPECT_EQ(outcome(dir.write("in.csv", csv), 0, 1), invalid_csv);
    const std::string invalid_json =
        R"([{"values":["1","x"],"errors":[{"column":1,"column_name":"b","rule":"bad_type","value":"x"}]}])";
    for (const std::string &text : {lines, array}) {
        EXPECT_EQ(outcome(text, 2, 1), invalid_json);
        EXPECT_EQ(outcome(text, 2, 0), "false");
    }
    EXPECT_EQ(outcome(dir.write("in.jsonl", lines), 0, 1), invalid_json);
    EXPECT_EQ(outcome(dir.write("in.json", array), 0, 0), "false");
    for (int format : {1, 2}) {
        const std::string valid = format == 1 ? "a,b\n1,2\n" : "{\"a\": 1, \"b\": 2}\n";
        EXPECT_EQ(outcome(valid, format, 0) + outcome(valid, format, 1), "true[]");
    }
    EXPECT_EQ(outcome("a,b\n", 1, 0) + outcome("a,b\n", 1, 1), "true[]");

    // Without `full` the first invalid row ends the reading: the broken row
    // after it is never read.
    const std::string broken = "a,b\n1,x\n\"2,3\n";
    EXPECT_EQ(outcome(broken, 1, 0), "false");
    EXPECT_EQ(outcome(broken, 1, 1), "<null: validate failed: UnterminatedQuote>");
    // Text that is not UTF-8 fails in both modes, in a field read before
    // the first invalid row or in a header name.
    EXPECT_EQ(outcome("a,b\n1,2\n\xff,3\n1,x\n", 1, 0), "<null: validate failed: InvalidUtf8>");
    EXPECT_EQ(outcome("a\xc3,b\n", 1, 1), "<null: validate failed: InvalidUtf8>");
}

// The path is input_len bytes, not up to a NUL; a NUL inside it would name
// another file and is refused before anything is opened.
TEST(CApiOutcome, PathsOptionsAndMessages) {
    TempDir dir;
    const std::string path = dir.write("in.csv", "a,b\n1,2\n");
    EXPECT_EQ(outcome(path + "-and-more", 0, 0, kSchema, path.size()), "true");
    EXPECT_EQ(outcome(path + std::string("\0.csv", 5), 0, 0),
              "<null: validate failed: BadPathName>");
    EXPECT_EQ(outcome(path, 0, 0, kSchema, path.size() - 1),
              "<null: validate failed: FileNotFound>");
    EXPECT_EQ(outcome("", 1, 0), "<null: validate failed: EmptyFile>");
    EXPECT_EQ(outcome("", 2, 1), "<null: validate failed: EmptyFile>");
    EXPECT_EQ(outcome(path, 0, 0, R"({"c":{}})"), "<null: validate failed: UnknownColumn>");
    EXPECT_EQ(outcome(path, 0, 0, "{"), "<null: validate failed: BadSchema>");
    for (auto [format, full] : {std::pair{3, 0}, {-1, 0}, {0, 2}, {1, -1}})
        EXPECT_EQ(outcome(path, format, full), "<null: invalid validation options>");
    EXPECT_EQ(rowkit_validate_outcome(nullptr, 0, kSchema, 0, 0), nullptr);
    EXPECT_EQ(lastError(), "input is null");
    EXPECT_EQ(outcome(path, 0, 0, nullptr), "<null: schema is null>");
    rowkit_outcome_free(nullptr);
}

// Every allocation can fail with a documented message and nothing leaked;
// the run that gets through gives the full outcome.
TEST(CApiOutcome, AllocationFailures) {
    TempDir dir;
    std::string csv = "a,b\n";
    for (int i = 0; i < 200; ++i)
        csv += std::to_string(i) + (i % 4 ? ",7\n" : ",x\"y\n");
    const std::string path = dir.write("in.csv", csv);
    std::set<std::string> seen;
    for (int format : {0, 1}) {
        const std::string input = format == 0 ? path : csv;
        const std::string expected = outcome(input, format, 1);
        ASSERT_EQ(expected.rfind(R"([{"values":["0","x\"y"],"errors":[{"column":1,)", 0), 0u);
        for (uint64_t nth = 1;; ++nth) {
            rowkit::alloc_hook::failAt(nth);
            const std::string got = outcome(input, format, 1);
            const bool failed = rowkit::alloc_hook::count() >= nth;
            rowkit::alloc_hook::reset();
            if (!failed) {
                EXPECT_EQ(got, expected);
                break;
            }
            seen.insert(got);
        }
    }
    // "out of memory" (no room for the closing NUL) shows only when the
    // text happens to fill its buffer exactly.
    const std::set<std::string> documented = {"<null: validate failed: OutOfMemory>",
                                              "<null: out of memory>"};
    for (const std::string &message : seen)
        EXPECT_TRUE(documented.count(message)) << message;
    EXPECT_TRUE(seen.count("<null: validate failed: OutOfMemory>"));
}
