// rowkit_order_by and its cursor through the public interface: numeric and
// byte order, stability in both directions, missing columns, columns that
// mix numbers and texts, ownership across the scanner's close, failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "alloc.hpp"
#include "rowkit.h"
#include "support/test_files.hpp"

using rowkit_test::lastError;
using rowkit_test::Rows;

namespace {

using Texts = std::vector<std::string>;

// Opens `path`, orders it (with the `fail`th allocation from then on
// failing), closes the scanner and only then drains the cursor. Messages go
// to `errors`: "order_by: " and the message if ordering failed, else one per
// row that failed. Without `errors` any failure fails the test.
Rows ordered(const std::string &path, size_t column, int descending, Texts *errors = nullptr,
             uint64_t fail = 0) {
    Ctx *ctx = rowkit_open(path.c_str(), nullptr);
    rowkit::alloc_hook::reset();
    rowkit::alloc_hook::failAt(fail);
    OrderByCtx *oc = rowkit_order_by(ctx, column, descending);
    rowkit_close(ctx);
    Texts mine, &errs = errors ? *errors : mine;
    if (!oc) errs.push_back("order_by: " + lastError());
    Rows out;
    const char *const *f = nullptr;
    size_t n = 0;
    for (int r; oc && (r = rowkit_order_by_next(oc, &f, &n)) != 0;)
        if (r > 0) out.emplace_back(f, f + n); else errs.push_back(lastError());
    rowkit_order_by_close(oc);
    EXPECT_TRUE(mine.empty()) << mine[0];
    return out;
}

// The first field of every row.
Texts ids(const Rows &rows) {
    Texts out;
    for (const auto &r : rows) out.push_back(r.at(0));
    return out;
}

}  // namespace

TEST(CApiOrderBy, NumbersNumericallyTextsByBytes) {
    rowkit_test::TempDir dir;
    const char *kNumbers = "id,k\na,1\nb,10\nc,1.0\nd,9\ne,01\nf,0\ng,1e0\n";
    const char *kMissing = "id,k\na,x\nb\nc,\nd,A\n";
    struct Case { const char *csv; size_t column; int descending; Texts want; };
    for (const Case &c : {
        // Numbers by value; equal keys keep their input order in both
        // directions, so descending is not the reverse of ascending.
        {kNumbers, 1, 0, {"f", "a", "c", "e", "g", "d", "b"}},
        {kNumbers, 1, 1, {"b", "d", "a", "c", "e", "g", "f"}},
        // Unsigned bytes, a prefix first; "nan" and "inf" are texts.
        {"k\nb\nnan\n5\na\ninfinity\nB\nab\ninf\n\xff\n", 0, 0,
         {"5", "B", "a", "ab", "b", "inf", "infinity", "nan", "\xff"}},
        // A row without the column sorts as the empty text.
        Case{kMissing, 1, 1, {"a", "d", "b", "c"}}})
        EXPECT_EQ(ids(ordered(dir.write("t.csv", c.csv), c.column, c.descending)), c.want) << c.csv;
    EXPECT_EQ(rowkit_last_error(), nullptr);
    // Rows are handed out whole, with their own field counts; the row
    // without the column comes first ascending.
    EXPECT_EQ(ordered(dir.write("m.csv", kMissing), 1, 0),
              (Rows{{"b"}, {"c", ""}, {"d", "A"}, {"a", "x"}}));

    // A column mixing numbers and texts has no consistent order; every row
    // still comes out, once.
    std::mt19937 rng(8);
    const char *texts[] = {"1a", "abc", "", "-", "B", "2x", "nan", "inf", "0x", ".", "10a", "\xff"};
    std::string csv = "id,k\n";
    Texts want;
    for (int i = 0; i < 2000; want.push_back(std::to_string(i++)))
        csv += std::to_string(i) + "," +
               (rng() % 2 ? std::to_string(rng() % 200) : texts[rng() % std::size(texts)]) + "\n";
    for (Texts got : {ids(ordered(dir.write("mix.csv", csv), 1, 0)),
                      ids(ordered(dir.write("mix.csv", csv), 1, 1))})
        EXPECT_TRUE(std::is_permutation(got.begin(), got.end(), want.begin(), want.end()));
}

TEST(CApiOrderBy, LargeInputAndFailures) {
    rowkit_test::TempDir dir;
    EXPECT_EQ(rowkit_order_by(nullptr, 0, 0), nullptr);
    EXPECT_EQ(lastError(), "scanner is null");
    EXPECT_EQ(rowkit_order_by_next(nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(lastError(), "order_by context is null");
    rowkit_order_by_close(nullptr);
    Ctx *ctx = rowkit_open(dir.write("q.csv", "id,k\na,1\n\"b,2\nc,3\n").c_str(), nullptr);
    EXPECT_EQ(rowkit_order_by(ctx, 1, 0), nullptr);
    EXPECT_EQ(lastError(), "order_by failed: UnterminatedQuote");
    rowkit_close(ctx);

    // Enough rows for the merge passes, spanning several read chunks.
    std::mt19937 rng(4);
    std::string csv = "id,k,pad\n";
    Rows want;
    for (int i = 0; i < 30000; ++i) {
        want.push_back({std::to_string(i), std::to_string(rng() % 1000), std::string(i % 13, 'p')});
        csv += want.back()[0] + "," + want.back()[1] + "," + want.back()[2] + "\n";
    }
    std::string path = dir.write("big.csv", csv);
    std::stable_sort(want.begin(), want.end(), [](const auto &a, const auto &b) {
        return std::stoi(a[1]) < std::stoi(b[1]);
    });

    // Every allocation failure gives a documented message and leaks nothing.
    // The rows fill several arena blocks and make the sort want a merge
    // buffer, whose failure is no error (the sort then works in place). In
    // rowkit_order_by_next a failed copy skips that row; the cursor goes on.
    size_t next_failures = 0;
    for (uint64_t nth = 1, all_tried = 0; !all_tried; ++nth) {
        ASSERT_LT(nth, 200u);
        Texts errors;
        Rows got = ordered(path, 1, 0, &errors, nth);
        all_tried = rowkit::alloc_hook::count() < nth;
        rowkit::alloc_hook::reset();
        for (const std::string &e : errors)
            EXPECT_TRUE(e == "order_by: order_by failed: OutOfMemory" ||
                        e == "out of memory copying row" ||
                        e == "order_by: out of memory allocating order_by context" ||
                        e == "out of memory growing field buffers")
                << nth << ": " << e;
        const bool built = errors.empty() || !errors[0].starts_with("order_by: ");
        next_failures += built ? errors.size() : 0;
        EXPECT_EQ(got.size() + errors.size(), built ? want.size() : 1u) << nth;
        EXPECT_TRUE(!errors.empty() || got == want) << nth;
    }
    EXPECT_GT(next_failures, 0u);
}
