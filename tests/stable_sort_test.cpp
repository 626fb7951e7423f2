// stableSort with and without its merge buffer: the stable order for
// consistent comparators, and a permutation of the input (never a crash or a
// lost element) for comparators that are not an order at all.
#include "stable_sort.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

struct Item {
    int key, seq;  // seq: input position
    bool operator==(const Item &) const = default;
};

// `n` items: few distinct keys, so that stability is visible (shape 0), or
// already sorted (1) or reversed (2) runs of equal keys.
std::vector<Item> items(size_t n, int shape, std::mt19937 &rng) {
    std::vector<Item> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = {static_cast<int>(shape == 0   ? rng() % 7
                                 : shape == 1 ? i / 3
                                              : (n - i) / 3),
                static_cast<int>(i)};
    return v;
}

}  // namespace

TEST(StableSort, MatchesTheStableOrderWithAndWithoutBuffer) {
    std::mt19937 rng(3);
    auto less = [](const Item &a, const Item &b) { return a.key < b.key; };
    for (rowkit::SortBuffer mode : {rowkit::SortBuffer::borrow, rowkit::SortBuffer::none})
        for (size_t n = 0; n <= 4097;
             n = n < 34 ? n + 1 : n * 2 - 1)  // ... 33, 34, 67, 133, ... 4097
            for (int shape = 0; shape < 3; ++shape) {
                std::vector<Item> got = items(n, shape, rng), want = got;
                std::stable_sort(want.begin(), want.end(), less);
                rowkit::stableSort(got.data(), got.size(), less, mode);
                ASSERT_TRUE(got == want) << "n=" << n << " shape=" << shape;
            }
}

TEST(StableSort, InconsistentComparatorsKeepEveryElement) {
    std::mt19937 rng(5);
    for (rowkit::SortBuffer mode : {rowkit::SortBuffer::borrow, rowkit::SortBuffer::none})
        for (size_t n : {2u, 33u, 1000u}) {
            // Answers at random, so "a < b" and "b < a" may both hold; then
            // claims everything goes before everything.
            std::mt19937 coin(static_cast<unsigned>(n));
            std::vector<Item> input = items(n, 0, rng), a = input, b = input;
            rowkit::stableSort(
                a.data(), a.size(), [&coin](const Item &, const Item &) { return coin() & 1; },
                mode);
            rowkit::stableSort(
                b.data(), b.size(), [](const Item &, const Item &) { return true; }, mode);
            for (std::vector<Item> *v : {&a, &b}) {
                std::sort(v->begin(), v->end(),
                          [](const Item &x, const Item &y) { return x.seq < y.seq; });
                EXPECT_TRUE(*v == input) << "n=" << n;
            }
        }
}
