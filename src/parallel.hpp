// The parallel columnar scan: a whole CSV or JSON-records file collected into
// columns by several threads, each over a line-aligned byte range, with the
// same rows in the same order as a sequential scan.
//
// The file is opened once. The format sniff, the header, the range planning
// and the workers all read that one descriptor with positional reads, so a
// file replaced by a rename during the call cannot give the planner one file
// and the workers another. Line boundaries are plain line feeds: a quoted
// CSV field holding a line break is cut in two, and the worker's quoted-field
// error surfaces. A file that is one JSON array cannot be cut at lines and is
// collected on the calling thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "alloc.hpp"
#include "collect.hpp"
#include "errors.hpp"
#include "ndjson.hpp"
#include "parallel_workers.hpp"
#include "query.hpp"

namespace rowkit {

// ---- planning --------------------------------------------------------------

enum class SniffedFormat : uint8_t { line_delimited = 0, json_array = 1 };

// Every worker is given at least this much data.
inline constexpr uint64_t kMinWorkerBytes = 65536;
// The bytes the format sniff looks at.
inline constexpr size_t kSniffBytes = 256;
// The most of an NDJSON file's start its header is read from.
inline constexpr size_t kNdjsonHeaderBytes = 1048576;
// Stack of every worker thread.
inline constexpr size_t kWorkerStackBytes = 16777216;

// Processors the calling thread may run on; 1 when that cannot be learnt.
size_t processorCount();

// The system's page size, queried once and cached (atomically: two scans may
// start at once).
size_t pageSize();

// Workers for `data_len` bytes: `requested` (at least 1), but no more than
// there are 64 KiB pieces of data (at least 1).
size_t threadsFor(size_t requested, uint64_t data_len);

// `num_threads` consecutive ranges covering [data_start, file_size): each
// boundary is the first line start at or after the previous boundary plus
// an even share, so every range but the last holds at least that share and
// the ranges after a boundary that reached the end are empty.
Result<Vec<Range>> splitRangesFrom(int fd, uint64_t data_start, uint64_t file_size,
                                   size_t num_threads);

// json_array when the first byte among the first 256 that is not a space,
// tab, CR or LF is '['; line_delimited otherwise (whatever the file's name).
Result<SniffedFormat> sniffFormat(int fd, uint64_t file_size);

// The columns of an NDJSON file: the keys of the object on its first line,
// read from at most its first 1 MiB (a CR before the line feed dropped).
// InvalidJson when that line is not an object; OutOfMemory, read errors.
Result<JsonHeader> buildNdjsonHeader(int fd, uint64_t file_size);

// ---- threads ---------------------------------------------------------------

using WorkerRun = void (*)(ScanColumnarWorker *);

// Runs `run` on every worker, each on a thread of its own (16 MiB stack, one
// guard page), and joins them all. A thread that cannot be started fails
// with SystemResources (EAGAIN, or no thread attributes) or Unexpected
// (other errors), OutOfMemory when the start records cannot be allocated;
// the threads already started are joined first.
//
// When the workers' job counts the bytes they consume and the calling thread
// has a progress target, each worker thread reports into the count, and the
// calling thread reports the first range's start plus the count before it
// waits, about ten times a second while it waits (where a timed join
// exists), and once more after the last join.
Status spawnAndJoin(std::span<ScanColumnarWorker> workers, WorkerRun run);

#if ROWKIT_TEST_HOOKS
// Test hook: the nth thread start from now (1-based) fails with `err`
// instead of starting; 0 disables.
namespace parallel_hook {
void failThreadStartAt(uint64_t nth, int err);
}
#endif

// ---- merging ---------------------------------------------------------------

struct MergedColumns {
    Vec<ColumnBuf> columns;
    size_t n_rows = 0;
};

// The finished workers' columns joined in worker order, `n_cols` columns in
// all: the first worker's columns grow to the full size in place and take
// every later worker's values with their offsets moved up. The copies, one
// per later worker and column, are shared by the calling thread and up to
// one more thread per later worker; each worker column is freed as soon as
// it is copied, so that the peak stays near one copy of the result plus a
// worker's share. ColumnTooLarge when a column would pass the offsets'
// limit, OutOfMemory; the workers keep whatever was not taken over then.
Result<MergedColumns> mergeColumnarWorkers(std::span<ScanColumnarWorker> workers, size_t n_cols);

// ---- the scan --------------------------------------------------------------

struct ColumnarScanResult {
    Vec<ColumnBuf> columns;
    size_t n_rows = 0;
    size_t n_cols = 0;
    size_t n_skipped_lines = 0;
    size_t n_emptied_values = 0;
};

// Collects the whole file at `path`: a JSON array on the calling thread;
// otherwise JSON records (a path ending in ".ndjson", ".jsonl" or ".json")
// or CSV with `delimiter`, on threadsFor(num_threads, data) threads
// (num_threads 0: one per processor). The result has the header's columns,
// also when no row matches; a CSV file of only its header line gives no
// columns.
//
// Errors: the platform's open errors, IsDir, NotRegularFile (a pipe or a
// device: the ranges need reads at any offset), EmptyFile, read errors,
// the header's errors (UnterminatedQuote, InvalidJson, ...), any worker's
// error (the last failing worker's, in range order), SystemResources or
// Unexpected when a thread cannot start, ColumnTooLarge, OutOfMemory.
Result<ColumnarScanResult> parallelScanColumnar(const char *path, char delimiter,
                                                std::span<const Predicate> predicates, bool negate,
                                                size_t num_threads);

}  // namespace rowkit
