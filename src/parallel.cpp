#include "parallel.hpp"

#include <errno.h>
#include <pthread.h>
#include <sched.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <memory>

#include "byte_search.hpp"
#include "chunk_reader.hpp"
#include "csv_scanner.hpp"
#include "file_io.hpp"
#include "progress.hpp"

namespace rowkit {

namespace {

struct FreeBytes {
    void operator()(char *p) const { freeBytes(p); }
};
using Bytes = std::unique_ptr<char, FreeBytes>;

#if ROWKIT_TEST_HOOKS
std::atomic<uint64_t> g_thread_starts{0};
std::atomic<uint64_t> g_fail_thread_start_at{0};
std::atomic<int> g_fail_thread_start_errno{0};

int createThread(pthread_t *thread, const pthread_attr_t *attr, void *(*entry)(void *), void *arg) {
    const uint64_t at = g_fail_thread_start_at.load(std::memory_order_relaxed);
    if (at != 0 && g_thread_starts.fetch_add(1, std::memory_order_relaxed) + 1 == at) {
        g_fail_thread_start_at.store(0, std::memory_order_relaxed);
        return g_fail_thread_start_errno.load(std::memory_order_relaxed);
    }
    return pthread_create(thread, attr, entry, arg);
}
#else
int createThread(pthread_t *thread, const pthread_attr_t *attr, void *(*entry)(void *), void *arg) {
    return pthread_create(thread, attr, entry, arg);
}
#endif

}  // namespace

#if ROWKIT_TEST_HOOKS
namespace parallel_hook {
void failThreadStartAt(uint64_t nth, int err) {
    g_thread_starts.store(0, std::memory_order_relaxed);
    g_fail_thread_start_errno.store(err, std::memory_order_relaxed);
    g_fail_thread_start_at.store(nth, std::memory_order_relaxed);
}
}  // namespace parallel_hook
#endif

// ---- planning --------------------------------------------------------------

size_t processorCount() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
    const int n = CPU_COUNT(&set);
    return n > 0 ? static_cast<size_t>(n) : 1;
}

size_t pageSize() {
    static std::atomic<size_t> cached{0};
    size_t size = cached.load(std::memory_order_relaxed);
    if (size == 0) {
        const long queried = sysconf(_SC_PAGESIZE);
        size = queried > 0 ? static_cast<size_t>(queried) : 4096;
        cached.store(size, std::memory_order_relaxed);
    }
    return size;
}

size_t threadsFor(size_t requested, uint64_t data_len) {
    uint64_t useful = data_len / kMinWorkerBytes;
    if (useful == 0) useful = 1;
    uint64_t n = requested < useful ? requested : useful;
    return n == 0 ? 1 : static_cast<size_t>(n);
}

Result<Vec<Range>> splitRangesFrom(int fd, uint64_t data_start, uint64_t file_size,
                                   size_t num_threads) {
    Vec<Range> ranges;
    if (!ranges.reserve(num_threads)) return Error::OutOfMemory;
    const uint64_t span = file_size > data_start ? file_size - data_start : 0;
    const uint64_t approx_chunk = span / num_threads;
    uint64_t start = data_start;
    for (size_t i = 0; i < num_threads; ++i) {
        uint64_t end = file_size;
        if (i + 1 < num_threads) {
            Result<uint64_t> aligned = alignForwardToNewline(fd, start + approx_chunk, file_size);
            if (!aligned.ok()) return aligned.error();
            end = *aligned;
        }
        (void)ranges.push(Range{start, end});
        start = end;
    }
    return ranges;
}

Result<SniffedFormat> sniffFormat(int fd, uint64_t file_size) {
    char head[kSniffBytes];
    const size_t want = file_size < kSniffBytes ? static_cast<size_t>(file_size) : kSniffBytes;
    Result<size_t> got = readChunkAt(fd, head, want, 0);
    if (!got.ok()) return got.error();
    for (size_t i = 0; i < *got; ++i) {
        const char c = head[i];
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') continue;
        return c == '[' ? SniffedFormat::json_array : SniffedFormat::line_delimited;
    }
    return SniffedFormat::line_delimited;
}

Result<JsonHeader> buildNdjsonHeader(int fd, uint64_t file_size) {
    const size_t want =
        file_size < kNdjsonHeaderBytes ? static_cast<size_t>(file_size) : kNdjsonHeaderBytes;
    Bytes head(static_cast<char *>(allocBytes(want)));
    if (!head) return Error::OutOfMemory;
    Result<size_t> got = readChunkAt(fd, head.get(), want, 0);
    if (!got.ok()) return got.error();
    const std::string_view line =
        trimCR(std::string_view(head.get(), bytes::findByte(head.get(), *got, '\n')));
    RecordMapper mapper;
    ROWKIT_TRY(mapper.init());
    ROWKIT_TRY(mapper.parse(line));
    JsonHeader header;
    ROWKIT_TRY(header.assign(mapper.parsed()));
    return header;
}

