// Row batches through the public interface: limits, framing, the byte
// target, escaping and byte arrays, every source and option, validated
// rows, messages, allocation failures and the steady state.
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "alloc.hpp"
#include "rowkit.h"
#include "support/test_files.hpp"

using namespace rowkit_test;

namespace {

using NextBatch = std::function<int(Batch **)>;

// Every batch text `next` gives, then "end" or "-1 message"; at most
// `calls` calls.
std::vector<std::string> drain(const NextBatch &next, int calls = 1 << 30) {
    std::vector<std::string> out;
    for (int call = 0; call < calls; ++call) {
        Batch *b = reinterpret_cast<Batch *>(&out);  // must be replaced
        const int rc = next(&b);
        if (rc != 1) {
            EXPECT_EQ(b, nullptr);
            out.push_back(rc == 0 ? "end" : "-1 " + lastError());
            return out;
        }
        EXPECT_EQ(rowkit_last_error(), nullptr);
        size_t len = 0;
        const char *text = rowkit_batch_json(b, &len);
        EXPECT_EQ(text[len], '\0');
        out.emplace_back(text, len);
        rowkit_batch_free(b);
    }
    return out;
}

std::vector<std::string> batchesOf(const std::string &path, size_t max_rows, size_t target,
                                   const COptions *options = nullptr) {
    Ctx *ctx = rowkit_open(path.c_str(), options);
    if (!ctx) return {"<null: " + lastError() + ">"};
    auto out = drain([&](Batch **b) { return rowkit_next_batch(ctx, max_rows, target, b); });
    rowkit_close(ctx);
    return out;
}

std::vector<std::string> validatedBatchesOf(const std::string &path, const char *schema,
                                            size_t max_rows, size_t target) {
    ValidatorCtx *v = rowkit_validator_open(path.c_str(), schema);
    if (!v) return {"<null: " + lastError() + ">"};
    auto out =
        drain([&](Batch **b) { return rowkit_validator_next_batch(v, max_rows, target, b); });
    rowkit_validator_close(v);
    return out;
}

std::string tenRows() {
    std::string csv = "n,s\n";
    for (int i = 1; i <= 10; ++i)
        csv += std::to_string(i) + ",x\n";
    return csv;
}

// The batch text of rows `first` to `last` of tenRows().
std::string tens(int first, int last) {
    std::string out;
    for (int i = first; i <= last; ++i)
        out += (out.empty() ? "[[\"" : ",[\"") + std::to_string(i) + "\",\"x\"]";
    return out + "]";
}

}  // namespace

// The row count and byte target close batches; bad limits fail before any
// row is read; the end repeats.
TEST(CApiBatch, LimitsFramingAndTheByteTarget) {
    TempDir dir;
    const std::string path = dir.write("t.csv", tenRows());
    Ctx *ctx = rowkit_open(path.c_str(), nullptr);
    for (auto [rows, target] : {std::pair<size_t, size_t>{0, 100}, {65537, 100}, {1, 0}})
        EXPECT_EQ(drain([&](Batch **b) { return rowkit_next_batch(ctx, rows, target, b); }),
                  std::vector<std::string>{"-1 batch failed: InvalidBatchSize"});
    EXPECT_EQ(drain([&](Batch **b) { return rowkit_next_batch(ctx, 65536, SIZE_MAX, b); }),
              (std::vector<std::string>{tens(1, 10), "end"}));
    EXPECT_EQ(drain([&](Batch **b) { return rowkit_next_batch(ctx, 1, 1, b); }),
              std::vector<std::string>{"end"});
    rowkit_close(ctx);
    EXPECT_EQ(batchesOf(path, 4, SIZE_MAX),
              (std::vector<std::string>{tens(1, 4), tens(5, 8), tens(9, 10), "end"}));
    // '[' and the first row make 10 bytes: a target of 10 closes after one
    // row, 11 after two; a row longer than the target is a batch of its own.
    EXPECT_EQ(batchesOf(path, 100, 10).size(), 11u);
    EXPECT_EQ(batchesOf(path, 100, 11),
              (std::vector<std::string>{tens(1, 2), tens(3, 4), tens(5, 6), tens(7, 8), tens(9, 10),
                                        "end"}));
    EXPECT_EQ(batchesOf(path, 3, 1).front(), tens(1, 1));
    EXPECT_EQ(batchesOf(dir.write("h.csv", "a,b\n"), 10, 10), std::vector<std::string>{"end"});
}

