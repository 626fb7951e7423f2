// The collect families: the remaining rows of a scanner handle drained into
// one NUL-separated buffer (row-major) or into per-column data and offsets
// (columnar). Results own copies of every byte and outlive the scanner.
#include "c_api_internal.hpp"
#include "collect.hpp"
#include "errors.hpp"
#include "progress.hpp"
#include "rowkit.h"

using namespace rowkit;

namespace {

// Sizes a collect's buffers for the whole input once its first 64 KiB have
// been read, from what they put in the buffers: growing as rows come moves
// a large result several times and faults its pages in again each time;
// one early estimate lets it reach its final size in one step. Capacity
// never filled is address space only, and a buffer whose estimate falls
// short grows as usual. Not done with a limit (the result may stay small)
// or where the input's size is unknown (a pipe).
class EarlySizer {
public:
    explicit EarlySizer(const Query &q)
        : active_(!q.limit && q.source.bytesLeft() > 0), start_(q.source.bytesConsumed()) {}

    // The factor to scale the buffers by, once, when the sample has been
    // read and enough input is left for it to matter.
    std::optional<double> due(const Query &q) {
        if (!active_) return std::nullopt;
        const uint64_t seen = q.source.bytesConsumed() - start_;
        if (seen < kSampleBytes) return std::nullopt;
        active_ = false;
        const uint64_t left = q.source.bytesLeft();
        if (left <= seen) return std::nullopt;
        // All the input over the part seen, with a sixteenth to spare.
        return static_cast<double>(seen + left) / static_cast<double>(seen) * 1.0625;
    }

private:
    static constexpr uint64_t kSampleBytes = 65536;
    bool active_;
    uint64_t start_;
};

// The size `n` scaled by `scale`, within `limit`.
size_t scaled(size_t n, double scale, size_t extra, double limit) {
    double want = static_cast<double>(n) * scale + static_cast<double>(extra);
    return static_cast<size_t>(want < limit ? want : limit);
}

// Estimates that cannot be had are no failure: the buffers then grow as
// they fill.
void reserveScaled(CollectCtx &cc, double scale) {
    (void)cc.buf.reserve(scaled(cc.buf.size(), scale, 64, static_cast<double>(SIZE_MAX / 2)));
}
void reserveScaled(CollectColumnarCtx &cc, double scale) {
    const double data_limit = static_cast<double>(columnByteLimit());
    for (ColumnBuf &c : cc.columns) {
        (void)c.data.reserve(scaled(c.data.size(), scale, 64, data_limit));
        (void)c.offsets.reserve(scaled(c.offsets.size(), scale, 16, data_limit));
    }
}

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
    ProgressScope progress;
    EarlySizer sizer(ctx->query);
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
        if (const std::optional<double> scale = sizer.due(ctx->query)) reserveScaled(*handle, *scale);
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
