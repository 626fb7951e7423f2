// The scanner handle through the public interface: messages, NULL handling,
// predicates, projection, limits, ownership and allocation failures.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "alloc.hpp"
#include "rowkit.h"
#include "support/test_files.hpp"

using rowkit_test::defaultOptions;
using rowkit_test::lastError;
using rowkit_test::readAll;
using rowkit_test::readFile;
using rowkit_test::Rows;
using rowkit_test::TempDir;

namespace {

const char *kPeople =
    "id,name,age,city\n"
    "1,ann,34,Oslo\n"
    "2,bob,27,\"Lima, PE\"\n"
    "3,cy,,Rome\n"
    "4,dee,41.5,\"Say \"\"hi\"\"\"\n"
    "5,eve,abc,Oslo\n";

CPredicate pred(size_t column, int op, const char *value) {
    CPredicate p;
    std::memset(&p, 0, sizeof p);
    p.column = column;
    p.op = op;
    p.value = value;
    return p;
}

CPredicate inPred(size_t column, const char *const *values, size_t n) {
    CPredicate p;
    std::memset(&p, 0, sizeof p);
    p.column = column;
    p.op = ROWKIT_OP_IN_LIST;
    p.values = values;
    p.n_values = n;
    return p;
}

// The ids (first field) of the rows a query returns.
std::vector<std::string> ids(const std::string &path, const COptions &o) {
    std::vector<std::string> out;
    for (auto &row : readFile(path, &o)) out.push_back(row.empty() ? "<none>" : row[0]);
    return out;
}

using Ids = std::vector<std::string>;

}  // namespace

TEST(CApiScanner, HeaderAndRows) {
    TempDir dir;
    std::string path = dir.write("people.csv", kPeople);
    Ctx *ctx = rowkit_open(path.c_str(), nullptr);
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(rowkit_last_error(), nullptr);
    EXPECT_EQ(rowkit_n_columns(ctx), 4u);
    EXPECT_STREQ(rowkit_column_name(ctx, 3), "city");
    EXPECT_EQ(rowkit_column_name(ctx, 4), nullptr);
    EXPECT_EQ(rowkit_column_index(ctx, "age"), 2u);
    EXPECT_EQ(rowkit_column_index(ctx, "ag"), SIZE_MAX);
    EXPECT_EQ(rowkit_column_index(ctx, nullptr), SIZE_MAX);
    Rows rows = readAll(ctx);
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[1], (std::vector<std::string>{"2", "bob", "27", "Lima, PE"}));
    EXPECT_EQ(rows[3][3], "Say \"hi\"");
    // The end is repeatable and leaves the outputs alone.
    const char *const *fields = reinterpret_cast<const char *const *>(&dir);
    size_t n = 77;
    EXPECT_EQ(rowkit_next(ctx, &fields, &n), 0);
    EXPECT_EQ(n, 77u);
    EXPECT_EQ(rowkit_next(ctx, &fields, &n), 0);
    rowkit_close(ctx);

    EXPECT_EQ(rowkit_n_columns(nullptr), 0u);
    EXPECT_EQ(rowkit_column_name(nullptr, 0), nullptr);
    EXPECT_EQ(rowkit_column_index(nullptr, "id"), SIZE_MAX);
    rowkit_close(nullptr);
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

    EXPECT_EQ(rowkit_open((dir.path() + "/none.csv").c_str(), nullptr), nullptr);
    EXPECT_EQ(lastError(), "open failed: FileNotFound");
    EXPECT_EQ(rowkit_open(dir.path().c_str(), nullptr), nullptr);
    EXPECT_EQ(lastError(), "open failed: IsDir");
    EXPECT_EQ(rowkit_open(dir.write("e.csv", "").c_str(), nullptr), nullptr);
    EXPECT_EQ(lastError(), "open failed: EmptyFile");
    EXPECT_EQ(rowkit_open(dir.write("q.csv", "\"a\n").c_str(), nullptr), nullptr);
    EXPECT_EQ(lastError(), "open failed: UnterminatedQuote");
    if (geteuid() != 0) {  // root reads any file
        std::string locked = dir.write("locked.csv", "a\n1\n");
        chmod(locked.c_str(), 0);
        EXPECT_EQ(rowkit_open(locked.c_str(), nullptr), nullptr);
        EXPECT_EQ(lastError(), "open failed: AccessDenied");
    }

    std::string path = dir.write("p.csv", kPeople);
    COptions o = defaultOptions();
    o.n_where = 1;
    EXPECT_EQ(rowkit_open(path.c_str(), &o), nullptr);
    EXPECT_EQ(lastError(), "predicates are null");
    CPredicate p = pred(0, ROWKIT_OP_GT, nullptr);
    o.where = &p;
    EXPECT_EQ(rowkit_open(path.c_str(), &o), nullptr);
    EXPECT_EQ(lastError(), "predicate text is null");
    p.op = 42;  // taken as eq, which needs a value too
    EXPECT_EQ(rowkit_open(path.c_str(), &o), nullptr);
    EXPECT_EQ(lastError(), "predicate text is null");
    p = inPred(0, nullptr, 2);
    EXPECT_EQ(rowkit_open(path.c_str(), &o), nullptr);
    EXPECT_EQ(lastError(), "predicate text is null");
    const char *with_null[] = {"1", nullptr};
    p = inPred(0, with_null, 2);
    EXPECT_EQ(rowkit_open(path.c_str(), &o), nullptr);
    EXPECT_EQ(lastError(), "predicate text is null");

    // An unterminated quote fails one call; the next goes on.
    std::string bad = dir.write("bad.csv", "a,b\n1,\"x\n2,y\n");
    Ctx *ctx = rowkit_open(bad.c_str(), nullptr);
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(rowkit_next(ctx, nullptr, nullptr), -1);
    EXPECT_EQ(lastError(), "next failed: UnterminatedQuote");
    const char *const *fields;
    size_t n;
    EXPECT_EQ(rowkit_next(ctx, &fields, &n), 1);
    EXPECT_EQ(rowkit_last_error(), nullptr);
    EXPECT_STREQ(fields[0], "2");
    rowkit_close(ctx);
}

