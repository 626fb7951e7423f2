#include "topk.hpp"

#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

#include "numeric.hpp"
#include "stable_sort.hpp"

namespace rowkit {

bool packedRowSize(Row fields, size_t *bytes) {
    if (!checkedMul(fields.size(), sizeof(std::string_view), bytes)) return false;
    for (std::string_view f : fields)
        if (__builtin_add_overflow(*bytes, f.size(), bytes)) return false;
    return true;
}

Row packRow(void *block, Row fields) {
    const size_t n = fields.size();
    auto *views = static_cast<std::string_view *>(block);
    char *text = static_cast<char *>(block) + n * sizeof(std::string_view);
    for (size_t i = 0; i < n; ++i) {
        const size_t len = fields[i].size();
        if (len) std::memcpy(text, fields[i].data(), len);
        new (views + i) std::string_view(text, len);
        text += len;
    }
    return Row(views, n);
}

Result<OwnedRow> copyRow(Row fields) {
    OwnedRow out;
    const size_t n = fields.size();
    if (n == 0) return out;
    size_t bytes;
    if (!packedRowSize(fields, &bytes)) return Error::OutOfMemory;
    void *block = allocBytes(bytes, alignof(std::string_view));
    if (!block) return Error::OutOfMemory;
    packRow(block, fields);
    out.fields_ = static_cast<std::string_view *>(block);
    out.n_ = n;
    return out;
}

// ---- TopK ------------------------------------------------------------------

TopK::TopK(TopK &&o) noexcept
    : items_(o.items_), len_(o.len_), capacity_(o.capacity_), descending_(o.descending_) {
    o.items_ = nullptr;
    o.len_ = o.capacity_ = 0;
}

TopK &TopK::operator=(TopK &&o) noexcept {
    if (this != &o) {
        deinit();
        new (this) TopK(std::move(o));
    }
    return *this;
}

void TopK::deinit() {
    for (size_t i = 0; i < len_; ++i) items_[i].~TopEntry();
    freeBytes(items_);
    items_ = nullptr;
    len_ = capacity_ = 0;
}

Status TopK::init(size_t k, bool descending) {
    deinit();
    // No object may be larger than PTRDIFF_MAX bytes; such a k is refused
    // without asking the allocator.
    size_t bytes;
    if (!checkedMul(k, sizeof(TopEntry), &bytes) || bytes > static_cast<size_t>(PTRDIFF_MAX))
        return Error::OutOfMemory;
    void *p = allocBytes(bytes, alignof(TopEntry) > kDefaultAlign ? alignof(TopEntry) : kDefaultAlign);
    if (!p) return Error::OutOfMemory;
    items_ = static_cast<TopEntry *>(p);
    capacity_ = k;
    descending_ = descending;
    return Status();
}

bool TopK::wouldAccept(double key) const {
    // With no room at all nothing is accepted (and there is no items_[0]).
    if (capacity_ == 0) return false;
    return len_ < capacity_ || isBetter(key, items_[0].key);
}

void TopK::insert(double key, OwnedRow row) {
    if (len_ < capacity_) {
        new (items_ + len_) TopEntry{key, std::move(row)};
        ++len_;
        if (len_ == capacity_ && len_ > 1) buildHeap();
        return;
    }
    if (capacity_ == 0 || !isBetter(key, items_[0].key)) return;  // `row` is freed here
    items_[0].key = key;
    items_[0].row = std::move(row);
    siftDown(0);
}

void TopK::buildHeap() {
    for (size_t i = capacity_ / 2; i-- > 0;) siftDown(i);
}

void TopK::siftDown(size_t i) {
    for (;;) {
        size_t worst = i;
        const size_t left = 2 * i + 1;
        const size_t right = left + 1;
        if (left < len_ && isWorse(items_[left].key, items_[worst].key)) worst = left;
        if (right < len_ && isWorse(items_[right].key, items_[worst].key)) worst = right;
        if (worst == i) return;
        std::swap(items_[i], items_[worst]);
        i = worst;
    }
}

std::span<TopEntry> TopK::getSorted() {
    const bool descending = descending_;
    stableSort(items_, len_, [descending](const TopEntry &a, const TopEntry &b) {
        return descending ? a.key > b.key : a.key < b.key;
    });
    return std::span<TopEntry>(items_, len_);
}

Result<TopK> topK(Query &query, size_t column, size_t k, bool descending) {
    TopK top;
    ROWKIT_TRY(top.init(k, descending));
    for (;;) {
        RowResult r = query.next();
        if (!r.ok()) return r.error();
        if (!r->has_value()) return top;
        Row row = **r;
        if (column >= row.size()) continue;
        std::optional<double> key = parseNumeric(row[column]);
        if (!key || !top.wouldAccept(*key)) continue;
        auto copy = copyRow(row);
        if (!copy.ok()) return copy.error();
        top.insert(*key, std::move(*copy));
    }
}

}  // namespace rowkit
