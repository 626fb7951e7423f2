// Row checks against a schema: the text predicates, the per-row error
// collection, the validator that drives a query through the checks, and the
// whole-file report built from it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "alloc.hpp"
#include "errors.hpp"
#include "query.hpp"
#include "schema.hpp"

namespace rowkit {

// ---- text predicates -------------------------------------------------------
//
// The blank test trims space, tab, CR and LF; the type tests trim only space
// and tab. Both trim at both ends.

bool isBlank(std::string_view v);
// An optional sign and at least one ASCII digit, nothing else; no magnitude
// limit.
bool isInteger(std::string_view v);
// The number the trimmed text stands for (parseNumeric), when finite.
std::optional<double> numeric(std::string_view v);
// "true" or "false" in any ASCII case.
bool isBoolean(std::string_view v);
// A calendar date YYYY-MM-DD (year 0001-9999, real days, leap years), or a
// date, 'T' or a space, HH:MM, optional :SS (00-60) with an optional
// fraction of one or more digits, and an optional zone: Z, z or ±HH:MM.
bool isDatetime(std::string_view v);
// Whether `v` has the column type. When `number` is not null, integer and
// float columns store there what numeric(v) gives (integer texts too long
// for binary64 give nothing).
bool matchesType(ColumnType type, std::string_view v, std::optional<double> *number = nullptr);
// Code points when `v` is valid UTF-8, else bytes.
size_t textLength(std::string_view v);

// ---- errors ----------------------------------------------------------------

enum class ErrorKind : uint8_t {
    too_few_fields = 0,
    too_many_fields = 1,
    missing_required = 2,
    bad_type = 3,
    below_min = 4,
    above_max = 5,
    too_short = 6,
    too_long = 7,
    not_in_set = 8,
};

inline constexpr size_t kErrorKindCount = 9;

// The kind's name as written in every JSON output and as its count's key.
std::string_view errorKindName(ErrorKind kind);

// One failed check. The texts are borrowed (the column name from the schema,
// the value from the current row) and valid until the next row is read.
struct RowError {
    uint64_t row = 0;                   // first data row is 1
    std::optional<size_t> column;       // absent for field-count errors
    std::string_view column_name;       // empty for field-count errors
    std::string_view value;             // raw field text; empty for field-count errors
    ErrorKind kind = ErrorKind::too_few_fields;
};

// Collects one row's errors: tallies every error by kind (when `counts` is
// set) and keeps at most `limit` of them.
struct ErrorSink {
    Vec<RowError> &errors;
    uint64_t row_number = 0;
    uint64_t *counts = nullptr;  // kErrorKindCount counters, or null
    size_t limit = SIZE_MAX;
    bool failed = false;

    // Fails only with OutOfMemory when a kept error cannot be stored.
    Status add(std::optional<size_t> column, std::string_view column_name, std::string_view value,
               ErrorKind kind) {
        failed = true;
        if (counts) ++counts[static_cast<size_t>(kind)];
        if (errors.size() < limit) {
            if (!errors.push(RowError{row_number, column, column_name, value, kind}))
                return Error::OutOfMemory;
        }
        return Status();
    }
};

// One checked row; everything in it is valid until the next step.
struct ValidatedRow {
    uint64_t number = 0;
    Row row;
    std::span<const RowError> errors;
};

struct Report;

// ---- validator -------------------------------------------------------------

class Validator {
public:
    Validator() = default;
    Validator(Validator &&) noexcept = default;
    Validator &operator=(Validator &&) noexcept = default;

    // Opens the file (format by suffix, default query options) and parses
    // the schema against its header. Open errors, BadSchema, UnknownColumn,
    // OutOfMemory; nothing is kept on failure. When `detail` is not null it
    // receives what the failure is known to be about: the file and where
    // the header or first record failed, or the schema's detail.
    static Result<Validator> openJson(const char *path, std::string_view schema_json,
                                      ErrorDetail *detail = nullptr);
    // The same over bytes held in memory (not copied).
    static Result<Validator> fromBytesJson(std::string_view bytes, Format format,
                                           std::string_view schema_json);

    // Reads and checks the next row: the field count, then every rule in
    // schema order. At most `limit` errors of the row are kept; every error
    // is tallied in `counts` (kErrorKindCount counters) when that is set.
    // Nothing at the end of the input. Reader errors are returned as they
    // are and count no row; OutOfMemory from keeping an error is returned
    // after the row was numbered.
    //
    // A failed step ends the validation: every later step returns the same
    // error. (A row the reader could not read has no number, so the rows
    // after it could not be numbered by their place in the input.)
    Result<std::optional<ValidatedRow>> nextWithSink(size_t limit, uint64_t *counts);
    // Every error of the row kept, no tally.
    Result<std::optional<ValidatedRow>> next() { return nextWithSink(SIZE_MAX, nullptr); }

