// The order-by family: rowkit_order_by and its cursor.
#include <utility>

#include "c_api_internal.hpp"
#include "errors.hpp"
#include "field_buffers.hpp"
#include "order.hpp"
#include "progress.hpp"
#include "rowkit.h"

using namespace rowkit;

// The cursor: the sorted row copies and the buffers their fields are handed
// out through.
struct OrderByCtx {
    OrderedRows result;
    size_t index = 0;  // next row to hand out
    FieldBuffers fields;
};

ROWKIT_EXPORT OrderByCtx *rowkit_order_by(Ctx *ctx, size_t column, int descending) {
    if (!enterScannerCall(ctx)) return nullptr;
    ProgressScope progress;
    return newResultHandle<OrderByCtx>(
        orderBy(ctx->query, column, descending != 0),
        "order_by failed: ", "out of memory allocating order_by context", ctx->query);
}

ROWKIT_EXPORT int rowkit_order_by_next(OrderByCtx *octx, const char *const **out_fields,
                                       size_t *out_n) {
    if (!enterCall(octx, "order_by context is null")) return -1;
    if (octx->index >= octx->result.size()) return 0;
    // Advance first: a row whose copy fails is skipped, not retried.
    return octx->fields.handOut(octx->result[octx->index++], out_fields, out_n);
}

ROWKIT_EXPORT void rowkit_order_by_close(OrderByCtx *octx) {
    freeHandle(octx);
}