TEST(CApiScanner, PredicatesCompareNumbersThenText) {
    TempDir dir;
    std::string path = dir.write("p.csv", kPeople);
    COptions o = defaultOptions();
    CPredicate p;
    o.where = &p;
    o.n_where = 1;

    p = pred(2, ROWKIT_OP_GTE, "30");  // numeric where both are numbers, text otherwise
    EXPECT_EQ(ids(path, o), (Ids{"1", "4", "5"}));
    p = pred(2, ROWKIT_OP_LT, "30");  // the empty text is below "30"
    EXPECT_EQ(ids(path, o), (Ids{"2", "3"}));
    p = pred(2, ROWKIT_OP_EQ, "");
    EXPECT_EQ(ids(path, o), Ids{"3"});
    p = pred(0, ROWKIT_OP_EQ, "0x4");
    EXPECT_EQ(ids(path, o), Ids{"4"});
    p = pred(0, ROWKIT_OP_EQ, "2.0e0");
    EXPECT_EQ(ids(path, o), Ids{"2"});
    p = pred(0, ROWKIT_OP_NEQ, "+3");
    EXPECT_EQ(ids(path, o), (Ids{"1", "2", "4", "5"}));
    p = pred(0, ROWKIT_OP_GT, "3a");  // a non-numeric value compares as text
    EXPECT_EQ(ids(path, o), (Ids{"4", "5"}));
    p = pred(1, ROWKIT_OP_LTE, "bob");
    EXPECT_EQ(ids(path, o), (Ids{"1", "2"}));
    p = pred(3, -1, "Oslo");  // unknown codes are eq
    EXPECT_EQ(ids(path, o), (Ids{"1", "5"}));
    p = pred(3, 9, "Oslo");
    EXPECT_EQ(ids(path, o), (Ids{"1", "5"}));
    p = pred(9, ROWKIT_OP_NEQ, "x");  // a column past the row's end is false
    EXPECT_EQ(ids(path, o), Ids{});
    o.negate = 1;
    EXPECT_EQ(ids(path, o).size(), 5u);

    // Conjunction, and negation of the whole conjunction.
    CPredicate two[2] = {pred(3, ROWKIT_OP_EQ, "Oslo"), pred(2, ROWKIT_OP_GT, "30")};
    o.where = two;
    o.n_where = 2;
    o.negate = 0;
    EXPECT_EQ(ids(path, o), (Ids{"1", "5"}));  // "abc" > "30" as text
    o.negate = 1;
    EXPECT_EQ(ids(path, o), (Ids{"2", "3", "4"}));
    o.n_where = 0;
    EXPECT_EQ(ids(path, o), Ids{});  // negated empty conjunction
}

