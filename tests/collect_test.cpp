// ColumnBuf: appending values and whole columns (the merge of parallel
// workers), the column limit, and allocation failures.
#include "collect.hpp"

#include <gtest/gtest.h>

#include <string>

using namespace rowkit;

namespace {

// "<data>/<offsets>" of a column.
std::string show(const ColumnBuf &c) {
    std::string out = std::string(c.data.data(), c.data.size()) + "/";
    for (size_t i = 0; i < c.offsets.size(); ++i) out += (i ? "," : "") + std::to_string(c.offsets[i]);
    return out;
}

ColumnBuf columnWith(std::initializer_list<std::string_view> values) {
    Result<Vec<ColumnBuf>> cols = newColumnBufs(1);
    EXPECT_TRUE(cols.ok());
    ColumnBuf c = std::move((*cols)[0]);
    for (std::string_view v : values) EXPECT_TRUE(c.appendValue(v).ok());
    return c;
}

}  // namespace

TEST(Collect, AppendsShiftOffsetsAndTheLimitLeavesTheColumnUnchanged) {
    ColumnBuf a = columnWith({"ab", "", "cde"});
    ColumnBuf b = columnWith({"", "fg"});
    ASSERT_TRUE(a.appendColumn(b).ok());
    ASSERT_TRUE(a.appendColumn(columnWith({})).ok());
    ASSERT_TRUE(a.appendColumn(ColumnBuf()).ok());  // no offsets at all
    EXPECT_EQ(show(a), "abcdefg/0,2,2,5,5,7");
    ColumnBuf empty = columnWith({});
    ASSERT_TRUE(empty.appendColumn(b).ok());
    EXPECT_EQ(show(empty), "fg/0,0,2");
    EXPECT_FALSE(newColumnBufs(SIZE_MAX / 2).ok());

    collect_hook::setColumnLimit(6);
    ColumnBuf c = columnWith({"abc", "de"});
    EXPECT_EQ(c.appendValue("gh").error(), Error::ColumnTooLarge);
    ASSERT_TRUE(c.appendValue("f").ok());  // exactly at the limit
    EXPECT_EQ(show(c), "abcdef/0,3,5,6");
    ColumnBuf xy = columnWith({"xy"}), x = columnWith({"x"});
    EXPECT_EQ(xy.appendColumn(columnWith({"vwxyz"})).error(), Error::ColumnTooLarge);
    EXPECT_EQ(show(xy), "xy/0,2");
    ASSERT_TRUE(x.appendColumn(columnWith({"vwxyz"})).ok());
    EXPECT_EQ(show(x), "xvwxyz/0,1,6");
    collect_hook::setColumnLimit(0);
}

TEST(Collect, AllocationFailuresLeaveNothingBehind) {
    // A failed append leaves the column as it was, whichever of its two
    // allocations fails.
    for (uint64_t nth = 1; nth <= 2; ++nth) {
        ColumnBuf c = columnWith({"a"});
        // Fill the offsets to capacity so that the next value grows both arrays.
        while (c.offsets.size() < c.offsets.capacity()) ASSERT_TRUE(c.appendValue("").ok());
        const std::string before = show(c);
        alloc_hook::failAt(nth);
        EXPECT_EQ(c.appendValue(std::string(c.data.capacity() + 1, 'x')).error(), Error::OutOfMemory);
        alloc_hook::reset();
        ColumnBuf other = columnWith({std::string(c.data.capacity() + 1, 'y')});
        alloc_hook::failAt(nth);
        EXPECT_EQ(c.appendColumn(other).error(), Error::OutOfMemory);
        alloc_hook::reset();
        EXPECT_EQ(show(c), before) << nth;
    }

    // A large column grows in larger steps; when such a block cannot be had,
    // it still grows the ordinary way.
    ColumnBuf big = columnWith({std::string(size_t{1} << 20, 'b')});
    while (big.data.size() < big.data.capacity()) ASSERT_TRUE(big.appendValue("b").ok());
    const size_t full = big.data.size();
    alloc_hook::failAt(1);
    EXPECT_TRUE(big.appendValue("c").ok());
    alloc_hook::reset();
    EXPECT_EQ(big.offsets.back(), full + 1);
    EXPECT_LT(big.data.capacity(), 3 * full);
}
