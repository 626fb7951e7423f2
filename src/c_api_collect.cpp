// The collect families: the remaining rows of a scanner handle drained into
// one NUL-separated buffer (row-major) or into per-column data and offsets
// (columnar). Results own copies of every byte and outlive the scanner.
#include <new>

#include "c_api_internal.hpp"
#include "collect.hpp"
#include "errors.hpp"
#include "rowkit.h"

using namespace rowkit;

namespace {

template <class T>
T *newHandle() {
    void *mem = allocBytes(sizeof(T), alignof(T) > kDefaultAlign ? alignof(T) : kDefaultAlign);
    return mem ? new (mem) T() : nullptr;
}

template <class T>
void destroyHandle(T *h) {
    if (!h) return;
    h->~T();
    freeBytes(h);
}

void destroyColumnar(CollectColumnarCtx *cc) {
    if (!cc) return;
    cc->deinitAndFree();
    destroyHandle(cc);
}

}  // namespace

// ---- row-major -------------------------------------------------------------

ROWKIT_EXPORT CollectCtx *rowkit_collect(Ctx *ctx) {
    clearError();
    if (!ctx) {
        setError("scanner is null");
        return nullptr;
    }
    CollectCtx *cc = newHandle<CollectCtx>();
    if (!cc) {
        setError("out of memory allocating collect context");
        return nullptr;
    }
    for (;;) {
        RowResult r = ctx->query.next();
        if (!r.ok()) {
            setError("collect failed: ", r.error());
            destroyHandle(cc);
            return nullptr;
        }
        if (!r->has_value()) return cc;
        if (!appendRowMajorRow(*cc, **r)) {
            setError("out of memory collecting rows");
            destroyHandle(cc);
            return nullptr;
        }
    }
}

ROWKIT_EXPORT const uint8_t *rowkit_collect_data(CollectCtx *cc, size_t *out_len) {
    if (!cc) return nullptr;
    const size_t len = cc->buf.size();
    if (out_len) *out_len = len;
    return len ? reinterpret_cast<const uint8_t *>(cc->buf.data()) : nullptr;
}

ROWKIT_EXPORT size_t rowkit_collect_n_rows(CollectCtx *cc) { return cc ? cc->n_rows : 0; }

ROWKIT_EXPORT size_t rowkit_collect_n_cols(CollectCtx *cc) { return cc ? cc->n_cols : 0; }

ROWKIT_EXPORT void rowkit_collect_close(CollectCtx *cc) { destroyHandle(cc); }

// ---- columnar --------------------------------------------------------------

ROWKIT_EXPORT CollectColumnarCtx *rowkit_collect_columnar(Ctx *ctx) {
    clearError();
    if (!ctx) {
        setError("scanner is null");
        return nullptr;
    }
    CollectColumnarCtx *cc = newHandle<CollectColumnarCtx>();
    if (!cc) {
        setError("out of memory allocating columnar collect context");
        return nullptr;
    }
    bool first = true;
    for (;;) {
        RowResult r = ctx->query.next();
        if (!r.ok()) {
            setError("collect failed: ", r.error());
            destroyColumnar(cc);
            return nullptr;
        }
        if (!r->has_value()) return cc;
        Row row = **r;
        if (first) {
            // The first row fixes the number of columns.
            Result<Vec<ColumnBuf>> columns = newColumnBufs(row.size());
            if (!columns.ok()) {
                setError("out of memory allocating columnar collect context");
                destroyColumnar(cc);
                return nullptr;
            }
            cc->columns = std::move(*columns);
            cc->n_cols = row.size();
            first = false;
        }
        Status s = appendColumnarRow(*cc, row);
        if (!s.ok()) {
            if (s.error() == Error::OutOfMemory)
                setError("out of memory collecting rows");
            else
                setError("collect failed: ", s.error());
            destroyColumnar(cc);
            return nullptr;
        }
    }
}

ROWKIT_EXPORT size_t rowkit_collect_columnar_n_rows(CollectColumnarCtx *cc) {
    return cc ? cc->n_rows : 0;
}

ROWKIT_EXPORT size_t rowkit_collect_columnar_n_cols(CollectColumnarCtx *cc) {
    return cc ? cc->n_cols : 0;
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

ROWKIT_EXPORT void rowkit_collect_columnar_close(CollectColumnarCtx *cc) { destroyColumnar(cc); }