TEST(CApiScanner, InListPredicates) {
    TempDir dir;
    std::string path = dir.write("t.csv", "id,v\n1,1.00\n2,b\n3,B\n4,0x1\n5,\n");
    COptions o = defaultOptions();
    CPredicate p;
    o.where = &p;
    o.n_where = 1;
    std::vector<std::string> storage = {"1", "b"};
    const char *values[] = {storage[0].c_str(), storage[1].c_str()};
    p = inPred(1, values, 2);
    Ctx *ctx = rowkit_open(path.c_str(), &o);
    ASSERT_NE(ctx, nullptr);
    // IN values are copied at open: the caller's texts may change.
    storage[0][0] = '9';
    storage[1][0] = 'z';
    Rows rows = readAll(ctx);
    rowkit_close(ctx);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0][0], "1");
    EXPECT_EQ(rows[1][0], "2");
    EXPECT_EQ(rows[2][0], "4");

    p = inPred(1, values, 0);
    EXPECT_EQ(ids(path, o), Ids{});
    o.negate = 1;
    EXPECT_EQ(ids(path, o).size(), 5u);
    o.negate = 0;
    const char *empty_value[] = {""};
    p = inPred(1, empty_value, 1);
    EXPECT_EQ(ids(path, o), Ids{"5"});
    p.values = nullptr;  // ignored without entries
    p.n_values = 0;
    EXPECT_EQ(ids(path, o), Ids{});
}

TEST(CApiScanner, ProjectionLimitAndMaxColumn) {
    TempDir dir;
    std::string path = dir.write("p.csv", kPeople);
    COptions o = defaultOptions();
    size_t cols[] = {3, 0, 7};
    o.columns = cols;
    o.n_columns = 3;
    Rows rows = readFile(path, &o);
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[1], (std::vector<std::string>{"Lima, PE", "2", ""}));

    // Predicates see source columns; the projection drops them.
    CPredicate p = pred(1, ROWKIT_OP_EQ, "cy");
    o.where = &p;
    o.n_where = 1;
    o.n_columns = 1;
    rows = readFile(path, &o);
    EXPECT_EQ(rows, (Rows{{"Rome"}}));

    o = defaultOptions();
    o.columns = nullptr;  // no projection despite a count
    o.n_columns = 2;
    o.limit = 2;
    rows = readFile(path, &o);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].size(), 4u);
    o.limit = 0;
    EXPECT_TRUE(readFile(path, &o).empty());

    // max_column cuts rows, and predicates beyond it see nothing.
    o = defaultOptions();
    o.max_column = 1;
    rows = readFile(path, &o);
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"1", "ann"}));
    p = pred(3, ROWKIT_OP_EQ, "Oslo");
    o.where = &p;
    o.n_where = 1;
    EXPECT_TRUE(readFile(path, &o).empty());

    // An empty projection gives rows of zero fields.
    o = defaultOptions();
    o.columns = cols;
    o.n_columns = 0;
    EXPECT_EQ(readFile(path, &o).size(), 5u);
}

TEST(CApiScanner, RowsOfVaryingWidthAndZeroFields) {
    TempDir dir;
    std::string path = dir.write("w.csv", std::string("a,b\n1\n1,2,3\n\nx,\0y\n", 18));
    Ctx *ctx = rowkit_open(path.c_str(), nullptr);
    ASSERT_NE(ctx, nullptr);
    const char *const *f;
    size_t n;
    ASSERT_EQ(rowkit_next(ctx, &f, &n), 1);
    EXPECT_EQ(n, 1u);
    ASSERT_EQ(rowkit_next(ctx, &f, &n), 1);
    EXPECT_EQ(n, 3u);
    EXPECT_STREQ(f[2], "3");
    ASSERT_EQ(rowkit_next(ctx, &f, &n), 1);
    EXPECT_EQ(n, 1u);
    EXPECT_STREQ(f[0], "");
    ASSERT_EQ(rowkit_next(ctx, nullptr, nullptr), 1);  // advances without outputs
    EXPECT_EQ(rowkit_next(ctx, &f, &n), 0);
    rowkit_close(ctx);

    // A zero-width projection returns rows with no fields.
    size_t none[] = {0};
    COptions o = defaultOptions();
    o.columns = none;
    o.n_columns = 0;
    ctx = rowkit_open(path.c_str(), &o);
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(rowkit_next(ctx, &f, &n), 1);
    rowkit_close(ctx);
}

