#include "aggregate.hpp"

#include "numeric.hpp"

namespace rowkit {

Result<AggResult> aggregate(Query &query, size_t column) {
    AggResult agg;
    for (;;) {
        RowResult r = query.next();
        if (!r.ok()) return r.error();
        if (!r->has_value()) return agg;
        Row row = **r;
        if (column >= row.size()) continue;
        std::optional<double> x = parseNumeric(row[column]);
        if (!x) continue;
        ++agg.count;
        agg.sum += *x;
        if (!agg.min || *x < *agg.min) agg.min = *x;
        if (!agg.max || *x > *agg.max) agg.max = *x;
    }
}

}  // namespace rowkit
