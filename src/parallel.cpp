#include "parallel.hpp"

#include <errno.h>
#include <pthread.h>
#include <sched.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <optional>

#include "byte_search.hpp"
#include "chunk_reader.hpp"
#include "csv_scanner.hpp"
#include "file_io.hpp"

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

size_t rangesFor(size_t n_threads, uint64_t data_len) {
    if (n_threads <= 1) return 1;
    uint64_t n = (data_len + kRangeBytes - 1) / kRangeBytes;
    if (n < uint64_t{n_threads} * kRangesPerThread) n = uint64_t{n_threads} * kRangesPerThread;
    uint64_t most = data_len / kMinWorkerBytes;
    if (most < n_threads) most = n_threads;
    return static_cast<size_t>(n < most ? n : most);
}

Result<uint64_t> rangeBoundary(int fd, uint64_t data_start, uint64_t file_size, size_t n_ranges,
                               size_t k) {
    if (k == 0) return data_start;
    if (k >= n_ranges || data_start >= file_size) return file_size;
    const uint64_t share = (file_size - data_start) / n_ranges;
    return alignForwardToNewline(fd, data_start + share * k, file_size, kBoundaryWindowBytes);
}

Result<Vec<Range>> splitRangesFrom(int fd, uint64_t data_start, uint64_t file_size,
                                   size_t n_ranges) {
    Vec<Range> ranges;
    if (!ranges.reserve(n_ranges)) return Error::OutOfMemory;
    uint64_t start = data_start;
    for (size_t k = 1; k <= n_ranges; ++k) {
        Result<uint64_t> end = rangeBoundary(fd, data_start, file_size, n_ranges, k);
        if (!end.ok()) return end.error();
        (void)ranges.push(Range{start, *end});
        start = *end;
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
    // The first line is looked for in windows that double from 4 KiB: lines
    // are short, and reading the whole 1 MiB would cost more than the rest
    // of the planning.
    const size_t most =
        file_size < kNdjsonHeaderBytes ? static_cast<size_t>(file_size) : kNdjsonHeaderBytes;
    size_t want = most < kBoundaryWindowBytes ? most : kBoundaryWindowBytes;
    Bytes head;
    size_t line_len = 0;
    for (;;) {
        head.reset(static_cast<char *>(allocBytes(want)));
        if (!head) return Error::OutOfMemory;
        Result<size_t> got = readChunkAt(fd, head.get(), want, 0);
        if (!got.ok()) return got.error();
        line_len = bytes::findByte(head.get(), *got, '\n');
        if (line_len < *got || *got < want || want == most) break;
        want = want > most / 2 ? most : want * 2;
    }
    const std::string_view line = trimCR(std::string_view(head.get(), line_len));
    RecordMapper mapper;
    ROWKIT_TRY(mapper.init());
    ROWKIT_TRY(mapper.parse(line));
    JsonHeader header;
    ROWKIT_TRY(header.assign(mapper.parsed()));
    return header;
}

// ---- threads ---------------------------------------------------------------

namespace {

// What every thread is started with.
struct ThreadStart {
    void (*run)(void *) = nullptr;
    void *arg = nullptr;
    std::atomic<uint64_t> *consumed = nullptr;  // where its readers count, if anywhere
};

void *threadMain(void *p) {
    const ThreadStart *start = static_cast<const ThreadStart *>(p);
    if (start->consumed) {
        ProgressScope counting(start->consumed);
        start->run(start->arg);
    } else {
        start->run(start->arg);
    }
    return nullptr;
}

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

Status spawnAndJoin(size_t n, void (*run)(void *), void (*abandon)(void *), void *arg,
                    const JoinProgress *progress) {
    Vec<pthread_t> threads;
    if (!threads.resize(n)) return Error::OutOfMemory;
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) return Error::SystemResources;
    Status status;
    if (pthread_attr_setstacksize(&attr, kWorkerStackBytes) != 0 ||
        pthread_attr_setguardsize(&attr, pageSize()) != 0)
        status = Error::Unexpected;
    const ThreadStart start{run, arg, progress ? progress->consumed : nullptr};
    size_t started = 0;
    while (status.ok() && started < n) {
        const int rc = createThread(&threads[started], &attr, threadMain,
                                    const_cast<ThreadStart *>(&start));
        if (rc != 0) {
            status = rc == EAGAIN ? Error::SystemResources : Error::Unexpected;
            break;
        }
        ++started;
    }
    pthread_attr_destroy(&attr);
    if (!status.ok() && started > 0) abandon(arg);
    if (progress) progress->report();
    for (size_t i = 0; i < started; ++i)
        joinThread(threads[i], progress);
    if (progress) progress->report();
    return status;
}

// ---- the pipeline ----------------------------------------------------------

namespace {

// Columns a range is scanned into while the ranges before it are not all in
// the result yet: kept until it is appended there, then reused.
struct Chunk {
    Vec<ColumnBuf> columns;
    RangeCounts counts;
    Chunk *next_free = nullptr;
};

// The ranges of one scan, taken by the threads in file order and put into
// the result in file order. A range's bounds are found by the thread that
// takes it (the calling thread plans nothing but their number, so the
// threads start at once). Everything but the result's columns and the
// bounds is guarded by the mutex; the result's columns belong to the one
// thread that holds `merging_`, which it takes under the mutex.
class ColumnarPipeline {
public:
    ColumnarPipeline(const ScanColumnarJob &job, uint64_t data_start, uint64_t file_size,
                     size_t n_ranges, size_t n_threads)
        : job_(job),
          data_start_(data_start),
          file_size_(file_size),
          n_ranges_(n_ranges),
          max_chunks_(n_threads * kChunksPerThread) {}
    ColumnarPipeline(const ColumnarPipeline &) = delete;
    ColumnarPipeline &operator=(const ColumnarPipeline &) = delete;
    ~ColumnarPipeline() {
        if (!ready_) return;
        pthread_cond_destroy(&changed_);
        pthread_mutex_destroy(&mutex_);
    }

    // The empty result, the chunk records and the lock. OutOfMemory,
    // SystemResources.
    Status init() {
        Result<Vec<ColumnBuf>> columns = newColumnBufs(job_.n_cols);
        if (!columns.ok()) return columns.error();
        result_ = std::move(*columns);
        if (!published_.resize(n_ranges_) || !chunks_.resize(max_chunks_) ||
            !bounds_.resize(n_ranges_ + 1))
            return Error::OutOfMemory;
        for (uint64_t &b : bounds_) b = kUnknownBound;
        if (pthread_mutex_init(&mutex_, nullptr) != 0) return Error::SystemResources;
        if (pthread_cond_init(&changed_, nullptr) != 0) {
            pthread_mutex_destroy(&mutex_);
            return Error::SystemResources;
        }
        ready_ = true;
        return Status();
    }

    static void run(void *self) { static_cast<ColumnarPipeline *>(self)->work(); }
    static void abandon(void *self) {
        ColumnarPipeline &p = *static_cast<ColumnarPipeline *>(self);
        pthread_mutex_lock(&p.mutex_);
        p.stop_ = true;
        pthread_cond_broadcast(&p.changed_);
        pthread_mutex_unlock(&p.mutex_);
    }

    // After every thread has ended: the result, or the first failing
    // range's error.
    Result<ColumnarScanResult> finish() {
        if (error_) return *error_;
        ColumnarScanResult out;
        out.columns = std::move(result_);
        out.n_rows = totals_.n_rows;
        out.n_cols = job_.n_cols;
        out.n_skipped_lines = totals_.n_skipped_lines;
        out.n_emptied_values = totals_.n_emptied_values;
        return out;
    }

private:
    // Ranges a thread may hold in columns of their own at once, counting
    // those waiting to be appended; a thread that finds none free waits.
    static constexpr size_t kChunksPerThread = 2;

    void lock() { pthread_mutex_lock(&mutex_); }
    void unlock() { pthread_mutex_unlock(&mutex_); }

    // One thread: takes the next range until none is left or a range failed.
    void work() {
        RangeScanner scanner;
        const Status ready = scanner.init(&job_);
        lock();
        if (!ready.ok()) fail(n_ranges_, ready.error());
        while (!stop_ && next_range_ < n_ranges_) {
            const size_t i = next_range_;
            if (!merging_ && next_merge_ == i) {
                ++next_range_;
                takeMerging();
                unlock();
                scanIntoResult(scanner, i);
                lock();
                mergePublished();
                continue;
            }
            Chunk *chunk = takeChunk();
            if (!chunk) {
                pthread_cond_wait(&changed_, &mutex_);
                continue;
            }
            ++next_range_;
            unlock();
            ChunkMove move{this, i, chunk};
            const Status scanned = scanIntoChunk(scanner, move);
            lock();
            if (move.moved) {
                // The range went on straight into the result, and this
                // thread holds merging_.
                settle(i, scanned, chunk);
                mergePublished();
                continue;
            }
            if (!scanned.ok()) {
                fail(i, scanned.error());
                freeChunk(chunk);
                continue;
            }
            published_[i] = chunk;
            if (!merging_) {
                takeMerging();
                mergePublished();
            }
        }
        unlock();
    }

    // Range i, by the thread that took it; without the lock.
    Result<Range> rangeAt(size_t i) {
        Result<uint64_t> start = boundary(i);
        if (!start.ok()) return start.error();
        Result<uint64_t> end = boundary(i + 1);
        if (!end.ok()) return end.error();
        return Range{*start, *end};
    }

    // Boundary k, found once by whichever thread needs it first (two that
    // need it at once both find the same value).
    Result<uint64_t> boundary(size_t k) {
        std::atomic_ref<uint64_t> known(bounds_[k]);
        const uint64_t seen = known.load(std::memory_order_acquire);
        if (seen != kUnknownBound) return seen;
        Result<uint64_t> found = rangeBoundary(job_.fd, data_start_, file_size_, n_ranges_, k);
        if (found.ok()) known.store(*found, std::memory_order_release);
        return found;
    }

    // Boundary k of a range whose scan has begun, which found it.
    uint64_t foundBoundary(size_t k) {
        return std::atomic_ref<uint64_t>(bounds_[k]).load(std::memory_order_acquire);
    }

    // With the lock held: this thread takes merging_, which no thread holds.
    void takeMerging() {
        merging_ = true;
        open_head_.store(SIZE_MAX, std::memory_order_relaxed);
    }

    // Range i, which comes next in the result, scanned straight into it by
    // the thread that holds merging_.
    void scanIntoResult(RangeScanner &scanner, size_t i) {
        RangeCounts counts;
        // The result is sized for all the data from the first range's start.
        const uint64_t size_for = sized_ ? 0 : dataBytes();
        sized_ = true;
        ScanTarget target;
        target.columns = std::span<ColumnBuf>(result_.data(), result_.size());
        Result<Range> range = rangeAt(i);
        const Status scanned =
            range.ok() ? scanner.scan(*range, &target, size_for, &counts) : range.error();
        lock();
        if (scanned.ok()) {
            add(counts);
            next_merge_ = i + 1;
        } else {
            fail(i, scanned.error());
        }
        unlock();
    }

    // A range read into a chunk, which may go on straight into the result.
    struct ChunkMove {
        ColumnarPipeline *pipeline;
        size_t i;
        Chunk *chunk;
        bool moved = false;  // merging_ was taken and the chunk's rows appended
    };

    // Range i into the chunk, watching for the moment every range before it
    // is in the result and no thread is appending: the rows so far are then
    // appended, and the rest of the range is read straight into the result.
    Status scanIntoChunk(RangeScanner &scanner, ChunkMove &move) {
        Chunk &chunk = *move.chunk;
        if (chunk.columns.empty()) {
            Result<Vec<ColumnBuf>> columns = newColumnBufs(job_.n_cols);
            if (!columns.ok()) return columns.error();
            chunk.columns = std::move(*columns);
        } else {
            for (ColumnBuf &c : chunk.columns) {
                c.data.clear();
                c.offsets.truncate(1);
            }
        }
        chunk.counts = RangeCounts();
        Result<Range> found = rangeAt(move.i);
        if (!found.ok()) return found.error();
        const Range range = *found;
        ScanTarget target;
        target.columns = std::span<ColumnBuf>(chunk.columns.data(), chunk.columns.size());
        target.watch = &open_head_;
        target.watch_value = move.i;
        target.moveTo = moveToResult;
        target.ctx = &move;
        return scanner.scan(range, &target, range.end - range.start, &chunk.counts);
    }

    static Result<bool> moveToResult(void *ctx, ScanTarget *target) {
        ChunkMove &move = *static_cast<ChunkMove *>(ctx);
        ColumnarPipeline &p = *move.pipeline;
        p.lock();
        const bool claimed = !p.stop_ && !p.merging_ && p.next_merge_ == move.i;
        if (claimed) p.takeMerging();
        p.unlock();
        if (!claimed) return false;
        move.moved = true;
        ROWKIT_TRY(p.append(move.i, *move.chunk));
        target->columns = std::span<ColumnBuf>(p.result_.data(), p.result_.size());
        return true;
    }

    // With the lock and merging_ held: appends every published range that
    // comes next in the result, one after another, then gives up merging_.
    // The lock is let go during each copy, so that other threads can take
    // and publish ranges meanwhile.
    void mergePublished() {
        while (!stop_ && next_merge_ < n_ranges_ && published_[next_merge_]) {
            const size_t i = next_merge_;
            Chunk *chunk = published_[i];
            published_[i] = nullptr;
            unlock();
            const Status appended = append(i, *chunk);
            lock();
            settle(i, appended, chunk);
        }
        merging_ = false;
        open_head_.store(next_merge_, std::memory_order_relaxed);
        pthread_cond_broadcast(&changed_);
    }

    // Appends range i's columns to the result (by the thread holding
    // merging_). The first append sizes the result for all the data from
    // what the ranges so far hold, as a direct scan does.
    Status append(size_t i, const Chunk &chunk) {
        if (!sized_) {
            sized_ = true;
            const double scale = static_cast<double>(dataBytes()) /
                                 static_cast<double>(foundBoundary(i + 1) - data_start_) * 1.0625;
            const double max_data = static_cast<double>(columnByteLimit());
            for (size_t c = 0; c < result_.size(); ++c) {
                ColumnBuf &to = result_[c];
                const ColumnBuf &from = chunk.columns[c];
                double data = static_cast<double>(to.data.size() + from.data.size()) * scale + 64;
                if (data > max_data) data = max_data;
                const double rows = static_cast<double>(to.offsets.size() + from.rows()) * scale + 16;
                // An estimate that cannot be had is no failure.
                (void)to.data.reserve(static_cast<size_t>(data));
                (void)to.offsets.reserve(static_cast<size_t>(rows));
            }
        }
        for (size_t c = 0; c < result_.size(); ++c)
            ROWKIT_TRY(result_[c].appendColumn(chunk.columns[c]));
        return Status();
    }

    uint64_t dataBytes() const { return file_size_ - data_start_; }

    // With the lock held: a free chunk, or null when all are in use.
    Chunk *takeChunk() {
        if (free_) {
            Chunk *chunk = free_;
            free_ = chunk->next_free;
            return chunk;
        }
        return used_chunks_ < max_chunks_ ? &chunks_[used_chunks_++] : nullptr;
    }
    void freeChunk(Chunk *chunk) {
        chunk->next_free = free_;
        free_ = chunk;
        pthread_cond_broadcast(&changed_);
    }

    // With the lock held: range i, which was next in line, is in the
    // result when `status` is ok (its counts join the totals and the next
    // range is in line) or failed; its columns are free again either way.
    void settle(size_t i, Status status, Chunk *chunk) {
        if (status.ok()) {
            add(chunk->counts);
            next_merge_ = i + 1;
        } else {
            fail(i, status.error());
        }
        freeChunk(chunk);
    }

    void add(const RangeCounts &counts) {
        totals_.n_rows += counts.n_rows;
        totals_.n_skipped_lines += counts.n_skipped_lines;
        totals_.n_emptied_values += counts.n_emptied_values;
    }

    // With the lock held: range i failed (n_ranges_ for a thread's own
    // setup). The earliest range's error is kept, and every thread stops
    // after its current range.
    void fail(size_t i, Error err) {
        if (!error_ || i < failed_range_) {
            error_ = err;
            failed_range_ = i;
        }
        stop_ = true;
        pthread_cond_broadcast(&changed_);
    }

    const ScanColumnarJob &job_;
    const uint64_t data_start_;
    const uint64_t file_size_;
    const size_t n_ranges_;
    const size_t max_chunks_;
    static constexpr uint64_t kUnknownBound = UINT64_MAX;
    bool ready_ = false;
    pthread_mutex_t mutex_;
    pthread_cond_t changed_;  // a chunk was freed, merging_ was given up, or stop_ set

    // Range boundaries (kUnknownBound until found), read and written
    // atomically without the lock.
    Vec<uint64_t> bounds_;

    // Guarded by mutex_.
    size_t next_range_ = 0;    // the next range to take
    size_t next_merge_ = 0;    // the next range to put into the result
    bool merging_ = false;     // a thread is putting ranges into the result
    // next_merge_ while no thread holds merging_, else SIZE_MAX: what a
    // thread reading the next range into a chunk watches for.
    std::atomic<size_t> open_head_{0};
    bool stop_ = false;        // a range failed, or the threads are told to end
    Vec<Chunk *> published_;   // per range: its columns, scanned and waiting
    Vec<Chunk> chunks_;        // max_chunks_ records, the first used_chunks_ in use
    size_t used_chunks_ = 0;
    Chunk *free_ = nullptr;    // chunks taken before and free again
    RangeCounts totals_;       // of the ranges in the result
    std::optional<Error> error_;
    size_t failed_range_ = 0;

    // Belong to the thread holding merging_.
    Vec<ColumnBuf> result_;
    bool sized_ = false;  // the result was sized for all the data
};

}  // namespace

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
    ColumnarPipeline pipeline(job, data_start, file_size,
                              rangesFor(n_threads, file_size - data_start), n_threads);
    ROWKIT_TRY(pipeline.init());
    std::atomic<uint64_t> consumed{0};
    JoinProgress progress;
    progress.target = currentProgress();
    progress.consumed = &consumed;
    progress.before = data_start;
    progress.total = file_size;
    ROWKIT_TRY(spawnAndJoin(n_threads, ColumnarPipeline::run, ColumnarPipeline::abandon, &pipeline,
                            progress.target ? &progress : nullptr));
    return pipeline.finish();
}

}  // namespace rowkit
