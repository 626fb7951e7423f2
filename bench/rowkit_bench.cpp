// rowkit_bench DIR: measures librowkit through its public interface on the
// files gen_data writes into DIR.
//
// Every workload is compared with the machine's own limit measured in the
// same run: a memchr newline count over the same file with the same read
// size. Each workload and each baseline runs three times; the best time
// counts. A workload that prints a speed-up over another runs by turns with
// it, so that both are timed over the same stretch of time. MB is 1e6 bytes.
//
// To add a workload, write a function with the Workload::run signature and
// add a row to kWorkloads.

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "rowkit.h"

namespace {

constexpr std::size_t kReadBytes = 262144;
constexpr int kRepeats = 3;

// What one run of a workload got through.
struct Tally {
    std::uint64_t bytes = 0;  // input bytes the workload consumed
    std::uint64_t rows = 0;   // rows (or lines) it produced
    double untimed = 0;       // seconds of setup and cleanup not to count
};

struct Workload {
    const char* name;  // printed label
    const char* file;  // input file name inside DIR
    Tally (*run)(const std::string& path);
    const char* relative_to = nullptr;  // another workload to give the ratio to
    // When set: the workload this one's speed-up is printed against; the
    // two are timed by turns.
    const char* speedup_over = nullptr;
};

// Results feed this so the compiler cannot drop the work.
volatile std::uint64_t g_sink = 0;

[[noreturn]] void failRowkit(const char* call, const std::string& path) {
    const char* message = rowkit_last_error();
    std::fprintf(stderr, "rowkit_bench: %s on %s failed: %s\n", call, path.c_str(),
                 message != nullptr ? message : "(no message)");
    std::exit(1);
}

[[noreturn]] void failErrno(const char* what, const std::string& path) {
    std::fprintf(stderr, "rowkit_bench: %s %s: %s\n", what, path.c_str(), std::strerror(errno));
    std::exit(1);
}

double nowSeconds() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

std::uint64_t fileSize(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) failErrno("cannot stat", path);
    return static_cast<std::uint64_t>(st.st_size);
}

// ---- baseline ---------------------------------------------------------------

// The machine's limit for a file: read() it in kReadBytes pieces and count
// newlines with memchr.
Tally memchrLineCount(const std::string& path) {
    static std::vector<char> buffer(kReadBytes);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) failErrno("cannot open", path);
    Tally tally;
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            failErrno("cannot read", path);
        }
        if (n == 0) break;
        tally.bytes += static_cast<std::uint64_t>(n);
        const char* p = buffer.data();
        const char* end = p + n;
        while (p < end) {
            const void* hit = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
            if (hit == nullptr) break;
            ++tally.rows;
            p = static_cast<const char*>(hit) + 1;
        }
    }
    ::close(fd);
    return tally;
}

// ---- workloads --------------------------------------------------------------

// Pulls every row with no options and touches every field.
Tally csvNext(const std::string& path) {
    Ctx* ctx = rowkit_open(path.c_str(), nullptr);
    if (ctx == nullptr) failRowkit("rowkit_open", path);
    Tally tally;
    std::uint64_t checksum = 0;
    const char* const* fields = nullptr;
    std::size_t n = 0;
    int rc;
    while ((rc = rowkit_next(ctx, &fields, &n)) == 1) {
        ++tally.rows;
        for (std::size_t i = 0; i < n; ++i) {
            checksum += static_cast<unsigned char>(fields[i][0]) + std::strlen(fields[i]);
        }
    }
    if (rc < 0) failRowkit("rowkit_next", path);
    rowkit_close(ctx);
    g_sink = g_sink + checksum;
    tally.bytes = fileSize(path);
    return tally;
}

// The same loop over JSON records (one object per line): every row pulled
// with no options, every field touched.
Tally ndjsonNext(const std::string& path) { return csvNext(path); }

// ---- collect workloads --------------------------------------------------------

// Drains the whole file into one NUL-separated buffer and reads its ends.
Tally collectRowMajor(const std::string& path) {
    Ctx* ctx = rowkit_open(path.c_str(), nullptr);
    if (ctx == nullptr) failRowkit("rowkit_open", path);
    CollectCtx* cc = rowkit_collect(ctx);
    if (cc == nullptr) failRowkit("rowkit_collect", path);
    rowkit_close(ctx);
    std::size_t len = 0;
    const std::uint8_t* data = rowkit_collect_data(cc, &len);
    Tally tally;
    tally.rows = rowkit_collect_n_rows(cc);
    g_sink = g_sink + len + (len > 0 ? data[0] + data[len / 2] : 0);
    rowkit_collect_close(cc);
    tally.bytes = fileSize(path);
    return tally;
}