// ---- threads ---------------------------------------------------------------

namespace {

// What a thread is started with.
struct ThreadStart {
    pthread_t thread{};
    ScanColumnarWorker *worker = nullptr;
    WorkerRun run = nullptr;
};

void *threadMain(void *arg) {
    ThreadStart *start = static_cast<ThreadStart *>(arg);
    if (std::atomic<uint64_t> *consumed = start->worker->job->consumed) {
        ProgressScope counting(consumed);
        start->run(start->worker);
    } else {
        start->run(start->worker);
    }
    return nullptr;
}

// The calling thread's reports while the workers run: the bytes before
// their ranges, plus what they have consumed, of the whole file.
struct JoinProgress {
    ProgressTarget *target = nullptr;
    const std::atomic<uint64_t> *consumed = nullptr;
    uint64_t before = 0;
    uint64_t total = 0;

    void report() const {
        target->report(before + consumed->load(std::memory_order_relaxed), total, 0);
    }
};

// Waits for `thread` to end, reporting every 100 ms meanwhile when
// `progress` is set and the platform has a timed join.
void joinThread(pthread_t thread, const JoinProgress *progress) {
#if defined(__GLIBC__)
    constexpr long kNanosPerSecond = 1000000000L;
    constexpr long kReportNanos = kNanosPerSecond / 10;
    if (progress) {
        for (;;) {
            struct timespec until;
            clock_gettime(CLOCK_REALTIME, &until);
            until.tv_nsec += kReportNanos;
            if (until.tv_nsec >= kNanosPerSecond) {
                until.tv_sec += 1;
                until.tv_nsec -= kNanosPerSecond;
            }
            const int rc = pthread_timedjoin_np(thread, nullptr, &until);
            if (rc == 0) return;
            if (rc != ETIMEDOUT) break;  // joined below without a deadline
            progress->report();
        }
    }
#else
    (void)progress;
#endif
    pthread_join(thread, nullptr);
}

}  // namespace

Status spawnAndJoin(std::span<ScanColumnarWorker> workers, WorkerRun run) {
    Vec<ThreadStart> starts;
    if (!starts.resize(workers.size())) return Error::OutOfMemory;
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) return Error::SystemResources;
    Status status;
    if (pthread_attr_setstacksize(&attr, kWorkerStackBytes) != 0 ||
        pthread_attr_setguardsize(&attr, pageSize()) != 0)
        status = Error::Unexpected;
    size_t started = 0;
    while (status.ok() && started < workers.size()) {
        ThreadStart &start = starts[started];
        start.worker = &workers[started];
        start.run = run;
        const int rc = createThread(&start.thread, &attr, threadMain, &start);
        if (rc != 0) {
            status = rc == EAGAIN ? Error::SystemResources : Error::Unexpected;
            break;
        }
        ++started;
    }
    pthread_attr_destroy(&attr);
    JoinProgress progress;
    const bool reporting = !workers.empty() && workers[0].job->consumed && currentProgress();
    if (reporting) {
        progress.target = currentProgress();
        progress.consumed = workers[0].job->consumed;
        progress.before = workers[0].range.start;
        progress.total = workers[0].range.start + workers[0].job->data_bytes;
    }
    if (reporting) progress.report();
    for (size_t i = 0; i < started; ++i)
        joinThread(starts[i].thread, reporting ? &progress : nullptr);
    if (reporting) progress.report();
    return status;
}

// ---- merging ---------------------------------------------------------------

