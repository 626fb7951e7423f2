// The streaming validator family: validated rows one at a time, with their
// numbers and their errors as JSON.
#include <cstring>

#include "c_api_internal.hpp"
#include "errors.hpp"
#include "rowkit.h"
#include "validate.hpp"

using namespace rowkit;

ROWKIT_EXPORT ValidatorCtx *rowkit_validator_open(const char *path, const char *schema_json) {
    if (!enterSchemaCall(path, schema_json)) return nullptr;
    ValidatorCtx *vctx = newHandle<ValidatorCtx>();
    if (!vctx) {
        setError("out of memory");
        return nullptr;
    }
    ErrorDetail detail;
    Result<Validator> v =
        Validator::openJson(path, std::string_view(schema_json, std::strlen(schema_json)), &detail);
    if (!v.ok()) {
        setError("cannot open validator: ", v.error(), detail);
        freeHandle(vctx);
        return nullptr;
    }
    vctx->validator = std::move(*v);
    const HeaderCopy copied = copyHeader(vctx->validator.header(), vctx->header_cstrs);
    if (copied != HeaderCopy::ok) {
        setError(copied == HeaderCopy::array_failed ? "out of memory"
                                                    : "out of memory copying header");
        freeHandle(vctx);
        return nullptr;
    }
    return vctx;
}

ROWKIT_EXPORT int rowkit_validator_next(ValidatorCtx *vctx, const char *const **out_fields,
                                        size_t *out_n, const char **out_errors_json,
                                        uint64_t *out_row_number) {
    if (!enterCall(vctx, "validator is null")) return -1;
    Result<std::optional<ValidatedRow>> r = vctx->validator.next();
    if (!r.ok()) {
        setReadError("validate failed: ", r.error(), vctx->validator);
        return -1;
    }
    if (!r->has_value()) return 0;
    const ValidatedRow &row = **r;
    switch (vctx->fields.copyRow(row.row)) {
        case FieldBuffers::CopyResult::ok:
            break;
        case FieldBuffers::CopyResult::grow_failed:
            setError("out of memory growing field buffers");
            return -1;
        case FieldBuffers::CopyResult::copy_failed:
            setError("out of memory copying row");
            return -1;
    }
    // The errors are rendered before any output is written, so that a
    // failed call writes none.
    const bool render = out_errors_json && !row.errors.empty();
    if (render) {
        vctx->errors_json.clear();
        if (!writeRowErrorsJson(vctx->errors_json, row.errors).ok() ||
            !vctx->errors_json.push('\0')) {
            setError("out of memory rendering row errors");
            return -1;
        }
    }
    if (out_fields) *out_fields = vctx->fields.field_ptrs.data();
    if (out_n) *out_n = row.row.size();
    if (out_errors_json) *out_errors_json = render ? vctx->errors_json.data() : nullptr;
    if (out_row_number) *out_row_number = row.number;
    return 1;
}

ROWKIT_EXPORT const char *rowkit_validator_column_name(ValidatorCtx *vctx, size_t index) {
    if (!vctx || index >= vctx->header_cstrs.size()) return nullptr;
    return vctx->header_cstrs[index].cstr();
}

ROWKIT_EXPORT size_t rowkit_validator_n_columns(ValidatorCtx *vctx) {
    return vctx ? vctx->header_cstrs.size() : 0;
}

ROWKIT_EXPORT uint64_t rowkit_validator_bytes_read(ValidatorCtx *vctx) {
    return vctx ? vctx->validator.bytesConsumed() : 0;
}

ROWKIT_EXPORT uint64_t rowkit_validator_rows_total(ValidatorCtx *vctx) {
    return vctx ? vctx->validator.rowNumber() : 0;
}

ROWKIT_EXPORT uint64_t rowkit_validator_rows_valid(ValidatorCtx *vctx) {
    return vctx ? vctx->validator.rowsValid() : 0;
}

ROWKIT_EXPORT uint64_t rowkit_validator_rows_invalid(ValidatorCtx *vctx) {
    return vctx ? vctx->validator.rowsInvalid() : 0;
}

ROWKIT_EXPORT uint64_t rowkit_validator_line_number(ValidatorCtx *vctx) {
    return vctx ? vctx->validator.lineNumber() : 0;
}

ROWKIT_EXPORT void rowkit_validator_close(ValidatorCtx *vctx) {
    freeHandle(vctx);
}