// Drains the whole file into per-column data and offsets and reads every
// column's last offset.
// The rows of a columnar result and every column's last offset (so that
// the result is read), freeing it.
Tally columnarTally(CollectColumnarCtx* cc, const std::string& path) {
    Tally tally;
    tally.rows = rowkit_collect_columnar_n_rows(cc);
    std::uint64_t checksum = 0;
    for (std::size_t c = 0; c < rowkit_collect_columnar_n_cols(cc); ++c) {
        std::size_t n = 0;
        const std::uint32_t* offsets = rowkit_collect_columnar_offsets(cc, c, &n);
        checksum += offsets[n - 1];
    }
    g_sink = g_sink + checksum;
    rowkit_collect_columnar_close(cc);
    tally.bytes = fileSize(path);
    return tally;
}

Tally collectColumnar(const std::string& path) {
    Ctx* ctx = rowkit_open(path.c_str(), nullptr);
    if (ctx == nullptr) failRowkit("rowkit_open", path);
    CollectColumnarCtx* cc = rowkit_collect_columnar(ctx);
    if (cc == nullptr) failRowkit("rowkit_collect_columnar", path);
    rowkit_close(ctx);
    return columnarTally(cc, path);
}

// ---- parallel collect workloads ----------------------------------------------

// Collects the whole file into columns on `threads` threads and reads every
// column's last offset.
Tally parallelCollect(const std::string& path, std::size_t threads) {
    CollectColumnarCtx* cc = rowkit_parallel_collect_columnar(path.c_str(), ',', nullptr, 0, 0, threads);
    if (cc == nullptr) failRowkit("rowkit_parallel_collect_columnar", path);
    return columnarTally(cc, path);
}

Tally parallelCollect1(const std::string& path) { return parallelCollect(path, 1); }
Tally parallelCollect2(const std::string& path) { return parallelCollect(path, 2); }

// What two cores give this machine for the same work without any sharing:
// two threads, each collecting one half of the file into a result of its
// own through a range handle, nothing merged. Its speed-up over the
// 1-thread parallel collect is the reference for the 2-thread one.
void collectHalf(const std::string& path, std::uint64_t start, std::uint64_t end,
                 std::uint64_t* rows) {
    Ctx* ctx = rowkit_open_range(path.c_str(), nullptr, start, end);
    if (ctx == nullptr) failRowkit("rowkit_open_range", path);
    CollectColumnarCtx* cc = rowkit_collect_columnar(ctx);
    if (cc == nullptr) failRowkit("rowkit_collect_columnar", path);
    rowkit_close(ctx);
    *rows = columnarTally(cc, path).rows;
}

Tally independentHalves(const std::string& path) {
    const std::uint64_t size = fileSize(path);
    std::uint64_t rows[2] = {0, 0};
    std::thread second(collectHalf, std::cref(path), size / 2, size, &rows[1]);
    collectHalf(path, 0, size / 2, &rows[0]);
    second.join();
    return Tally{size, rows[0] + rows[1], 0};
}

// ---- whole-result workloads ---------------------------------------------------

Ctx* openOrFail(const std::string& path, const COptions* options) {
    Ctx* ctx = rowkit_open(path.c_str(), options);
    if (ctx == nullptr) failRowkit("rowkit_open", path);
    return ctx;
}

COptions noOptions() {
    COptions o;
    std::memset(&o, 0, sizeof o);
    o.limit = -1;
    o.max_column = -1;
    return o;
}

Tally countWith(const std::string& path, const COptions* options) {
    Ctx* ctx = openOrFail(path, options);
    const std::int64_t n = rowkit_count(ctx);
    if (n < 0) failRowkit("rowkit_count", path);
    rowkit_close(ctx);
    return Tally{fileSize(path), static_cast<std::uint64_t>(n)};
}

// No predicate, limit or negation: lines are counted, not parsed.
Tally countFast(const std::string& path) { return countWith(path, nullptr); }

