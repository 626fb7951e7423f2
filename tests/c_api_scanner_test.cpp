// The scanner handle through the public interface: messages, NULL handling,
// predicates, projection, limits and the bytes read. (The steady state and the
// allocation failures of opening and reading are checked in
// c_api_ndjson_test.cpp and c_api_alloc_sweep_test.cpp.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "rowkit.h"
#include "support/test_files.hpp"

using namespace rowkit_test;

namespace {

const char *kPeople = "id,name,age,city\n1,ann,34,Oslo\n2,bob,27,\"Lima, PE\"\n3,cy,,Rome\n"
                      "4,dee,41.5,\"Say \"\"hi\"\"\"\n5,eve,abc,Oslo\n";
size_t kId[] = {0};

CPredicate pred(size_t column, int op, const char *value, const char *const *values = nullptr,
                size_t n = 0) {
    return {column, op, value, values, n};
}

}  // namespace

TEST(CApiScanner, MessagesAndNullArguments) {
    TempDir dir;
    EXPECT_EQ(rowkit_next(nullptr, nullptr, nullptr), -1);
    // Accessors and close leave the message alone.
    rowkit_close(nullptr);
    EXPECT_EQ(rowkit_n_columns(nullptr), 0u);
    EXPECT_EQ(rowkit_column_name(nullptr, 0), nullptr);
    EXPECT_EQ(rowkit_column_index(nullptr, "id"), SIZE_MAX);
    EXPECT_EQ(lastError(), "scanner is null");
    // A missing predicate text, also for unknown codes (taken as eq) and IN lists.
    const char *with_null[] = {"1", nullptr};
    const CPredicate nulls[] = {pred(0, ROWKIT_OP_GT, nullptr), pred(0, 42, nullptr),
                                pred(0, ROWKIT_OP_IN_LIST, "x", nullptr, 2),
                                pred(0, ROWKIT_OP_IN_LIST, "x", with_null, 2)};
    const std::string p = dir.write("p.csv", kPeople), text_null = "predicate text is null";
    const struct {
        std::string path;
        const CPredicate *where;
        size_t n_where;
        std::string message;
    } cases[] = {{dir.path(), nullptr, 0, "open failed: IsDir"},
                 {dir.write("f", "a\n") + "/y.csv", nullptr, 0, "open failed: NotDir"},
                 {p, nullptr, 1, "predicates are null"}, {p, nulls, 1, text_null},
                 {p, nulls + 1, 1, text_null}, {p, nulls + 2, 1, text_null},
                 {p, nulls + 3, 1, text_null}};
    for (const auto &c : cases) {
        const COptions o = {nullptr, 0, c.where, c.n_where, -1, -1, 0};
        EXPECT_EQ(rowkit_open(c.path.c_str(), &o), nullptr) << c.message;
        EXPECT_EQ(lastError(), c.message);
    }
    EXPECT_EQ(rowkit_open(nullptr, nullptr), nullptr);
    EXPECT_EQ(lastError(), "path is null");
    // An unterminated quote fails one call; the next goes on and clears the
    // message. A message outlives the close of another handle.
    Ctx *ctx = rowkit_open(dir.write("bad.csv", "a,b\n1,\"x\n2,y\n").c_str(), nullptr);
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(rowkit_next(ctx, nullptr, nullptr), -1);
    EXPECT_EQ(lastError(), "next failed: UnterminatedQuote");
    EXPECT_EQ(readAll(ctx), (Rows{{"2", "y"}}));
    EXPECT_EQ(rowkit_last_error(), nullptr);
    EXPECT_EQ(rowkit_next(nullptr, nullptr, nullptr), -1);
    rowkit_close(ctx);
    EXPECT_EQ(lastError(), "scanner is null");
}

