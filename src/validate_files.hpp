// Validation into files: one pass splits a file into an accepted CSV file
// and a rejected file of JSON lines, each rejected row with its values and
// errors. Both files are new; on any failure neither remains.
#pragma once

#include <cstdint>
#include <string_view>

#include "csv.hpp"
#include "errors.hpp"
#include "row.hpp"

namespace rowkit {

struct SplitStats {
    uint64_t rows_total = 0;
    uint64_t rows_valid = 0;    // rows written to the accepted file
    uint64_t rows_invalid = 0;  // rows written to the rejected file
    uint64_t errors_total = 0;  // every error of every row
};

// Validates the file at `path` against `schema_json` (every error of a row
// kept) and writes:
//  - to `accepted`, the header and then every row without errors, as CSV
//    records (writeCsv);
//  - to `rejected`, one line per row with errors:
//    {"values":["...",...],"errors":[row-error objects]} and a line feed.
// Header names and fields must be valid UTF-8 (InvalidUtf8). Both outputs
// are created exclusively (PathAlreadyExists, leaving the existing file as
// it was), written through 64 KiB buffers, synced and closed before the
// call returns. On any failure after a file was created, both files are
// removed, each only while its name still names the file created here.
// Errors: the validator's open and read errors, PathAlreadyExists and the
// other creation errors, InvalidUtf8, write, sync and close errors
// (NoSpaceLeft, InputOutput, ...), OutOfMemory.
Result<SplitStats> validateToFiles(const char *path, std::string_view schema_json,
                                   const char *accepted, const char *rejected);

// The most bytes writeCsv writes for `fields`.
size_t csvRecordBound(Row fields);

// Writes one CSV record at `dst`, which has room for csvRecordBound(fields)
// bytes: the fields by writeField with a comma between them, then CR LF. A
// record of one empty field is written as "" so that it is not an empty
// line; a record without fields is just CR LF. Returns the end of what it
// wrote.
char *writeCsv(char *dst, Row fields);

}  // namespace rowkit
