// The aggregate family: rowkit_aggregate.
#include "aggregate.hpp"
#include "c_api_internal.hpp"
#include "errors.hpp"
#include "progress.hpp"
#include "rowkit.h"

using namespace rowkit;

ROWKIT_EXPORT int rowkit_aggregate(Ctx *ctx, size_t column, AggC *out) {
    if (!enterScannerCall(ctx)) return -1;
    if (!out) {
        setError("output pointer is null");
        return -1;
    }
    ProgressScope progress;
    Result<AggResult> agg = aggregate(ctx->query, column);
    if (!agg.ok()) {
        setReadError("aggregate failed: ", agg.error(), ctx->query);
        return -1;
    }
    out->count = agg->count;
    out->sum = agg->sum;
    out->min = agg->min.value_or(0.0);
    out->max = agg->max.value_or(0.0);
    out->avg = agg->avg().value_or(0.0);
    out->has_values = agg->count > 0 ? 1 : 0;
    return 0;
}