namespace {

// One worker's share of one column, copied to its place in the merged column.
struct MergeCopy {
    ColumnBuf *from = nullptr;  // freed once copied
    ColumnBuf *to = nullptr;
    size_t data_at = 0;     // where its bytes go in the merged data
    size_t offsets_at = 0;  // where its end offsets go in the merged offsets
};

struct MergeCopies {
    std::span<MergeCopy> copies;
    std::atomic<size_t> next{0};
};

// Takes copies off the shared list until none is left. The copies write
// disjoint parts of the merged columns and free disjoint worker columns, so
// any number of threads may run this at once.
void *runMergeCopies(void *arg) {
    MergeCopies &shared = *static_cast<MergeCopies *>(arg);
    for (;;) {
        const size_t i = shared.next.fetch_add(1, std::memory_order_relaxed);
        if (i >= shared.copies.size()) return nullptr;
        MergeCopy &copy = shared.copies[i];
        const size_t n = copy.from->rows();
        copyBytes(reinterpret_cast<char *>(copy.to->data.data()) + copy.data_at,
                  reinterpret_cast<const char *>(copy.from->data.data()), copy.from->data.size());
        // The worker's offsets after its leading 0, moved up by where its
        // bytes begin; the sums stay within the column limit checked first.
        const uint32_t base = static_cast<uint32_t>(copy.data_at);
        const uint32_t *src = copy.from->offsets.data() + 1;
        uint32_t *dst = copy.to->offsets.data() + copy.offsets_at;
        for (size_t r = 0; r < n; ++r) dst[r] = src[r] + base;
        copy.from->deinit();
    }
}

// Runs the copies on the calling thread and on up to `helpers` more threads.
// A helper that cannot start leaves its share to the others, so the copies
// always complete.
void shareMergeCopies(MergeCopies &shared, size_t helpers) {
    Vec<pthread_t> threads;
    if (!threads.reserve(helpers)) helpers = 0;
    for (size_t i = 0; i < helpers; ++i) {
        pthread_t thread;
        if (createThread(&thread, nullptr, runMergeCopies, &shared) != 0) break;
        (void)threads.push(thread);
    }
    runMergeCopies(&shared);
    for (pthread_t thread : threads)
        pthread_join(thread, nullptr);
}

}  // namespace

Result<MergedColumns> mergeColumnarWorkers(std::span<ScanColumnarWorker> workers, size_t n_cols) {
    MergedColumns merged;
    for (const ScanColumnarWorker &w : workers)
        merged.n_rows += w.n_rows;
    if (workers.empty()) {
        Result<Vec<ColumnBuf>> empty = newColumnBufs(n_cols);
        if (!empty.ok()) return empty.error();
        merged.columns = std::move(*empty);
        return merged;
    }
    // Check every column's total before anything moves.
    for (size_t c = 0; c < n_cols; ++c) {
        size_t total = 0;
        for (const ScanColumnarWorker &w : workers) {
            if (__builtin_add_overflow(total, w.columns[c].data.size(), &total))
                return Error::ColumnTooLarge;
        }
        if (total > columnByteLimit()) return Error::ColumnTooLarge;
    }
    Vec<MergeCopy> copies;
    if (!copies.reserve((workers.size() - 1) * n_cols)) return Error::OutOfMemory;
    // The first worker's columns become the result. They were sized for the
    // whole file as it was read, so they usually hold every worker's values
    // without moving.
    for (size_t c = 0; c < n_cols; ++c) {
        size_t total = 0;
        for (const ScanColumnarWorker &w : workers)
            total += w.columns[c].data.size();
        ColumnBuf &column = workers[0].columns[c];
        if (!column.data.reserve(total) || !column.offsets.reserve(merged.n_rows + 1))
            return Error::OutOfMemory;
    }
    merged.columns = std::move(workers[0].columns);
    for (size_t c = 0; c < n_cols; ++c) {
        ColumnBuf &column = merged.columns[c];
        size_t data_at = column.data.size();
        size_t offsets_at = column.offsets.size();
        for (ScanColumnarWorker &w : workers.subspan(1)) {
            ColumnBuf &from = w.columns[c];
            (void)copies.push(MergeCopy{&from, &column, data_at, offsets_at});
            data_at += from.data.size();
            offsets_at += from.rows();
        }
        // Every byte and offset counted here is written by its copy below
        // before the result is handed out.
        column.data.commit(data_at - column.data.size());
        column.offsets.commit(offsets_at - column.offsets.size());
    }
    MergeCopies shared;
    shared.copies = std::span<MergeCopy>(copies.data(), copies.size());
    shareMergeCopies(shared, workers.size() - 1);
    for (ScanColumnarWorker &w : workers.subspan(1))
        w.columns = Vec<ColumnBuf>();
    return merged;
}

// ---- the scan --------------------------------------------------------------

