// rowkit_aggregate through the public interface: which values count, how the
// query's options apply, and failures.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "alloc.hpp"
#include "rowkit.h"
#include "support/test_files.hpp"

using rowkit_test::defaultOptions;
using rowkit_test::lastError;
using rowkit_test::TempDir;

namespace {

AggC aggregateFile(const std::string &path, size_t column, const COptions *options = nullptr) {
    AggC out;
    std::memset(&out, 0x5a, sizeof out);
    Ctx *ctx = rowkit_open(path.c_str(), options);
    if (!ctx) {
        ADD_FAILURE() << "open " << path << ": " << lastError();
        return out;
    }
    if (rowkit_aggregate(ctx, column, &out) != 0) ADD_FAILURE() << lastError();
    rowkit_close(ctx);
    return out;
}

}  // namespace

TEST(CApiAggregate, NumericValuesOnly) {
    TempDir dir;
    AggC a = aggregateFile(dir.write("a.csv", "k,v\na,3\nb,x\nc,\nd,1e1\ne\n"), 1);
    EXPECT_EQ(a.count, 2u);
    EXPECT_EQ(a.sum, 13.0);
    EXPECT_EQ(a.min, 3.0);
    EXPECT_EQ(a.max, 10.0);
    EXPECT_EQ(a.avg, 6.5);
    EXPECT_EQ(a.has_values, 1);
    EXPECT_EQ(rowkit_last_error(), nullptr);

    // Nothing numeric: "inf", "nan", text, a value too large for binary64.
    a = aggregateFile(dir.write("b.csv", "k,v\na,inf\nb,nan\nc,-Infinity\nd,1e400\ne, 5\n"), 1);
    EXPECT_EQ(a.count, 0u);
    EXPECT_EQ(a.sum, 0.0);
    EXPECT_EQ(a.min, 0.0);
    EXPECT_EQ(a.max, 0.0);
    EXPECT_EQ(a.avg, 0.0);
    EXPECT_EQ(a.has_values, 0);

    a = aggregateFile(dir.write("c.csv", "v\n-2.5\n"), 0);
    EXPECT_EQ(a.count, 1u);
    EXPECT_EQ(a.min, -2.5);
    EXPECT_EQ(a.max, -2.5);
    EXPECT_EQ(a.avg, -2.5);

    // Negative and hexadecimal values, min and max on the right sides.
    a = aggregateFile(dir.write("d.csv", "v\n0x10\n-7\n1_000\n0\n"), 0);
    EXPECT_EQ(a.count, 4u);
    EXPECT_EQ(a.sum, 1009.0);
    EXPECT_EQ(a.min, -7.0);
    EXPECT_EQ(a.max, 1000.0);
}

TEST(CApiAggregate, QueryOptionsApply) {
    TempDir dir;
    std::string path = dir.write("p.csv",
                                 "id,a,b,c\n"
                                 "1,10,x,100\n"
                                 "2,20,y,200\n"
                                 "3,30,x,300\n"
                                 "4,40,y,400\n");
    // Column 0 of a projection [3] is source column 3.
    size_t cols[] = {3};
    COptions o = defaultOptions();
    o.columns = cols;
    o.n_columns = 1;
    AggC a = aggregateFile(path, 0, &o);
    EXPECT_EQ(a.count, 4u);
    EXPECT_EQ(a.sum, 1000.0);

    // Predicate, numeric predicate with max_column, negation and limit.
    CPredicate p;
    std::memset(&p, 0, sizeof p);
    p.column = 2;
    p.op = ROWKIT_OP_EQ;
    p.value = "x";
    o = defaultOptions();
    o.where = &p;
    o.n_where = 1;
    a = aggregateFile(path, 1, &o);
    EXPECT_EQ(a.count, 2u);
    EXPECT_EQ(a.sum, 40.0);
    o.negate = 1;
    a = aggregateFile(path, 1, &o);
    EXPECT_EQ(a.sum, 60.0);
    o.negate = 0;
    p.column = 1;
    p.op = ROWKIT_OP_GT;
    p.value = "15";
    o.max_column = 1;
    a = aggregateFile(path, 1, &o);
    EXPECT_EQ(a.count, 3u);
    EXPECT_EQ(a.sum, 90.0);
    EXPECT_EQ(a.min, 20.0);
    // Columns past max_column are missing: nothing to aggregate.
    a = aggregateFile(path, 3, &o);
    EXPECT_EQ(a.count, 0u);
    o.limit = 2;
    a = aggregateFile(path, 1, &o);
    EXPECT_EQ(a.sum, 50.0);

    // The pass consumes the rows: a second call sees none; rows read before
    // are not included.
    Ctx *ctx = rowkit_open(path.c_str(), nullptr);
    ASSERT_NE(ctx, nullptr);
    ASSERT_EQ(rowkit_next(ctx, nullptr, nullptr), 1);
    ASSERT_EQ(rowkit_aggregate(ctx, 1, &a), 0);
    EXPECT_EQ(a.count, 3u);
    EXPECT_EQ(a.sum, 90.0);
    ASSERT_EQ(rowkit_aggregate(ctx, 1, &a), 0);
    EXPECT_EQ(a.count, 0u);
    EXPECT_EQ(a.has_values, 0);
    rowkit_close(ctx);
}

TEST(CApiAggregate, FailuresAndMessages) {
    TempDir dir;
    AggC a;
    EXPECT_EQ(rowkit_aggregate(nullptr, 0, nullptr), -1);
    EXPECT_EQ(lastError(), "scanner is null");
    std::string path = dir.write("p.csv", "v\n1\n\"2\n3\n");
    Ctx *ctx = rowkit_open(path.c_str(), nullptr);
    ASSERT_NE(ctx, nullptr);
    // A null output is refused before any row is read.
    EXPECT_EQ(rowkit_aggregate(ctx, 0, nullptr), -1);
    EXPECT_EQ(lastError(), "output pointer is null");
    // A query error leaves the output untouched.
    std::memset(&a, 0x5a, sizeof a);
    EXPECT_EQ(rowkit_aggregate(ctx, 0, &a), -1);
    EXPECT_EQ(lastError(), "aggregate failed: UnterminatedQuote");
    EXPECT_EQ(a.has_values, 0x5a5a5a5a);
    // The broken line is consumed; the rest aggregates.
    EXPECT_EQ(rowkit_aggregate(ctx, 0, &a), 0);
    EXPECT_EQ(a.count, 1u);
    EXPECT_EQ(a.sum, 3.0);
    rowkit_close(ctx);

    // Every allocation failure gives the documented message.
    size_t cols[] = {1, 0};
    COptions o = defaultOptions();
    o.columns = cols;
    o.n_columns = 2;
    path = dir.write("q.csv", "a,b\n1,2\n3,4\n");
    bool succeeded = false;
    for (uint64_t nth = 1; nth < 50 && !succeeded; ++nth) {
        ctx = rowkit_open(path.c_str(), &o);
        ASSERT_NE(ctx, nullptr);
        rowkit::alloc_hook::reset();
        rowkit::alloc_hook::failAt(nth);
        int r = rowkit_aggregate(ctx, 0, &a);
        rowkit::alloc_hook::reset();
        if (r == 0) {
            EXPECT_EQ(a.sum, 6.0);
            succeeded = true;
        } else {
            EXPECT_EQ(lastError(), "aggregate failed: OutOfMemory") << nth;
        }
        rowkit_close(ctx);
    }
    EXPECT_TRUE(succeeded);
}