    // nextWithSink without a tally, and every field must be valid UTF-8
    // (InvalidUtf8).
    Result<std::optional<ValidatedRow>> nextOutcome(size_t limit);

    // The whole remaining input as a report keeping at most `limit` errors.
    // ValidatorAlreadyStarted when rows were already read.
    Result<Report> report(size_t limit);

    // The outcome of the remaining input. Without `full`: "true" when every
    // row is valid, else "false", written as soon as the first invalid row
    // is read (no row after it is read). With `full`: the array of the
    // invalid rows, each {"values":[...],"errors":[...]} with error objects
    // that have no "row" member; [] when there is none. Header names and
    // the fields of every row read must be valid UTF-8 (InvalidUtf8).
    Status writeOutcome(ByteBuf &out, bool full);

    std::span<const OwnedStr> header() const { return query_.header(); }
    // The file line where the row last returned (or the record that failed)
    // begins, 0 before the first: rows are numbered by data row, lines by
    // the file.
    uint64_t lineNumber() const { return query_.lineNumber(); }
    // Writes where reading stands: the file, the line and byte offset of the
    // record last read or failed.
    void describePosition(ErrorDetail &detail) const {
        rowkit::describePosition(detail, query_.path(), query_.position());
    }
    const Schema &schema() const { return schema_; }
    uint64_t rowNumber() const { return row_number_; }
    uint64_t bytesConsumed() const { return query_.source.bytesConsumed(); }
    uint64_t rowsValid() const { return rows_valid_; }
    uint64_t rowsInvalid() const { return rows_invalid_; }

private:
    static Result<Validator> withSchema(Query query, std::string_view schema_json,
                                        ErrorDetail *detail);
    Status check(Row row, ErrorSink &sink) const;

    Query query_;
    Schema schema_;
    Vec<RowError> errors_;  // the current row's kept errors; capacity kept
    uint64_t row_number_ = 0;
    uint64_t rows_valid_ = 0;
    uint64_t rows_invalid_ = 0;
    std::optional<Error> failed_;  // the error that ended the validation
};

// InvalidUtf8 unless every text of `texts` is valid UTF-8.
Status requireUtf8(std::span<const std::string_view> texts);

// ---- report ----------------------------------------------------------------

struct Report {
    uint64_t rows_total = 0;
    uint64_t rows_valid = 0;
    uint64_t rows_invalid = 0;
    uint64_t errors_total = 0;  // every error found, kept or not
    uint64_t counts[kErrorKindCount] = {};
    Vec<RowError> errors;       // kept errors, texts in `strings`
    Arena strings;
    bool truncated = false;     // errors_total > errors.size()

    Report() = default;
    Report(Report &&) noexcept = default;
    Report &operator=(Report &&) noexcept = default;
};

// Drains the validator into a report that keeps at most `limit` errors in
// all; later rows are still checked and counted. Reader errors and
// OutOfMemory are returned and nothing is kept.
Result<Report> reportFromValidator(Validator &validator, size_t limit);

// Opens a validator on `path`, reports on the whole file and closes it.
// `detail`, when not null, receives what openJson gives, or where a reading
// error stopped the report.
Result<Report> validateJson(const char *path, std::string_view schema_json, size_t limit,
                            ErrorDetail *detail = nullptr);

// ---- JSON forms ------------------------------------------------------------
//
// Written by the JSON text rule of json_writer.hpp; OutOfMemory leaves a
// partial text that the caller discards.

// {"row":R,"column":C or null,"column_name":"...","rule":"...","value":"..."};
// without `with_row`, the same without its "row" member.
Status writeErrorObject(ByteBuf &out, const RowError &error, bool with_row = true);
// [object,object,...], [] when empty.
Status writeRowErrorsJson(ByteBuf &out, std::span<const RowError> errors, bool with_row = true);
// {"rows_total":..,"rows_valid":..,"rows_invalid":..,"errors_total":..,
//  "truncated":..,"counts":{kind:n,...},"errors":[...]} without whitespace;
// counts lists only non-zero kinds, in kind order.
Status writeReportJson(ByteBuf &out, const Report &report);

}  // namespace rowkit
