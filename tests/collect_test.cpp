// ColumnBuf: appending values and whole columns (the merge of parallel
// workers), the column limit, and allocation failures.
#include "collect.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace rowkit;

namespace {

std::string dataOf(const ColumnBuf &c) { return std::string(c.data.data(), c.data.size()); }

std::vector<uint32_t> offsetsOf(const ColumnBuf &c) {
    return std::vector<uint32_t>(c.offsets.begin(), c.offsets.end());
}

ColumnBuf columnWith(std::initializer_list<std::string_view> values) {
    Result<Vec<ColumnBuf>> cols = newColumnBufs(1);
    EXPECT_TRUE(cols.ok());
    ColumnBuf c = std::move((*cols)[0]);
    for (std::string_view v : values) EXPECT_TRUE(c.appendValue(v).ok());
    return c;
}

}  // namespace

TEST(Collect, ColumnsAppendValuesAndMergeWithShiftedOffsets) {
    ColumnBuf a = columnWith({"ab", "", "cde"});
    EXPECT_EQ(a.rows(), 3u);
    EXPECT_EQ(dataOf(a), "abcde");
    EXPECT_EQ(offsetsOf(a), (std::vector<uint32_t>{0, 2, 2, 5}));

    // A worker's column goes after the values already there.
    ColumnBuf b = columnWith({"", "fg"});
    ASSERT_TRUE(a.appendColumn(b).ok());
    EXPECT_EQ(dataOf(a), "abcdefg");
    EXPECT_EQ(offsetsOf(a), (std::vector<uint32_t>{0, 2, 2, 5, 5, 7}));
    // Into an empty column, and from an empty one (no rows, or no offsets).
    ColumnBuf empty = columnWith({});
    ASSERT_TRUE(empty.appendColumn(b).ok());
    EXPECT_EQ(offsetsOf(empty), (std::vector<uint32_t>{0, 0, 2}));
    ASSERT_TRUE(a.appendColumn(columnWith({})).ok());
    ASSERT_TRUE(a.appendColumn(ColumnBuf()).ok());
    EXPECT_EQ(a.rows(), 5u);

    // A consumer takes the arrays over.
    ByteBuf data = std::move(a.data);
    Vec<uint32_t> offsets = std::move(a.offsets);
    EXPECT_EQ(data.size(), 7u);
    EXPECT_EQ(offsets.size(), 6u);
    a.deinit();  // harmless on moved-from arrays
    EXPECT_EQ(a.rows(), 0u);

    Result<Vec<ColumnBuf>> none = newColumnBufs(0);
    ASSERT_TRUE(none.ok());
    EXPECT_EQ(none->size(), 0u);
    deinitColumnBufs(*none);
    EXPECT_FALSE(newColumnBufs(SIZE_MAX / 2).ok());
}

TEST(Collect, ColumnLimitHoldsExactlyAndLeavesTheColumnUnchanged) {
    collect_hook::setColumnLimit(6);
    ColumnBuf a = columnWith({"abc", "de"});
    EXPECT_EQ(a.appendValue("gh").error(), Error::ColumnTooLarge);
    ASSERT_TRUE(a.appendValue("f").ok());  // exactly at the limit
    ASSERT_TRUE(a.appendValue("").ok());   // empty values still fit
    EXPECT_EQ(a.appendValue("g").error(), Error::ColumnTooLarge);
    EXPECT_EQ(dataOf(a), "abcdef");
    EXPECT_EQ(offsetsOf(a), (std::vector<uint32_t>{0, 3, 5, 6, 6}));

    ColumnBuf b = columnWith({"xy"});
    ColumnBuf c = columnWith({"x"});
    ColumnBuf d = columnWith({"vwxyz"});
    EXPECT_EQ(b.appendColumn(d).error(), Error::ColumnTooLarge);
    EXPECT_EQ(offsetsOf(b), (std::vector<uint32_t>{0, 2}));
    ASSERT_TRUE(c.appendColumn(d).ok());
    EXPECT_EQ(offsetsOf(c), (std::vector<uint32_t>{0, 1, 6}));
    collect_hook::setColumnLimit(0);
    EXPECT_EQ(collect_hook::columnLimit(), kMaxColumnBytes);
    EXPECT_EQ(kMaxColumnBytes, 4294967295u);
}

TEST(Collect, AllocationFailuresLeaveNothingBehind) {
    // Every allocation of newColumnBufs fails in turn: OutOfMemory, and
    // LeakSanitizer sees no block left.
    for (uint64_t nth = 1; nth <= 5; ++nth) {
        alloc_hook::reset();
        alloc_hook::failAt(nth);
        Result<Vec<ColumnBuf>> cols = newColumnBufs(4);
        alloc_hook::reset();
        EXPECT_FALSE(cols.ok()) << nth;
        EXPECT_EQ(cols.error(), Error::OutOfMemory);
    }
    alloc_hook::failAt(6);
    EXPECT_TRUE(newColumnBufs(4).ok());
    alloc_hook::reset();

    // A failed append leaves the column as it was, whichever of its two
    // allocations fails.
    for (uint64_t nth = 1; nth <= 2; ++nth) {
        ColumnBuf c = columnWith({"a"});
        // Fill the offsets to capacity so that the next value grows both arrays.
        while (c.offsets.size() < c.offsets.capacity()) ASSERT_TRUE(c.appendValue("").ok());
        const size_t rows = c.rows();
        alloc_hook::failAt(nth);
        EXPECT_EQ(c.appendValue(std::string(c.data.capacity() + 1, 'x')).error(), Error::OutOfMemory);
        alloc_hook::reset();
        ColumnBuf other = columnWith({std::string(c.data.capacity() + 1, 'y')});
        alloc_hook::failAt(nth);
        EXPECT_EQ(c.appendColumn(other).error(), Error::OutOfMemory);
        alloc_hook::reset();
        EXPECT_EQ(c.rows(), rows) << nth;
        EXPECT_EQ(dataOf(c), "a");
        EXPECT_EQ(c.offsets.back(), 1u);
    }

    // A large column grows in larger steps; when such a block cannot be had,
    // it still grows the ordinary way.
    ColumnBuf big = columnWith({std::string(size_t{1} << 20, 'b')});
    while (big.data.size() < big.data.capacity()) ASSERT_TRUE(big.appendValue("b").ok());
    const size_t full = big.data.size();
    alloc_hook::failAt(1);
    EXPECT_TRUE(big.appendValue("c").ok());
    alloc_hook::reset();
    EXPECT_EQ(big.data.size(), full + 1);
    EXPECT_LT(big.data.capacity(), 3 * full);
    EXPECT_EQ(big.offsets.back(), full + 1);
}
