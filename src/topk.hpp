// Owned row copies, and the k rows with the largest (or smallest) numeric
// key kept in a fixed-size binary heap while a query streams past.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

#include "alloc.hpp"
#include "errors.hpp"
#include "query.hpp"

namespace rowkit {

// A row whose field texts the row owns: one block holding the field views
// followed by the field bytes, so that a row costs one allocation (none for a
// row of zero fields).
class OwnedRow {
public:
    OwnedRow() = default;
    OwnedRow(const OwnedRow &) = delete;
    OwnedRow &operator=(const OwnedRow &) = delete;
    OwnedRow(OwnedRow &&o) noexcept : fields_(o.fields_), n_(o.n_) {
        o.fields_ = nullptr;
        o.n_ = 0;
    }
    OwnedRow &operator=(OwnedRow &&o) noexcept {
        if (this != &o) {
            freeBytes(fields_);
            fields_ = o.fields_;
            n_ = o.n_;
            o.fields_ = nullptr;
            o.n_ = 0;
        }
        return *this;
    }
    ~OwnedRow() { freeBytes(fields_); }

    size_t size() const { return n_; }
    Row row() const { return Row(fields_, n_); }
    // Field i, or nothing when the row has no such field.
    std::optional<std::string_view> get(size_t i) const {
        if (i >= n_) return std::nullopt;
        return fields_[i];
    }

private:
    friend Result<OwnedRow> copyRow(Row fields);

    std::string_view *fields_ = nullptr;  // the block, views first
    size_t n_ = 0;
};

// Copies the row's fields. OutOfMemory when the block cannot be allocated.
Result<OwnedRow> copyRow(Row fields);

// The packed form of a row shared by OwnedRow and the order-by arena: the n
// field views followed by the field bytes. packedRowSize gives the block size
// (false on overflow); packRow fills a block of that size and returns the row
// it now holds.
bool packedRowSize(Row fields, size_t *bytes);
Row packRow(void *block, Row fields);

struct TopEntry {
    double key = 0.0;
    OwnedRow row;
};

// At most `capacity` entries with the best keys. Until the heap is full the
// entries sit in arrival order; when it fills it becomes a binary heap whose
// root items[0] is the worst kept entry, and every later accepted entry
// replaces the root. Which of several equal keys survive and the order they
// come out in follow from these exact operations.
class TopK {
public:
    TopK() = default;
    TopK(const TopK &) = delete;
    TopK &operator=(const TopK &) = delete;
    TopK(TopK &&o) noexcept;
    TopK &operator=(TopK &&o) noexcept;
    ~TopK() { deinit(); }

    // Room for exactly k entries, allocated once; OutOfMemory when the byte
    // size overflows or the allocation fails. `descending` keeps the largest
    // keys, otherwise the smallest.
    Status init(size_t k, bool descending);

    // Whether insert would keep an entry with this key: while there is room,
    // or when the key is strictly better than the worst kept one. Never with
    // a capacity of 0. Callers ask before copying a row.
    bool wouldAccept(double key) const;
    // Adds the entry, replacing the worst one once full; a row that is not
    // better than the worst is dropped.
    void insert(double key, OwnedRow row);

    // Sorts the entries best first (stable: equal keys keep their order in
    // the heap array) and returns them; the storage stays with this TopK.
    std::span<TopEntry> getSorted();

    size_t size() const { return len_; }
    size_t capacity() const { return capacity_; }
    std::span<const TopEntry> items() const { return std::span<const TopEntry>(items_, len_); }

    void deinit();

private:
    bool isBetter(double a, double b) const { return descending_ ? a > b : a < b; }
    bool isWorse(double a, double b) const { return descending_ ? a < b : a > b; }
    void buildHeap();
    void siftDown(size_t i);

    TopEntry *items_ = nullptr;  // capacity_ slots, the first len_ constructed
    size_t len_ = 0;
    size_t capacity_ = 0;
    bool descending_ = true;
};

// Streams the rest of the query (predicates, negation, limit and projection
// apply; `column` indexes the projected row) and keeps the k rows with the
// best numeric keys. Rows without the column or whose field is not a number
// are skipped. A row is copied only when it will enter the heap. Errors: the
// query's, or OutOfMemory (the heap, checked before any row is read, or a row
// copy); nothing is kept on failure.
Result<TopK> topK(Query &query, size_t column, size_t k, bool descending);

}  // namespace rowkit
