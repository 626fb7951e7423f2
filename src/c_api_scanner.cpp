// The scanner handle family: open, header accessors, the row cursor, close,
// and the library-wide build mode and last-error message.
#include <cstring>

#include "c_api_internal.hpp"
#include "errors.hpp"
#include "rowkit.h"

using namespace rowkit;

namespace rowkit {

bool buildPredicates(const CPredicate *where, size_t n_where, Vec<Predicate> &predicates,
                     Vec<InValues> &in_values) {
    if (n_where == 0) return true;
    if (where == nullptr) {
        setError("predicates are null");
        return false;
    }
    if (!predicates.reserve(n_where) || !in_values.resize(n_where)) {
        setError("out of memory allocating predicates");
        return false;
    }
    for (size_t i = 0; i < n_where; ++i) {
        const CPredicate &cp = where[i];
        Op op = (cp.op >= 0 && cp.op <= 6) ? static_cast<Op>(cp.op) : Op::eq;
        if (op != Op::in_list) {
            if (cp.value == nullptr) {
                setError("predicate text is null");
                return false;
            }
            (void)predicates.push(
                Predicate::init(cp.column, op, std::string_view(cp.value, std::strlen(cp.value))));
            continue;
        }
        InValues &list = in_values[i];
        if (cp.n_values > 0) {
            if (cp.values == nullptr) {
                setError("predicate text is null");
                return false;
            }
            if (!list.items.reserve(cp.n_values)) {
                setError("out of memory allocating IN values");
                return false;
            }
            for (size_t k = 0; k < cp.n_values; ++k) {
                const char *v = cp.values[k];
                if (v == nullptr) {
                    setError("predicate text is null");
                    return false;
                }
                size_t len = std::strlen(v);
                char *copy = nullptr;
                if (len > 0) {
                    copy = static_cast<char *>(allocBytes(len));
                    if (!copy) {
                        setError("out of memory allocating IN values");
                        return false;
                    }
                    std::memcpy(copy, v, len);
                }
                (void)list.items.push(std::string_view(copy, len));
            }
        }
        (void)predicates.push(Predicate::initIn(
            cp.column, std::span<const std::string_view>(list.items.data(), list.items.size())));
    }
    return true;
}

}  // namespace rowkit

ROWKIT_EXPORT const char *rowkit_build_mode(void) { return "ReleaseFast"; }

#define ROWKIT_TEXT(x) #x
#define ROWKIT_VERSION_TEXT(major, minor, patch) \
    ROWKIT_TEXT(major) "." ROWKIT_TEXT(minor) "." ROWKIT_TEXT(patch)

ROWKIT_EXPORT const char *rowkit_version(void) {
    return ROWKIT_VERSION_TEXT(ROWKIT_VERSION_MAJOR, ROWKIT_VERSION_MINOR, ROWKIT_VERSION_PATCH);
}

ROWKIT_EXPORT const char *rowkit_last_error(void) { return lastError(); }

ROWKIT_EXPORT const char *rowkit_last_error_detail(void) { return lastErrorDetail(); }

namespace {

// A byte range of the file, for rowkit_open_range.
struct ByteRange {
    uint64_t start = 0;
    uint64_t end = 0;
};

// rowkit_open and rowkit_open_range after their argument checks: the whole
// file, or only the lines that start in `range`.
Ctx *openHandle(const char *path, const COptions *options, const ByteRange *range) {
    COptions o;
    if (options) {
        o = *options;
    } else {
        std::memset(&o, 0, sizeof o);
        o.limit = -1;
        o.max_column = -1;
    }
    Vec<Predicate> predicates;
    Vec<InValues> in_values;
    if (!buildPredicates(o.where, o.n_where, predicates, in_values)) return nullptr;
    Ctx *ctx = newHandle<Ctx>();
    if (!ctx) {
        setError("out of memory allocating scanner context");
        return nullptr;
    }
    // The predicates refer to the IN-value blocks, which stay put when the
    // lists move into the handle.
    ctx->predicates = std::move(predicates);
    ctx->in_values = std::move(in_values);
    QueryOptions qo;
    if (o.n_columns > 0 && o.columns != nullptr)
        qo.columns = std::span<const size_t>(o.columns, o.n_columns);
    qo.where = std::span<const Predicate>(ctx->predicates.data(), ctx->predicates.size());
    if (o.limit >= 0) qo.limit = static_cast<size_t>(o.limit);
    if (o.max_column >= 0) qo.stop_after_column = static_cast<size_t>(o.max_column);
    qo.negate = o.negate != 0;
    RecordPosition failed_at;
    auto q = range ? Query::openRange(path, qo, range->start, range->end, &failed_at)
                   : Query::open(path, qo, &failed_at);
    if (!q.ok()) {
        ErrorDetail detail;
        describePosition(detail, std::string_view(path, std::strlen(path)), failed_at);
        setError("open failed: ", q.error(), detail);
        freeHandle(ctx);
        return nullptr;
    }
    ctx->query = std::move(*q);
    if (copyHeader(ctx->query.header(), ctx->header_cstrs) != HeaderCopy::ok) {
        setError("out of memory allocating header");
        freeHandle(ctx);
        return nullptr;
    }
    return ctx;
}

}  // namespace

ROWKIT_EXPORT Ctx *rowkit_open(const char *path, const COptions *options) {
    if (!enterCall(path, "path is null")) return nullptr;
    return openHandle(path, options, nullptr);
}

ROWKIT_EXPORT Ctx *rowkit_open_range(const char *path, const COptions *options, uint64_t start,
                                     uint64_t end) {
    if (!enterCall(path, "path is null")) return nullptr;
    if (start > end) {
        setError("range start is past its end");
        return nullptr;
    }
    const ByteRange range{start, end};
    return openHandle(path, options, &range);
}

ROWKIT_EXPORT size_t rowkit_column_index(Ctx *ctx, const char *name) {
    if (!ctx || !name) return SIZE_MAX;
    std::optional<size_t> i = ctx->query.columnIndex(std::string_view(name, std::strlen(name)));
    return i ? *i : SIZE_MAX;
}

ROWKIT_EXPORT size_t rowkit_n_columns(Ctx *ctx) { return ctx ? ctx->header_cstrs.size() : 0; }

ROWKIT_EXPORT uint64_t rowkit_bytes_read(Ctx *ctx) {
    return ctx ? ctx->query.source.bytesConsumed() : 0;
}

ROWKIT_EXPORT const char *rowkit_column_name(Ctx *ctx, size_t index) {
    if (!ctx || index >= ctx->header_cstrs.size()) return nullptr;
    return ctx->header_cstrs[index].cstr();
}

ROWKIT_EXPORT int rowkit_next(Ctx *ctx, const char *const **out_fields, size_t *out_n) {
    if (!enterScannerCall(ctx)) return -1;
    RowResult r = ctx->query.next();
    if (!r.ok()) {
        setReadError("next failed: ", r.error(), ctx->query);
        return -1;
    }
    if (!r->has_value()) return 0;
    return ctx->fields.handOut(**r, out_fields, out_n);
}

ROWKIT_EXPORT uint64_t rowkit_line_number(Ctx *ctx) { return ctx ? ctx->query.lineNumber() : 0; }

ROWKIT_EXPORT void rowkit_close(Ctx *ctx) {
    freeHandle(ctx);
}
