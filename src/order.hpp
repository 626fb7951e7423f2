// Every remaining row of a query, copied and sorted stably by one column:
// numerically when both values are numbers, by unsigned bytes otherwise.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "alloc.hpp"
#include "errors.hpp"
#include "query.hpp"

namespace rowkit {

enum class Ordering { less, equal, greater };

// Numeric order when both texts are numbers (parseNumeric), else unsigned
// byte order with a prefix before the longer text. Over a column mixing
// numbers and other texts this is not transitive ("2" < "10" < "1a" < "2").
Ordering compareField(std::string_view a, std::string_view b);

// One copied row with its sort key: the text of the ordering column (empty
// when the row has none) and that text's number, parsed once.
struct OrderItem {
    Row row;               // fields and bytes in the arena
    std::string_view key;  // points into the row's bytes, or is empty
    double number = 0.0;   // the key's value when `numeric`
    bool numeric = false;
};

// The sorted rows. Every row is copied into one arena (its field views, then
// its bytes), so that holding a whole file costs a few large blocks rather
// than an allocation per row, and the items sort as plain values.
struct OrderedRows {
    static constexpr size_t kFirstBlock = 1 << 16;  // the arena doubles from here

    Arena arena{kFirstBlock};
    Vec<OrderItem> items;

    size_t size() const { return items.size(); }
    Row operator[](size_t i) const { return items[i].row; }
};

// Drains the query (predicates, negation, limit and projection apply;
// `column` indexes the projected row) into owned copies of every row, sorted
// by that column, ascending or descending; rows with equal keys keep their
// input order in both directions. The sort terminates and keeps every row
// even when the keys mix numbers and texts. Errors: the query's, or
// OutOfMemory; nothing is kept on failure.
Result<OrderedRows> orderBy(Query &query, size_t column, bool descending);

}  // namespace rowkit
