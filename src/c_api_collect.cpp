// The collect families: the remaining rows of a scanner handle drained into
// one NUL-separated buffer (row-major) or into per-column data and offsets
// (columnar). Results own copies of every byte and outlive the scanner.
#include "c_api_internal.hpp"
#include "collect.hpp"
#include "errors.hpp"
#include "rowkit.h"

using namespace rowkit;

namespace {

// A result without rows has no columns, whatever the query's width.
void dropColumns(CollectCtx &cc) { cc.n_cols = 0; }
void dropColumns(CollectColumnarCtx &cc) { cc.deinitAndFree(); }

// Drains the scanner's remaining rows into a new handle: `prepare` sets the
// handle up for the query's width before any row is read, then `append`
// takes each row; both set the message and return false on failure. Null
// with the message set on any failure; nothing is kept then.
template <class Handle, class Prepare, class Append>
Handle *drainInto(Ctx *ctx, const char *alloc_message, Prepare prepare, Append append) {
    if (!enterScannerCall(ctx)) return nullptr;
    Handle *handle = newHandle<Handle>();
    if (!handle) {
        setError(alloc_message);
        return nullptr;
    }
    if (!prepare(*handle, ctx->query.width())) {
        freeHandle(handle);
        return nullptr;
    }
    for (;;) {
        RowResult r = ctx->query.next();
        if (!r.ok()) {
            setReadError("collect failed: ", r.error(), ctx->query);
            break;
        }
        if (!r->has_value()) {
            if (handle->n_rows == 0) dropColumns(*handle);
            return handle;
        }
        if (!append(*handle, **r)) break;
    }
    freeHandle(handle);
    return nullptr;
}

}  // namespace

// ---- row-major -------------------------------------------------------------

ROWKIT_EXPORT CollectCtx *rowkit_collect(Ctx *ctx) {
    auto prepare = [](CollectCtx &cc, size_t width) {
        cc.n_cols = width;
        return true;
    };
    auto append = [](CollectCtx &cc, Row row) {
        if (appendRowMajorRow(cc, row)) return true;
        setError("out of memory collecting rows");
        return false;
    };
    return drainInto<CollectCtx>(ctx, "out of memory allocating collect context", prepare, append);
}

ROWKIT_EXPORT const uint8_t *rowkit_collect_data(CollectCtx *cc, size_t *out_len) {
    if (!cc) return nullptr;
    const size_t len = cc->buf.size();
    if (out_len) *out_len = len;
    return len ? reinterpret_cast<const uint8_t *>(cc->buf.data()) : nullptr;
}

ROWKIT_EXPORT size_t rowkit_collect_n_rows(CollectCtx *cc) { return cc ? cc->n_rows : 0; }

ROWKIT_EXPORT size_t rowkit_collect_n_cols(CollectCtx *cc) { return cc ? cc->n_cols : 0; }

ROWKIT_EXPORT void rowkit_collect_close(CollectCtx *cc) {
    freeHandle(cc);
}

// ---- columnar --------------------------------------------------------------

ROWKIT_EXPORT CollectColumnarCtx *rowkit_collect_columnar(Ctx *ctx) {
    constexpr const char *kAllocMessage = "out of memory allocating columnar collect context";
    auto prepare = [](CollectColumnarCtx &cc, size_t width) {
        Result<Vec<ColumnBuf>> columns = newColumnBufs(width);
        if (!columns.ok()) {
            setError(kAllocMessage);
            return false;
        }
        cc.columns = std::move(*columns);
        cc.n_cols = width;
        return true;
    };
    auto append = [](CollectColumnarCtx &cc, Row row) {
        Status s = appendColumnarRow(cc, row);
        if (s.ok()) return true;
        if (s.error() == Error::OutOfMemory)
            setError("out of memory collecting rows");
        else
            setError("collect failed: ", s.error());
        return false;
    };
    return drainInto<CollectColumnarCtx>(ctx, kAllocMessage, prepare, append);
}

ROWKIT_EXPORT size_t rowkit_collect_columnar_n_rows(CollectColumnarCtx *cc) {
    return cc ? cc->n_rows : 0;
}

ROWKIT_EXPORT size_t rowkit_collect_columnar_n_cols(CollectColumnarCtx *cc) {
    return cc ? cc->n_cols : 0;
}

ROWKIT_EXPORT size_t rowkit_collect_columnar_n_skipped_lines(CollectColumnarCtx *cc) {
    return cc ? cc->n_skipped_lines : 0;
}

ROWKIT_EXPORT size_t rowkit_collect_columnar_n_emptied_values(CollectColumnarCtx *cc) {
    return cc ? cc->n_emptied_values : 0;
}

ROWKIT_EXPORT const uint8_t *rowkit_collect_columnar_data(CollectColumnarCtx *cc, size_t col_idx,
                                                          size_t *out_len) {
    if (!cc || col_idx >= cc->n_cols) return nullptr;
    const ByteBuf &data = cc->columns[col_idx].data;
    if (out_len) *out_len = data.size();
    return data.size() ? reinterpret_cast<const uint8_t *>(data.data()) : nullptr;
}

ROWKIT_EXPORT const uint32_t *rowkit_collect_columnar_offsets(CollectColumnarCtx *cc,
                                                              size_t col_idx, size_t *out_len) {
    if (!cc || col_idx >= cc->n_cols) return nullptr;
    const Vec<uint32_t> &offsets = cc->columns[col_idx].offsets;
    if (out_len) *out_len = offsets.size();
    return offsets.size() ? offsets.data() : nullptr;
}

ROWKIT_EXPORT void rowkit_collect_columnar_close(CollectColumnarCtx *cc) {
    freeHandle(cc);
}
