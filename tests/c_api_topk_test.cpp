// rowkit_topk and its cursor through the public interface: which rows are
// kept, the order they come out in (equal keys included), ownership across
// the scanner's close, and failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "alloc.hpp"
#include "rowkit.h"
#include "support/test_files.hpp"

using rowkit_test::lastError;

namespace {

// Each kept row as its fields joined by ',', with its key.
using Ranked = std::vector<std::pair<std::string, double>>;

// Opens `path`, runs top-k, closes the scanner and only then drains the cursor.
Ranked top(const std::string &path, size_t column, size_t k, int descending) {
    Ctx *ctx = rowkit_open(path.c_str(), nullptr);
    TopkCtx *t = rowkit_topk(ctx, column, k, descending);
    rowkit_close(ctx);
    Ranked out;
    const char *const *f = nullptr;
    size_t n = 0;
    for (double key; t && rowkit_topk_next(t, &f, &n, &key) > 0;) {
        out.emplace_back(n ? f[0] : "", key);
        for (size_t i = 1; i < n; ++i) out.back().first += "," + std::string(f[i]);
    }
    EXPECT_EQ(t ? rowkit_topk_next(t, nullptr, nullptr, nullptr) : 0, 0)
        << lastError();  // and stays exhausted
    rowkit_topk_close(t);
    return out;
}

const char *kScores = "id,score\na,5\nb,x\nc,-1\nd,\ne,12.5\nf,nan\ng,inf\nh,0x10\ni\nj,3\n";

}  // namespace

TEST(CApiTopk, BestRowsWithTheirKeys) {
    rowkit_test::TempDir dir;
    struct Case { const char *csv; size_t column, k; int descending; Ranked want; };
    for (const Case &c :
         {// More room than numeric rows: all of them, sorted; empty, text,
          // nan, inf and missing values never appear.
          {kScores, 1, 100, 1,
           {{"h,0x10", 16}, {"e,12.5", 12.5}, {"a,5", 5}, {"j,3", 3}, {"c,-1", -1}}},
          // Equal keys: the first rows stay, an equal key at the boundary is
          // rejected; building the heap puts r2 at the root, r3 replaces it
          // and sinks below r1, so ties come out in heap order.
          {"id,k\nr0,2\nr1,2\nr2,1\nr3,3\nr4,2\n", 1, 3, 1,
           {{"r3,3", 3}, {"r1,2", 2}, {"r0,2", 2}}},
          // Ascending: the evicted root is the largest key.
          Case{"id,k\nr0,1\nr1,1\nr2,2\nr3,0\nr4,1\n", 1, 3, 0,
               {{"r3,0", 0}, {"r1,1", 1}, {"r0,1", 1}}}})
        EXPECT_EQ(top(dir.write("t.csv", c.csv), c.column, c.k, c.descending), c.want)
            << c.csv << " k=" << c.k;
    EXPECT_EQ(rowkit_last_error(), nullptr);
    // The key comes out without the fields too.
    Ctx *ctx = rowkit_open(dir.write("k.csv", kScores).c_str(), nullptr);
    TopkCtx *t = rowkit_topk(ctx, 1, 1, 1);
    double key = 0;
    EXPECT_EQ(rowkit_topk_next(t, nullptr, nullptr, &key), 1);
    EXPECT_EQ(key, 16);
    rowkit_topk_close(t);
    rowkit_close(ctx);
}

TEST(CApiTopk, RandomKeysAgainstAFullSort) {
    rowkit_test::TempDir dir;
    std::mt19937 rng(21);
    for (int round = 0; round < 12; ++round) {
        std::string csv = "id,k\n";
        std::vector<double> keys;
        const int rows = 1 + static_cast<int>(rng() % 3000);
        for (int i = 0; i < rows; ++i) {
            const int v = static_cast<int>(rng() % 55) - 25;  // from 25 on, a text
            if (v < 25) keys.push_back(v);
            csv += std::to_string(i) + "," + (v < 25 ? std::to_string(v) : "n/a") + "\n";
        }
        const int descending = round % 2, k = static_cast<int>(rng() % 60);
        Ranked got = top(dir.write("r.csv", csv), 1, k, descending);
        std::sort(keys.begin(), keys.end(),
                  [&](double a, double b) { return descending ? b < a : a < b; });
        keys.resize(std::min<size_t>(k, keys.size()));
        ASSERT_EQ(got.size(), keys.size()) << "round " << round;
        for (size_t i = 0; i < got.size(); ++i) {  // each key with its own row
            const std::string &row = got[i].first;
            EXPECT_EQ(got[i].second, keys[i]) << "round " << round << " i " << i;
            EXPECT_NE(csv.find("\n" + row + "\n"), std::string::npos) << row;
            EXPECT_EQ(std::stod(row.substr(row.find(',') + 1)), keys[i]) << row;
        }
    }
}

TEST(CApiTopk, FailuresAndMessages) {
    rowkit_test::TempDir dir;
    EXPECT_EQ(rowkit_topk(nullptr, 0, 1, 1), nullptr);
    EXPECT_EQ(lastError(), "scanner is null");
    EXPECT_EQ(rowkit_topk_next(nullptr, nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(lastError(), "topk context is null");
    rowkit_topk_close(nullptr);
    // A broken row fails the query; k = 0 still consumes the rows; a k whose
    // heap size just passes PTRDIFF_MAX fails before any row is read.
    std::string quote = dir.write("q.csv", "id,k\na,1\n\"b,2\nc,3\n"),
                path = dir.write("s.csv", kScores);
    for (auto [p, k, err, left] :
         {std::tuple{&quote, size_t{2}, "topk failed: UnterminatedQuote", 1},
          {&path, size_t{0}, "", 0},
          {&path, SIZE_MAX / 2 / 24 + 1, "topk failed: OutOfMemory", 1}}) {
        Ctx *ctx = rowkit_open(p->c_str(), nullptr);
        rowkit_topk_close(rowkit_topk(ctx, 1, k, 1));
        EXPECT_EQ(lastError(), err) << k;
        EXPECT_EQ(rowkit_next(ctx, nullptr, nullptr), left) << k;
        rowkit_close(ctx);
    }
    // Every allocation failure gives a documented message and leaks nothing;
    // in rowkit_topk_next it skips that row and the cursor goes on.
    int next_failures = 0;
    for (uint64_t nth = 1, all_tried = 0; !all_tried; ++nth) {
        ASSERT_LT(nth, 100u);
        Ctx *ctx = rowkit_open(path.c_str(), nullptr);
        rowkit::alloc_hook::reset();
        rowkit::alloc_hook::failAt(nth);
        TopkCtx *t = rowkit_topk(ctx, 1, 3, 1);
        rowkit_close(ctx);
        std::string m = lastError();
        EXPECT_TRUE(t || m == "topk failed: OutOfMemory" ||
                    m == "out of memory allocating topk context")
            << m;
        int handed = 0;
        for (int r; t && (r = rowkit_topk_next(t, nullptr, nullptr, nullptr)) != 0;
             ++handed, next_failures += r < 0)
            EXPECT_TRUE(r > 0 || (m = lastError()) == "out of memory growing field buffers" ||
                        m == "out of memory copying row") << m;
        all_tried = rowkit::alloc_hook::count() < nth;
        rowkit::alloc_hook::reset();
        EXPECT_EQ(handed, t ? 3 : 0) << nth;
        rowkit_topk_close(t);
    }
    EXPECT_GT(next_failures, 0);
}
