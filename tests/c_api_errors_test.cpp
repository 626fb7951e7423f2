// Error details and line numbers through the public interface: where a
// reading error stands in CSV, NDJSON and JSON-array files (records across
// read chunks, CR LF lines, read failures), what a bad schema gets wrong,
// and the detail's lifetime beside the message.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <tuple>
#include <vector>

#include "file_io.hpp"
#include "rowkit.h"
#include "support/test_files.hpp"

using namespace rowkit_test;

namespace {

// The detail, or "" when there is none.
std::string detail() {
    const char *d = rowkit_last_error_detail();
    return d ? d : "";
}

std::string where(const std::string &path, uint64_t line, uint64_t offset) {
    return "file \"" + path + "\", line " + std::to_string(line) + ", byte offset " +
           std::to_string(offset);
}

// Reads rows until the first failure and returns its message; "" at the end.
std::string nextFailure(Ctx *ctx) {
    for (;;) {
        const int rc = rowkit_next(ctx, nullptr, nullptr);
        if (rc == 0) return "";
        if (rc < 0) return lastError();
    }
}

}  // namespace

// Each reading error names the file and where the failing record begins,
// and rowkit_line_number agrees; the next successful call clears the
// message and the detail together and moves the line on.
TEST(CApiErrors, ReadingErrorsSayWhere) {
    TempDir dir;
    const struct {
        std::string name, text, message;
        uint64_t line, offset, next_line;  // the failure, then the row after it
    } cases[] = {
        {"crlf.csv", "a,b\r\n1,2\r\n\r\n3,\"x\r\n4,5\r\n", "next failed: UnterminatedQuote", 4, 12,
         5},
        {"lines.ndjson", "{\"a\":1}\n{\"a\":2}\n{\"a\":\n{\"a\":3}\n", "next failed: InvalidJson",
         3, 16, 4},
        {"nested.jsonl", "{\"a\":1}\n{\"a\":[1]}\n{\"a\":3}\n",
         "next failed: NestedValueNotSupported", 2, 8, 3},
        {"array.json", "[\n  {\"a\":1},\n  {\"a\":\n   {}},\n\n  {\"a\":\"x\"}\n]\n",
         "next failed: NestedValueNotSupported", 3, 15, 6},
    };
    for (const auto &c : cases) {
        const std::string path = dir.write(c.name, c.text);
        Ctx *ctx = rowkit_open(path.c_str(), nullptr);
        ASSERT_NE(ctx, nullptr) << c.name;
        EXPECT_EQ(rowkit_line_number(ctx), 0u);
        EXPECT_EQ(nextFailure(ctx), c.message) << c.name;
        EXPECT_EQ(detail(), where(path, c.line, c.offset)) << c.name;
        EXPECT_EQ(rowkit_line_number(ctx), c.line) << c.name;
        EXPECT_EQ(rowkit_next(ctx, nullptr, nullptr), 1) << c.name;
        EXPECT_EQ(rowkit_last_error(), nullptr);
        EXPECT_EQ(rowkit_last_error_detail(), nullptr);
        EXPECT_EQ(rowkit_line_number(ctx), c.next_line) << c.name;
        rowkit_close(ctx);
    }
    EXPECT_EQ(rowkit_line_number(nullptr), 0u);

    // Open failures name the file; one in the header or first record says
    // where it begins. Calls that fail before any file is known leave no
    // detail, and a detail too long for its buffer becomes a fixed text.
    const std::string missing = dir.path() + "/no \"such\".csv";
    const std::string escaped = dir.path() + "/no \\\"such\\\".csv";
    const std::string long_path = dir.path() + "/" + std::string(200, 'd') + "/" +
                                  std::string(200, 'd') + "/" + std::string(200, 'f') + ".csv";
    const struct {
        std::string path, message, detail;
    } opens[] = {
        {missing, "open failed: FileNotFound", "file \"" + escaped + "\""},
        {dir.write("empty.csv", ""), "open failed: EmptyFile",
         "file \"" + dir.path() + "/empty.csv\""},
        {dir.write("head.csv", "\"a,b\n1,2\n"), "open failed: UnterminatedQuote",
         where(dir.path() + "/head.csv", 1, 0)},
        {dir.write("first.json", "\n\n  [ 7, {\"a\":\n"), "open failed: InvalidJson",
         where(dir.path() + "/first.json", 3, 9)},
        {long_path, "open failed: FileNotFound", "error (detail too long)"},
    };
    for (const auto &o : opens) {
        EXPECT_EQ(rowkit_open(o.path.c_str(), nullptr), nullptr);
        EXPECT_EQ(lastError(), o.message);
        EXPECT_EQ(detail(), o.detail);
    }
    EXPECT_EQ(rowkit_open(nullptr, nullptr), nullptr);
    EXPECT_EQ(rowkit_last_error_detail(), nullptr);
    EXPECT_EQ(rowkit_next(nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(rowkit_last_error_detail(), nullptr);
}

// Records that straddle a read chunk, rows skipped by predicates, a read
// failure, and the calls that drain the handle.
TEST(CApiErrors, PositionsAcrossChunksPredicatesAndDrainingCalls) {
    TempDir dir;
    // Rows of varying length past several 256 KiB chunks, the bad record
    // straddling the second boundary (the first in the JSON array).
    std::string csv = "id,note\n", json = "[\n";
    std::vector<size_t> csv_lines = {0, csv.size()};  // where line 1, 2, ... begins
    uint64_t bad_line = 0, bad_offset = 0, json_line = 0, json_offset = 0;
    for (int i = 0; csv.size() < 700000; ++i) {
        const std::string note(size_t(i * 131 % 997), 'n');
        if (!bad_line && csv.size() + 1100 > 2 * 262144) {
            bad_line = csv_lines.size(), bad_offset = csv.size();
            csv += std::to_string(i) + ",\"" + std::string(2000, 'q') + "\r\n";
        } else {
            csv += std::to_string(i) + "," + note + (i % 2 ? "\r\n" : "\n");
        }
        csv_lines.push_back(csv.size());
        if (!json_line && json.size() + 1100 > 262144) {
            json_line = uint64_t(i) + 2, json_offset = json.size();
            json += "{\"id\":[" + std::string(2000, '1') + "]},\n";
        } else {
            json += "{\"id\":\"" + std::to_string(i) + "\", \"note\":\"" + note + "\"},\n";
        }
    }
    json += "{\"id\":\"last\"}]";
    const std::string csv_path = dir.write("big.csv", csv), json_path = dir.write("big.json", json);
    for (auto [path, message, line, offset] :
         {std::tuple{csv_path, "next failed: UnterminatedQuote", bad_line, bad_offset},
          {json_path, "next failed: NestedValueNotSupported", json_line, json_offset}}) {
        Ctx *ctx = rowkit_open(path.c_str(), nullptr);
        EXPECT_EQ(nextFailure(ctx), message);
        EXPECT_EQ(detail(), where(path, line, offset));
        EXPECT_EQ(rowkit_line_number(ctx), line);
        rowkit_close(ctx);
    }

    // Rows the predicates skip move nothing: the line is the last row's.
    const std::string people = dir.write("p.csv", "id,age\n1,30\n2,40\n3,50\n4,60\n");
    const CPredicate old_enough = {1, ROWKIT_OP_GTE, "40", nullptr, 0};
    const size_t ids[] = {0};
    COptions o = defaultOptions();
    o.where = &old_enough, o.n_where = 1, o.columns = ids, o.n_columns = 1, o.limit = 2;
    Ctx *ctx = rowkit_open(people.c_str(), &o);
    EXPECT_EQ(readAll(ctx), (Rows{{"2"}, {"3"}}));
    EXPECT_EQ(rowkit_line_number(ctx), 4u);
    rowkit_close(ctx);
    o.limit = -1, o.negate = 1;
    ctx = rowkit_open(people.c_str(), &o);
    EXPECT_EQ(readAll(ctx), (Rows{{"1"}}));
    EXPECT_EQ(rowkit_line_number(ctx), 2u);
    rowkit_close(ctx);

    // A read that fails is placed right after the last row returned.
    ctx = rowkit_open(csv_path.c_str(), nullptr);
    rowkit::file_hook::failReadAt(1, EIO);
    uint64_t last_line = 0;
    while (rowkit_next(ctx, nullptr, nullptr) == 1) last_line = rowkit_line_number(ctx);
    rowkit::file_hook::failReadAt(0, 0);
    EXPECT_EQ(lastError(), "next failed: InputOutput");
    ASSERT_GT(last_line, 2u);
    EXPECT_EQ(rowkit_line_number(ctx), last_line + 1);
    EXPECT_EQ(detail(), where(csv_path, last_line + 1, csv_lines[last_line]));
    rowkit_close(ctx);

    // The calls that drain a handle report the record that stopped them.
    for (int call = 0; call < 5; ++call) {
        ctx = rowkit_open(csv_path.c_str(), nullptr);
        AggC agg;
        bool failed = false;
        switch (call) {
            case 0: failed = rowkit_collect(ctx) == nullptr; break;
            case 1: failed = rowkit_collect_columnar(ctx) == nullptr; break;
            case 2: failed = rowkit_aggregate(ctx, 0, &agg) != 0; break;
            case 3: failed = rowkit_topk(ctx, 0, 3, 1) == nullptr; break;
            case 4: failed = rowkit_order_by(ctx, 0, 0) == nullptr; break;
        }
        EXPECT_TRUE(failed) << call;
        EXPECT_NE(lastError().find("failed: UnterminatedQuote"), std::string::npos) << call;
        EXPECT_EQ(detail(), where(csv_path, bad_line, bad_offset)) << call;
        EXPECT_EQ(rowkit_line_number(ctx), bad_line) << call;
        rowkit_close(ctx);
    }
}

// Validation: the schema's column and rule, an unknown column by name, the
// place of a JSON syntax error, and where a reading error stopped the report.
TEST(CApiErrors, ValidationDetails) {
    TempDir dir;
    const std::string people = dir.write("people.csv", "name,age\nann,34\nbob,\"27\n");
    const struct {
        const char *schema;
        std::string message, detail;
    } cases[] = {
        {R"({"age":{"min":"18"}})", "validate failed: BadSchema",
         R"(column "age": rule "min" must be a number, got a string)"},
        {R"({"age":{"requird":true}})", "validate failed: BadSchema",
         R"(column "age": unknown rule key "requird")"},
        {R"({"age":{"type":"int"}})", "validate failed: BadSchema",
         R"(column "age": unknown type "int", expected any, integer, float, boolean, )"
         R"(datetime or string)"},
        {R"({"nme":{}})", "validate failed: UnknownColumn", R"(column "nme" is not in the header)"},
        {"{\"age\":{\"min\":18,}\n}", "validate failed: BadSchema",
         "schema is not valid JSON: trailing comma before '}' at byte 17 (line 1, column 18)"},
        {R"({"age":{"min":18}})", "validate failed: UnterminatedQuote", where(people, 3, 16)},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(rowkit_validate(people.c_str(), c.schema, 0), nullptr) << c.schema;
        EXPECT_EQ(lastError(), c.message) << c.schema;
        EXPECT_EQ(detail(), c.detail) << c.schema;
    }
    const std::string missing = dir.path() + "/none.csv";
    EXPECT_EQ(rowkit_validate(missing.c_str(), "{}", 0), nullptr);
    EXPECT_EQ(lastError() + " " + detail(),
              "validate failed: FileNotFound file \"" + missing + "\"");
    const std::string records = dir.write("b.ndjson", "{\"id\": 1}\n{\"id\": \n");
    EXPECT_EQ(rowkit_validate(records.c_str(), "{}", 0), nullptr);
    EXPECT_EQ(lastError() + " " + detail(),
              "validate failed: InvalidJson " + where(records, 2, 10));
    EXPECT_TRUE(!rowkit_validate(nullptr, "{}", 0) && lastError() == "path is null");
    EXPECT_TRUE(!rowkit_validate(people.c_str(), nullptr, 0) &&
                lastError() == "schema_json is null");
    rowkit_validate_free(nullptr);
    EXPECT_EQ(rowkit_validate_json(nullptr), nullptr);
    ValidationReport *report = rowkit_validate(dir.write("ok.csv", "age\n1\n").c_str(), "{}", 0);
    ASSERT_NE(report, nullptr);
    EXPECT_EQ(rowkit_last_error_detail(), nullptr);
    rowkit_validate_free(report);

    // The streaming validator: the same details on open; rows numbered by
    // data row, lines by the file; the failure that ends the validation
    // keeps its place, in single steps and in batches.
    EXPECT_EQ(rowkit_validator_open(people.c_str(), R"({"nme":{}})"), nullptr);
    EXPECT_EQ(lastError(), "cannot open validator: UnknownColumn");
    EXPECT_EQ(detail(), R"(column "nme" is not in the header)");
    EXPECT_EQ(rowkit_validator_line_number(nullptr), 0u);
    const std::string array = dir.write("a.json", "[\n {\"a\":1},\n\n {\"a\":\n  2}, {\"a\":[3]}]");
    for (bool batches : {false, true}) {
        ValidatorCtx *v = rowkit_validator_open(array.c_str(), R"({"a":{"type":"integer"}})");
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(rowkit_validator_line_number(v), 0u);
        uint64_t number = 0;
        Batch *batch = nullptr;
        EXPECT_EQ(batches ? rowkit_validator_next_batch(v, 2, 1000, &batch)
                          : rowkit_validator_next(v, nullptr, nullptr, nullptr, &number),
                  1);
        rowkit_batch_free(batch);
        EXPECT_EQ(rowkit_validator_line_number(v), batches ? 4u : 2u);
        if (!batches) {
            EXPECT_EQ(rowkit_validator_next(v, nullptr, nullptr, nullptr, &number), 1);
            EXPECT_EQ(number, 2u);
            EXPECT_EQ(rowkit_validator_line_number(v), 4u);
        }
        for (int again = 0; again < 2; ++again) {
            EXPECT_EQ(batches ? rowkit_validator_next_batch(v, 2, 1000, &batch)
                              : rowkit_validator_next(v, nullptr, nullptr, nullptr, nullptr),
                      -1);
            EXPECT_EQ(lastError(), batches ? "batch failed: NestedValueNotSupported"
                                           : "validate failed: NestedValueNotSupported");
            EXPECT_EQ(detail(), where(array, 5, 26));
            EXPECT_EQ(rowkit_validator_line_number(v), 5u);
        }
        rowkit_validator_close(v);
    }
}
