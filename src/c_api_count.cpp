// The counting family: rowkit_count.
#include "c_api_internal.hpp"
#include "errors.hpp"
#include "progress.hpp"
#include "rowkit.h"

using namespace rowkit;

ROWKIT_EXPORT int64_t rowkit_count(Ctx *ctx) {
    if (!enterScannerCall(ctx)) return -1;
    ProgressScope progress;
    Result<size_t> n = ctx->query.count();
    if (!n.ok()) {
        setReadError("count failed: ", n.error(), ctx->query);
        return -1;
    }
    return static_cast<int64_t>(*n);
}
