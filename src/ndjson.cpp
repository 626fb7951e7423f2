#include "ndjson.hpp"

#include "byte_search.hpp"
#include "file_io.hpp"
#include "simd_count.hpp"

namespace rowkit {

namespace {

inline bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

Result<NdjsonScanner> NdjsonScanner::openWithOptions(const char *path,
                                                     const NdjsonScannerOptions &options) {
    if (options.chunk_size == 0) return Error::InvalidChunkSize;
    auto file = openNonEmpty(path);
    if (!file.ok()) return file.error();
    return initSource(std::move(*file), std::string_view(), options);
}

Result<NdjsonScanner> NdjsonScanner::fromBytes(std::string_view bytes) {
    return fromBytesWithOptions(bytes, NdjsonScannerOptions());
}

Result<NdjsonScanner> NdjsonScanner::fromBytesWithOptions(std::string_view bytes,
                                                          const NdjsonScannerOptions &options) {
    if (options.chunk_size == 0) return Error::InvalidChunkSize;
    if (bytes.empty()) return Error::EmptyFile;
    return initSource(FileHandle(), bytes, options);
}

Result<NdjsonScanner> NdjsonScanner::initSource(FileHandle file, std::string_view bytes,
                                                const NdjsonScannerOptions &options) {
    NdjsonScanner s;
    s.limits_ = options.limits;
    ROWKIT_TRY(s.reader_.init(std::move(file), bytes, options.chunk_size));
    if (!s.tokens_.resize(json::kMaxTokens)) return Error::OutOfMemory;
    ROWKIT_TRY(s.detectMode());
    ROWKIT_TRY(s.readHeader());
    return s;
}

// The first byte that is not whitespace decides the mode: '[' is an array.
// Chunks of nothing but whitespace are passed over, so the choice does not
// depend on the chunk size.
Status NdjsonScanner::detectMode() {
    ChunkReader &r = reader_;
    bool passed_chunk = false;
    bool saw_line_feed = false;
    for (;;) {
        ROWKIT_TRY(r.fillBuffer());
        if (r.buf_len == 0) {
            // Empty input has no record; input of only whitespace has a
            // blank first line, which is not an object.
            return passed_chunk ? Status(Error::InvalidJson) : Status();
        }
        for (size_t i = 0; i < r.buf_len; ++i) {
            char c = r.buf[i];
            if (isBlank(c)) {
                saw_line_feed |= c == '\n';
                continue;
            }
            if (c == '[') {
                mode_ = Mode::json_array;
                r.buf_pos = i + 1;
                return Status();
            }
            mode_ = Mode::line_delimited;
            if (passed_chunk) {
                // The whitespace already passed over was the start of the
                // first line, or whole blank lines before it.
                if (saw_line_feed) return Error::InvalidJson;
                r.buf_pos = i;
            }
            return Status();
        }
        passed_chunk = true;
    }
}

Status NdjsonScanner::readHeader() {
    std::string_view record;
    auto got = nextRecord(&record);
    if (!got.ok()) return got.error();
    if (!*got) return Error::EmptyFile;
    ROWKIT_TRY(limits_.checkJsonFields(record));
    if (!OwnedStr::copy(record, &first_row_line_)) return Error::OutOfMemory;
    Status parsed = json::parseObjectReuse(first_row_line_.view(), parse_fields_, row_arena_, tokens_.data());
    if (!parsed.ok()) return parsed.error() == Error::OutOfMemory ? Error::OutOfMemory : Error::InvalidJson;
    const size_t n = parse_fields_.size();
    if (!header_.reserve(n) || !header_views_.reserve(n) || !field_buf_.resize(n))
        return Error::OutOfMemory;
    for (const json::JsonField &f : parse_fields_) {
        OwnedStr name;
        if (!OwnedStr::copy(f.key, &name)) return Error::OutOfMemory;
        (void)header_.push(std::move(name));
        (void)header_views_.push(header_.back().view());
    }
    ROWKIT_TRY(header_index_.reserve(n));
    for (size_t i = 0; i < n; ++i) ROWKIT_TRY(header_index_.put(header_views_[i], i));
    wanted_columns_ = n;
    parse_fields_.clear();
    row_arena_.reset();
    return Status();
}

void NdjsonScanner::setStopAfterColumn(std::optional<size_t> column) {
    stop_after_column_ = column;
    wanted_columns_ = column && *column < header_.size() ? *column + 1 : header_.size();
}

std::optional<size_t> NdjsonScanner::columnIndex(std::string_view name) const {
    for (size_t i = 0; i < header_.size(); ++i)
        if (header_[i].view() == name) return i;
    return std::nullopt;
}

Result<bool> NdjsonScanner::nextRecord(std::string_view *record) {
    if (mode_ == Mode::json_array) return nextObject(record);
    return reader_.nextLine(limits_, record);
}

Status NdjsonScanner::appendToScratch(const char *p, size_t n, bool *discarding) {
    if (*discarding) return Status();
    ByteBuf &scratch = reader_.line_scratch;
    if (limits_.max_record_bytes && scratch.size() + n > *limits_.max_record_bytes)
        return Error::RecordTooLarge;
    if (!scratch.append(p, n)) {
        // Go on to the end of the object without keeping it, so that the
        // next call starts after it.
        scratch.clear();
        *discarding = true;
    }
    return Status();
}

// Scans from the read position with fresh state: between objects, strings
// and non-object elements (with everything nested in them) are skipped whole,
// and only the array's own ']' ends the input; inside an object, strings are
// tracked and braces counted until the object closes.
Result<bool> NdjsonScanner::nextObject(std::string_view *record, bool assemble) {
    ChunkReader &r = reader_;
    r.line_scratch.clear();
    if (array_ended_) return false;
    bool started = false;
    bool in_string = false;
    bool escaped = false;
    bool discarding = false;
    bool assembled = false;
    size_t depth = 0;       // braces open in the current object
    size_t skip_depth = 0;  // brackets and braces open in a skipped element
    size_t start = 0;       // the object's '{' in the current buffer
    for (;;) {
        if (r.buf_pos >= r.buf_len) {
            if (started && assemble) {
                ROWKIT_TRY(appendToScratch(r.buf + start, r.buf_len - start, &discarding));
                assembled = true;
            }
            if (r.eof) {
                r.line_scratch.clear();
                if (started) return Error::InvalidJson;  // cut off by the end of the input
                return false;                           // a missing ']' is accepted
            }
            ROWKIT_TRY(r.fillBuffer());
            start = 0;
            continue;
        }
        const char *b = r.buf;
        const size_t n = r.buf_len;
        size_t i = r.buf_pos;
        for (; i < n; ++i) {
            char c = b[i];
            if (in_string) {
                if (escaped) {
                    escaped = false;
                    continue;
                }
                i += bytes::findEither(b + i, n - i, '"', '\\');
                if (i >= n) break;
                if (b[i] == '"')
                    in_string = false;
                else
                    escaped = true;
                continue;
            }
            if (c == '"') {
                in_string = true;
            } else if (started) {
                if (c == '{') {
                    ++depth;
                } else if (c == '}' && --depth == 0) {
                    r.buf_pos = i + 1;
                    if (!assemble) return true;
                    if (discarding) {
                        r.line_scratch.clear();
                        return Error::OutOfMemory;
                    }
                    if (!assembled) {
                        *record = std::string_view(b + start, i + 1 - start);
                        ROWKIT_TRY(limits_.checkRecord(record->size()));
                        return true;
                    }
                    ROWKIT_TRY(appendToScratch(b, i + 1, &discarding));
                    if (discarding) {
                        r.line_scratch.clear();
                        return Error::OutOfMemory;
                    }
                    *record = view(r.line_scratch);
                    return true;
                }
            } else if (skip_depth > 0) {
                if (c == '[' || c == '{')
                    ++skip_depth;
                else if (c == ']' || c == '}')
                    --skip_depth;
            } else if (c == '{') {
                started = true;
                start = i;
                depth = 1;
            } else if (c == '[') {
                skip_depth = 1;
            } else if (c == ']') {
                array_ended_ = true;
                r.buf_pos = i + 1;
                return false;
            }
        }
        r.buf_pos = n;
    }
}

RowResult NdjsonScanner::next() {
    if (limit_failure_) return *limit_failure_;
    std::string_view record;
    if (!used_first_row_) {
        used_first_row_ = true;
        record = first_row_line_.view();
    } else {
        auto got = nextRecord(&record);
        if (!got.ok()) {
            // Limits and read errors are final: after a failed read the
            // input position is unknown.
            Error e = got.error();
            if (e != Error::OutOfMemory && e != Error::InvalidJson) limit_failure_ = e;
            return e;
        }
        if (!*got) return std::optional<Row>();
    }
    Status fields = limits_.checkJsonFields(record);
    if (!fields.ok()) {
        limit_failure_ = fields.error();
        return fields.error();
    }
    std::span<const std::string_view> header(header_views_.data(), header_views_.size());
    if (json::tryFastRow(record, header, wanted_columns_, field_buf_.data()))
        return std::optional<Row>(Row(field_buf_.data(), wanted_columns_));
    return fullRow(record);
}

RowResult NdjsonScanner::fullRow(std::string_view record) {
    row_arena_.reset();
    Status parsed = json::parseObjectReuse(record, parse_fields_, row_arena_, tokens_.data());
    if (!parsed.ok()) return parsed.error() == Error::OutOfMemory ? Error::OutOfMemory : Error::InvalidJson;
    const size_t wanted = wanted_columns_;
    const size_t n_header = header_views_.size();
    for (size_t c = 0; c < wanted; ++c) field_buf_[c] = std::string_view();
    for (size_t i = 0; i < parse_fields_.size(); ++i) {
        const json::JsonField &f = parse_fields_[i];
        size_t column;
        if (i < n_header && header_views_[i] == f.key) {
            column = i;
        } else {
            std::optional<size_t> found = header_index_.get(f.key);
            if (!found) continue;
            column = *found;
        }
        // Columns past the wanted ones are neither rendered nor checked, as
        // on the fast path.
        if (column >= wanted) continue;
        std::string_view text;
        switch (f.value.kind) {
            case json::JsonValue::Kind::null_value: break;
            case json::JsonValue::Kind::bool_value: text = f.value.boolean ? "true" : "false"; break;
            case json::JsonValue::Kind::number:
            case json::JsonValue::Kind::string: text = f.value.text; break;
            case json::JsonValue::Kind::object:
            case json::JsonValue::Kind::array: return Error::NestedValueNotSupported;
        }
        field_buf_[column] = text;
    }
    return std::optional<Row>(Row(field_buf_.data(), wanted));
}

Result<size_t> NdjsonScanner::countRemaining() {
    if (limit_failure_) return *limit_failure_;
    if (limits_.enabled()) {
        size_t n = 0;
        for (;;) {
            RowResult r = next();
            if (!r.ok()) return r.error();
            if (!r->has_value()) return n;
            ++n;
        }
    }
    size_t n = used_first_row_ ? 0 : 1;
    used_first_row_ = true;
    if (mode_ == Mode::json_array) {
        size_t objects = 0;
        for (;;) {
            std::string_view unused;
            auto got = nextObject(&unused, false);
            if (!got.ok()) {
                if (got.error() != Error::InvalidJson) limit_failure_ = got.error();
                return got.error();
            }
            if (!*got) break;
            ++objects;
        }
        return n + objects;
    }
    auto lines = countRemainingLines(reader_);
    if (!lines.ok()) {
        limit_failure_ = lines.error();
        return lines.error();
    }
    return n + *lines;
}

}  // namespace rowkit