// A predicate every row passes (id >= 0, numeric) forces reading each row.
Tally countSlow(const std::string& path) {
    CPredicate every;
    std::memset(&every, 0, sizeof every);
    every.column = 0;
    every.op = ROWKIT_OP_GTE;
    every.value = "0";
    COptions o = noOptions();
    o.where = &every;
    o.n_where = 1;
    return countWith(path, &o);
}

// Statistics of price (column 2) where amount (column 1) > 0, reading only
// columns 0..2.
Tally aggregatePrice(const std::string& path) {
    CPredicate positive;
    std::memset(&positive, 0, sizeof positive);
    positive.column = 1;
    positive.op = ROWKIT_OP_GT;
    positive.value = "0";
    COptions o = noOptions();
    o.where = &positive;
    o.n_where = 1;
    o.max_column = 2;
    Ctx* ctx = openOrFail(path, &o);
    AggC agg;
    if (rowkit_aggregate(ctx, 2, &agg) != 0) failRowkit("rowkit_aggregate", path);
    rowkit_close(ctx);
    g_sink = g_sink + static_cast<std::uint64_t>(agg.sum);
    return Tally{fileSize(path), agg.count};
}

// The 10 rows with the highest price, whole rows handed out.
Tally top10(const std::string& path) {
    Ctx* ctx = openOrFail(path, nullptr);
    TopkCtx* top = rowkit_topk(ctx, 2, 10, 1);
    if (top == nullptr) failRowkit("rowkit_topk", path);
    rowkit_close(ctx);
    Tally tally{fileSize(path), 0};
    const char* const* fields = nullptr;
    std::size_t n = 0;
    double key = 0;
    int rc;
    while ((rc = rowkit_topk_next(top, &fields, &n, &key)) == 1) {
        ++tally.rows;
        g_sink = g_sink + n + static_cast<std::uint64_t>(key);
    }
    if (rc < 0) failRowkit("rowkit_topk_next", path);
    rowkit_topk_close(top);
    return tally;
}

// Every row ordered by price, handed out in order.
Tally orderByPrice(const std::string& path) {
    Ctx* ctx = openOrFail(path, nullptr);
    OrderByCtx* ordered = rowkit_order_by(ctx, 2, 0);
    if (ordered == nullptr) failRowkit("rowkit_order_by", path);
    rowkit_close(ctx);
    Tally tally{fileSize(path), 0};
    const char* const* fields = nullptr;
    std::size_t n = 0;
    int rc;
    while ((rc = rowkit_order_by_next(ordered, &fields, &n)) == 1) {
        ++tally.rows;
        g_sink = g_sink + static_cast<unsigned char>(fields[0][0]);
    }
    if (rc < 0) failRowkit("rowkit_order_by_next", path);
    rowkit_order_by_close(ordered);
    return tally;
}

// Rules on six columns of the generated files; about 3% of the rows break
// one (amount and price bounds), the rest only pass through the checks.
const char* const kSixRules =
    R"({"id": {"type": "integer", "required": true, "min": 1},)"
    R"( "amount": {"type": "integer", "min": -98000, "max": 98000},)"
    R"( "price": {"type": "float", "min": 0, "max": 9900},)"
    R"( "name": {"one_of": ["alice", "bob", "carol", "dave", "erin", "frank", "grace", "heidi",)"
    R"(   "ivan", "judy", "mallory", "niaj", "olivia", "peggy", "rupert", "sybil", "trent",)"
    R"(   "victor", "walter", "yara", "zoe", "quinn", "omar", "lena", "tariq", "mei", "sven",)"
    R"(   "ines", "kofi", "paula", "ravi", "ute"]},)"
    R"( "date": {"type": "datetime", "required": true},)"
    R"( "active": {"type": "boolean"}})";

// The whole file checked against the six rules into one report.
Tally validateSixColumns(const std::string& path) {
    ValidationReport* report = rowkit_validate(path.c_str(), kSixRules, 0);
    if (report == nullptr) failRowkit("rowkit_validate", path);
    const char* json = rowkit_validate_json(report);
    const char* total = std::strstr(json, "\"rows_total\":");
    Tally tally{fileSize(path), total ? std::strtoull(total + 13, nullptr, 10) : 0};
    const char* invalid = std::strstr(json, "\"rows_invalid\":");
    g_sink = g_sink + (invalid ? std::strtoull(invalid + 15, nullptr, 10) : 0);
    rowkit_validate_free(report);
    return tally;
}

