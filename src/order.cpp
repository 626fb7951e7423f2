#include "order.hpp"

#include <cstring>
#include <new>
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
inline Ordering compareItems(const OrderItem &a, const OrderItem &b) {
    if (a.numeric && b.numeric) {
        if (a.number < b.number) return Ordering::less;
        if (a.number > b.number) return Ordering::greater;
        return Ordering::equal;
    }
    return compareBytes(a.key, b.key);
}

// Copies the row into the arena: its n field views, then their bytes.
bool copyInto(Arena &arena, Row fields, Row *out) {
    const size_t n = fields.size();
    if (n == 0) {
        *out = Row();
        return true;
    }
    size_t bytes;
    if (!checkedMul(n, sizeof(std::string_view), &bytes)) return false;
    for (std::string_view f : fields)
        if (__builtin_add_overflow(bytes, f.size(), &bytes)) return false;
    void *block = arena.alloc(bytes, alignof(std::string_view));
    if (!block) return false;
    auto *views = static_cast<std::string_view *>(block);
    char *text = static_cast<char *>(block) + n * sizeof(std::string_view);
    for (size_t i = 0; i < n; ++i) {
        const size_t len = fields[i].size();
        if (len) std::memcpy(text, fields[i].data(), len);
        new (views + i) std::string_view(text, len);
        text += len;
    }
    *out = Row(views, n);
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
