// ColumnBuf: appending values and whole columns (the merge of parallel
// workers), the column limit, and allocation failures.
#include "collect.hpp"

#include <gtest/gtest.h>

#include <string>

using namespace rowkit;

// "<data>/<offsets>" of a column.
static std::string show(const ColumnBuf &c) {
    std::string out = std::string(c.data.data(), c.data.size()) + "/";
    for (size_t i = 0; i < c.offsets.size(); ++i)
        out += (i ? "," : "") + std::to_string(c.offsets[i]);
    return out;
}

static ColumnBuf col(std::initializer_list<std::string_view> values) {
    ColumnBuf c = std::move((*newColumnBufs(1))[0]);
    for (std::string_view v : values) EXPECT_TRUE(c.appendValue(v).ok());
    return c;
}

TEST(Collect, AppendsLimitAndAllocationFailuresLeaveTheColumnUnchanged) {
    ColumnBuf a = col({"ab", "", "cde"}), empty = col({});
    // The last append has no offsets at all.
    EXPECT_TRUE(a.appendColumn(col({"", "fg"})).ok());
    EXPECT_TRUE(a.appendColumn(col({})).ok());
    EXPECT_TRUE(a.appendColumn(ColumnBuf()).ok());
    EXPECT_TRUE(empty.appendColumn(col({"", "fg"})).ok());
    EXPECT_EQ(newColumnBufs(SIZE_MAX / 2).error(), Error::OutOfMemory);
    collect_hook::setColumnLimit(6);
    ColumnBuf c = col({"abc", "de"}), xy = col({"xy"}), x = col({"x"});
    // Over the limit by one byte fails; exactly at the limit is fine.
    EXPECT_EQ(c.appendValue("gh").error(), Error::ColumnTooLarge);
    EXPECT_EQ(xy.appendColumn(col({"vwxyz"})).error(), Error::ColumnTooLarge);
    EXPECT_TRUE(c.appendValue("f").ok());
    EXPECT_TRUE(x.appendColumn(col({"vwxyz"})).ok());
    collect_hook::setColumnLimit(0);
    EXPECT_EQ(show(a) + " " + show(empty) + " " + show(c) + " " + show(xy) + " " + show(x),
              "abcdefg/0,2,2,5,5,7 fg/0,0,2 abcdef/0,3,5,6 xy/0,2 xvwxyz/0,1,6");

    // A failed append leaves the column as it was, whichever of its two
    // allocations fails; the full offsets make the next value grow both arrays.
    for (uint64_t nth = 1; nth <= 4; ++nth) {
        ColumnBuf d = col({"a"}),
                  other = col({std::string(1 << 16, 'y')});  // past d's data capacity
        while (d.offsets.size() < d.offsets.capacity()) ASSERT_TRUE(d.appendValue("").ok());
        const std::string before = show(d);
        alloc_hook::failAt((nth + 1) / 2);
        EXPECT_EQ(
            (nth % 2 ? d.appendValue(std::string(1 << 16, 'x')) : d.appendColumn(other)).error(),
            Error::OutOfMemory);
        alloc_hook::reset();
        EXPECT_EQ(show(d), before) << nth;
    }
    // A large column grows in larger steps; when such a block cannot be had,
    // it still grows the ordinary way.
    ColumnBuf big = col({std::string(size_t{1} << 20, 'b')});
    while (big.data.size() < big.data.capacity()) ASSERT_TRUE(big.appendValue("b").ok());
    alloc_hook::failAt(1);
    EXPECT_TRUE(big.appendValue("c").ok());
    EXPECT_EQ(big.offsets.back(), big.data.size());
    EXPECT_LT(big.data.capacity(), 3 * big.data.size());
    alloc_hook::reset();
}
