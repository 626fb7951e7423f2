// Count, sum, minimum, maximum and mean of one numeric column over the rows a
// query still delivers, in one pass that keeps no row.
#pragma once

#include <cstddef>
#include <optional>

#include "errors.hpp"
#include "query.hpp"

namespace rowkit {

struct AggResult {
    size_t count = 0;  // numeric values seen
    double sum = 0.0;  // their sum, in row order
    std::optional<double> min;
    std::optional<double> max;

    // sum / count, or nothing when no value was seen.
    std::optional<double> avg() const {
        if (count == 0) return std::nullopt;
        return sum / static_cast<double>(count);
    }
};

// Drains the query (predicates, negation, limit and projection apply, so
// `column` indexes the projected row). Rows without the column and fields
// that are not numbers are skipped. A query error ends the pass and is
// returned.
Result<AggResult> aggregate(Query &query, size_t column);

}  // namespace rowkit