TEST(CApiScanner, FieldBuffersAreReusedAndAllocateNothingInSteadyState) {
    TempDir dir;
    std::string text = "a,b,c\n";
    text += "short,x," + std::string(100, 'L') + "\n";
    for (int i = 0; i < 10001; ++i) text += std::to_string(i) + ",y,\"q\"\"" + std::to_string(i % 90) + "\"\n";
    std::string path = dir.write("s.csv", text);
    Ctx *ctx = rowkit_open(path.c_str(), nullptr);
    ASSERT_NE(ctx, nullptr);
    const char *const *f;
    size_t n;
    ASSERT_EQ(rowkit_next(ctx, &f, &n), 1);
    const char *long_field = f[2];
    ASSERT_EQ(rowkit_next(ctx, &f, &n), 1);
    EXPECT_EQ(f[2], long_field);  // a shorter field reuses the buffer
    EXPECT_STREQ(f[2], "q\"0");
    rowkit::alloc_hook::reset();
    size_t rows = 0;
    while (rowkit_next(ctx, &f, &n) == 1) ++rows;
    EXPECT_EQ(rows, 10000u);
    EXPECT_EQ(rowkit::alloc_hook::count(), 0u);
    rowkit_close(ctx);
}

TEST(CApiScanner, LastErrorSurvivesCloseAndClearsOnSuccess) {
    TempDir dir;
    std::string path = dir.write("p.csv", kPeople);
    Ctx *ctx = rowkit_open(path.c_str(), nullptr);
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(rowkit_next(nullptr, nullptr, nullptr), -1);
    rowkit_close(ctx);
    EXPECT_EQ(lastError(), "scanner is null");
    ctx = rowkit_open(path.c_str(), nullptr);
    EXPECT_EQ(rowkit_last_error(), nullptr);
    rowkit_close(ctx);
}

TEST(CApiScanner, JsonPathsAreNotReadAsCsv) {
    TempDir dir;
    // Upper-case suffixes are not JSON: read as CSV.
    std::string upper = dir.write("x.JSON", "a\n1\n");
    EXPECT_EQ(readFile(upper), (Rows{{"1"}}));
}

// Every allocation of open and next can fail: each failure gives a documented
// message, leaks nothing (checked by the sanitizer build), and a handle stays
// usable after a failed next.
TEST(CApiScanner, AllocationFailures) {
    TempDir dir;
    std::string path = dir.write("p.csv", kPeople);
    const char *values[] = {"Oslo", "Rome"};
    CPredicate preds[2] = {pred(0, ROWKIT_OP_GT, "0"), inPred(3, values, 2)};
    size_t cols[] = {1, 3};
    COptions o = defaultOptions();
    o.where = preds;
    o.n_where = 2;
    o.columns = cols;
    o.n_columns = 2;
    const std::vector<std::string> open_messages = {
        "out of memory allocating predicates", "out of memory allocating IN values",
        "out of memory allocating scanner context", "open failed: OutOfMemory",
        "out of memory allocating header"};
    bool opened = false;
    for (uint64_t nth = 1; nth < 200 && !opened; ++nth) {
        rowkit::alloc_hook::reset();
        rowkit::alloc_hook::failAt(nth);
        Ctx *ctx = rowkit_open(path.c_str(), &o);
        rowkit::alloc_hook::reset();
        if (ctx) {
            opened = true;
            rowkit_close(ctx);
            break;
        }
        std::string msg = lastError();
        EXPECT_NE(std::find(open_messages.begin(), open_messages.end(), msg), open_messages.end())
            << "allocation " << nth << ": " << msg;
    }
    EXPECT_TRUE(opened);

    const std::vector<std::string> next_messages = {"out of memory growing field buffers",
                                                    "out of memory copying row",
                                                    "next failed: OutOfMemory"};
    for (uint64_t nth = 1; nth < 50; ++nth) {
        Ctx *ctx = rowkit_open(path.c_str(), &o);
        ASSERT_NE(ctx, nullptr);
        rowkit::alloc_hook::reset();
        rowkit::alloc_hook::failAt(nth);
        Rows got;
        int failures = 0;
        for (;;) {
            const char *const *f;
            size_t n;
            int r = rowkit_next(ctx, &f, &n);
            if (r == 0) break;
            if (r < 0) {
                ++failures;
                std::string msg = lastError();
                EXPECT_NE(std::find(next_messages.begin(), next_messages.end(), msg),
                          next_messages.end())
                    << msg;
                continue;
            }
            got.push_back({f[0], f[1]});
        }
        rowkit::alloc_hook::reset();
        rowkit_close(ctx);
        // A failed call loses at most its own row (possibly one the
        // predicates would have dropped); the others come out in order.
        const Rows expected = {{"ann", "Oslo"}, {"cy", "Rome"}, {"eve", "Oslo"}};
        size_t k = 0;
        for (const auto &row : got) {
            while (k < expected.size() && expected[k] != row) ++k;
            EXPECT_LT(k, expected.size()) << "allocation " << nth;
        }
        EXPECT_GE(got.size() + static_cast<size_t>(failures), expected.size()) << nth;
        if (failures == 0) break;
    }
}
