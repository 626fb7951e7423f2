#include "validate.hpp"

#include <cmath>
#include <cstring>

#include "json_writer.hpp"
#include "numeric.hpp"
#include "utf8.hpp"

namespace rowkit {

namespace {

constexpr std::string_view kErrorKindNames[kErrorKindCount] = {
    "too_few_fields", "too_many_fields", "missing_required", "bad_type", "below_min",
    "above_max",      "too_short",       "too_long",         "not_in_set"};

bool isSpaceOrTab(char c) { return c == ' ' || c == '\t'; }
bool isBlankByte(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

inline std::string_view trimSpaceTab(std::string_view v) {
    // Most fields have nothing to trim.
    if (v.empty() || (!isSpaceOrTab(v.front()) && !isSpaceOrTab(v.back()))) return v;
    size_t b = 0, e = v.size();
    while (b < e && isSpaceOrTab(v[b])) ++b;
    while (e > b && isSpaceOrTab(v[e - 1])) --e;
    return v.substr(b, e - b);
}

// Two ASCII digits at t[at], or -1.
int twoDigits(std::string_view t, size_t at) {
    if (!isDigit(t[at]) || !isDigit(t[at + 1])) return -1;
    return (t[at] - '0') * 10 + (t[at + 1] - '0');
}

bool isLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

// Lower-case ASCII equality of `t` with the lower-case word `w`.
bool equalsIgnoringCase(std::string_view t, std::string_view w) {
    if (t.size() != w.size()) return false;
    for (size_t i = 0; i < t.size(); ++i) {
        char c = t[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != w[i]) return false;
    }
    return true;
}

// Up to this many digits an integer fits a uint64_t, and its conversion to
// binary64 rounds exactly as parseNumeric does.
constexpr size_t kExactIntegerDigits = 18;

// isInteger in one pass that also gives the value when `value` is set: the
// digits accumulated when they are few, else numeric() (which refuses
// integers beyond binary64).
inline bool scanInteger(std::string_view v, std::optional<double> *value) {
    const std::string_view t = trimSpaceTab(v);
    size_t i = 0;
    const bool negative = !t.empty() && t[0] == '-';
    if (!t.empty() && (t[0] == '+' || t[0] == '-')) i = 1;
    if (i == t.size()) return false;
    uint64_t acc = 0;
    for (size_t k = i; k < t.size(); ++k) {
        const unsigned d = static_cast<unsigned char>(t[k] - '0');
        if (d > 9) return false;
        acc = acc * 10 + d;  // wraps past kExactIntegerDigits; then unused
    }
    if (value) {
        if (t.size() - i <= kExactIntegerDigits) {
            const double magnitude = static_cast<double>(acc);
            *value = negative ? -magnitude : magnitude;
        } else {
            *value = numeric(t);
        }
    }
    return true;
}

}  // namespace

// ---- text predicates -------------------------------------------------------

bool isBlank(std::string_view v) {
    for (char c : v)
        if (!isBlankByte(c)) return false;
    return true;
}

bool isInteger(std::string_view v) { return scanInteger(v, nullptr); }

std::optional<double> numeric(std::string_view v) {
    std::optional<double> d = parseNumeric(trimSpaceTab(v));
    if (d && !std::isfinite(*d)) return std::nullopt;
    return d;
}

bool isBoolean(std::string_view v) {
    std::string_view t = trimSpaceTab(v);
    return equalsIgnoringCase(t, "true") || equalsIgnoringCase(t, "false");
}

bool isDatetime(std::string_view v) {
    static constexpr int kDaysInMonth[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const std::string_view t = trimSpaceTab(v);
    if (t.size() < 10 || t[4] != '-' || t[7] != '-') return false;
    const int hi = twoDigits(t, 0), lo = twoDigits(t, 2);
    const int month = twoDigits(t, 5), day = twoDigits(t, 8);
    if (hi < 0 || lo < 0 || month < 0 || day < 0) return false;
    const int year = hi * 100 + lo;
    if (year == 0 || month < 1 || month > 12 || day < 1) return false;
    const int days = month == 2 && isLeapYear(year) ? 29 : kDaysInMonth[month - 1];
    if (day > days) return false;
    if (t.size() == 10) return true;

    // Time: 'T' or a space, then HH:MM.
    if ((t[10] != 'T' && t[10] != ' ') || t.size() < 16 || t[13] != ':') return false;
    const int hour = twoDigits(t, 11), minute = twoDigits(t, 14);
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59) return false;
    size_t pos = 16;

    // Optional seconds, then an optional fraction after them.
    if (t.size() - pos >= 3 && t[pos] == ':' && isDigit(t[pos + 1]) && isDigit(t[pos + 2])) {
        if (twoDigits(t, pos + 1) > 60) return false;
        pos += 3;
        if (t.size() - pos >= 2 && t[pos] == '.') {
            ++pos;
            if (!isDigit(t[pos])) return false;
            while (pos < t.size() && isDigit(t[pos])) ++pos;
        }
    }

    // Zone, by what is left.
    switch (t.size() - pos) {
        case 0: return true;
        case 1: return t[pos] == 'Z' || t[pos] == 'z';
        case 6: {
            if ((t[pos] != '+' && t[pos] != '-') || t[pos + 3] != ':') return false;
            const int zh = twoDigits(t, pos + 1), zm = twoDigits(t, pos + 4);
            return zh >= 0 && zh <= 23 && zm >= 0 && zm <= 59;
        }
        default: return false;
    }
}

bool matchesType(ColumnType type, std::string_view v, std::optional<double> *number) {
    switch (type) {
        case ColumnType::any:
        case ColumnType::string: return true;
        case ColumnType::integer: return scanInteger(v, number);
        case ColumnType::floating: {
            std::optional<double> d = numeric(v);
            if (number) *number = d;
            return d.has_value();
        }
        case ColumnType::boolean: return isBoolean(v);
        case ColumnType::datetime: return isDatetime(v);
    }
    return false;
}

size_t textLength(std::string_view v) {
    std::optional<size_t> n = utf8CodePoints(v);
    return n ? *n : v.size();
}

std::string_view errorKindName(ErrorKind kind) { return kErrorKindNames[static_cast<size_t>(kind)]; }

// ---- validator -------------------------------------------------------------

Result<Validator> Validator::withSchema(Query query, std::string_view schema_json,
                                        ErrorDetail *detail) {
    Result<Schema> schema = parseSchema(query.header(), schema_json, detail);
    if (!schema.ok()) return schema.error();
    Validator v;
    v.query_ = std::move(query);
    v.schema_ = std::move(*schema);
    return v;
}

Result<Validator> Validator::openJson(const char *path, std::string_view schema_json,
                                      ErrorDetail *detail) {
    RecordPosition failed_at;
    Result<Query> q = Query::open(path, QueryOptions(), &failed_at);
    if (!q.ok()) {
        if (detail)
            rowkit::describePosition(*detail, std::string_view(path, std::strlen(path)), failed_at);
        return q.error();
    }
    return withSchema(std::move(*q), schema_json, detail);
}

Result<Validator> Validator::fromBytesJson(std::string_view bytes, Format format,
                                           std::string_view schema_json) {
    Result<Query> q = Query::fromBytes(bytes, format);
    if (!q.ok()) return q.error();
    return withSchema(std::move(*q), schema_json, nullptr);
}

Status Validator::check(Row row, ErrorSink &sink) const {
    if (row.size() != schema_.n_columns) {
        ROWKIT_TRY(sink.add(std::nullopt, std::string_view(), std::string_view(),
                            row.size() < schema_.n_columns ? ErrorKind::too_few_fields
                                                           : ErrorKind::too_many_fields));
    }
    for (const Rule &rule : schema_.rules()) {
        if (rule.column >= row.size()) continue;
        const std::string_view field = row[rule.column];
        auto add = [&](ErrorKind kind) { return sink.add(rule.column, rule.name, field, kind); };
        if (isBlank(field)) {
            if (rule.required) ROWKIT_TRY(add(ErrorKind::missing_required));
            continue;
        }
        // Integer and float columns get their number from the type check.
        const bool bounded = rule.min || rule.max;
        std::optional<double> number;
        if (!matchesType(rule.type, field, bounded ? &number : nullptr)) {
            ROWKIT_TRY(add(ErrorKind::bad_type));
            continue;
        }
        if (bounded) {
            if (rule.type != ColumnType::floating && rule.type != ColumnType::integer) number = numeric(field);
            if (!number) {
                ROWKIT_TRY(add(ErrorKind::bad_type));
            } else {
                if (rule.min && *number < *rule.min) ROWKIT_TRY(add(ErrorKind::below_min));
                if (rule.max && *number > *rule.max) ROWKIT_TRY(add(ErrorKind::above_max));
            }
        }
        if (rule.min_len || rule.max_len) {
            const size_t len = textLength(field);
            if (rule.min_len && len < *rule.min_len) ROWKIT_TRY(add(ErrorKind::too_short));
            if (rule.max_len && len > *rule.max_len) ROWKIT_TRY(add(ErrorKind::too_long));
        }
        if (!rule.one_of.empty() && !rule.allows(field)) ROWKIT_TRY(add(ErrorKind::not_in_set));
    }
    return Status();
}

Result<std::optional<ValidatedRow>> Validator::nextWithSink(size_t limit, uint64_t *counts) {
    if (failed_) [[unlikely]]
        return *failed_;
    RowResult r = query_.next();
    if (!r.ok()) [[unlikely]] {
        failed_ = r.error();
        return r.error();
    }
    if (!r->has_value()) return std::optional<ValidatedRow>();
    const Row row = **r;
    ++row_number_;
    errors_.clear();
    ErrorSink sink{errors_, row_number_, counts, limit, false};
    const Status checked = check(row, sink);
    if (!checked.ok()) [[unlikely]] {
        failed_ = checked.error();
        return checked.error();
    }
    if (sink.failed)
        ++rows_invalid_;
    else
        ++rows_valid_;
    ValidatedRow out;
    out.number = row_number_;
    out.row = row;
    out.errors = std::span<const RowError>(errors_.data(), errors_.size());
    return std::optional<ValidatedRow>(out);
}

Result<std::optional<ValidatedRow>> Validator::nextOutcome(size_t limit) {
    Result<std::optional<ValidatedRow>> r = nextWithSink(limit, nullptr);
    if (r.ok() && r->has_value()) ROWKIT_TRY(requireUtf8((*r)->row));
    return r;
}

Status Validator::writeOutcome(ByteBuf &out, bool full) {
    for (const OwnedStr &name : header())
        if (!isValidUtf8(name.view())) return Error::InvalidUtf8;
    if (full) ROWKIT_TRY(writeJsonRaw(out, "["));
    bool first = true;
    for (;;) {
        // Without `full` only validity counts: no error is kept.
        Result<std::optional<ValidatedRow>> r = nextOutcome(full ? SIZE_MAX : 0);
        if (!r.ok()) return r.error();
        if (!r->has_value()) break;
        if (!full) {
            if (rows_invalid_ > 0) return writeJsonRaw(out, "false");
            continue;
        }
        const ValidatedRow &row = **r;
        if (row.errors.empty()) continue;
        ROWKIT_TRY(writeJsonRaw(out, first ? "{\"values\":" : ",{\"values\":"));
        first = false;
        ROWKIT_TRY(writeJsonTextArray(out, row.row));
        ROWKIT_TRY(writeJsonRaw(out, ",\"errors\":"));
        ROWKIT_TRY(writeRowErrorsJson(out, row.errors, false));
        ROWKIT_TRY(writeJsonRaw(out, "}"));
    }
    return writeJsonRaw(out, full ? "]" : "true");
}

Result<Report> Validator::report(size_t limit) {
    if (row_number_ != 0) return Error::ValidatorAlreadyStarted;
    return reportFromValidator(*this, limit);
}

// ---- report ----------------------------------------------------------------

Result<Report> reportFromValidator(Validator &validator, size_t limit) {
    Report report;
    for (;;) {
        Result<std::optional<ValidatedRow>> r =
            validator.nextWithSink(limit - report.errors.size(), report.counts);
        if (!r.ok()) return r.error();
        if (!r->has_value()) break;
        for (const RowError &e : (*r)->errors) {
            RowError copy = e;
            if (!report.strings.dup(e.column_name, &copy.column_name) ||
                !report.strings.dup(e.value, &copy.value) || !report.errors.push(copy))
                return Error::OutOfMemory;
        }
    }
    for (uint64_t c : report.counts) report.errors_total += c;
    report.truncated = report.errors_total > report.errors.size();
    report.rows_total = validator.rowNumber();
    report.rows_valid = validator.rowsValid();
    report.rows_invalid = validator.rowsInvalid();
    return report;
}

Result<Report> validateJson(const char *path, std::string_view schema_json, size_t limit,
                            ErrorDetail *detail) {
    Result<Validator> v = Validator::openJson(path, schema_json, detail);
    if (!v.ok()) return v.error();
    Result<Report> report = v->report(limit);
    if (!report.ok() && detail) v->describePosition(*detail);
    return report;
}

// ---- JSON forms ------------------------------------------------------------

Status requireUtf8(std::span<const std::string_view> texts) {
    for (std::string_view t : texts)
        if (!isValidUtf8(t)) return Error::InvalidUtf8;
    return Status();
}

Status writeErrorObject(ByteBuf &out, const RowError &error, bool with_row) {
    if (with_row) {
        ROWKIT_TRY(writeJsonRaw(out, "{\"row\":"));
        ROWKIT_TRY(writeJsonUnsigned(out, error.row));
        ROWKIT_TRY(writeJsonRaw(out, ",\"column\":"));
    } else {
        ROWKIT_TRY(writeJsonRaw(out, "{\"column\":"));
    }
    if (error.column)
        ROWKIT_TRY(writeJsonUnsigned(out, *error.column));
    else
        ROWKIT_TRY(writeJsonRaw(out, "null"));
    ROWKIT_TRY(writeJsonRaw(out, ",\"column_name\":"));
    ROWKIT_TRY(writeJsonText(out, error.column_name));
    ROWKIT_TRY(writeJsonRaw(out, ",\"rule\":"));
    ROWKIT_TRY(writeJsonString(out, errorKindName(error.kind)));
    ROWKIT_TRY(writeJsonRaw(out, ",\"value\":"));
    ROWKIT_TRY(writeJsonText(out, error.value));
    return writeJsonRaw(out, "}");
}

Status writeRowErrorsJson(ByteBuf &out, std::span<const RowError> errors, bool with_row) {
    ROWKIT_TRY(writeJsonRaw(out, "["));
    for (size_t i = 0; i < errors.size(); ++i) {
        if (i) ROWKIT_TRY(writeJsonRaw(out, ","));
        ROWKIT_TRY(writeErrorObject(out, errors[i], with_row));
    }
    return writeJsonRaw(out, "]");
}

Status writeReportJson(ByteBuf &out, const Report &report) {
    ROWKIT_TRY(writeJsonRaw(out, "{\"rows_total\":"));
    ROWKIT_TRY(writeJsonUnsigned(out, report.rows_total));
    ROWKIT_TRY(writeJsonRaw(out, ",\"rows_valid\":"));
    ROWKIT_TRY(writeJsonUnsigned(out, report.rows_valid));
    ROWKIT_TRY(writeJsonRaw(out, ",\"rows_invalid\":"));
    ROWKIT_TRY(writeJsonUnsigned(out, report.rows_invalid));
    ROWKIT_TRY(writeJsonRaw(out, ",\"errors_total\":"));
    ROWKIT_TRY(writeJsonUnsigned(out, report.errors_total));
    ROWKIT_TRY(
        writeJsonRaw(out, report.truncated ? ",\"truncated\":true" : ",\"truncated\":false"));
    ROWKIT_TRY(writeJsonRaw(out, ",\"counts\":{"));
    bool first = true;
    for (size_t k = 0; k < kErrorKindCount; ++k) {
        if (report.counts[k] == 0) continue;
        if (!first) ROWKIT_TRY(writeJsonRaw(out, ","));
        first = false;
        ROWKIT_TRY(writeJsonString(out, errorKindName(static_cast<ErrorKind>(k))));
        ROWKIT_TRY(writeJsonRaw(out, ":"));
        ROWKIT_TRY(writeJsonUnsigned(out, report.counts[k]));
    }
    ROWKIT_TRY(writeJsonRaw(out, "},\"errors\":"));
    ROWKIT_TRY(writeRowErrorsJson(
        out, std::span<const RowError>(report.errors.data(), report.errors.size())));
    return writeJsonRaw(out, "}");
}

}  // namespace rowkit
