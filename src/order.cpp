#include "order.hpp"

#include <cstring>
#include <new>
#include <utility>

#include "numeric.hpp"
#include "stable_sort.hpp"
#include "topk.hpp"

namespace rowkit {

namespace {

// compareField with both numbers already parsed.
inline Ordering compareItems(const OrderItem &a, const OrderItem &b) {
    if (a.numeric && b.numeric) {
        if (a.number < b.number) return Ordering::less;
        if (a.number > b.number) return Ordering::greater;
        return Ordering::equal;
    }
    const int c = compareBytes(a.key, b.key);
    return c < 0 ? Ordering::less : c > 0 ? Ordering::greater : Ordering::equal;
}

// Copies the row into the arena: its n field views, then their bytes.
bool copyInto(Arena &arena, Row fields, Row *out) {
    const size_t n = fields.size();
    if (n == 0) {
        *out = Row();
        return true;
    }
    size_t bytes;
    if (!packedRowSize(fields, &bytes)) return false;
    void *block = arena.alloc(bytes, alignof(std::string_view));
    if (!block) return false;
    *out = packRow(block, fields);
    return true;
}

}  // namespace

Ordering compareField(std::string_view a, std::string_view b) {
    OrderItem x, y;
    x.key = a;
    y.key = b;
    std::optional<double> u = parseNumeric(a), v = parseNumeric(b);
    x.numeric = u.has_value();
    y.numeric = v.has_value();
    x.number = u.value_or(0.0);
    y.number = v.value_or(0.0);
    return compareItems(x, y);
}

Result<OrderedRows> orderBy(Query &query, size_t column, bool descending) {
    OrderedRows out;
    for (;;) {
        RowResult r = query.next();
        if (!r.ok()) return r.error();
        if (!r->has_value()) break;
        OrderItem item;
        if (!copyInto(out.arena, **r, &item.row)) return Error::OutOfMemory;
        if (column < item.row.size()) item.key = item.row[column];
        std::optional<double> number = parseNumeric(item.key);
        item.numeric = number.has_value();
        item.number = number.value_or(0.0);
        if (!out.items.push(item)) return Error::OutOfMemory;
    }
    // Equal keys are never "less" in either direction, which keeps them in
    // input order both ways.
    const Ordering before = descending ? Ordering::greater : Ordering::less;
    stableSort(out.items.data(), out.items.size(),
               [before](const OrderItem &a, const OrderItem &b) { return compareItems(a, b) == before; });
    return out;
}

}  // namespace rowkit