// The same checks pulled row by row through the streaming validator, with
// every row's fields and errors text handed out.
Tally validatorStream(const std::string& path) {
    ValidatorCtx* v = rowkit_validator_open(path.c_str(), kSixRules);
    if (v == nullptr) failRowkit("rowkit_validator_open", path);
    Tally tally{fileSize(path), 0};
    const char* const* fields = nullptr;
    const char* errors = nullptr;
    std::size_t n = 0;
    std::uint64_t number = 0, checksum = 0;
    int rc;
    while ((rc = rowkit_validator_next(v, &fields, &n, &errors, &number)) == 1) {
        ++tally.rows;
        checksum += n + static_cast<unsigned char>(fields[0][0]) + (errors != nullptr ? 1 : 0);
    }
    if (rc < 0) failRowkit("rowkit_validator_next", path);
    rowkit_validator_close(v);
    g_sink = g_sink + checksum;
    return tally;
}

// Every row as JSON batches of 1,000 rows; each batch's text is touched.
// Every batch but the last holds 1,000 rows; the last one's rows are
// counted by their separators (no value of the generated data holds "],[").
Tally batches1000(const std::string& path) {
    Ctx* ctx = openOrFail(path, nullptr);
    Tally tally{fileSize(path), 0};
    Batch* batch = nullptr;
    Batch* last = nullptr;
    int rc;
    while ((rc = rowkit_next_batch(ctx, 1000, SIZE_MAX, &batch)) == 1) {
        std::size_t len = 0;
        const char* json = rowkit_batch_json(batch, &len);
        g_sink = g_sink + len + static_cast<unsigned char>(json[len / 2]);
        if (last != nullptr) tally.rows += 1000;
        rowkit_batch_free(last);
        last = batch;
    }
    if (rc < 0) failRowkit("rowkit_next_batch", path);
    if (last != nullptr) {
        const char* p = rowkit_batch_json(last, nullptr);
        for (; (p = std::strstr(p, "],[")) != nullptr; p += 3) ++tally.rows;
        ++tally.rows;
    }
    rowkit_batch_free(last);
    rowkit_close(ctx);
    return tally;
}

// Every row validated against the six rules as JSON batches of 1,000 rows.
Tally validatedBatches1000(const std::string& path) {
    ValidatorCtx* v = rowkit_validator_open(path.c_str(), kSixRules);
    if (v == nullptr) failRowkit("rowkit_validator_open", path);
    Tally tally{fileSize(path), 0};
    Batch* batch = nullptr;
    int rc;
    while ((rc = rowkit_validator_next_batch(v, 1000, SIZE_MAX, &batch)) == 1) {
        std::size_t len = 0;
        const char* json = rowkit_batch_json(batch, &len);
        g_sink = g_sink + len + static_cast<unsigned char>(json[len / 2]);
        rowkit_batch_free(batch);
    }
    if (rc < 0) failRowkit("rowkit_validator_next_batch", path);
    tally.rows = rowkit_validator_rows_total(v);
    rowkit_validator_close(v);
    return tally;
}

// The outputs of the split, next to the input; removed before and after
// each run (untimed).
std::string splitOutput(const std::string& path, const char* name) {
    return path.substr(0, path.rfind('/') + 1) + name;
}

void removeSplitOutputs(const std::string& path) {
    ::unlink(splitOutput(path, "split-accepted.csv").c_str());
    ::unlink(splitOutput(path, "split-rejected.jsonl").c_str());
}

// The six rules, splitting the file into an accepted CSV file and a
// rejected JSON-lines file, each synced to the disk before the call returns.
Tally validateToFiles(const std::string& path) {
    double start = nowSeconds();
    removeSplitOutputs(path);
    Tally tally{fileSize(path), 0, nowSeconds() - start};
    Stats stats;
    const std::string accepted = splitOutput(path, "split-accepted.csv");
    const std::string rejected = splitOutput(path, "split-rejected.jsonl");
    if (rowkit_validate_to_files(path.c_str(), kSixRules, accepted.c_str(), rejected.c_str(),
                                 &stats) != 0)
        failRowkit("rowkit_validate_to_files", path);
    tally.rows = stats.rows_total;
    start = nowSeconds();
    removeSplitOutputs(path);
    tally.untimed += nowSeconds() - start;
    return tally;
}

