// rowkit_order_by and its cursor through the public interface: numeric and
// byte order, stability in both directions, missing columns, columns that
// mix numbers and texts, ownership across the scanner's close, failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "alloc.hpp"
#include "rowkit.h"
#include "support/test_files.hpp"

using rowkit_test::defaultOptions;
using rowkit_test::lastError;
using rowkit_test::Rows;
using rowkit_test::TempDir;

namespace {

Rows drain(OrderByCtx *o) {
    Rows out;
    for (;;) {
        const char *const *f = nullptr;
        size_t n = 0;
        int r = rowkit_order_by_next(o, &f, &n);
        if (r == 0) break;
        if (r < 0) {
            ADD_FAILURE() << lastError();
            break;
        }
        std::vector<std::string> row;
        for (size_t i = 0; i < n; ++i) row.emplace_back(f[i]);
        out.push_back(std::move(row));
    }
    return out;
}

Rows ordered(const std::string &path, size_t column, int descending, const COptions *o = nullptr) {
    Ctx *ctx = rowkit_open(path.c_str(), o);
    if (!ctx) {
        ADD_FAILURE() << lastError();
        return {};
    }
    OrderByCtx *oc = rowkit_order_by(ctx, column, descending);
    rowkit_close(ctx);  // the cursor owns its rows
    if (!oc) {
        ADD_FAILURE() << lastError();
        return {};
    }
    Rows rows = drain(oc);
    rowkit_order_by_close(oc);
    return rows;
}

// Column `c` of every row ("<none>" when the row is too short).
std::vector<std::string> column(const Rows &rows, size_t c) {
    std::vector<std::string> out;
    for (const auto &r : rows) out.push_back(c < r.size() ? r[c] : "<none>");
    return out;
}

using Texts = std::vector<std::string>;

}  // namespace

TEST(CApiOrderBy, NumbersNumericallyTextsByBytes) {
    TempDir dir;
    std::string path = dir.write("n.csv", "k\n10\n9\n100\n");
    EXPECT_EQ(column(ordered(path, 0, 0), 0), (Texts{"9", "10", "100"}));
    EXPECT_EQ(column(ordered(path, 0, 1), 0), (Texts{"100", "10", "9"}));
    path = dir.write("t.csv", "k\nb\na\nB\n");
    EXPECT_EQ(column(ordered(path, 0, 0), 0), (Texts{"B", "a", "b"}));
    EXPECT_EQ(rowkit_last_error(), nullptr);

    // Equal keys keep their input order in both directions, so descending
    // is not the reverse of ascending.
    path = dir.write("e.csv", "id,k\na,1\nb,1.0\nc,01\nd,0\ne,1e0\n");
    EXPECT_EQ(column(ordered(path, 1, 0), 0), (Texts{"d", "a", "b", "c", "e"}));
    EXPECT_EQ(column(ordered(path, 1, 1), 0), (Texts{"a", "b", "c", "e", "d"}));

    // A row without the column sorts as the empty text: first ascending,
    // last descending.
    path = dir.write("m.csv", "id,k\na,x\nb\nc,\nd,A\n");
    EXPECT_EQ(column(ordered(path, 1, 0), 0), (Texts{"b", "c", "d", "a"}));
    EXPECT_EQ(column(ordered(path, 1, 1), 0), (Texts{"a", "d", "b", "c"}));
    // Rows are handed out whole, with their own field counts.
    Rows rows = ordered(path, 1, 0);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"b"}));
    EXPECT_EQ(rows[3], (std::vector<std::string>{"a", "x"}));

    // An empty input gives an empty cursor.
    EXPECT_TRUE(ordered(dir.write("h.csv", "id,k\n"), 1, 0).empty());
}

TEST(CApiOrderBy, QueryOptionsAndLargeInputs) {
    TempDir dir;
    // Enough rows for the merge passes, spanning several read chunks.
    std::mt19937 rng(4);
    std::string csv = "id,k,pad\n";
    std::vector<std::pair<int, int>> keyed;  // (key, id)
    for (int i = 0; i < 30000; ++i) {
        int k = static_cast<int>(rng() % 1000);
        keyed.push_back({k, i});
        csv += std::to_string(i) + "," + std::to_string(k) + "," + std::string(static_cast<size_t>(i % 13), 'p') + "\n";
    }
    std::string path = dir.write("big.csv", csv);
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    Rows rows = ordered(path, 1, 0);
    ASSERT_EQ(rows.size(), keyed.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        ASSERT_EQ(rows[i][0], std::to_string(keyed[i].second)) << i;
        ASSERT_EQ(rows[i][2], std::string(static_cast<size_t>(keyed[i].second % 13), 'p'));
    }

    // Predicates, projection, limit; rows read before are not included.
    CPredicate p;
    std::memset(&p, 0, sizeof p);
    p.column = 1;
    p.op = ROWKIT_OP_LT;
    p.value = "3";
    size_t cols[] = {1, 0};
    COptions o = defaultOptions();
    o.where = &p;
    o.n_where = 1;
    o.columns = cols;
    o.n_columns = 2;
    o.limit = 50;
    Ctx *ctx = rowkit_open(path.c_str(), &o);
    ASSERT_NE(ctx, nullptr);
    ASSERT_EQ(rowkit_next(ctx, nullptr, nullptr), 1);
    OrderByCtx *oc = rowkit_order_by(ctx, 0, 1);
    ASSERT_NE(oc, nullptr);
    EXPECT_EQ(rowkit_next(ctx, nullptr, nullptr), 0);  // consumed up to the limit
    rowkit_close(ctx);
    rows = drain(oc);
    rowkit_order_by_close(oc);
    EXPECT_EQ(rows.size(), 49u);
    for (size_t i = 0; i < rows.size(); ++i) {
        ASSERT_EQ(rows[i].size(), 2u);
        EXPECT_LT(std::stoi(rows[i][0]), 3);
        if (i > 0) {
            EXPECT_GE(std::stoi(rows[i - 1][0]), std::stoi(rows[i][0]));
        }
    }
}

