// stableSort with and without its merge buffer: the stable order for
// consistent comparators, and a permutation of the input (never a crash or a
// lost element) for comparators that are not an order at all.
#include "stable_sort.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

using rowkit::SortBuffer;
using rowkit::stableSort;

struct Item {
    int key;
    int seq;  // input position
    bool operator==(const Item &) const = default;
};

const SortBuffer kModes[] = {SortBuffer::borrow, SortBuffer::none};

}  // namespace

TEST(StableSort, MatchesTheStableOrderWithAndWithoutBuffer) {
    std::mt19937 rng(3);
    auto less = [](const Item &a, const Item &b) { return a.key < b.key; };
    for (SortBuffer mode : kModes)
        for (size_t n = 0; n <= 4097; n = n < 65 ? n + 1 : n * 2 - 1)  // ... 64, 65, 129, 257, ... 4097
            // Few distinct keys, so that stability is visible; then already
            // sorted and reversed inputs.
            for (int shape = 0; shape < 3; ++shape) {
                std::vector<Item> items(n);
                for (size_t i = 0; i < n; ++i)
                    items[i] = {static_cast<int>(shape == 0 ? rng() % 7 : shape == 1 ? i / 3 : (n - i) / 3),
                                static_cast<int>(i)};
                std::vector<Item> want = items;
                std::stable_sort(want.begin(), want.end(), less);
                stableSort(items.data(), items.size(), less, mode);
                ASSERT_TRUE(items == want) << "n=" << n << " shape=" << shape;
            }
}

TEST(StableSort, InconsistentComparatorsKeepEveryElement) {
    std::mt19937 rng(5);
    auto bySeq = [](const Item &a, const Item &b) { return a.seq < b.seq; };
    for (SortBuffer mode : kModes)
        for (size_t n : {2u, 17u, 33u, 100u, 1000u, 3000u}) {
            std::vector<Item> items(n);
            for (size_t i = 0; i < n; ++i) items[i] = {static_cast<int>(rng() % 5), static_cast<int>(i)};
            const std::vector<Item> input = items;
            // Answers at random, so "a < b" and "b < a" may both hold; then
            // claims everything goes before everything.
            std::mt19937 coin(static_cast<unsigned>(n));
            stableSort(items.data(), items.size(), [&coin](const Item &, const Item &) { return coin() & 1; }, mode);
            std::vector<Item> kept = items;
            stableSort(kept.data(), kept.size(), [](const Item &, const Item &) { return true; }, mode);
            for (std::vector<Item> *v : {&items, &kept}) {
                std::sort(v->begin(), v->end(), bySeq);
                EXPECT_TRUE(*v == input) << "n=" << n;
            }
        }
}