// One escaping rule for values and error texts; text that is not UTF-8 is
// a byte array; records without columns are empty arrays.
TEST(CApiBatch, EscapingAndByteArrays) {
    TempDir dir;
    const std::string path =
        dir.write("v.ndjson",
                  "{\"v\": \"a\\\"b\\\\c\", \"w\": \"\\n\\r\\t\\b\\f\\u0001\\u001f\"}\n"
                  "{\"v\": \"\", \"w\": \"\xc3\xa9/\x7f\"}\n"
                  "{\"v\": \"h\xff\", \"w\": null}\n");
    EXPECT_EQ(batchesOf(path, 10, 1000),
              (std::vector<std::string>{R"([["a\"b\\c","\n\r\t\b\f\u0001\u001f"],["","é/)"
                                        "\x7f"
                                        R"("],[[104,255],""]])",
                                        "end"}));
    EXPECT_EQ(
        validatedBatchesOf(path, R"({"v":{"max_len":1}})", 10, 1000),
        (std::vector<std::string>{
            R"([{"number":1,"values":["a\"b\\c","\n\r\t\b\f\u0001\u001f"],"errors":[{"row":1,"column":0,)"
            R"("column_name":"v","rule":"too_long","value":"a\"b\\c"}]},{"number":2,"values":["","é/)"
            "\x7f"
            R"("]},)"
            R"({"number":3,"values":[[104,255],""],"errors":[{"row":3,"column":0,"column_name":"v","rule":"too_long",)"
            R"("value":[104,255]}]}])",
            "end"}));
    EXPECT_EQ(batchesOf(dir.write("e.ndjson", "{}\n{\"a\": 1}\n"), 10, 1000),
              (std::vector<std::string>{"[[],[]]", "end"}));
}

