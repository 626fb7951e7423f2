// Count, aggregate, top-k and order-by over JSON records, through the public
// interface: the same results as over CSV, and the counting paths' view of
// the first record (read at open) and of blank lines.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "rowkit.h"
#include "support/test_files.hpp"

using rowkit_test::defaultOptions;
using rowkit_test::lastError;
using rowkit_test::TempDir;

namespace {

const char *kRecords =
    "{\"id\":\"a\",\"v\":3}\n"
    "{\"id\":\"b\",\"v\":\"x\"}\n"
    "{\"id\":\"c\",\"v\":10}\n"
    "{\"id\":\"d\",\"v\":-2.5}\n";

int64_t countFile(const std::string &path, const COptions *o = nullptr) {
    Ctx *ctx = rowkit_open(path.c_str(), o);
    if (!ctx) {
        ADD_FAILURE() << lastError();
        return -2;
    }
    int64_t n = rowkit_count(ctx);
    rowkit_close(ctx);
    return n;
}

}  // namespace

TEST(CApiResultsNdjson, Count) {
    TempDir dir;
    std::string lines = dir.write("r.ndjson", kRecords);
    // The first record, read at open for the header, counts.
    EXPECT_EQ(countFile(lines), 4);
    Ctx *ctx = rowkit_open(lines.c_str(), nullptr);
    ASSERT_NE(ctx, nullptr);
    ASSERT_EQ(rowkit_next(ctx, nullptr, nullptr), 1);
    EXPECT_EQ(rowkit_count(ctx), 3);
    EXPECT_EQ(rowkit_next(ctx, nullptr, nullptr), 0);
    rowkit_close(ctx);
    // The same records as one array.
    std::string array = dir.write("r.json",
                                  "[{\"id\":\"a\",\"v\":3},\n {\"id\":\"b\",\"v\":\"x\"}, "
                                  "{\"id\":\"c\",\"v\":10},{\"id\":\"d\",\"v\":-2.5}]");
    EXPECT_EQ(countFile(array), 4);

    // A blank line counts on the fast path; reading rows refuses it.
    std::string blank = dir.write("b.ndjson", "{\"v\":1}\n\n{\"v\":2}\n");
    EXPECT_EQ(countFile(blank), 3);
    CPredicate p;
    std::memset(&p, 0, sizeof p);
    p.column = 0;
    p.op = ROWKIT_OP_GT;
    p.value = "0";
    COptions o = defaultOptions();
    o.where = &p;
    o.n_where = 1;
    EXPECT_EQ(countFile(blank, &o), -1);
    EXPECT_EQ(lastError(), "count failed: InvalidJson");
    p.column = 1;
    EXPECT_EQ(countFile(lines, &o), 3);
}

TEST(CApiResultsNdjson, AggregateTopkAndOrderBy) {
    TempDir dir;
    std::string path = dir.write("r.jsonl", kRecords);
    Ctx *ctx = rowkit_open(path.c_str(), nullptr);
    ASSERT_NE(ctx, nullptr);
    AggC a;
    ASSERT_EQ(rowkit_aggregate(ctx, 1, &a), 0);
    rowkit_close(ctx);
    EXPECT_EQ(a.count, 3u);
    EXPECT_EQ(a.sum, 10.5);
    EXPECT_EQ(a.min, -2.5);
    EXPECT_EQ(a.max, 10.0);

    ctx = rowkit_open(path.c_str(), nullptr);
    ASSERT_NE(ctx, nullptr);
    TopkCtx *t = rowkit_topk(ctx, 1, 2, 1);
    rowkit_close(ctx);
    ASSERT_NE(t, nullptr);
    std::vector<std::string> ids;
    const char *const *f;
    size_t n;
    double key;
    while (rowkit_topk_next(t, &f, &n, &key) == 1) ids.push_back(std::string(f[0]) + "=" + std::to_string(key));
    rowkit_topk_close(t);
    EXPECT_EQ(ids, (std::vector<std::string>{"c=10.000000", "a=3.000000"}));

    ctx = rowkit_open(path.c_str(), nullptr);
    ASSERT_NE(ctx, nullptr);
    OrderByCtx *oc = rowkit_order_by(ctx, 1, 0);
    rowkit_close(ctx);
    ASSERT_NE(oc, nullptr);
    ids.clear();
    while (rowkit_order_by_next(oc, &f, &n) == 1) ids.push_back(f[0]);
    rowkit_order_by_close(oc);
    // -2.5 < 3 < 10 as numbers; "x" is text and compares as bytes ("10" <
    // "x" and "3" < "x"), so it goes last here.
    EXPECT_EQ(ids, (std::vector<std::string>{"d", "a", "c", "b"}));
}
