// The row pipeline behind every operation: a source reader, predicates
// (optionally negated), a row limit and a projection.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "alloc.hpp"
#include "csv_scanner.hpp"
#include "errors.hpp"
#include "input_limits.hpp"
#include "ndjson.hpp"

namespace rowkit {

enum class Format : uint8_t { csv = 0, ndjson = 1 };

// ".ndjson", ".jsonl" and ".json" (case-sensitive) are JSON records; every
// other path is CSV.
Format inferFormat(std::string_view path);

enum class Op : uint8_t { eq = 0, neq = 1, gt = 2, gte = 3, lt = 4, lte = 5, in_list = 6 };

// One column compared with a constant. The predicate refers to its texts;
// whoever builds it keeps them alive.
struct Predicate {
    size_t column = 0;
    std::string_view value;
    std::span<const std::string_view> values;
    std::optional<double> numeric_value;
    Op op = Op::eq;

    static Predicate init(size_t column, Op op, std::string_view value);
    static Predicate initIn(size_t column, std::span<const std::string_view> values);
};

// Unsigned byte order, negative, zero or positive; a prefix is smaller than
// the longer text.
int compareBytes(std::string_view a, std::string_view b);

// One predicate against one field.
bool evalOne(std::string_view field, const Predicate &p);

// Whether a source row passes the conjunction of the predicates, inverted
// when `negate` is set. A predicate on a column the row lacks is false.
bool matches(Row row, std::span<const Predicate> predicates, bool negate);

struct QueryOptions {
    InputLimits limits;
    // Projection; a null data pointer means none (an empty non-null span
    // projects onto zero columns).
    std::span<const size_t> columns;
    std::span<const Predicate> where;
    std::optional<size_t> limit;
    std::optional<size_t> csv_chunk_size;
    std::optional<size_t> json_chunk_size;
    std::optional<size_t> stop_after_column;
    bool negate = false;
    std::optional<Format> format;
};

// One of the two readers, chosen by format. Both members exist so that the
// source needs no manual union bookkeeping; only the one named by `format`
// is open.
class Source {
public:
    Format format = Format::csv;
    Scanner csv;
    NdjsonScanner ndjson;

    RowResult next();
    std::optional<size_t> columnIndex(std::string_view name) const;
    std::span<const OwnedStr> header() const;
    // Input bytes the open reader has consumed so far.
    uint64_t bytesConsumed() const {
        return format == Format::csv ? csv.bytesConsumed() : ndjson.bytesConsumed();
    }
    // Input bytes left to it, when the input's size is known; else 0.
    uint64_t bytesLeft() const {
        return format == Format::csv ? csv.bytesLeft() : ndjson.bytesLeft();
    }
    // The open reader's position().
    RecordPosition position() const {
        return format == Format::csv ? csv.position() : ndjson.position();
    }
    // The rows left in the open reader, counted without splitting them when
    // no input limit is set (the readers' countRemaining); consumes them.
    Result<size_t> countFastPath();
};

class Query {
public:
    Query() = default;
    Query(Query &&) noexcept = default;
    Query &operator=(Query &&) noexcept = default;

    // Opens `path` (copied, for error details) and reads the header. When
    // reading it fails and `failed_at` is not null, it receives where the
    // failing record begins (line 0 when there is none).
    static Result<Query> open(const char *path, const QueryOptions &options,
                              RecordPosition *failed_at = nullptr);
    // The same over the lines of the file that start in [start, end) only
    // (see ChunkReader::restrictToLines); the header is still the file's
    // first line. JsonArrayNotSplittable for a JSON array, NotRegularFile
    // for a file without positions (a pipe), and open's errors.
    static Result<Query> openRange(const char *path, const QueryOptions &options, uint64_t start,
                                   uint64_t end, RecordPosition *failed_at = nullptr);
    // The same over a reader set up on any source, such as a byte range of
    // a descriptor the caller keeps open; `path` names the source in error
    // details (may be empty), and the chunk sizes of `options` are not used
    // (the reader has its own).
    static Result<Query> fromReader(ChunkReader reader, Format format, const QueryOptions &options,
                                    std::string_view path = {},
                                    RecordPosition *failed_at = nullptr);
    // The same query over bytes held in memory, with default options.
    static Result<Query> fromBytes(std::string_view bytes, Format format,
                                   RecordPosition *failed_at = nullptr);

    // The next row that passes the predicates, projected; nullopt at the end
    // or once the limit is reached. Views are valid until the next call.
    RowResult next();

    // How many of the remaining rows next() would deliver, consuming them.
    // Without predicates, limit or negation the reader counts its remaining
    // lines without splitting them (`returned` is left alone); otherwise rows
    // are read and matched, and each counted row counts against the limit.
    Result<size_t> count();

    std::span<const OwnedStr> header() const { return source.header(); }

    // The field count of a full row of this query: the projection's length,
    // else the header's width, cut to stop_after_column + 1 when that is set.
    // Whole results bring every row to it, so a short or long row loses no
    // column of the header.
    size_t width() const;
    std::optional<size_t> columnIndex(std::string_view name) const {
        return source.columnIndex(name);
    }

    // The file's path as opened; empty for bytes held in memory.
    std::string_view path() const { return path_.view(); }
    // Where the record the reader read last (returned, skipped by the
    // predicates, or failed) begins; the header's or the first record's
    // place until a row is read.
    // A query over a range that starts past the file's first byte has not
    // counted the lines before the range, so its lines are unknown: 0 here
    // and in lineNumber(), while the byte offsets stay those of the file.
    RecordPosition position() const {
        RecordPosition at = source.position();
        if (!lines_known_) at.line = 0;
        return at;
    }
    // The line where the row next() last returned, or the record whose
    // reading last failed (in next() or count()), begins; 0 before either.
    // Rows the predicates skip and rows count() passes over move nothing.
    uint64_t lineNumber() const {
        if (!lines_known_) return 0;
        return line_from_reader_ ? source.position().line : line_;
    }

    Source source;
    std::span<const size_t> columns;
    std::span<const Predicate> where;
    std::optional<size_t> limit;
    std::optional<size_t> stop_after_column;
    size_t returned = 0;
    Vec<std::string_view> proj_buf;
    bool negate = false;

private:
    // Before reading a record that may not be handed out, the line of the
    // one that was is taken from the reader.
    void keepLine() {
        if (!line_from_reader_) return;
        line_ = source.position().line;
        line_from_reader_ = false;
    }

    OwnedStr path_;
    // lineNumber(): line_, or the reader's current record when that is the
    // row last returned or the record that failed. Asking the reader only
    // then keeps the row path free of line bookkeeping.
    uint64_t line_ = 0;
    bool line_from_reader_ = false;
    bool lines_known_ = true;
};

// Writes where `at` stands in the file at `path`: 'file "data.csv", line 3,
// byte offset 27'; 'file "data.csv", byte offset 27' when the line is not
// known (a range of the file); only the file when no record was begun.
void describePosition(ErrorDetail &detail, std::string_view path, RecordPosition at);

}  // namespace rowkit
