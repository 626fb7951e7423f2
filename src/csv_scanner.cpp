#include "csv_scanner.hpp"

namespace rowkit {

Result<Scanner> Scanner::open(const char *path) { return openWithOptions(path, ScannerOptions()); }

Result<Scanner> Scanner::openWithOptions(const char *path, const ScannerOptions &options,
                                         RecordPosition *failed_at) {
    return openRecords<Scanner>(path, options, failed_at);
}

Result<Scanner> Scanner::fromBytes(std::string_view bytes) {
    return fromBytesWithOptions(bytes, ScannerOptions());
}

Result<Scanner> Scanner::fromBytesWithOptions(std::string_view bytes,
                                              const ScannerOptions &options,
                                              RecordPosition *failed_at) {
    return recordsFromBytes<Scanner>(bytes, options, failed_at);
}

Result<Scanner> Scanner::fromChunks(ChunkReader reader, const ScannerOptions &options,
                                    RecordPosition *failed_at) {
    Scanner s;
    s.limits_ = options.limits;
    s.stop_after_column_ = options.stop_after_column;
    s.delimiter_ = options.delimiter;
    s.reader_ = std::move(reader);
    const Status header = s.readHeader();
    if (!header.ok()) {
        if (failed_at) *failed_at = s.reader_.linePosition();
        return header.error();
    }
    return s;
}

Status Scanner::readHeader() {
    std::string_view line;
    auto got = reader_.nextLine(limits_, &line);
    if (!got.ok()) return got.error();
    if (!*got) return Error::EmptyFile;
    if (!OwnedStr::copy(line, &header_line_)) return Error::OutOfMemory;
    ROWKIT_TRY(limits_.checkRecord(header_line_.size()));
    FieldIterator it;
    ROWKIT_TRY(it.initWithLimits(header_line_.view(), delimiter_, &quote_scratch_, limits_));
    for (;;) {
        std::string_view field;
        auto more = it.next(&field);
        if (!more.ok()) return more.error();
        if (!*more) break;
        OwnedStr name;
        if (!OwnedStr::copy(field, &name)) return Error::OutOfMemory;
        if (!header_.push(std::move(name))) return Error::OutOfMemory;
    }
    return Status();
}

RowResult Scanner::next() {
    if (limit_failure_) return *limit_failure_;
    if (ended_) return std::optional<Row>();
    std::string_view line;
    auto got = reader_.nextLine(limits_, &line);
    if (!got.ok()) {
        // A failed read leaves the input position unknown; every later call
        // reports it rather than hand out the tail of a line as a row.
        if (got.error() != Error::OutOfMemory) limit_failure_ = got.error();
        return got.error();
    }
    if (!*got) {
        ended_ = true;
        return std::optional<Row>();
    }
    return splitInto(line);
}

Result<size_t> Scanner::countRemaining() {
    if (limit_failure_) return *limit_failure_;
    if (ended_) return size_t{0};
    if (limits_.enabled()) return countByReading(*this);
    Result<size_t> lines = reader_.countRemainingLines();
    if (!lines.ok()) {
        // As in next(): after a failed read the position is unknown.
        limit_failure_ = lines.error();
        return lines.error();
    }
    ended_ = true;
    return *lines;
}

RowResult Scanner::splitInto(std::string_view line) {
    size_t max_stored = stop_after_column_ ? *stop_after_column_ + 1 : SIZE_MAX;
    if (max_stored == 0) max_stored = SIZE_MAX;  // a column index of SIZE_MAX wraps
    size_t n = 0;
    Status st = splitLine(line, delimiter_, &quote_scratch_, limits_, max_stored, field_buf_, &n);
    if (!st.ok()) {
        if (st.error() == Error::TooManyFields || st.error() == Error::RecordTooLarge)
            limit_failure_ = st.error();
        return st.error();
    }
    return std::optional<Row>(Row(field_buf_.data(), n));
}

}  // namespace rowkit
