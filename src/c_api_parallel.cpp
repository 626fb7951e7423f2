// The parallel columnar collect: a whole file into the columnar result, on
// several threads, without a scanner handle.
#include "c_api_internal.hpp"
#include "collect.hpp"
#include "errors.hpp"
#include "parallel.hpp"
#include "progress.hpp"
#include "rowkit.h"

using namespace rowkit;

ROWKIT_EXPORT CollectColumnarCtx *rowkit_parallel_collect_columnar(const char *path,
                                                                   uint8_t delimiter,
                                                                   const CPredicate *where,
                                                                   size_t n_where, int negate,
                                                                   size_t num_threads) {
    clearError();
    if (path == nullptr) {
        setError("path is null");
        return nullptr;
    }
    // The predicates and their IN-value copies live only for the call.
    Vec<Predicate> predicates;
    Vec<InValues> in_values;
    if (!buildPredicates(where, n_where, predicates, in_values)) return nullptr;
    ProgressScope progress;
    Result<ColumnarScanResult> scanned = parallelScanColumnar(
        path, static_cast<char>(delimiter),
        std::span<const Predicate>(predicates.data(), predicates.size()), negate != 0, num_threads);
    if (!scanned.ok()) {
        setError("parallel scan failed: ", scanned.error());
        return nullptr;
    }
    CollectColumnarCtx *cc = newHandle<CollectColumnarCtx>();
    if (!cc) {
        setError("out of memory allocating columnar collect context");
        return nullptr;
    }
    cc->columns = std::move(scanned->columns);
    cc->n_rows = scanned->n_rows;
    cc->n_cols = scanned->n_cols;
    cc->n_skipped_lines = scanned->n_skipped_lines;
    cc->n_emptied_values = scanned->n_emptied_values;
    return cc;
}
