// rowkit_topk and its cursor through the public interface: which rows are
// kept, the order they come out in (equal keys included), ownership across
// the scanner's close, and failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "alloc.hpp"
#include "rowkit.h"
#include "support/test_files.hpp"

using rowkit_test::defaultOptions;
using rowkit_test::lastError;
using rowkit_test::TempDir;

namespace {

// Each kept row as its fields joined by ',', with its key.
using Ranked = std::vector<std::pair<std::string, double>>;

// Opens `path`, runs top-k, closes the scanner and only then drains the cursor.
Ranked top(const std::string &path, size_t column, size_t k, int descending, const COptions *o = nullptr) {
    Ctx *ctx = rowkit_open(path.c_str(), o);
    TopkCtx *t = rowkit_topk(ctx, column, k, descending);
    rowkit_close(ctx);
    EXPECT_NE(t, nullptr) << lastError();
    Ranked out;
    const char *const *f = nullptr;
    size_t n = 0;
    double key = -1;
    for (std::string row; t && rowkit_topk_next(t, &f, &n, &key) > 0; row.clear()) {
        for (size_t i = 0; i < n; ++i) row += (i ? "," : "") + std::string(f[i]);
        out.emplace_back(row, key);
    }
    EXPECT_EQ(t ? rowkit_topk_next(t, nullptr, nullptr, nullptr) : 0, 0) << lastError();  // and stays exhausted
    rowkit_topk_close(t);
    return out;
}

const char *kScores = "id,score\na,5\nb,x\nc,-1\nd,\ne,12.5\nf,nan\ng,inf\nh,0x10\ni\nj,3\n";

}  // namespace

TEST(CApiTopk, BestRowsWithTheirKeys) {
    TempDir dir;
    struct Case {
        const char *csv;
        size_t column, k;
        int descending;
        Ranked want;
    };
    for (const Case &c : {
        // More room than numeric rows: all of them, sorted; empty, text,
        // nan, inf and missing values never appear.
        {kScores, 1, 100, 1, {{"h,0x10", 16}, {"e,12.5", 12.5}, {"a,5", 5}, {"j,3", 3}, {"c,-1", -1}}},
        {kScores, 1, 2, 0, {{"c,-1", -1}, {"j,3", 3}}},
        {kScores, 7, 5, 1, {}},
        // Equal keys: the first rows stay, an equal key at the boundary is
        // rejected, and ties come out in heap order, not input order.
        {"id,k\nr0,5\nr1,5\nr2,5\n", 1, 2, 1, {{"r0,5", 5}, {"r1,5", 5}}},
        {"id,k\nr0,5\nr1,5\nr2,5\n", 1, 2, 0, {{"r0,5", 5}, {"r1,5", 5}}},
        // Building the heap puts r2 at the root; r3 replaces it and sinks
        // below r1.
        {"id,k\nr0,2\nr1,2\nr2,1\nr3,3\n", 1, 3, 1, {{"r3,3", 3}, {"r1,2", 2}, {"r0,2", 2}}},
        // Ascending: the evicted root is the largest key.
        Case{"id,k\nr0,1\nr1,1\nr2,2\nr3,0\nr4,1\n", 1, 3, 0, {{"r3,0", 0}, {"r1,1", 1}, {"r0,1", 1}}}})
        EXPECT_EQ(top(dir.write("t.csv", c.csv), c.column, c.k, c.descending), c.want) << c.csv << " k=" << c.k;
    EXPECT_EQ(rowkit_last_error(), nullptr);

    // Projection and limit apply; the column indexes the projected row.
    size_t cols[] = {1, 0};
    COptions o = defaultOptions();
    o.columns = cols, o.n_columns = 2, o.limit = 5;
    EXPECT_EQ(top(dir.write("s.csv", kScores), 0, 2, 1, &o), (Ranked{{"12.5,e", 12.5}, {"5,a", 5}}));
}