namespace {

// The field count of the CSV header line, read by the CSV reader over the
// descriptor.
Result<size_t> csvHeaderWidth(int fd, uint64_t file_size, char delimiter) {
    ChunkReader reader;
    ROWKIT_TRY(reader.initRange(fd, 0, file_size, kDefaultChunkSize));
    ScannerOptions options;
    options.delimiter = delimiter;
    Result<Scanner> scanner = Scanner::fromChunks(std::move(reader), options);
    if (!scanner.ok()) return scanner.error();
    return scanner->header().size();
}

// A JSON array, collected on the calling thread by the sequential reader
// over the descriptor, with the predicates and no projection or limit.
Result<ColumnarScanResult> scanJsonArray(const char *path, int fd, uint64_t file_size,
                                         std::span<const Predicate> predicates, bool negate) {
    ChunkReader reader;
    ROWKIT_TRY(reader.initRange(fd, 0, file_size, kDefaultChunkSize));
    QueryOptions options;
    options.where = predicates;
    options.negate = negate;
    Result<Query> query = Query::fromReader(std::move(reader), Format::ndjson, options,
                                            std::string_view(path, std::strlen(path)));
    if (!query.ok()) return query.error();
    ColumnarScanResult out;
    out.n_cols = query->width();
    Result<Vec<ColumnBuf>> columns = newColumnBufs(out.n_cols);
    if (!columns.ok()) return columns.error();
    out.columns = std::move(*columns);
    for (;;) {
        RowResult r = query->next();
        if (!r.ok()) return r.error();
        if (!r->has_value()) return out;
        ROWKIT_TRY(appendRowToColumns(std::span<ColumnBuf>(out.columns.data(), out.n_cols), **r));
        ++out.n_rows;
    }
}

}  // namespace

Result<ColumnarScanResult> parallelScanColumnar(const char *path, char delimiter,
                                                std::span<const Predicate> predicates, bool negate,
                                                size_t num_threads) {
    Result<OpenedFile> opened = openRegularFile(path);
    if (!opened.ok()) return opened.error();
    const int fd = opened->file.fd();
    const uint64_t file_size = opened->size;
    if (file_size == 0) return Error::EmptyFile;

    Result<SniffedFormat> sniffed = sniffFormat(fd, file_size);
    if (!sniffed.ok()) return sniffed.error();
    if (*sniffed == SniffedFormat::json_array)
        return scanJsonArray(path, fd, file_size, predicates, negate);

    ScanColumnarJob job;
    job.fd = fd;
    job.predicates = predicates;
    job.negate = negate;
    job.delimiter = delimiter;
    const Format format = inferFormat(path);
    JsonHeader header;
    uint64_t data_start = 0;  // JSON records: the first line is a row too
    if (format == Format::csv) {
        Result<size_t> width = csvHeaderWidth(fd, file_size, delimiter);
        if (!width.ok()) return width.error();
        job.n_cols = *width;
        Result<uint64_t> after_header = alignForwardToNewline(fd, 0, file_size);
        if (!after_header.ok()) return after_header.error();
        data_start = *after_header;
        // A file of nothing but its header line has no rows and, like a
        // sequential collect without rows, no columns.
        if (data_start >= file_size) {
            if (ProgressTarget *progress = currentProgress())
                progress->report(file_size, file_size, 0);
            return ColumnarScanResult();
        }
    } else {
        Result<JsonHeader> built = buildNdjsonHeader(fd, file_size);
        if (!built.ok()) return built.error();
        header = std::move(*built);
        job.n_cols = header.size();
        job.header = &header;
    }

    const size_t n_threads =
        threadsFor(num_threads != 0 ? num_threads : processorCount(), file_size - data_start);
    Result<Vec<Range>> ranges = splitRangesFrom(fd, data_start, file_size, n_threads);
    if (!ranges.ok()) return ranges.error();
    Vec<ScanColumnarWorker> workers;
    if (!workers.resize(n_threads)) return Error::OutOfMemory;
    job.data_bytes = file_size - data_start;
    std::atomic<uint64_t> consumed{0};
    if (currentProgress()) job.consumed = &consumed;
    job.first_worker = &workers[0];
    for (size_t i = 0; i < n_threads; ++i) {
        workers[i].job = &job;
        workers[i].range = (*ranges)[i];
    }
    ROWKIT_TRY(spawnAndJoin(
        std::span<ScanColumnarWorker>(workers.data(), workers.size()),
        format == Format::csv ? csvScanColumnarWorkerRun : ndjsonScanColumnarWorkerRun));
    std::optional<Error> failed;
    for (const ScanColumnarWorker &w : workers)
        if (w.err) failed = w.err;
    if (failed) return *failed;

    Result<MergedColumns> merged = mergeColumnarWorkers(
        std::span<ScanColumnarWorker>(workers.data(), workers.size()), job.n_cols);
    if (!merged.ok()) return merged.error();
    ColumnarScanResult out;
    out.columns = std::move(merged->columns);
    out.n_rows = merged->n_rows;
    out.n_cols = job.n_cols;
    for (const ScanColumnarWorker &w : workers) {
        out.n_skipped_lines += w.n_skipped_lines;
        out.n_emptied_values += w.n_emptied_values;
    }
    return out;
}

}  // namespace rowkit
