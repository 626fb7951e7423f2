// The scanner handle through the public interface: messages, NULL handling,
// predicates, projection, limits, ownership and allocation failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "alloc.hpp"
#include "rowkit.h"
#include "support/test_files.hpp"

using namespace rowkit_test;

namespace {

const char *kPeople = "id,name,age,city\n1,ann,34,Oslo\n2,bob,27,\"Lima, PE\"\n3,cy,,Rome\n"
                      "4,dee,41.5,\"Say \"\"hi\"\"\"\n5,eve,abc,Oslo\n";

CPredicate pred(size_t column, int op, const char *value, const char *const *values = nullptr, size_t n = 0) {
    return {column, op, value, values, n};
}

}  // namespace

TEST(CApiScanner, HeaderAndRows) {
    TempDir dir;
    Ctx *ctx = rowkit_open(dir.write("people.csv", kPeople).c_str(), nullptr);
    ASSERT_TRUE(ctx && !rowkit_last_error() && rowkit_n_columns(ctx) == 4 && !rowkit_column_name(ctx, 4));
    EXPECT_STREQ(rowkit_column_name(ctx, 3), "city");
    EXPECT_TRUE(rowkit_column_index(ctx, "age") == 2 && rowkit_column_index(ctx, "ag") == SIZE_MAX &&
                rowkit_column_index(ctx, nullptr) == SIZE_MAX);
    Rows rows = readAll(ctx);
    EXPECT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows.at(1), (std::vector<std::string>{"2", "bob", "27", "Lima, PE"}));
    // The end is repeatable and leaves the outputs alone.
    const char *const *fields = nullptr;
    size_t n = 77;
    EXPECT_TRUE(rowkit_next(ctx, &fields, &n) == 0 && rowkit_next(ctx, &fields, &n) == 0 && n == 77 && !fields);
    rowkit_close(ctx);

    // Ragged rows keep their own widths; a field holding NUL ends there.
    std::string ragged = dir.write("w.csv", std::string("a,b\n1\n1,2,3\n\nx,\0y\n", 18));
    EXPECT_EQ(readFile(ragged), (Rows{{"1"}, {"1", "2", "3"}, {""}, {"x", ""}}));
    // Upper-case suffixes are not JSON: read as CSV.
    EXPECT_EQ(readFile(dir.write("x.JSON", "a\n1\n")), (Rows{{"1"}}));

    EXPECT_TRUE(rowkit_column_name(nullptr, 0) == nullptr && rowkit_column_index(nullptr, "id") == SIZE_MAX);
    EXPECT_STREQ(rowkit_build_mode(), "ReleaseFast");
}

