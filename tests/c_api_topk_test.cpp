// rowkit_topk and its cursor through the public interface: which rows are
// kept, the order they come out in (equal keys included), ownership across
// the scanner's close, and failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "alloc.hpp"
#include "rowkit.h"
#include "support/test_files.hpp"

using rowkit_test::defaultOptions;
using rowkit_test::lastError;
using rowkit_test::Rows;
using rowkit_test::TempDir;

namespace {

struct Kept {
    std::vector<std::string> row;
    double key;
};

std::vector<Kept> drain(TopkCtx *t) {
    std::vector<Kept> out;
    for (;;) {
        const char *const *f = nullptr;
        size_t n = 0;
        double key = -1;
        int r = rowkit_topk_next(t, &f, &n, &key);
        if (r == 0) break;
        if (r < 0) {
            ADD_FAILURE() << lastError();
            break;
        }
        Kept k{{}, key};
        for (size_t i = 0; i < n; ++i) k.row.emplace_back(f[i]);
        out.push_back(std::move(k));
    }
    return out;
}

// Opens `path`, runs top-k and returns the ids (column 0) with their keys.
std::vector<std::pair<std::string, double>> topIds(const std::string &path, size_t column, size_t k,
                                                   int descending, const COptions *o = nullptr) {
    std::vector<std::pair<std::string, double>> out;
    Ctx *ctx = rowkit_open(path.c_str(), o);
    if (!ctx) {
        ADD_FAILURE() << lastError();
        return out;
    }
    TopkCtx *t = rowkit_topk(ctx, column, k, descending);
    rowkit_close(ctx);
    if (!t) {
        ADD_FAILURE() << lastError();
        return out;
    }
    for (const Kept &kept : drain(t)) out.emplace_back(kept.row.empty() ? "" : kept.row[0], kept.key);
    rowkit_topk_close(t);
    return out;
}

using Ranked = std::vector<std::pair<std::string, double>>;

const char *kScores =
    "id,score\n"
    "a,5\n"
    "b,x\n"
    "c,-1\n"
    "d,\n"
    "e,12.5\n"
    "f,nan\n"
    "g,inf\n"
    "h,0x10\n"
    "i\n"
    "j,3\n";

}  // namespace

TEST(CApiTopk, BestRowsWithTheirKeys) {
    TempDir dir;
    std::string path = dir.write("s.csv", kScores);
    EXPECT_EQ(topIds(path, 1, 3, 1), (Ranked{{"h", 16}, {"e", 12.5}, {"a", 5}}));
    EXPECT_EQ(topIds(path, 1, 2, 0), (Ranked{{"c", -1}, {"j", 3}}));
    // More room than numeric rows: all of them, sorted; empty, text, nan,
    // inf and missing values never appear.
    EXPECT_EQ(topIds(path, 1, 100, 1), (Ranked{{"h", 16}, {"e", 12.5}, {"a", 5}, {"j", 3}, {"c", -1}}));
    EXPECT_EQ(topIds(path, 1, 100, 0), (Ranked{{"c", -1}, {"j", 3}, {"a", 5}, {"e", 12.5}, {"h", 16}}));
    EXPECT_EQ(topIds(path, 7, 5, 1), Ranked{});
    EXPECT_EQ(rowkit_last_error(), nullptr);

    // Predicates, projection and limit apply; the column indexes the
    // projected row.
    size_t cols[] = {1, 0};
    COptions o = defaultOptions();
    o.columns = cols;
    o.n_columns = 2;
    o.limit = 5;
    Ctx *ctx = rowkit_open(path.c_str(), &o);
    ASSERT_NE(ctx, nullptr);
    TopkCtx *t = rowkit_topk(ctx, 0, 2, 1);
    ASSERT_NE(t, nullptr);
    rowkit_close(ctx);  // the cursor owns its rows
    std::vector<Kept> kept = drain(t);
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept[0].row, (std::vector<std::string>{"12.5", "e"}));
    EXPECT_EQ(kept[1].row, (std::vector<std::string>{"5", "a"}));
    // Exhausted is repeatable; NULL outputs are allowed.
    EXPECT_EQ(rowkit_topk_next(t, nullptr, nullptr, nullptr), 0);
    rowkit_topk_close(t);
}

TEST(CApiTopk, EqualKeysFollowTheHeap) {
    TempDir dir;
    // The first rows stay; an equal key at the boundary is rejected.
    std::string path = dir.write("f.csv", "id,k\nr0,5\nr1,5\nr2,5\n");
    EXPECT_EQ(topIds(path, 1, 2, 1), (Ranked{{"r0", 5}, {"r1", 5}}));
    EXPECT_EQ(topIds(path, 1, 2, 0), (Ranked{{"r0", 5}, {"r1", 5}}));
    // Building the heap puts r2 at the root; r3 replaces it and sinks below
    // r1, so the tied r1 and r0 come out in heap order, not input order.
    path = dir.write("g.csv", "id,k\nr0,2\nr1,2\nr2,1\nr3,3\n");
    EXPECT_EQ(topIds(path, 1, 3, 1), (Ranked{{"r3", 3}, {"r1", 2}, {"r0", 2}}));
    // Ascending: the heap keeps the smallest; the evicted root is the
    // largest key.
    path = dir.write("h.csv", "id,k\nr0,1\nr1,1\nr2,2\nr3,0\nr4,1\n");
    EXPECT_EQ(topIds(path, 1, 3, 0), (Ranked{{"r3", 0}, {"r1", 1}, {"r0", 1}}));
}

