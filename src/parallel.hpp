// The parallel columnar scan: a whole CSV or JSON-records file collected into
// columns by several threads over line-aligned byte ranges, with the same
// rows in the same order as a sequential scan.
//
// The data is cut into many small ranges, which the threads take in file
// order as they become free. The range that comes next in the result is
// scanned straight into the result's columns (with one thread, every range
// is). Any other is scanned into columns of its own until every range
// before it is in the result: if that happens while it is being read, its
// rows so far are appended and the rest goes straight into the result;
// otherwise, once read, it waits to be appended by whichever thread finds it
// next in line, while the others go on scanning. One thread appends at a
// time, and a range's own columns are reused for later ranges, so the peak
// stays near one copy of the result plus two ranges' columns per thread.
//
// The file is opened once. The format sniff, the header, the range planning
// and the workers all read that one descriptor with positional reads, so a
// file replaced by a rename during the call cannot give the planner one file
// and the workers another. Line boundaries are plain line feeds: a quoted
// CSV field holding a line break is cut in two, and the worker's quoted-field
// error surfaces. A file that is one JSON array cannot be cut at lines and is
// collected on the calling thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>

#include "alloc.hpp"
#include "collect.hpp"
#include "errors.hpp"
#include "ndjson.hpp"
#include "parallel_workers.hpp"
#include "progress.hpp"
#include "query.hpp"

namespace rowkit {

// ---- planning --------------------------------------------------------------

enum class SniffedFormat : uint8_t { line_delimited = 0, json_array = 1 };

// Every thread, and every range, is given at least this much data.
inline constexpr uint64_t kMinWorkerBytes = 65536;
// With more than one thread the data is cut into ranges of about this size,
// and into at least this many ranges per thread.
inline constexpr uint64_t kRangeBytes = 524288;
inline constexpr size_t kRangesPerThread = 8;
// The first window a range boundary is looked for in: lines are short.
inline constexpr size_t kBoundaryWindowBytes = 4096;
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

// Ranges for `data_len` bytes on `n_threads` threads (from threadsFor): one
// for one thread; otherwise one per 512 KiB, but at least 8 per thread and at
// most one per 64 KiB (at least one per thread). Many small ranges, handed
// out in order as threads become free, keep every thread busy to the end
// and keep what is scanned ahead of the merge small.
size_t rangesFor(size_t n_threads, uint64_t data_len);

// Where range k of `n_ranges` over [data_start, file_size) begins: the first
// line start at or after data_start + k * (an even share of the data), with
// range 0 beginning at data_start and range n_ranges (the end) at
// file_size. Each boundary depends on nothing but k, so the scan's threads
// find them as they take the ranges, at once and without waiting on each
// other. A line longer than a share makes the ranges it covers empty.
Result<uint64_t> rangeBoundary(int fd, uint64_t data_start, uint64_t file_size, size_t n_ranges,
                               size_t k);

// The `n_ranges` consecutive ranges between those boundaries, covering
// [data_start, file_size).
Result<Vec<Range>> splitRangesFrom(int fd, uint64_t data_start, uint64_t file_size,
                                   size_t n_ranges);

// json_array when the first byte among the first 256 that is not a space,
// tab, CR or LF is '['; line_delimited otherwise (whatever the file's name).
Result<SniffedFormat> sniffFormat(int fd, uint64_t file_size);

// The columns of an NDJSON file: the keys of the object on its first line,
// read from at most its first 1 MiB (a CR before the line feed dropped).
// InvalidJson when that line is not an object; OutOfMemory, read errors.
Result<JsonHeader> buildNdjsonHeader(int fd, uint64_t file_size);

// ---- threads ---------------------------------------------------------------

// What the calling thread reports to its progress target while it waits
// for the threads: `before` plus the bytes their chunk readers have
// consumed (which they add to *consumed), of `total`.
struct JoinProgress {
    ProgressTarget *target = nullptr;
    std::atomic<uint64_t> *consumed = nullptr;
    uint64_t before = 0;
    uint64_t total = 0;

    void report() const {
        target->report(before + consumed->load(std::memory_order_relaxed), total, 0);
    }
};

// Runs run(arg) on `n` threads of their own (16 MiB stack, one guard page)
// and joins them all. A thread that cannot be started fails with
// SystemResources (EAGAIN, or no thread attributes) or Unexpected (other
// errors), OutOfMemory when the thread records cannot be allocated; the
// threads already started are told to end early by abandon(arg) and
// joined first.
//
// With `progress`, each thread's chunk readers count what they consume into
// progress->consumed, and the calling thread reports before it waits, about
// ten times a second while it waits (where a timed join exists), and once
// more after the last join.
Status spawnAndJoin(size_t n, void (*run)(void *), void (*abandon)(void *), void *arg,
                    const JoinProgress *progress = nullptr);

#if ROWKIT_TEST_HOOKS
// Test hook: the nth thread start from now (1-based) fails with `err`
// instead of starting; 0 disables.
namespace parallel_hook {
void failThreadStartAt(uint64_t nth, int err);
}
#endif

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
// the header's errors (UnterminatedQuote, InvalidJson, ...), a range's
// error (the first failing range's in file order; the other threads stop
// after their current range),
// SystemResources or Unexpected when a thread cannot start, ColumnTooLarge,
// OutOfMemory.
Result<ColumnarScanResult> parallelScanColumnar(const char *path, char delimiter,
                                                std::span<const Predicate> predicates, bool negate,
                                                size_t num_threads);

}  // namespace rowkit