// What the sync of the split costs: as many bytes as the split writes
// (measured by one split, untimed) are written to two new files, untimed,
// and only their fsync and close are timed.
Tally syncOfSplit(const std::string& path) {
    static std::uint64_t output_bytes[2] = {0, 0};
    double start = nowSeconds();
    if (output_bytes[0] == 0) {
        Stats stats;
        const std::string a = splitOutput(path, "split-accepted.csv");
        const std::string r = splitOutput(path, "split-rejected.jsonl");
        if (rowkit_validate_to_files(path.c_str(), kSixRules, a.c_str(), r.c_str(), &stats) != 0)
            failRowkit("rowkit_validate_to_files", path);
        output_bytes[0] = fileSize(a);
        output_bytes[1] = fileSize(r);
        removeSplitOutputs(path);
    }
    static std::vector<char> chunk(1 << 16, 'x');
    int fds[2];
    for (int i = 0; i < 2; ++i) {
        const std::string name = splitOutput(path, i == 0 ? "sync-a" : "sync-b");
        ::unlink(name.c_str());
        fds[i] = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fds[i] < 0) failErrno("cannot create", name);
        for (std::uint64_t left = output_bytes[i]; left > 0;) {
            const std::size_t n =
                left < chunk.size() ? static_cast<std::size_t>(left) : chunk.size();
            const ssize_t w = ::write(fds[i], chunk.data(), n);
            if (w <= 0) failErrno("cannot write", name);
            left -= static_cast<std::uint64_t>(w);
        }
    }
    Tally tally{fileSize(path), 0, nowSeconds() - start};
    for (int fd : fds) {
        if (::fsync(fd) != 0) failErrno("cannot sync", path);
        ::close(fd);
    }
    start = nowSeconds();
    ::unlink(splitOutput(path, "sync-a").c_str());
    ::unlink(splitOutput(path, "sync-b").c_str());
    tally.untimed += nowSeconds() - start;
    return tally;
}

constexpr Workload kWorkloads[] = {
    {"csv next", "rows.csv", csvNext},
    {"ndjson next", "rows.ndjson", ndjsonNext},
    {"csv collect", "rows.csv", collectRowMajor},
    {"csv collect col", "rows.csv", collectColumnar},
    {"ndjson collect", "rows.ndjson", collectRowMajor},
    {"ndjson collect col", "rows.ndjson", collectColumnar},
    {"csv parallel 1t", "rows.csv", parallelCollect1},
    {"csv parallel 2t", "rows.csv", parallelCollect2, nullptr, "csv parallel 1t"},
    {"ndjson parallel 1t", "rows.ndjson", parallelCollect1},
    {"ndjson parallel 2t", "rows.ndjson", parallelCollect2, nullptr, "ndjson parallel 1t"},
    {"csv halves 2t", "rows.csv", independentHalves, nullptr, "csv parallel 1t"},
    {"ndjson halves 2t", "rows.ndjson", independentHalves, nullptr, "ndjson parallel 1t"},
    {"count fast path", "rows.csv", countFast},
    {"count slow path", "rows.csv", countSlow},
    {"aggregate where", "rows.csv", aggregatePrice},
    {"top-10", "rows.csv", top10},
    {"order-by", "rows32.csv", orderByPrice},
    {"validate 6 rules", "rows.csv", validateSixColumns},
    {"validator stream", "rows.csv", validatorStream, "validate 6 rules"},
    {"batches of 1000", "rows.csv", batches1000},
    {"validated batches", "rows.csv", validatedBatches1000, "validate 6 rules"},
    {"validate to files", "rows.csv", validateToFiles, "validate 6 rules"},
    {"fsync of the split", "rows.csv", syncOfSplit, "validate to files"},
};

// ---- runner -----------------------------------------------------------------

const Workload* workloadNamed(const char* name) {
    for (const Workload& workload : kWorkloads) {
        if (std::strcmp(workload.name, name) == 0) return &workload;
    }
    return nullptr;
}

struct Measured {
    Tally tally;
    double seconds = 0;
    double mbPerSecond() const { return seconds > 0 ? static_cast<double>(tally.bytes) / seconds / 1e6 : 0; }
};

