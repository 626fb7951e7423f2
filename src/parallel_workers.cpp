#include "parallel_workers.hpp"

#include "csv.hpp"

namespace rowkit {

namespace {

// Sizes a worker's columns for `size_for` bytes of input from what the first
// part of the range put in them. Growing a column as rows come makes the
// allocator move it several times; one estimate taken early lets most
// columns reach their final size in one block. The first worker sizes its
// columns for the whole file, since they become the merged result: the
// merge then copies the other workers' values into place without moving the
// first worker's. Capacity never filled is address space only. Columns whose
// estimate falls short still grow as usual.
class ColumnSizer {
public:
    ColumnSizer(const Range &range, uint64_t size_for)
        : range_bytes_(range.end - range.start), size_for_(size_for) {}

    // Counts one line (and its line feed) and, once enough of the range has
    // been seen, reserves every column's estimate.
    void afterLine(size_t line_bytes, Vec<ColumnBuf> &columns, size_t n_rows) {
        if (done_) return;
        seen_ += line_bytes + 1;
        if (seen_ < kSampleBytes) return;
        done_ = true;
        // A range of at most twice the sample is nearly read already.
        if (range_bytes_ / 2 <= seen_ || n_rows == 0) return;
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

private:
    static constexpr uint64_t kSampleBytes = 65536;

    uint64_t range_bytes_;
    uint64_t size_for_;
    uint64_t seen_ = 0;
    bool done_ = false;
};

// Runs `on_line` over the worker's range into fresh columns, and leaves the
// columns in the worker on success or the error in `err` on failure.
template <class OnLine>
void runWorker(ScanColumnarWorker *w, OnLine &&on_line) {
    Result<Vec<ColumnBuf>> columns = newColumnBufs(w->job->n_cols);
    if (!columns.ok()) {
        w->err = columns.error();
        return;
    }
    Vec<ColumnBuf> cols = std::move(*columns);
    const bool first = w == w->job->first_worker;
    ColumnSizer sizer(w->range, first ? w->job->data_bytes : w->range.end - w->range.start);
    Status walked = forEachLineInRange(w->job->fd, w->range, [&](std::string_view line) -> Status {
        ROWKIT_TRY(on_line(line, cols));
        sizer.afterLine(line.size(), cols, w->n_rows);
        return Status();
    });
    if (!walked.ok()) {
        w->err = walked.error();
        w->n_rows = 0;
        return;
    }
    w->columns = std::move(cols);
}

}  // namespace

void csvScanColumnarWorkerRun(ScanColumnarWorker *w) {
    const ScanColumnarJob &job = *w->job;
    Vec<std::string_view> fields;
    ByteBuf quote_scratch;
    const InputLimits no_limits;
    runWorker(w, [&](std::string_view line, Vec<ColumnBuf> &columns) -> Status {
        size_t n = 0;
        ROWKIT_TRY(splitLine(line, job.delimiter, &quote_scratch, no_limits, SIZE_MAX, fields, &n));
        const Row row(fields.data(), n);
        if (!matches(row, job.predicates, job.negate)) return Status();
        ROWKIT_TRY(appendRowToColumns(std::span<ColumnBuf>(columns.data(), columns.size()), row));
        ++w->n_rows;
        return Status();
    });
}

void ndjsonScanColumnarWorkerRun(ScanColumnarWorker *w) {
    const ScanColumnarJob &job = *w->job;
    const JsonHeader &header = *job.header;
    RecordMapper mapper;
    Status ready = mapper.init();
    if (ready.ok()) ready = mapper.setWidth(header.size());
    if (!ready.ok()) {
        w->err = ready.error();
        return;
    }
    runWorker(w, [&](std::string_view line, Vec<ColumnBuf> &columns) -> Status {
        if (line.empty()) return Status();
        size_t emptied = 0;
        Result<Row> row =
            mapper.toRow(line, header, header.size(), NestedValues::leave_empty, &emptied);
        if (!row.ok()) {
            if (row.error() == Error::OutOfMemory) return Error::OutOfMemory;
            ++w->n_skipped_lines;
            return Status();
        }
        if (!matches(*row, job.predicates, job.negate)) return Status();
        ROWKIT_TRY(appendRowToColumns(std::span<ColumnBuf>(columns.data(), columns.size()), *row));
        ++w->n_rows;
        w->n_emptied_values += emptied;
        return Status();
    });
}

}  // namespace rowkit
