#include "query.hpp"

#include <cstring>

#include "numeric.hpp"

namespace rowkit {

Format inferFormat(std::string_view path) {
    if (path.ends_with(".ndjson") || path.ends_with(".jsonl") || path.ends_with(".json"))
        return Format::ndjson;
    return Format::csv;
}

Predicate Predicate::init(size_t column, Op op, std::string_view value) {
    Predicate p;
    p.column = column;
    p.op = op;
    p.value = value;
    p.numeric_value = parseNumeric(value);
    return p;
}

Predicate Predicate::initIn(size_t column, std::span<const std::string_view> values) {
    Predicate p;
    p.column = column;
    p.op = Op::in_list;
    p.values = values;
    return p;
}

int compareBytes(std::string_view a, std::string_view b) {
    size_t n = a.size() < b.size() ? a.size() : b.size();
    if (n) {
        int c = std::memcmp(a.data(), b.data(), n);
        if (c != 0) return c;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

namespace {

bool sameText(std::string_view a, std::string_view b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size()) == 0);
}

template <class T>
bool compareWith(Op op, const T &a, const T &b) {
    switch (op) {
        case Op::eq: return a == b;
        case Op::neq: return a != b;
        case Op::gt: return a > b;
        case Op::gte: return a >= b;
        case Op::lt: return a < b;
        case Op::lte: return a <= b;
        case Op::in_list: break;
    }
    return false;
}

}  // namespace

bool evalOne(std::string_view field, const Predicate &p) {
    if (p.op == Op::in_list) {
        for (std::string_view v : p.values) {
            std::optional<double> x = parseNumeric(v);
            if (x) {
                std::optional<double> y = parseNumeric(field);
                if (y) {
                    if (*x == *y) return true;
                    continue;
                }
            }
            if (sameText(field, v)) return true;
        }
        return false;
    }
    if (p.numeric_value) {
        std::optional<double> y = parseNumeric(field);
        if (y) return compareWith(p.op, *y, *p.numeric_value);
    }
    if (p.op == Op::eq) return sameText(field, p.value);
    if (p.op == Op::neq) return !sameText(field, p.value);
    return compareWith(p.op, compareBytes(field, p.value), 0);
}

bool matches(Row row, std::span<const Predicate> predicates, bool negate) {
    for (const Predicate &p : predicates) {
        if (p.column >= row.size() || !evalOne(row[p.column], p)) return negate;
    }
    return !negate;
}

// ---- source ----------------------------------------------------------------

RowResult Source::next() { return format == Format::csv ? csv.next() : ndjson.next(); }

std::optional<size_t> Source::columnIndex(std::string_view name) const {
    return format == Format::csv ? csv.columnIndex(name) : ndjson.columnIndex(name);
}

std::span<const OwnedStr> Source::header() const {
    return format == Format::csv ? csv.header() : ndjson.header();
}

Result<size_t> Source::countFastPath() {
    switch (format) {
        case Format::csv: return csv.countRemaining();
        case Format::ndjson: return ndjson.countRemaining();
    }
    return Error::Unexpected;
}

// ---- query -----------------------------------------------------------------

Result<Query> Query::open(const char *path, const QueryOptions &options,
                          RecordPosition *failed_at) {
    if (failed_at) *failed_at = RecordPosition{};
    Format format = options.format ? *options.format : inferFormat(path);
    std::optional<size_t> chunk = format == Format::csv ? options.csv_chunk_size : options.json_chunk_size;
    ChunkReader reader;
    ROWKIT_TRY(reader.openFile(path, chunk ? *chunk : kDefaultChunkSize));
    return fromReader(std::move(reader), format, options, std::string_view(path, std::strlen(path)),
                      failed_at);
}

Result<Query> Query::openRange(const char *path, const QueryOptions &options, uint64_t start,
                                uint64_t end, RecordPosition *failed_at) {
    Result<Query> q = open(path, options, failed_at);
    if (!q.ok()) return q.error();
    Source &source = q->source;
    ROWKIT_TRY(source.format == Format::csv ? source.csv.restrictToLines(start, end)
                                            : source.ndjson.restrictToLines(start, end));
    // Counting the lines before the range would mean reading the file up to
    // it, which is what reading by ranges avoids.
    q->lines_known_ = start == 0;
    return q;
}

Result<Query> Query::fromReader(ChunkReader reader, Format format, const QueryOptions &options,
                                std::string_view path, RecordPosition *failed_at) {
    if (failed_at) *failed_at = RecordPosition{};
    Query q;
    if (!OwnedStr::copy(path, &q.path_)) return Error::OutOfMemory;
    q.source.format = format;
    if (format == Format::csv) {
        ScannerOptions so;
        so.limits = options.limits;
        so.stop_after_column = options.stop_after_column;
        so.delimiter = ',';
        auto s = Scanner::fromChunks(std::move(reader), so, failed_at);
        if (!s.ok()) return s.error();
        q.source.csv = std::move(*s);
    } else {
        NdjsonScannerOptions no;
        no.limits = options.limits;
        auto s = NdjsonScanner::fromChunks(std::move(reader), no, failed_at);
        if (!s.ok()) return s.error();
        q.source.ndjson = std::move(*s);
        q.source.ndjson.setStopAfterColumn(options.stop_after_column);
    }
    q.columns = options.columns;
    q.where = options.where;
    q.limit = options.limit;
    q.stop_after_column = options.stop_after_column;
    q.negate = options.negate;
    return q;
}

size_t Query::width() const {
    if (columns.data() != nullptr) return columns.size();
    size_t n = header().size();
    if (stop_after_column && *stop_after_column < n) n = *stop_after_column + 1;
    return n;
}

Result<Query> Query::fromBytes(std::string_view bytes, Format format, RecordPosition *failed_at) {
    Query q;
    q.source.format = format;
    if (format == Format::csv) {
        auto s = Scanner::fromBytesWithOptions(bytes, ScannerOptions(), failed_at);
        if (!s.ok()) return s.error();
        q.source.csv = std::move(*s);
    } else {
        auto s = NdjsonScanner::fromBytesWithOptions(bytes, NdjsonScannerOptions(), failed_at);
        if (!s.ok()) return s.error();
        q.source.ndjson = std::move(*s);
    }
    return q;
}

Result<size_t> Query::count() {
    size_t allowance = SIZE_MAX;
    if (limit) {
        if (*limit <= returned) return size_t{0};
        allowance = *limit - returned;
    }
    keepLine();
    if (where.empty() && !limit && !negate) {
        Result<size_t> n = source.countFastPath();
        line_from_reader_ = !n.ok();
        return n;
    }
    size_t n = 0;
    while (n < allowance) {
        RowResult r = source.next();
        if (!r.ok()) {
            line_from_reader_ = true;
            return r.error();
        }
        if (!r->has_value()) break;
        if (matches(**r, where, negate)) {
            ++n;
            ++returned;
        }
    }
    return n;
}

RowResult Query::next() {
    if (limit && returned >= *limit) return std::optional<Row>();
    // Without predicates the record read is the row returned, or the end,
    // which leaves the reader's place alone.
    if (!where.empty() || negate) keepLine();
    Row row;
    for (;;) {
        RowResult r = source.next();
        if (!r.ok()) {
            line_from_reader_ = true;
            return r.error();
        }
        if (!r->has_value()) return std::optional<Row>();
        row = **r;
        if (matches(row, where, negate)) break;
    }
    ++returned;
    line_from_reader_ = true;
    if (columns.data() == nullptr) return std::optional<Row>(row);
    if (proj_buf.size() < columns.size() && !proj_buf.resize(columns.size()))
        return Error::OutOfMemory;  // the row is consumed and counts against the limit
    for (size_t i = 0; i < columns.size(); ++i)
        proj_buf[i] = columns[i] < row.size() ? row[columns[i]] : std::string_view();
    return std::optional<Row>(Row(proj_buf.data(), columns.size()));
}

void describePosition(ErrorDetail &detail, std::string_view path, RecordPosition at) {
    detail.add("file ").quoted(path);
    if (at.line != 0)
        detail.add(", line ").number(at.line).add(", byte offset ").number(at.offset);
    else if (at.offset != 0)
        detail.add(", byte offset ").number(at.offset);
}

}  // namespace rowkit
