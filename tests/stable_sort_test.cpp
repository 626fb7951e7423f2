// stableSort with and without its merge buffer: the stable order for
// consistent comparators, and a permutation of the input (never a crash or a
// lost element) for comparators that are not an order at all.
#include "stable_sort.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "alloc.hpp"
#include "order.hpp"

namespace {

using rowkit::SortBuffer;
using rowkit::stableSort;

struct Item {
    int key;
    int seq;  // input position
};

bool sameItems(std::vector<Item> a, std::vector<Item> b) {
    auto bySeq = [](const Item &x, const Item &y) { return x.seq < y.seq; };
    std::sort(a.begin(), a.end(), bySeq);
    std::sort(b.begin(), b.end(), bySeq);
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].seq != b[i].seq || a[i].key != b[i].key) return false;
    return true;
}

const SortBuffer kModes[] = {SortBuffer::borrow, SortBuffer::none};

}  // namespace

TEST(StableSort, MatchesTheStableOrderWithAndWithoutBuffer) {
    std::mt19937 rng(3);
    std::vector<size_t> sizes;
    for (size_t n = 0; n <= 70; ++n) sizes.push_back(n);
    for (size_t n : {127u, 128u, 129u, 1000u, 4097u}) sizes.push_back(n);
    for (SortBuffer mode : kModes) {
        for (size_t n : sizes) {
            // Few distinct keys, so that stability is visible; then already
            // sorted and reversed inputs.
            for (int shape = 0; shape < 3; ++shape) {
                std::vector<Item> items(n);
                for (size_t i = 0; i < n; ++i) {
                    int key = static_cast<int>(rng() % 7);
                    if (shape == 1) key = static_cast<int>(i / 3);
                    if (shape == 2) key = static_cast<int>((n - i) / 3);
                    items[i] = {key, static_cast<int>(i)};
                }
                std::vector<Item> want = items;
                auto less = [](const Item &a, const Item &b) { return a.key < b.key; };
                std::stable_sort(want.begin(), want.end(), less);
                stableSort(items.data(), items.size(), less, mode);
                for (size_t i = 0; i < n; ++i) {
                    ASSERT_EQ(items[i].key, want[i].key) << "n=" << n << " i=" << i;
                    ASSERT_EQ(items[i].seq, want[i].seq) << "n=" << n << " i=" << i;
                }
            }
        }
    }
}

TEST(StableSort, InconsistentComparatorsKeepEveryElement) {
    std::mt19937 rng(5);
    for (SortBuffer mode : kModes) {
        for (size_t n : {2u, 17u, 33u, 100u, 1000u, 3000u}) {
            std::vector<Item> items(n);
            for (size_t i = 0; i < n; ++i) items[i] = {static_cast<int>(rng() % 5), static_cast<int>(i)};
            const std::vector<Item> input = items;
            // Answers at random, so "a < b" and "b < a" may both hold.
            std::mt19937 coin(static_cast<unsigned>(n));
            stableSort(items.data(), items.size(), [&coin](const Item &, const Item &) { return coin() & 1; },
                       mode);
            EXPECT_TRUE(sameItems(items, input)) << "n=" << n;
            // Claims everything goes before everything.
            stableSort(items.data(), items.size(), [](const Item &, const Item &) { return true; }, mode);
            EXPECT_TRUE(sameItems(items, input)) << "n=" << n;
        }
    }
}

TEST(CompareField, NumbersThenBytes) {
    using rowkit::compareField;
    using rowkit::Ordering;
    EXPECT_EQ(compareField("9", "10"), Ordering::less);
    EXPECT_EQ(compareField("100", "10"), Ordering::greater);
    EXPECT_EQ(compareField("1", "1.0"), Ordering::equal);
    EXPECT_EQ(compareField("01", "1e0"), Ordering::equal);
    EXPECT_EQ(compareField("-0", "0"), Ordering::equal);
    EXPECT_EQ(compareField("B", "a"), Ordering::less);
    EXPECT_EQ(compareField("ab", "a"), Ordering::greater);
    EXPECT_EQ(compareField("", "a"), Ordering::less);
    EXPECT_EQ(compareField("", ""), Ordering::equal);
    EXPECT_EQ(compareField("\xff", "a"), Ordering::greater);  // unsigned bytes
    // Not transitive over a mix: 2 < 10 as numbers, 10 < 1a and 1a < 2 as text.
    EXPECT_EQ(compareField("2", "10"), Ordering::less);
    EXPECT_EQ(compareField("10", "1a"), Ordering::less);
    EXPECT_EQ(compareField("1a", "2"), Ordering::less);
    // "nan" and "inf" are not numbers: byte order.
    EXPECT_EQ(compareField("nan", "5"), Ordering::greater);
    EXPECT_EQ(compareField("inf", "infinity"), Ordering::less);
}