TEST(CApiOrderBy, MixedColumnsKeepEveryRow) {
    TempDir dir;
    std::mt19937 rng(8);
    const char *texts[] = {"1a", "abc", "", "-", "B", "2x", "nan", "inf", "0x", ".", "10a", "\xff"};
    for (int round = 0; round < 30; ++round) {
        std::string csv = "id,k\n";
        const int n = 1 + static_cast<int>(rng() % 2000);
        Texts ids;
        for (int i = 0; i < n; ++i) {
            std::string key;
            switch (rng() % 3) {
                case 0: key = std::to_string(static_cast<int>(rng() % 200) - 50); break;
                case 1: key = std::to_string(rng() % 100) + "." + std::to_string(rng() % 10); break;
                default: key = texts[rng() % (sizeof texts / sizeof texts[0])]; break;
            }
            ids.push_back(std::to_string(i));
            csv += ids.back() + "," + key + "\n";
        }
        std::string path = dir.write("mix.csv", csv);
        for (int descending = 0; descending < 2; ++descending) {
            Texts got = column(ordered(path, 1, descending), 0);
            std::sort(got.begin(), got.end());
            Texts want = ids;
            std::sort(want.begin(), want.end());
            ASSERT_EQ(got, want) << "round " << round;
        }
    }
}

TEST(CApiOrderBy, FailuresAndMessages) {
    TempDir dir;
    EXPECT_EQ(rowkit_order_by(nullptr, 0, 0), nullptr);
    EXPECT_EQ(lastError(), "scanner is null");
    EXPECT_EQ(rowkit_order_by_next(nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(lastError(), "order_by context is null");
    rowkit_order_by_close(nullptr);
    EXPECT_EQ(lastError(), "order_by context is null");

    std::string path = dir.write("q.csv", "id,k\na,1\n\"b,2\nc,3\n");
    Ctx *ctx = rowkit_open(path.c_str(), nullptr);
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(rowkit_order_by(ctx, 1, 0), nullptr);
    EXPECT_EQ(lastError(), "order_by failed: UnterminatedQuote");
    rowkit_close(ctx);

    // Every allocation failure gives a documented message and leaks nothing;
    // the rows are enough for several blocks of row copies and for the sort
    // to want a merge buffer, whose failure is not an error (the sort then
    // works in place).
    std::string csv = "id,k,pad\n";
    for (int i = 0; i < 3000; ++i)
        csv += std::to_string(i) + "," + std::to_string((i * 7) % 11) + "," + std::string(40, 'p') + "\n";
    path = dir.write("s.csv", csv);
    const Rows want = ordered(path, 1, 1);
    ASSERT_EQ(want.size(), 3000u);
    bool succeeded = false;
    for (uint64_t nth = 1; nth < 200 && !succeeded; ++nth) {
        ctx = rowkit_open(path.c_str(), nullptr);
        ASSERT_NE(ctx, nullptr);
        rowkit::alloc_hook::reset();
        rowkit::alloc_hook::failAt(nth);
        OrderByCtx *oc = rowkit_order_by(ctx, 1, 1);
        const uint64_t attempted = rowkit::alloc_hook::count();
        rowkit::alloc_hook::reset();
        rowkit_close(ctx);
        if (oc) {
            // The failed allocation, if any, was the merge buffer.
            EXPECT_EQ(drain(oc), want) << nth;
            rowkit_order_by_close(oc);
            succeeded = attempted < nth;  // no allocation was left to fail
            continue;
        }
        std::string msg = lastError();
        EXPECT_TRUE(msg == "order_by failed: OutOfMemory" || msg == "out of memory allocating order_by context")
            << nth << ": " << msg;
    }
    EXPECT_TRUE(succeeded);

    // A failed copy in rowkit_order_by_next skips that row; the cursor goes on.
    std::vector<std::string> messages;
    for (uint64_t nth = 1; nth < 20; ++nth) {
        ctx = rowkit_open(path.c_str(), nullptr);
        OrderByCtx *oc = rowkit_order_by(ctx, 1, 0);
        rowkit_close(ctx);
        ASSERT_NE(oc, nullptr);
        rowkit::alloc_hook::reset();
        rowkit::alloc_hook::failAt(nth);
        int ok = 0, failed = 0;
        for (;;) {
            int r = rowkit_order_by_next(oc, nullptr, nullptr);
            if (r == 0) break;
            if (r == 1) ++ok;
            if (r < 0) {
                ++failed;
                messages.push_back(lastError());
            }
        }
        rowkit::alloc_hook::reset();
        rowkit_order_by_close(oc);
        EXPECT_EQ(ok + failed, 3000);
        if (failed == 0) break;
    }
    for (const std::string &m : messages)
        EXPECT_TRUE(m == "out of memory growing field buffers" || m == "out of memory copying row") << m;
    EXPECT_FALSE(messages.empty());
}
