// The one-call validation families: the report with its JSON text, the
// split into accepted and rejected files, and the outcome over a file or
// bytes in memory.
#include <cstring>

#include "c_api_internal.hpp"
#include "errors.hpp"
#include "progress.hpp"
#include "rowkit.h"
#include "validate.hpp"
#include "validate_files.hpp"

using namespace rowkit;

// The report handle: the summary and its NUL-terminated JSON text.
struct ValidationReport {
    Report report;
    ByteBuf json;
};

namespace {

// Errors kept when the caller passes 0.
constexpr size_t kDefaultMaxErrors = 100;

}  // namespace

ROWKIT_EXPORT ValidationReport *rowkit_validate(const char *path, const char *schema_json,
                                                size_t max_errors) {
    if (!enterSchemaCall(path, schema_json)) return nullptr;
    const size_t limit = max_errors == 0 ? kDefaultMaxErrors : max_errors;
    ProgressScope progress;
    ErrorDetail detail;
    Result<Report> report =
        validateJson(path, std::string_view(schema_json, std::strlen(schema_json)), limit, &detail);
    if (!report.ok()) {
        setError("validate failed: ", report.error(), detail);
        return nullptr;
    }
    ByteBuf json;
    if (!writeReportJson(json, *report).ok() || !json.push('\0')) {
        setError("out of memory rendering report");
        return nullptr;
    }
    ValidationReport *vr = newHandle<ValidationReport>(std::move(*report), std::move(json));
    if (!vr) setError("out of memory");
    return vr;
}

ROWKIT_EXPORT const char *rowkit_validate_json(ValidationReport *vr) {
    return vr ? vr->json.data() : nullptr;
}

ROWKIT_EXPORT void rowkit_validate_free(ValidationReport *vr) {
    freeHandle(vr);
}

ROWKIT_EXPORT int rowkit_validate_to_files(const char *path, const char *schema_json,
                                           const char *accepted, const char *rejected,
                                           Stats *out) {
    clearError();
    if (out) *out = Stats{0, 0, 0, 0};
    if (!path || !schema_json || !accepted || !rejected || !out) {
        setError("validate_to_files requires input, schema, two outputs and stats");
        return -1;
    }
    ProgressScope progress;
    Result<SplitStats> stats = validateToFiles(
        path, std::string_view(schema_json, std::strlen(schema_json)), accepted, rejected);
    if (!stats.ok()) {
        setError("validate_to_files failed: ", stats.error());
        return -1;
    }
    *out = Stats{stats->rows_total, stats->rows_valid, stats->rows_invalid, stats->errors_total};
    return 0;
}

namespace {

// The validator of rowkit_validate_outcome: over the file named by the
// bytes (format 0) or over the bytes themselves (1 CSV, 2 JSON records).
Result<Validator> openOutcomeValidator(const uint8_t *input, size_t input_len,
                                       std::string_view schema, int format) {
    const std::string_view bytes(reinterpret_cast<const char *>(input), input_len);
    if (format != 0)
        return Validator::fromBytesJson(bytes, format == 1 ? Format::csv : Format::ndjson, schema);
    // A NUL would end the path early and name another file.
    if (bytes.find('\0') != std::string_view::npos) return Error::BadPathName;
    OwnedStr path;
    if (!OwnedStr::copy(bytes, &path)) return Error::OutOfMemory;
    return Validator::openJson(path.cstr(), schema);
}

}  // namespace

ROWKIT_EXPORT char *rowkit_validate_outcome(const uint8_t *input, size_t input_len,
                                            const char *schema_json, int format, int full) {
    clearError();
    if (!input) {
        setError("input is null");
        return nullptr;
    }
    if (!schema_json) {
        setError("schema is null");
        return nullptr;
    }
    if (static_cast<unsigned>(format) > 2 || static_cast<unsigned>(full) > 1) {
        setError("invalid validation options");
        return nullptr;
    }
    ProgressScope progress;
    Result<Validator> v = openOutcomeValidator(
        input, input_len, std::string_view(schema_json, std::strlen(schema_json)), format);
    if (!v.ok()) {
        setError("validate failed: ", v.error());
        return nullptr;
    }
    ByteBuf text;
    if (const Status s = v->writeOutcome(text, full == 1); !s.ok()) {
        setError("validate failed: ", s.error());
        return nullptr;
    }
    if (!text.push('\0')) {
        setError("out of memory");
        return nullptr;
    }
    return text.release();
}

ROWKIT_EXPORT void rowkit_outcome_free(char *result) { freeBytes(result); }