TEST(CApiTopk, RandomKeysAgainstAFullSort) {
    TempDir dir;
    std::mt19937 rng(21);
    for (int round = 0; round < 20; ++round) {
        std::string csv = "id,k\n";
        std::vector<double> keys;
        for (int i = 0, rows = 1 + static_cast<int>(rng() % 3000); i < rows; ++i) {
            const int v = static_cast<int>(rng() % 50) - 25;
            const bool text = rng() % 10 == 0;
            if (!text) keys.push_back(v);
            csv += std::to_string(i) + "," + (text ? "n/a" : std::to_string(v)) + "\n";
        }
        const int descending = round % 2;
        const size_t k = rng() % 60;
        Ranked got = top(dir.write("r.csv", csv), 1, k, descending);
        std::sort(keys.begin(), keys.end(), [&](double a, double b) { return descending ? b < a : a < b; });
        keys.resize(std::min(k, keys.size()));
        ASSERT_EQ(got.size(), keys.size()) << "round " << round;
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].second, keys[i]) << "round " << round << " i " << i;
            // Each key comes with its own row.
            EXPECT_NE(csv.find("\n" + got[i].first + "\n"), std::string::npos) << got[i].first;
            EXPECT_EQ(std::stod(got[i].first.substr(got[i].first.find(',') + 1)), got[i].second);
        }
    }
}

TEST(CApiTopk, FailuresAndMessages) {
    TempDir dir;
    EXPECT_EQ(rowkit_topk(nullptr, 0, 1, 1), nullptr);
    EXPECT_EQ(lastError(), "scanner is null");
    EXPECT_EQ(rowkit_topk_next(nullptr, nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(lastError(), "topk context is null");
    rowkit_topk_close(nullptr);
    Ctx *ctx = rowkit_open(dir.write("q.csv", "id,k\na,1\n\"b,2\nc,3\n").c_str(), nullptr);
    EXPECT_EQ(rowkit_topk(ctx, 1, 2, 1), nullptr);
    EXPECT_EQ(lastError(), "topk failed: UnterminatedQuote");
    rowkit_close(ctx);

    // k = 0 still consumes the rows; a k whose heap cannot be allocated (its
    // size overflows, or just passes PTRDIFF_MAX) fails before any is read.
    std::string path = dir.write("s.csv", kScores);
    for (size_t k : {size_t{0}, SIZE_MAX, SIZE_MAX / 2 / 24 + 1}) {
        ctx = rowkit_open(path.c_str(), nullptr);
        TopkCtx *t = rowkit_topk(ctx, 1, k, 1);
        EXPECT_EQ(t != nullptr, k == 0);
        EXPECT_EQ(lastError(), k == 0 ? "" : "topk failed: OutOfMemory");
        EXPECT_EQ(rowkit_next(ctx, nullptr, nullptr), k == 0 ? 0 : 1) << k;
        rowkit_topk_close(t);
        rowkit_close(ctx);
    }

    // Every allocation failure gives a documented message and leaks nothing;
    // in rowkit_topk_next it skips that row and the cursor goes on.
    bool all_tried = false;
    int next_failures = 0;
    for (uint64_t nth = 1; nth < 100 && !all_tried; ++nth) {
        ctx = rowkit_open(path.c_str(), nullptr);
        rowkit::alloc_hook::reset();
        rowkit::alloc_hook::failAt(nth);
        TopkCtx *t = rowkit_topk(ctx, 1, 3, 1);
        rowkit_close(ctx);
        std::string m = lastError();
        EXPECT_TRUE(t || m == "topk failed: OutOfMemory" || m == "out of memory allocating topk context") << m;
        int handed = 0;
        for (int r; t && (r = rowkit_topk_next(t, nullptr, nullptr, nullptr)) != 0; ++handed) {
            if (r > 0) continue;
            ++next_failures;
            m = lastError();
            EXPECT_TRUE(m == "out of memory growing field buffers" || m == "out of memory copying row") << m;
        }
        all_tried = rowkit::alloc_hook::count() < nth;
        rowkit::alloc_hook::reset();
        EXPECT_EQ(handed, t ? 3 : 0) << nth;
        rowkit_topk_close(t);
    }
    EXPECT_TRUE(all_tried);
    EXPECT_GT(next_failures, 0);
}
