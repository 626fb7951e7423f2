// The validation report family: validate a whole file in one call and hand
// out the report's JSON text.
#include <cstring>

#include "c_api_internal.hpp"
#include "errors.hpp"
#include "rowkit.h"
#include "validate.hpp"

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
    Result<Report> report = validateJson(path, std::string_view(schema_json, std::strlen(schema_json)), limit);
    if (!report.ok()) {
        setError("validate failed: ", report.error());
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
