// The top-k family: rowkit_topk and its cursor.
#include <span>
#include <utility>

#include "c_api_internal.hpp"
#include "errors.hpp"
#include "progress.hpp"
#include "field_buffers.hpp"
#include "rowkit.h"
#include "topk.hpp"

using namespace rowkit;

// The cursor: the kept rows, sorted best first, and the buffers their
// fields are handed out through.
struct TopkCtx {
    TopK result;
    std::span<TopEntry> sorted;  // result's entries, sorted
    size_t index = 0;            // next entry to hand out
    FieldBuffers fields;
};

ROWKIT_EXPORT TopkCtx *rowkit_topk(Ctx *ctx, size_t column, size_t k, int descending) {
    if (!enterScannerCall(ctx)) return nullptr;
    ProgressScope progress;
    TopkCtx *tctx =
        newResultHandle<TopkCtx>(topK(ctx->query, column, k, descending != 0),
                                 "topk failed: ", "out of memory allocating topk context",
                                 ctx->query);
    if (tctx) tctx->sorted = tctx->result.getSorted();
    return tctx;
}

ROWKIT_EXPORT int rowkit_topk_next(TopkCtx *tctx, const char *const **out_fields, size_t *out_n,
                                   double *out_key) {
    if (!enterCall(tctx, "topk context is null")) return -1;
    if (tctx->index >= tctx->sorted.size()) return 0;
    // Advance first: a row whose copy fails is skipped, not retried.
    const TopEntry &entry = tctx->sorted[tctx->index++];
    const int rc = tctx->fields.handOut(entry.row.row(), out_fields, out_n);
    if (rc == 1 && out_key) *out_key = entry.key;
    return rc;
}

ROWKIT_EXPORT void rowkit_topk_close(TopkCtx *tctx) {
    freeHandle(tctx);
}
