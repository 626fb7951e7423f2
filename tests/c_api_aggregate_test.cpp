// rowkit_aggregate through the public interface: which values count, how the
// query's options apply, and failures.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>

#include "rowkit.h"
#include "support/test_files.hpp"

using rowkit_test::lastError;
using rowkit_test::TempDir;

namespace {

AggC aggregateFile(const std::string &path, size_t column, const COptions *options = nullptr) {
    AggC out;
    std::memset(&out, 0x5a, sizeof out);
    Ctx *ctx = rowkit_open(path.c_str(), options);
    EXPECT_EQ(rowkit_aggregate(ctx, column, &out), 0) << lastError();
    rowkit_close(ctx);
    return out;
}

// Every member, in declaration order.
std::string show(const AggC &a) {
    std::ostringstream s;
    s << a.count << " " << a.sum << " " << a.min << " " << a.max << " " << a.avg << " "
      << a.has_values;
    return s.str();
}

}  // namespace

TEST(CApiAggregate, NumericValuesOnly) {
    TempDir dir;
    const struct {
        const char *csv;
        AggC want; /* count, sum, min, max, avg, has_values */
    } cases[] = {
        // Text, empty and missing values are skipped.
        {"k,v\na,3\nb,x\nc,\nd,1e1\ne\n", {2, 13, 3, 10, 6.5, 1}},
        // Nothing numeric: "inf", "nan", a value too large for binary64, a
        // padded number.
        {"k,v\na,inf\nb,nan\nc,-Infinity\nd,1e400\ne, 5\n", {0, 0, 0, 0, 0, 0}},
        {"k,v\na,-2.5\n", {1, -2.5, -2.5, -2.5, -2.5, 1}},
        // Hexadecimal and underscores; min and max on the right sides.
        {"k,v\na,0x10\nb,-7\nc,1_000\nd,0\n", {4, 1009, -7, 1000, 252.25, 1}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(show(aggregateFile(dir.write("a.csv", c.csv), 1)), show(c.want)) << c.csv;
    EXPECT_EQ(rowkit_last_error(), nullptr);
}

TEST(CApiAggregate, FailuresAndMessages) {
    TempDir dir;
    AggC a;
    EXPECT_EQ(rowkit_aggregate(nullptr, 0, nullptr), -1);
    EXPECT_EQ(lastError(), "scanner is null");
    Ctx *ctx = rowkit_open(dir.write("p.csv", "v\n1\n\"2\n3\n").c_str(), nullptr);
    // A null output is refused before any row is read.
    EXPECT_EQ(rowkit_aggregate(ctx, 0, nullptr), -1);
    EXPECT_EQ(lastError(), "output pointer is null");
    // A query error leaves the output untouched.
    std::memset(&a, 0x5a, sizeof a);
    EXPECT_EQ(rowkit_aggregate(ctx, 0, &a), -1);
    EXPECT_EQ(lastError(), "aggregate failed: UnterminatedQuote");
    EXPECT_EQ(a.has_values, 0x5a5a5a5a);
    // The broken line is consumed; the rest aggregates, and then nothing is
    // left.
    EXPECT_EQ(rowkit_aggregate(ctx, 0, &a), 0);
    EXPECT_EQ(show(a), "1 3 3 3 3 1");
    EXPECT_EQ(rowkit_aggregate(ctx, 0, &a), 0);
    EXPECT_EQ(show(a), "0 0 0 0 0 0");
    rowkit_close(ctx);

}
