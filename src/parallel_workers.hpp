// The workers of the parallel columnar scan: each one turns one line-aligned
// byte range of a CSV or JSON-records file into its own columns, on its own
// thread.
//
// A worker reads its range through the chunk reader's range mode (positional
// reads of 1 MiB on the descriptor every worker shares), cuts it into lines,
// makes each line a row of exactly the file's columns, applies the
// predicates and appends the matching rows. It reads the shared file, the
// predicates and the JSON header, and writes nothing but its own record.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
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

// Bytes a worker reads at once.
inline constexpr size_t kWorkerChunkBytes = 1048576;

// Calls on_line (a callable taking a std::string_view and returning a
// Status) for every line of `range` in order, read in chunks of 1 MiB (or the
// range's length when that is less): without its line feed and one
// carriage return before it, empty lines included, and a last line without
// a line feed too. Lines within a chunk are slices of it; a line that
// straddles chunks is assembled first. A line is valid only during its call.
// The first error of a read, an allocation or on_line ends the walk.
template <class OnLine>
Status forEachLineInRange(int fd, Range range, OnLine &&on_line) {
    // A range shorter than a chunk needs no more buffer than its length.
    const uint64_t length = range.end > range.start ? range.end - range.start : 0;
    const size_t chunk = length == 0                  ? 1
                         : length < kWorkerChunkBytes ? static_cast<size_t>(length)
                                                      : kWorkerChunkBytes;
    ChunkReader reader;
    ROWKIT_TRY(reader.initRange(fd, range.start, range.end, chunk));
    const InputLimits no_limits;
    for (;;) {
        std::string_view line;
        Result<bool> got = reader.nextLine(no_limits, &line);
        if (!got.ok()) return got.error();
        if (!*got) return Status();
        ROWKIT_TRY(on_line(line));
    }
}

// What every worker of one scan shares, read-only.
struct ScanColumnarWorker;

struct ScanColumnarJob {
    int fd = -1;                            // the open file, read at offsets only
    std::span<const Predicate> predicates;  // matched against each row as read
    bool negate = false;                    // keep the rows that do not match
    char delimiter = ',';                   // CSV field delimiter
    size_t n_cols = 0;                      // columns of the result
    const JsonHeader *header = nullptr;     // JSON records: the columns' keys
    uint64_t data_bytes = 0;                // bytes of every range together
    // Where the workers add the bytes they consume, for the calling thread
    // to report while it waits; null when it reports no progress.
    std::atomic<uint64_t> *consumed = nullptr;
    const ScanColumnarWorker *first_worker = nullptr;  // its columns become the result
};

// One worker: its range, and what it leaves for the caller, who reads it
// only after joining the worker's thread. Each worker has cache lines of its
// own, so that one thread's counting never evicts the line another reads.
struct alignas(64) ScanColumnarWorker {
    const ScanColumnarJob *job = nullptr;
    Range range;
    Vec<ColumnBuf> columns;  // job->n_cols columns of n_rows values; empty on failure
    size_t n_rows = 0;
    size_t n_skipped_lines = 0;   // JSON lines that are not empty and not an object
    size_t n_emptied_values = 0;  // nested values left empty in the rows collected
    std::optional<Error> err;     // set when the worker failed
};

// The thread bodies. Each fills the worker's columns and counts from its
// range, or sets `err` and leaves no columns.
//
// CSV: every line is a row, split by the CSV rules with the job's delimiter
// (an empty line is one empty field). The predicates see the row as split;
// a matching row is brought to n_cols fields (missing ones empty, extra ones
// dropped). A quoted-field error fails the worker.
void csvScanColumnarWorkerRun(ScanColumnarWorker *w);

// JSON records: every non-empty line is one object mapped onto the header's
// columns as the sequential reader maps it, except that a line that is not
// an object is skipped and counted, and a nested value is left empty and
// counted (in the rows collected). Running out of memory fails the worker;
// it is never taken for a line that does not parse.
void ndjsonScanColumnarWorkerRun(ScanColumnarWorker *w);

}  // namespace rowkit
