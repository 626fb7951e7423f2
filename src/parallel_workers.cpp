#include "parallel_workers.hpp"

#include "csv.hpp"

namespace rowkit {

namespace {

// Sizes columns for `size_for` bytes of input from what the first part of a
// range put in them (the columns are taken to have begun the range empty).
class ColumnSizer {
public:
    explicit ColumnSizer(uint64_t size_for) : size_for_(size_for), done_(size_for == 0) {}

    // Counts one line (and its line feed) and, once enough input has been
    // seen, reserves every column's estimate.
    void afterLine(size_t line_bytes, std::span<ColumnBuf> columns, size_t n_rows) {
        if (done_) return;
        seen_ += line_bytes + 1;
        if (seen_ < kSampleBytes) return;
        done_ = true;
        // Input of at most twice the sample is nearly read already.
        if (size_for_ / 2 <= seen_ || n_rows == 0) return;
        // The bytes sized for over the part seen, with a sixteenth to spare.
        const double scale =
            static_cast<double>(size_for_) / static_cast<double>(seen_) * 1.0625;
        const double max_data = static_cast<double>(columnByteLimit());
        const double rows = static_cast<double>(n_rows) * scale + 16;
        for (ColumnBuf &c : columns) {
            double data = static_cast<double>(c.data.size()) * scale + 64;
            if (data > max_data) data = max_data;
            // An estimate that cannot be had is no failure: the column then
            // grows as it fills.
            (void)c.data.reserve(static_cast<size_t>(data));
            (void)c.offsets.reserve(static_cast<size_t>(rows));
        }
    }

    void stop() { done_ = true; }

private:
    static constexpr uint64_t kSampleBytes = 65536;

    uint64_t size_for_;
    uint64_t seen_ = 0;
    bool done_;
};

}  // namespace

Status RangeScanner::init(const ScanColumnarJob *job) {
    job_ = job;
    ROWKIT_TRY(reader_.initRange(job->fd, 0, 0, kWorkerChunkBytes));
    if (job->header) {
        ROWKIT_TRY(mapper_.init());
        ROWKIT_TRY(mapper_.setWidth(job->header->size()));
    }
    return Status();
}

// Runs on_line (the line; a Status) over every line of the range.
template <class OnLine>
Status RangeScanner::walk(Range range, ScanTarget *target, uint64_t size_for, OnLine &&on_line) {
    reader_.moveToRange(range.start, range.end);
    ColumnSizer sizer(size_for);
    const InputLimits no_limits;
    uint32_t lines = 0;
    for (;;) {
        std::string_view line;
        Result<bool> got = reader_.nextLine(no_limits, &line);
        if (!got.ok()) return got.error();
        if (!*got) return Status();
        ROWKIT_TRY(on_line(line));
        sizer.afterLine(line.size(), target->columns,
                        target->columns.empty() ? 0 : target->columns[0].rows());
        // The watch is looked at every 32 lines: often enough to move early,
        // seldom enough to cost nothing.
        if (target->watch && (++lines & 31) == 0 &&
            target->watch->load(std::memory_order_relaxed) == target->watch_value) [[unlikely]] {
            Result<bool> moved = target->moveTo(target->ctx, target);
            if (!moved.ok()) return moved.error();
            if (*moved) {
                // The new columns hold more than this range: not for sizing.
                target->watch = nullptr;
                sizer.stop();
            }
        }
    }
}

Status RangeScanner::scan(Range range, ScanTarget *target, uint64_t size_for,
                          RangeCounts *counts) {
    // Counted on this thread's stack and stored once: the caller's record
    // may share a cache line with what another thread writes row by row.
    RangeCounts local;
    const Status status = scanCounting(range, target, size_for, &local);
    *counts = local;
    return status;
}

Status RangeScanner::scanCounting(Range range, ScanTarget *target, uint64_t size_for,
                                  RangeCounts *counts) {
    const ScanColumnarJob &job = *job_;
    if (!job.header) {
        const InputLimits no_limits;
        return walk(range, target, size_for, [&](std::string_view line) -> Status {
            size_t n = 0;
            ROWKIT_TRY(
                splitLine(line, job.delimiter, &quote_scratch_, no_limits, SIZE_MAX, fields_, &n));
            const Row row(fields_.data(), n);
            if (!matches(row, job.predicates, job.negate)) return Status();
            ROWKIT_TRY(appendRowToColumns(target->columns, row));
            ++counts->n_rows;
            return Status();
        });
    }
    const JsonHeader &header = *job.header;
    return walk(range, target, size_for, [&](std::string_view line) -> Status {
        if (line.empty()) return Status();
        size_t emptied = 0;
        Result<Row> row =
            mapper_.toRow(line, header, header.size(), NestedValues::leave_empty, &emptied);
        if (!row.ok()) {
            if (row.error() == Error::OutOfMemory) return Error::OutOfMemory;
            ++counts->n_skipped_lines;
            return Status();
        }
        if (!matches(*row, job.predicates, job.negate)) return Status();
        ROWKIT_TRY(appendRowToColumns(target->columns, *row));
        ++counts->n_rows;
        counts->n_emptied_values += emptied;
        return Status();
    });
}

}  // namespace rowkit