// Batches follow the projection, predicate and limit (they read rows as
// rowkit_next does, whatever the format); validated batches number their
// rows after the rows pulled one by one.
TEST(CApiBatch, SourcesOptionsAndValidatedRows) {
    TempDir dir;
    std::string csv = "id,name,age\n";
    for (int i = 1; i <= 8; ++i)
        csv += std::to_string(i) + ",n" + std::to_string(i) + "," + std::to_string(i * 10) + "\n";
    size_t columns[] = {2, 0};
    CPredicate over = {2, ROWKIT_OP_GT, "20", nullptr, 0};
    COptions o = ROWKIT_OPTIONS_INIT;
    o.columns = columns;
    o.n_columns = 2;
    o.where = &over;
    o.n_where = 1;
    o.limit = 5;
    const std::vector<std::string> want = {R"([["30","3"],["40","4"]])",
                                           R"([["50","5"],["60","6"]])", R"([["70","7"]])", "end"};
    EXPECT_EQ(batchesOf(dir.write("p.csv", csv), 2, 1000, &o), want);

    ValidatorCtx *v =
        rowkit_validator_open((dir.path() + "/p.csv").c_str(), R"({"age":{"max":25}})");
    ASSERT_NE(v, nullptr);
    ASSERT_EQ(rowkit_validator_next(v, nullptr, nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(drain([&](Batch **b) { return rowkit_validator_next_batch(v, 2, 1, b); }, 1).front(),
              R"([{"number":2,"values":["2","n2","20"]}])");
    EXPECT_EQ(
        drain([&](Batch **b) { return rowkit_validator_next_batch(v, 1, 1000, b); }, 1).front(),
        R"([{"number":3,"values":["3","n3","30"],"errors":[{"row":3,"column":2,"column_name":"age","rule":"above_max","value":"30"}]}])");
    EXPECT_TRUE(rowkit_validator_rows_total(v) == 3 && rowkit_validator_rows_valid(v) == 2);
    rowkit_validator_close(v);
}

TEST(CApiBatch, MessagesAndReaderErrors) {
    TempDir dir;
    Batch *b = reinterpret_cast<Batch *>(&dir);
    EXPECT_TRUE(rowkit_next_batch(nullptr, 1, 1, &b) == -1 && !b &&
                lastError() == "scanner is null");
    EXPECT_TRUE(rowkit_next_batch(nullptr, 1, 1, nullptr) == -1 &&
                lastError() == "scanner is null");
    b = reinterpret_cast<Batch *>(&dir);
    EXPECT_TRUE(rowkit_validator_next_batch(nullptr, 1, 1, &b) == -1 && !b &&
                lastError() == "validator is null");
    size_t len = 7;
    EXPECT_TRUE(!rowkit_batch_json(nullptr, &len) && len == 0 &&
                !rowkit_batch_json(nullptr, nullptr));
    rowkit_batch_free(nullptr);
    const std::string path = dir.write("q.csv", "a\n1\n2\n\"x\n4\n");
    Ctx *ctx = rowkit_open(path.c_str(), nullptr);
    EXPECT_TRUE(rowkit_next_batch(ctx, 1, 1, nullptr) == -1 &&
                lastError() == "batch output is null");
    // The rows the failed batch read are gone; the scanner goes on after them.
    EXPECT_EQ(drain([&](Batch **out) { return rowkit_next_batch(ctx, 10, 1000, out); }),
              std::vector<std::string>{"-1 batch failed: UnterminatedQuote"});
    EXPECT_EQ(drain([&](Batch **out) { return rowkit_next_batch(ctx, 10, 1000, out); }),
              (std::vector<std::string>{R"([["4"]])", "end"}));
    rowkit_close(ctx);
    ValidatorCtx *v = rowkit_validator_open(path.c_str(), "{}");
    EXPECT_TRUE(rowkit_validator_next_batch(v, 1, 1, nullptr) == -1 &&
                lastError() == "batch output is null");
    EXPECT_EQ(drain([&](Batch **out) { return rowkit_validator_next_batch(v, 1, 1, out); }),
              (std::vector<std::string>{R"([{"number":1,"values":["1"]}])",
                                        R"([{"number":2,"values":["2"]}])",
                                        "-1 batch failed: UnterminatedQuote"}));
    rowkit_validator_close(v);
}

// Every allocation can fail, with a documented message and nothing leaked;
// the run that gets through gives every batch. Once warm, a batch costs two
// allocations (its handle and its text) whatever its number of rows.
TEST(CApiBatch, AllocationFailuresAndTheSteadyState) {
    TempDir dir;
    std::string csv = "id,name,age\n";
    for (int i = 0; i < 400; ++i)
        csv +=
            std::to_string(i) + ",n\xff" + std::to_string(i % 9) + "," + (i % 3 ? "4" : "x") + "\n";
    const std::string path = dir.write("p.csv", csv);
    const char *schema = R"({"age":{"type":"integer"}})";
    size_t columns[] = {1, 2};
    CPredicate pred = {0, ROWKIT_OP_GTE, "2", nullptr, 0};
    COptions o = ROWKIT_OPTIONS_INIT;
    o.columns = columns;
    o.n_columns = 2;
    o.where = &pred;
    o.n_where = 1;
    const std::vector<std::function<std::vector<std::string>()>> runs = {
        [&] { return batchesOf(path, 64, 1 << 20, &o); },
        [&] { return validatedBatchesOf(path, schema, 64, 1 << 20); }};
    std::set<std::string> seen;
    for (const auto &run : runs) {
        const std::vector<std::string> expected = run();
        ASSERT_EQ(expected.size(), 8u);
        for (uint64_t nth = 1;; ++nth) {
            rowkit::alloc_hook::failAt(nth);
            const std::vector<std::string> got = run();
            const bool failed = rowkit::alloc_hook::count() >= nth;
            rowkit::alloc_hook::reset();
            if (!failed) {
                EXPECT_EQ(got, expected);
                break;
            }
            seen.insert(got.back());
        }
    }
    EXPECT_EQ(seen, (std::set<std::string>{
                        "<null: open failed: OutOfMemory>",
                        "<null: out of memory allocating scanner context>",
                        "<null: out of memory allocating header>",
                        "<null: out of memory allocating predicates>",
                        "<null: cannot open validator: OutOfMemory>",
                        "<null: out of memory>",
                        "<null: out of memory copying header>", "-1 out of memory allocating batch",
                        "-1 batch failed: WriteFailed", "-1 batch failed: OutOfMemory"}));

    for (int validated = 0; validated < 2; ++validated) {
        Ctx *ctx = rowkit_open(path.c_str(), &o);
        ValidatorCtx *v = rowkit_validator_open(path.c_str(), schema);
        auto next = [&](Batch **b) {
            return validated ? rowkit_validator_next_batch(v, 50, 1 << 20, b)
                             : rowkit_next_batch(ctx, 50, 1 << 20, b);
        };
        Batch *b = nullptr;
        ASSERT_EQ(next(&b), 1);
        rowkit_batch_free(b);
        rowkit::alloc_hook::reset();
        for (int i = 0; i < 6; ++i) {
            ASSERT_EQ(next(&b), 1);
            rowkit_batch_free(b);
        }
        EXPECT_EQ(rowkit::alloc_hook::count(), 12u) << validated;
        rowkit_close(ctx);
        rowkit_validator_close(v);
    }
}