TEST(CApiScanner, MessagesAndNullArguments) {
    TempDir dir;
    EXPECT_EQ(rowkit_open(nullptr, nullptr), nullptr);
    EXPECT_EQ(lastError(), "path is null");
    EXPECT_EQ(rowkit_next(nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(lastError(), "scanner is null");
    // Accessors and close leave the message alone.
    rowkit_close(nullptr);
    EXPECT_EQ(rowkit_n_columns(nullptr), 0u);
    EXPECT_EQ(lastError(), "scanner is null");

    const std::pair<std::string, std::string> open_failures[] = {
        {dir.path() + "/none.csv", "FileNotFound"}, {dir.write("f", "a\n") + "/y.csv", "NotDir"}, {dir.path(), "IsDir"},
        {dir.write("e.csv", ""), "EmptyFile"}, {dir.write("q.csv", "\"a\n"), "UnterminatedQuote"}};
    for (const auto &[path, name] : open_failures) {
        EXPECT_EQ(rowkit_open(path.c_str(), nullptr), nullptr);
        EXPECT_EQ(lastError(), "open failed: " + name) << path;
    }

    std::string path = dir.write("p.csv", kPeople);
    COptions o = defaultOptions();
    o.n_where = 1;
    EXPECT_EQ(rowkit_open(path.c_str(), &o), nullptr);
    EXPECT_EQ(lastError(), "predicates are null");
    // A missing text, also for unknown codes (taken as eq) and IN lists.
    const char *with_null[] = {"1", nullptr};
    for (CPredicate p : {pred(0, ROWKIT_OP_GT, nullptr), pred(0, 42, nullptr), pred(0, ROWKIT_OP_IN_LIST, "x", nullptr, 2),
                         pred(0, ROWKIT_OP_IN_LIST, "x", with_null, 2)}) {
        o.where = &p;
        EXPECT_EQ(rowkit_open(path.c_str(), &o), nullptr);
        EXPECT_EQ(lastError(), "predicate text is null");
    }

    // An unterminated quote fails one call; the next goes on and clears the
    // message.
    Ctx *ctx = rowkit_open(dir.write("bad.csv", "a,b\n1,\"x\n2,y\n").c_str(), nullptr);
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(rowkit_next(ctx, nullptr, nullptr), -1);
    EXPECT_EQ(lastError(), "next failed: UnterminatedQuote");
    EXPECT_EQ(readAll(ctx), (Rows{{"2", "y"}}));
    EXPECT_EQ(rowkit_last_error(), nullptr);
    // A message outlives the close of another handle.
    EXPECT_EQ(rowkit_next(nullptr, nullptr, nullptr), -1);
    rowkit_close(ctx);
    EXPECT_EQ(lastError(), "scanner is null");
}

TEST(CApiScanner, PredicatesCompareNumbersThenText) {
    TempDir dir;
    std::string path = dir.write("p.csv", kPeople);
    char hex[] = "0x1B";
    const char *ages[] = {"3.4e1", hex, "ABC"};
    const char *empty[] = {""};
    const struct { std::vector<CPredicate> where; int negate; std::string want; } cases[] = {
        {{pred(2, ROWKIT_OP_GTE, "30")}, 0, "145"},  // numeric where both are numbers
        {{pred(2, ROWKIT_OP_LT, "30")}, 0, "23"},    // the empty text is below "30"
        {{pred(0, ROWKIT_OP_EQ, "0x4")}, 0, "4"},
        {{pred(0, ROWKIT_OP_NEQ, "+3")}, 0, "1245"},
        {{pred(0, ROWKIT_OP_GT, "3a")}, 0, "45"},  // a non-numeric value compares as text
        {{pred(1, ROWKIT_OP_LTE, "bob")}, 0, "12"},
        {{pred(3, -1, "Oslo")}, 0, "15"},  // unknown codes are eq
        {{pred(9, ROWKIT_OP_NEQ, "x")}, 1, "12345"},  // a column past the row's end is false
        // IN lists compare each entry as eq does; an empty list matches nothing.
        {{pred(2, ROWKIT_OP_IN_LIST, nullptr, ages, 3)}, 0, "12"},
        {{pred(2, ROWKIT_OP_IN_LIST, nullptr, empty, 1)}, 0, "3"},
        {{pred(2, ROWKIT_OP_IN_LIST, nullptr, nullptr, 0)}, 0, ""},
        // Conjunction, and negation of the whole conjunction.
        {{pred(3, ROWKIT_OP_EQ, "Oslo"), pred(2, ROWKIT_OP_GT, "30")}, 0, "15"},  // "abc" > "30"
        {{pred(3, ROWKIT_OP_EQ, "Oslo"), pred(2, ROWKIT_OP_GT, "30")}, 1, "234"},
        {{}, 1, ""},
    };
    for (const auto &c : cases) {
        const COptions o = {nullptr, 0, c.where.data(), c.where.size(), -1, -1, c.negate};
        Ctx *ctx = rowkit_open(path.c_str(), &o);
        ASSERT_NE(ctx, nullptr);
        std::strcpy(hex, "zzz");  // IN values are copied at open
        std::string got;
        for (const auto &row : readAll(ctx)) got += row[0];
        rowkit_close(ctx);
        std::strcpy(hex, "0x1B");
        EXPECT_EQ(got, c.want) << &c - cases;
    }
}

TEST(CApiScanner, ProjectionLimitAndMaxColumn) {
    TempDir dir;
    std::string path = dir.write("p.csv", kPeople);
    size_t cols[] = {3, 0, 7};
    const CPredicate cy = pred(1, ROWKIT_OP_EQ, "cy"), oslo = pred(3, ROWKIT_OP_EQ, "Oslo");
    // Options, then the row count and the first row.
    const std::pair<COptions, std::string> cases[] = {
        {{cols, 3, nullptr, 0, -1, -1, 0}, "5 Oslo|1|"},
        {{cols, 1, &cy, 1, -1, -1, 0}, "1 Rome"},  // predicates see source columns
        {{cols, 0, nullptr, 0, -1, -1, 0}, "5 1|ann|34|Oslo"},  // no projection without a count
        {{nullptr, 2, nullptr, 0, 2, -1, 0}, "2 1|ann|34|Oslo"},  // nor without columns
        {{nullptr, 0, nullptr, 0, 0, -1, 0}, "0"},
        {{nullptr, 0, nullptr, 0, -1, 1, 0}, "5 1|ann"},
        {{nullptr, 0, &oslo, 1, -1, 1, 0}, "0"},  // a predicate past max_column sees nothing
    };
    for (const auto &[o, want] : cases) {
        Rows rows = readFile(path, &o);
        std::string got = std::to_string(rows.size());
        for (size_t i = 0; !rows.empty() && i < rows[0].size(); ++i) got += (i ? "|" : " ") + rows[0][i];
        EXPECT_EQ(got, want);
    }
}

TEST(CApiScanner, SteadyStateRowsAllocateNothing) {
    TempDir dir;
    std::string text = "a,b,c\nshort,x," + std::string(100, 'L') + "\n";
    for (int i = 0; i < 10001; ++i) text += std::to_string(i) + ",y,\"q\"\"" + std::to_string(i % 90) + "\"\n";
    Ctx *ctx = rowkit_open(dir.write("s.csv", text).c_str(), nullptr);
    const char *const *f;
    size_t n, rows = 0;
    ASSERT_TRUE(ctx && rowkit_next(ctx, &f, &n) == 1 && rowkit_next(ctx, &f, &n) == 1);
    EXPECT_STREQ(f[2], "q\"0");
    rowkit::alloc_hook::reset();
    while (rowkit_next(ctx, &f, &n) == 1) ++rows;
    EXPECT_TRUE(rows == 10000 && rowkit::alloc_hook::count() == 0);
    rowkit_close(ctx);
}

// Every allocation of open and next can fail: each failure gives a documented
// message, leaks nothing (checked by the sanitizer build), and a handle stays
// usable after a failed next.
TEST(CApiScanner, AllocationFailures) {
    TempDir dir;
    std::string path = dir.write("p.csv", kPeople);
    const char *values[] = {"Oslo", "Rome"};
    CPredicate preds[2] = {pred(0, ROWKIT_OP_GT, "0"), pred(3, ROWKIT_OP_IN_LIST, nullptr, values, 2)};
    size_t cols[] = {1, 3};
    COptions o = {cols, 2, preds, 2, -1, -1, 0};
    auto documented = [](std::initializer_list<std::string> messages) {
        return std::find(messages.begin(), messages.end(), lastError()) != messages.end();
    };
    Ctx *ctx = nullptr;
    for (uint64_t nth = 1; nth < 200 && !ctx; ++nth) {
        rowkit::alloc_hook::failAt(nth);
        ctx = rowkit_open(path.c_str(), &o);
        rowkit::alloc_hook::reset();
        EXPECT_TRUE(ctx || documented({"out of memory allocating predicates", "out of memory allocating IN values",
                                       "out of memory allocating scanner context", "open failed: OutOfMemory",
                                       "out of memory allocating header"}))
            << "allocation " << nth << ": " << lastError();
    }
    ASSERT_NE(ctx, nullptr);
    rowkit_close(ctx);

    // A failed call loses at most its own row (possibly one the predicates
    // would have dropped); the others come out in order.
    const Rows expected = {{"ann", "Oslo"}, {"cy", "Rome"}, {"eve", "Oslo"}};
    size_t failures = 1;
    for (uint64_t nth = 1; nth < 50 && failures > 0; ++nth) {
        ctx = rowkit_open(path.c_str(), &o);
        ASSERT_NE(ctx, nullptr);
        rowkit::alloc_hook::failAt(nth);
        Rows got;
        failures = 0;
        const char *const *f;
        size_t n;
        for (int r; (r = rowkit_next(ctx, &f, &n)) != 0;) {
            if (r > 0) {
                got.push_back({f[0], f[1]});
                continue;
            }
            ++failures;
            EXPECT_TRUE(documented({"out of memory growing field buffers", "out of memory copying row", "next failed: OutOfMemory"}))
                << lastError();
        }
        rowkit::alloc_hook::reset();
        rowkit_close(ctx);
        size_t k = 0;
        for (const auto &row : got) {
            while (k < expected.size() && expected[k] != row) ++k;
            EXPECT_LT(k, expected.size()) << "allocation " << nth;
        }
        EXPECT_GE(got.size() + failures, expected.size()) << nth;
    }
}
