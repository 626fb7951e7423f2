#include "order.hpp"

#include <cstring>
#include <utility>

#include "numeric.hpp"
#include "stable_sort.hpp"

namespace rowkit {

namespace {

Ordering compareBytes(std::string_view a, std::string_view b) {
    const size_t n = a.size() < b.size() ? a.size() : b.size();
    if (n) {
        int c = std::memcmp(a.data(), b.data(), n);
        if (c != 0) return c < 0 ? Ordering::less : Ordering::greater;
    }
    if (a.size() == b.size()) return Ordering::equal;
    return a.size() < b.size() ? Ordering::less : Ordering::greater;
}

// compareField with both numbers already parsed.
Ordering compareParsed(std::string_view a, const std::optional<double> &x, std::string_view b,
                       const std::optional<double> &y) {
    if (x && y) {
        if (*x < *y) return Ordering::less;
        if (*x > *y) return Ordering::greater;
        return Ordering::equal;
    }
    return compareBytes(a, b);
}

}  // namespace

Ordering compareField(std::string_view a, std::string_view b) {
    return compareParsed(a, parseNumeric(a), b, parseNumeric(b));
}

Result<OrderedRows> orderBy(Query &query, size_t column, bool descending) {
    OrderedRows out;
    for (;;) {
        RowResult r = query.next();
        if (!r.ok()) return r.error();
        if (!r->has_value()) break;
        auto copy = copyRow(**r);
        if (!copy.ok()) return copy.error();
        OrderItem item;
        item.row = std::move(*copy);
        if (std::optional<std::string_view> key = item.row.get(column)) item.key = *key;
        item.number = parseNumeric(item.key);
        if (!out.items.push(std::move(item))) return Error::OutOfMemory;
    }
    // Equal keys are never "less" in either direction, which keeps them in
    // input order both ways.
    const Ordering before = descending ? Ordering::greater : Ordering::less;
    stableSort(out.items.data(), out.items.size(), [before](const OrderItem &a, const OrderItem &b) {
        return compareParsed(a.key, a.number, b.key, b.number) == before;
    });
    return out;
}

}  // namespace rowkit
