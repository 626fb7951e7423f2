// The range scanners of the parallel columnar scan: each turns line-aligned
// byte ranges of a CSV or JSON-records file into rows of columns, on the
// thread that runs it.
//
// A scanner reads a range through the chunk reader's range mode (positional
// reads of 1 MiB on the descriptor every thread shares), cuts it into lines,
// makes each line a row of exactly the file's columns, applies the
// predicates and appends the matching rows to the columns it is given. It
// reads the shared file, the predicates and the JSON header, and writes
// nothing but its own state, the columns and the counts it is given.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "alloc.hpp"
#include "chunk_reader.hpp"
#include "collect.hpp"
#include "errors.hpp"
#include "ndjson.hpp"
#include "query.hpp"

namespace rowkit {

// A half-open byte range of the file: `start` is the start of a line (or of
// the data), `end` is just after a line feed (or the file's size).
struct Range {
    uint64_t start = 0;
    uint64_t end = 0;
};

// Bytes a scanner reads at once.
inline constexpr size_t kWorkerChunkBytes = 1048576;

// What every range scanner of one scan shares, read-only.
struct ScanColumnarJob {
    int fd = -1;                            // the open file, read at offsets only
    std::span<const Predicate> predicates;  // matched against each row as read
    bool negate = false;                    // keep the rows that do not match
    char delimiter = ',';                   // CSV field delimiter
    size_t n_cols = 0;                      // columns of the result
    const JsonHeader *header = nullptr;     // JSON records: the columns' keys; null for CSV
};

// What the scan of one range adds up.
struct RangeCounts {
    size_t n_rows = 0;            // rows appended
    size_t n_skipped_lines = 0;   // JSON lines that are not empty and not an object
    size_t n_emptied_values = 0;  // nested values left empty in the rows appended
};

// Where a scan appends its rows: `columns`, or, once `watch` (when set)
// holds `watch_value` after a line (it is looked at every 32 lines),
// whatever moveTo(ctx, this) puts in
// `columns` when it returns true (it may fail, and is asked again after a
// later line; a failure it reports stops the scan). This lets a range read
// into columns of its own go on straight into the result as soon as every
// range before it is there.
struct ScanTarget {
    std::span<ColumnBuf> columns;
    const std::atomic<size_t> *watch = nullptr;
    size_t watch_value = 0;
    Result<bool> (*moveTo)(void *ctx, ScanTarget *target) = nullptr;
    void *ctx = nullptr;
};

// One thread's scanner: it reads ranges of the job's file one after another,
// each through the same 1 MiB read buffer and the same parsing scratch, so
// that a thread allocates (and the kernel faults in) those once.
//
// Every line of a range is read in order: without its line feed and one
// carriage return before it, empty lines included, and a last line without a
// line feed too; a line that straddles read chunks is assembled first.
//
// CSV: every line is a row, split by the CSV rules with the job's delimiter
// (an empty line is one empty field). The predicates see the row as split;
// a matching row is brought to n_cols fields (missing ones empty, extra ones
// dropped). A quoted-field error fails the scan.
//
// JSON records: every non-empty line is one object mapped onto the header's
// columns as the sequential reader maps it, except that a line that is not
// an object is skipped and counted, and a nested value is left empty and
// counted (in the rows kept). Running out of memory fails the scan; it is
// never taken for a line that does not parse.
class RangeScanner {
public:
    // Allocates the read buffer and the scratch. OutOfMemory; NotRegularFile
    // when the job's descriptor is not a regular file.
    Status init(const ScanColumnarJob *job);

    // Appends the matching rows of `range` to the target's columns
    // (job->n_cols of them) and adds them up in *counts. With `size_for` above 0 the
    // columns are sized, once the first 64 KiB of the range are read, for
    // that many bytes of input like those read: growing a column as rows
    // come makes the allocator move it several times, and one early
    // estimate lets it reach its final size in one block (capacity never
    // filled is address space only; a column whose estimate falls short
    // still grows as usual). The first error of a read, an allocation or a
    // line ends the scan; the columns may then hold part of a row and the
    // counts part of the range.
    Status scan(Range range, ScanTarget *target, uint64_t size_for, RangeCounts *counts);

private:
    Status scanCounting(Range range, ScanTarget *target, uint64_t size_for, RangeCounts *counts);
    template <class OnLine>
    Status walk(Range range, ScanTarget *target, uint64_t size_for, OnLine &&on_line);

    const ScanColumnarJob *job_ = nullptr;
    ChunkReader reader_;
    Vec<std::string_view> fields_;  // CSV: the fields of a line
    ByteBuf quote_scratch_;         // CSV: quoted fields unescaped
    RecordMapper mapper_;           // JSON records
};

}  // namespace rowkit