TEST(CApiScanner, RowsPredicatesProjectionAndLimits) {
    TempDir dir;
    std::string path = dir.write("p.csv", kPeople);
    Ctx *ctx = rowkit_open(path.c_str(), nullptr);
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(rowkit_last_error(), nullptr);
    EXPECT_EQ(rowkit_n_columns(ctx), 4u);
    EXPECT_EQ(rowkit_column_name(ctx, 4), nullptr);
    EXPECT_STREQ(rowkit_column_name(ctx, 3), "city");
    EXPECT_EQ(rowkit_column_index(ctx, "age"), 2u);
    EXPECT_EQ(rowkit_column_index(ctx, "ag"), SIZE_MAX);
    EXPECT_EQ(rowkit_column_index(ctx, nullptr), SIZE_MAX);
    EXPECT_EQ(readAll(ctx).size(), 5u);
    // The end is repeatable and leaves the outputs alone.
    const char *const *fields = nullptr;
    size_t n = 77;
    EXPECT_EQ(rowkit_next(ctx, &fields, &n), 0);
    EXPECT_EQ(rowkit_next(ctx, &fields, &n), 0);
    EXPECT_EQ(n, 77u);
    EXPECT_EQ(fields, nullptr);
    rowkit_close(ctx);
    // Ragged rows keep their own widths; a field holding NUL ends there.
    EXPECT_EQ(readFile(dir.write("w.csv", std::string("a,b\n1\n1,2,3\n\nx,\0y\n", 18))),
              (Rows{{"1"}, {"1", "2", "3"}, {""}, {"x", ""}}));
    // Upper-case suffixes are not JSON: read as CSV.
    EXPECT_EQ(readFile(dir.write("x.JSON", "a\n1\n")), (Rows{{"1"}}));
    char hex[] = "0x1B";
    const char *ages[] = {"3.4e1", hex, "ABC"}, *empty[] = {""};
    size_t cols[] = {3, 0, 7};
    const CPredicate oslo = pred(3, ROWKIT_OP_EQ, "Oslo"), over30 = pred(2, ROWKIT_OP_GT, "30");
    // Options, then the rows read ('|' between fields, ' ' between rows),
    // by default only their ids.
    const struct {
        std::vector<CPredicate> where;
        int negate;
        std::string want;
        size_t *cols = kId;
        size_t n_cols = 1;
        int64_t limit = -1, max_column = -1;
    } cases[] = {
        {{pred(2, ROWKIT_OP_GTE, "30")}, 0, "1 4 5"},  // numeric where both are numbers
        {{pred(2, ROWKIT_OP_LT, "30")}, 0, "2 3"},     // the empty text is below "30"
        {{pred(2, ROWKIT_OP_LTE, "34")}, 0, "1 2 3"},
        {{pred(2, ROWKIT_OP_NEQ, "34")}, 0, "2 3 4 5"},  // fields below, above and not numbers
        {{pred(3, ROWKIT_OP_NEQ, "Oslo")}, 0, "2 3 4"},
        {{pred(0, ROWKIT_OP_GT, "3a")}, 0, "4 5"},        // a non-numeric value compares as text
        {{pred(3, -1, "Oslo")}, 0, "1 5"},                // unknown codes are eq
        {{pred(9, ROWKIT_OP_NEQ, "x")}, 1, "1 2 3 4 5"},  // a column past the row's end is false
        // IN lists compare each entry as eq does; an empty list matches nothing.
        {{pred(2, ROWKIT_OP_IN_LIST, nullptr, ages, 3)}, 0, "1 2"},
        {{pred(2, ROWKIT_OP_IN_LIST, nullptr, empty, 1)}, 0, "3"},
        {{pred(2, ROWKIT_OP_IN_LIST, nullptr, nullptr, 0)}, 0, ""},
        // Conjunction, and negation of the whole conjunction.
        {{oslo, over30}, 0, "1 5"},  // "abc" > "30"
        {{oslo, over30}, 1, "2 3 4"},
        {{}, 1, ""},
        {{}, 0, "Oslo|1| Lima, PE|2| Rome|3| Say \"hi\"|4| Oslo|5|", cols, 3},
        {{pred(1, ROWKIT_OP_EQ, "cy")}, 0, "Rome", cols, 1},        // predicates see source columns
        {{}, 0, "1|ann|34|Oslo", cols, 0, 1},                       // no projection without a count
        {{}, 0, "1|ann|34|Oslo 2|bob|27|Lima, PE", nullptr, 2, 2},  // nor without columns
        {{}, 0, "", kId, 1, 0},
        {{}, 0, "1|ann 2|bob 3|cy 4|dee 5|eve", nullptr, 0, -1, 1},
        {{oslo}, 0, "", nullptr, 0, -1, 1},  // a predicate past max_column sees nothing
    };
    for (const auto &c : cases) {
        const COptions o = {c.cols,  c.n_cols,     c.where.data(), c.where.size(),
                            c.limit, c.max_column, c.negate};
        ASSERT_NE(ctx = rowkit_open(path.c_str(), &o), nullptr);
        std::strcpy(hex, "zzz");  // IN values are copied at open
        Rows rows = readAll(ctx);
        rowkit_close(ctx);
        std::strcpy(hex, "0x1B");
        std::string got;
        for (size_t r = 0; r < rows.size(); ++r)
            for (size_t i = 0; i < rows[r].size(); ++i)
                got += (i ? "|" : r ? " " : "") + rows[r][i];
        EXPECT_EQ(got, c.want) << &c - cases;
    }
}