TEST(CApiTopk, RandomKeysAgainstAFullSort) {
    TempDir dir;
    std::mt19937 rng(21);
    for (int round = 0; round < 20; ++round) {
        std::string csv = "id,k\n";
        std::vector<double> keys;
        const int rows = 1 + static_cast<int>(rng() % 3000);
        for (int i = 0; i < rows; ++i) {
            int v = static_cast<int>(rng() % 50) - 25;
            if (rng() % 10 == 0) {
                csv += std::to_string(i) + ",n/a\n";
                continue;
            }
            keys.push_back(v);
            csv += std::to_string(i) + "," + std::to_string(v) + "\n";
        }
        const int descending = round % 2;
        const size_t k = rng() % 60;
        std::string path = dir.write("r.csv", csv);
        Ranked got = topIds(path, 1, k, descending);
        if (descending)
            std::sort(keys.begin(), keys.end(), std::greater<double>());
        else
            std::sort(keys.begin(), keys.end());
        keys.resize(std::min(k, keys.size()));
        ASSERT_EQ(got.size(), keys.size()) << "round " << round;
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].second, keys[i]) << "round " << round << " i " << i;
            // Each key belongs to its own row.
            EXPECT_NE(csv.find("\n" + got[i].first + "," + std::to_string(static_cast<int>(got[i].second)) + "\n"),
                      std::string::npos);
        }
    }
}

TEST(CApiTopk, ZeroAndHugeK) {
    TempDir dir;
    std::string path = dir.write("s.csv", kScores);
    // k = 0: nothing kept, but the rows are consumed.
    Ctx *ctx = rowkit_open(path.c_str(), nullptr);
    ASSERT_NE(ctx, nullptr);
    TopkCtx *t = rowkit_topk(ctx, 1, 0, 1);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(rowkit_topk_next(t, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(rowkit_next(ctx, nullptr, nullptr), 0);
    rowkit_topk_close(t);
    rowkit_close(ctx);

    // A k whose heap cannot be allocated fails before any row is read.
    for (size_t k : {SIZE_MAX, SIZE_MAX / 32, SIZE_MAX / 2 / 24 + 1}) {
        ctx = rowkit_open(path.c_str(), nullptr);
        ASSERT_NE(ctx, nullptr);
        EXPECT_EQ(rowkit_topk(ctx, 1, k, 1), nullptr);
        EXPECT_EQ(lastError(), "topk failed: OutOfMemory");
        const char *const *f = nullptr;
        size_t n = 0;
        ASSERT_EQ(rowkit_next(ctx, &f, &n), 1);
        EXPECT_STREQ(f[0], "a");
        rowkit_close(ctx);
    }
}

TEST(CApiTopk, FailuresAndMessages) {
    TempDir dir;
    EXPECT_EQ(rowkit_topk(nullptr, 0, 1, 1), nullptr);
    EXPECT_EQ(lastError(), "scanner is null");
    EXPECT_EQ(rowkit_topk_next(nullptr, nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(lastError(), "topk context is null");
    rowkit_topk_close(nullptr);
    EXPECT_EQ(lastError(), "topk context is null");

    std::string path = dir.write("q.csv", "id,k\na,1\n\"b,2\nc,3\n");
    Ctx *ctx = rowkit_open(path.c_str(), nullptr);
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(rowkit_topk(ctx, 1, 2, 1), nullptr);
    EXPECT_EQ(lastError(), "topk failed: UnterminatedQuote");
    rowkit_close(ctx);

    // Every allocation failure in rowkit_topk gives a documented message and
    // leaks nothing.
    path = dir.write("s.csv", kScores);
    bool succeeded = false;
    for (uint64_t nth = 1; nth < 100 && !succeeded; ++nth) {
        ctx = rowkit_open(path.c_str(), nullptr);
        ASSERT_NE(ctx, nullptr);
        rowkit::alloc_hook::reset();
        rowkit::alloc_hook::failAt(nth);
        TopkCtx *t = rowkit_topk(ctx, 1, 3, 1);
        rowkit::alloc_hook::reset();
        rowkit_close(ctx);
        if (t) {
            succeeded = true;
            EXPECT_EQ(drain(t).size(), 3u);
            rowkit_topk_close(t);
            continue;
        }
        std::string msg = lastError();
        EXPECT_TRUE(msg == "topk failed: OutOfMemory" || msg == "out of memory allocating topk context")
            << nth << ": " << msg;
    }
    EXPECT_TRUE(succeeded);

    // A failed copy in rowkit_topk_next skips that row; the cursor goes on.
    std::vector<std::string> seen_messages;
    for (uint64_t nth = 1; nth < 20; ++nth) {
        ctx = rowkit_open(path.c_str(), nullptr);
        TopkCtx *t = rowkit_topk(ctx, 1, 3, 1);
        rowkit_close(ctx);
        ASSERT_NE(t, nullptr);
        rowkit::alloc_hook::reset();
        rowkit::alloc_hook::failAt(nth);
        int ok = 0, failed = 0;
        for (;;) {
            int r = rowkit_topk_next(t, nullptr, nullptr, nullptr);
            if (r == 0) break;
            if (r == 1) ++ok;
            if (r < 0) {
                ++failed;
                seen_messages.push_back(lastError());
            }
        }
        rowkit::alloc_hook::reset();
        rowkit_topk_close(t);
        EXPECT_EQ(ok + failed, 3);
        if (failed == 0) break;
    }
    for (const std::string &m : seen_messages)
        EXPECT_TRUE(m == "out of memory growing field buffers" || m == "out of memory copying row") << m;
    EXPECT_FALSE(seen_messages.empty());
}
