// The batch family: rows, or validated rows, as JSON texts of many rows.
#include "batch.hpp"
#include "c_api_internal.hpp"
#include "errors.hpp"
#include "rowkit.h"

using namespace rowkit;

// A batch handed to the caller: its JSON text followed by a NUL that the
// text's length does not count.
struct Batch {
    ByteBuf json;
};

namespace {

// The exported batch calls after their handle check: reads one batch from
// `source` into a new handle stored in *out.
template <class Source>
int readBatch(Source &source, size_t *size_hint, size_t max_rows, size_t target_bytes,
              Batch **out) {
    if (!out) {
        setError("batch output is null");
        return -1;
    }
    *out = nullptr;
    const batch::Options options{max_rows, target_bytes};
    if (const Status valid = options.check(); !valid.ok()) {
        setError("batch failed: ", valid.error());
        return -1;
    }
    // The handle comes first, so that running out of memory for it loses no
    // row of the source.
    Batch *batch = newHandle<Batch>();
    if (!batch) {
        setError("out of memory allocating batch");
        return -1;
    }
    Result<std::optional<ByteBuf>> text = batch::readJson(source, options, size_hint);
    if (!text.ok() || !text->has_value()) {
        freeHandle(batch);
        if (!text.ok()) setReadError("batch failed: ", text.error(), source);
        return text.ok() ? 0 : -1;
    }
    batch->json = std::move(**text);
    if (!batch->json.push('\0')) {
        freeHandle(batch);
        setError("batch failed: ", Error::WriteFailed);
        return -1;
    }
    *out = batch;
    return 1;
}

}  // namespace

ROWKIT_EXPORT int rowkit_next_batch(Ctx *ctx, size_t max_rows, size_t target_bytes, Batch **out) {
    if (!enterScannerCall(ctx)) {
        if (out) *out = nullptr;
        return -1;
    }
    return readBatch(ctx->query, &ctx->batch_size_hint, max_rows, target_bytes, out);
}

ROWKIT_EXPORT int rowkit_validator_next_batch(ValidatorCtx *vctx, size_t max_rows,
                                              size_t target_bytes, Batch **out) {
    if (!enterCall(vctx, "validator is null")) {
        if (out) *out = nullptr;
        return -1;
    }
    return readBatch(vctx->validator, &vctx->batch_size_hint, max_rows, target_bytes, out);
}

ROWKIT_EXPORT const char *rowkit_batch_json(Batch *batch, size_t *out_len) {
    if (!batch) {
        if (out_len) *out_len = 0;
        return nullptr;
    }
    if (out_len) *out_len = batch->json.size() - 1;
    return batch->json.data();
}

ROWKIT_EXPORT void rowkit_batch_free(Batch *batch) {
    freeHandle(batch);
}