// Runs `run` once more, keeping the run in *best when it is the first or
// the fastest so far.
void keepBest(Tally (*run)(const std::string&), const std::string& path, bool first,
              Measured* best) {
    const double start = nowSeconds();
    const Tally tally = run(path);
    const double seconds = nowSeconds() - start - tally.untimed;
    if (first || seconds < best->seconds) {
        best->tally = tally;
        best->seconds = seconds;
    }
}

Measured bestOf(Tally (*run)(const std::string&), const std::string& path) {
    Measured best;
    for (int i = 0; i < kRepeats; ++i) keepBest(run, path, i == 0, &best);
    return best;
}

// The best of `run` and of `over`, run by turns. A speed-up between them is
// then taken over the same stretch of time: a slow spell of the machine (on
// a VM, its neighbours' load) weighs on both sides instead of on one.
void bestOfByTurns(Tally (*run)(const std::string&), Tally (*over)(const std::string&),
                   const std::string& path, Measured* best, Measured* best_over) {
    for (int i = 0; i < kRepeats; ++i) {
        keepBest(over, path, i == 0, best_over);
        keepBest(run, path, i == 0, best);
    }
}

struct Baseline {
    std::string file;
    double mb_per_second;
};

std::vector<Baseline> g_baselines;

// Throughput of every workload run so far, for the speed-up lines.
struct Result {
    std::string name;
    double mb_per_second;
};

std::vector<Result> g_results;

// The memchr line count of `file`, measured and printed the first time a
// workload reads that file.
double baselineFor(const std::string& dir, const std::string& file) {
    for (const Baseline& baseline : g_baselines) {
        if (baseline.file == file) return baseline.mb_per_second;
    }
    const Measured m = bestOf(memchrLineCount, dir + "/" + file);
    std::printf("%-20s%8.1f MB/s   %-33s (lines %llu)\n", "memchr line count", m.mbPerSecond(),
                file.c_str(), static_cast<unsigned long long>(m.tally.rows));
    std::fflush(stdout);
    g_baselines.push_back({file, m.mbPerSecond()});
    return m.mbPerSecond();
}

void runWorkload(const std::string& dir, const Workload& workload) {
    const double limit = baselineFor(dir, workload.file);
    const std::string path = dir + "/" + workload.file;
    const Workload* over = workload.speedup_over ? workloadNamed(workload.speedup_over) : nullptr;
    Measured m;
    Measured m_over;
    if (over != nullptr)
        bestOfByTurns(workload.run, over->run, path, &m, &m_over);
    else
        m = bestOf(workload.run, path);
    const double ratio = limit > 0 ? m.mbPerSecond() / limit : 0;
    std::printf("%-20s%8.1f MB/s   ratio %.2f of memchr line count   (rows %llu)", workload.name,
                m.mbPerSecond(), ratio, static_cast<unsigned long long>(m.tally.rows));
    for (const Result& other : g_results) {
        if (workload.relative_to == nullptr || other.name != workload.relative_to) continue;
        const double times = m.mbPerSecond() > 0 ? other.mb_per_second / m.mbPerSecond() : 0;
        std::printf("   time %.2fx %s", times, workload.relative_to);
    }
    if (over != nullptr && m_over.mbPerSecond() > 0)
        std::printf("   speed-up %.2fx over %s", m.mbPerSecond() / m_over.mbPerSecond(), over->name);
    std::printf("\n");
    std::fflush(stdout);
    g_results.push_back({workload.name, m.mbPerSecond()});
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr,
                     "usage: rowkit_bench DIR [WORKLOAD...]   (DIR as written by gen_data; the\n"
                     "       named workloads only, e.g. \"top-10\", when any are given)\n");
        return 2;
    }
    const std::string dir = argv[1];

    for (const Workload& workload : kWorkloads) {
        const std::string path = dir + "/" + workload.file;
        struct stat st;
        if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
            std::fprintf(stderr, "rowkit_bench: %s is missing; run `gen_data %s` first\n", path.c_str(),
                         dir.c_str());
            return 1;
        }
    }

    for (const Workload& workload : kWorkloads) {
        bool wanted = argc == 2;
        for (int i = 2; i < argc; ++i) wanted = wanted || std::strcmp(argv[i], workload.name) == 0;
        if (wanted) runWorkload(dir, workload);
    }
    return 0;
}
