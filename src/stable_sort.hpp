// A stable sort that never fails and never loses an element, whatever the
// comparator does.
//
// Top-k and order-by sort with comparators that need not be a strict weak
// order (order-by compares numbers numerically and other texts byte-wise,
// which is not transitive over a mix of the two). Sorts that assume a
// consistent comparator may then run off the ends of the range; these do
// not: every loop is bounded by indices alone, and elements only ever move
// by swaps, rotations or a merge that takes each element exactly once, so
// the result is always a permutation of the input. With a consistent
// comparator the result is the stable sorted order.
//
// The merge sort borrows a buffer for half the range; when that allocation
// fails it sorts in place instead (merges by rotation), so sorting itself
// never fails.
#pragma once

#include <algorithm>
#include <cstddef>
#include <new>
#include <type_traits>
#include <utility>

#include "alloc.hpp"

namespace rowkit {

namespace sort_detail {

inline constexpr size_t kInsertionRun = 16;

template <class T, class Less>
void insertionSort(T *a, size_t n, Less &less) {
    for (size_t i = 1; i < n; ++i) {
        if (!less(a[i], a[i - 1])) continue;
        T moving = std::move(a[i]);
        size_t j = i;
        do {
            a[j] = std::move(a[j - 1]);
            --j;
        } while (j > 0 && less(moving, a[j - 1]));
        a[j] = std::move(moving);
    }
}

// Sorts a[0..n) with `buf` holding raw room for at least n / 2 elements.
template <class T, class Less>
void mergeSort(T *a, size_t n, T *buf, Less &less) {
    if (n <= kInsertionRun) {
        insertionSort(a, n, less);
        return;
    }
    const size_t m = n / 2;
    mergeSort(a, m, buf, less);
    mergeSort(a + m, n - m, buf, less);
    if (!less(a[m], a[m - 1])) return;  // the halves are already in order
    for (size_t i = 0; i < m; ++i) new (buf + i) T(std::move(a[i]));
    size_t i = 0, j = m, k = 0;
    // The right element goes first only when strictly less: equal elements
    // keep their order.
    while (i < m && j < n) a[k++] = less(a[j], buf[i]) ? std::move(a[j++]) : std::move(buf[i++]);
    while (i < m) a[k++] = std::move(buf[i++]);
    for (size_t x = 0; x < m; ++x) buf[x].~T();
}

// Merges the sorted runs a[lo..mid) and a[mid..hi) in place: split both at
// matching points found by binary search, rotate the middle, recurse on the
// two smaller problems.
template <class T, class Less>
void mergeInPlace(T *a, size_t lo, size_t mid, size_t hi, Less &less) {
    if (mid - lo == 1) {
        // One element on the left: find where it goes in the right run.
        size_t i = mid, j = hi;
        while (i < j) {
            size_t h = i + (j - i) / 2;
            if (less(a[h], a[lo]))
                i = h + 1;
            else
                j = h;
        }
        std::rotate(a + lo, a + lo + 1, a + i);
        return;
    }
    if (hi - mid == 1) {
        // One element on the right: find where it goes in the left run.
        size_t i = lo, j = mid;
        while (i < j) {
            size_t h = i + (j - i) / 2;
            if (!less(a[mid], a[h]))
                i = h + 1;
            else
                j = h;
        }
        std::rotate(a + i, a + mid, a + mid + 1);
        return;
    }
    const size_t half = lo + (hi - lo) / 2;
    const size_t n = half + mid;
    size_t start, r;
    if (mid > half) {
        start = n - hi;
        r = half;
    } else {
        start = lo;
        r = mid;
    }
    const size_t p = n - 1;
    while (start < r) {
        size_t c = start + (r - start) / 2;
        if (!less(a[p - c], a[c]))
            start = c + 1;
        else
            r = c;
    }
    const size_t end = n - start;
    if (start < mid && mid < end) std::rotate(a + start, a + mid, a + end);
    if (lo < start && start < half) mergeInPlace(a, lo, start, half, less);
    if (half < end && end < hi) mergeInPlace(a, half, end, hi, less);
}

template <class T, class Less>
void sortInPlace(T *a, size_t n, Less &less) {
    for (size_t lo = 0; lo < n; lo += kInsertionRun)
        insertionSort(a + lo, std::min(kInsertionRun, n - lo), less);
    for (size_t width = kInsertionRun; width < n; width *= 2) {
        // Pairs of runs [lo, lo + width) and [lo + width, hi); a last run
        // without a partner is left as it is.
        for (size_t lo = 0; lo + width < n; lo += 2 * width) {
            const size_t hi = std::min(lo + 2 * width, n);
            mergeInPlace(a, lo, lo + width, hi, less);
        }
    }
}

}  // namespace sort_detail

enum class SortBuffer { borrow, none };

// Sorts a[0..n) stably by `less` (a strict "goes before"). With
// SortBuffer::none, or when the merge buffer cannot be allocated, it sorts in
// place. T must be movable without failing.
template <class T, class Less>
void stableSort(T *a, size_t n, Less less, SortBuffer buffer = SortBuffer::borrow) {
    static_assert(std::is_nothrow_move_constructible_v<T> && std::is_nothrow_move_assignable_v<T>);
    if (n < 2) return;
    if (n <= sort_detail::kInsertionRun) {
        sort_detail::insertionSort(a, n, less);
        return;
    }
    void *buf = nullptr;
    size_t bytes;
    if (buffer == SortBuffer::borrow && checkedMul(n / 2, sizeof(T), &bytes))
        buf = allocBytes(bytes, alignof(T) > kDefaultAlign ? alignof(T) : kDefaultAlign);
    if (buf) {
        sort_detail::mergeSort(a, n, static_cast<T *>(buf), less);
        freeBytes(buf);
    } else {
        sort_detail::sortInPlace(a, n, less);
    }
}

}  // namespace rowkit