// The bytes read follow the rows taken, line by line across chunk
// boundaries, for CSV and JSON records, through the scanner and the
// validator alike; they end at the input's size. Filtered-out rows are
// consumed too. NULL handles give 0 and the message is left alone.
TEST(CApiScanner, BytesReadFollowTheRowsTaken) {
    TempDir dir;
    std::string csv = "id,name\n", ndjson;
    std::vector<uint64_t> csv_ends, ndjson_ends;
    for (int i = 0; i < 30000; ++i) {  // past one 256 KiB chunk in both forms
        csv += std::to_string(i) + ",\"n " + std::to_string(i) + "\"\n";
        ndjson += "{\"id\":" + std::to_string(i) + ",\"name\":\"n\"}\n";
        csv_ends.push_back(csv.size());
        ndjson_ends.push_back(ndjson.size());
    }
    const std::string csv_path = dir.write("b.csv", csv);
    const std::string json_path = dir.write("b.ndjson", ndjson);
    const char *schema = R"({"id":{"type":"integer"}})";
    for (int validator = 0; validator < 2; ++validator) {
        for (const auto &[path, ends] : {std::pair{csv_path, csv_ends}, {json_path, ndjson_ends}}) {
            Ctx *ctx = validator ? nullptr : rowkit_open(path.c_str(), nullptr);
            ValidatorCtx *v = validator ? rowkit_validator_open(path.c_str(), schema) : nullptr;
            ASSERT_TRUE(ctx || v) << path;
            auto bytes = [&] {
                return ctx ? rowkit_bytes_read(ctx) : rowkit_validator_bytes_read(v);
            };
            auto next = [&] {
                return ctx ? rowkit_next(ctx, nullptr, nullptr)
                           : rowkit_validator_next(v, nullptr, nullptr, nullptr, nullptr);
            };
            size_t mismatches = 0;
            for (uint64_t end : ends) {
                ASSERT_EQ(next(), 1);
                mismatches += bytes() != end;
            }
            EXPECT_EQ(mismatches, 0u) << path << " validator " << validator;
            EXPECT_EQ(next(), 0);
            EXPECT_EQ(bytes(), ends.back());
            rowkit_close(ctx);
            rowkit_validator_close(v);
        }
    }
    // A filter that passes nothing still reads the whole file.
    const CPredicate none = pred(0, ROWKIT_OP_LT, "-1");
    COptions options = ROWKIT_OPTIONS_INIT;
    options.where = &none;
    options.n_where = 1;
    Ctx *ctx = rowkit_open(csv_path.c_str(), &options);
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(rowkit_next(ctx, nullptr, nullptr), 0);
    EXPECT_EQ(rowkit_bytes_read(ctx), csv.size());
    rowkit_close(ctx);
    EXPECT_EQ(rowkit_next(nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(rowkit_bytes_read(nullptr), 0u);
    EXPECT_EQ(rowkit_validator_bytes_read(nullptr), 0u);
    EXPECT_EQ(lastError(), "scanner is null");
}
