#include "ndjson.hpp"

#include "byte_search.hpp"
#include "simd_count.hpp"

namespace rowkit {

namespace {

inline bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The bytes that can change the array scan's state outside strings: quotes,
// braces and brackets.
struct ArrayBytes {
    bool matters[256];
    constexpr ArrayBytes() : matters() {
        for (char c : {'"', '{', '}', '[', ']'})
            matters[static_cast<unsigned char>(c)] = true;
    }
};
constexpr ArrayBytes kArrayBytes;

}  // namespace

JsonArrayScan::Event JsonArrayScan::step(const char *text, size_t n, size_t *pos) {
    if (where_ == Where::ended) return Event::array_end;
    // The state in locals for the loop; stored back before every return.
    Where where = where_;
    bool in_string = in_string_;
    bool after_backslash = after_backslash_;
    size_t depth = depth_;
    Event event = Event::more;
    size_t i = *pos;
    while (i < n) {
        if (in_string) {
            if (after_backslash) {
                after_backslash = false;
                ++i;
                continue;
            }
            i += bytes::findEither(text + i, n - i, '"', '\\');
            if (i >= n) break;
            if (text[i++] == '"')
                in_string = false;
            else
                after_backslash = true;
            continue;
        }
        while (i < n && !kArrayBytes.matters[static_cast<unsigned char>(text[i])])
            ++i;
        if (i >= n) break;
        const char c = text[i++];
        if (c == '"') {
            in_string = true;
        } else if (where == Where::object) {
            if (c == '{') {
                ++depth;
            } else if (c == '}' && --depth == 0) {
                where = Where::between;
                event = Event::object_end;
                break;
            }
        } else if (where == Where::skipped) {
            if (c == '[' || c == '{')
                ++depth;
            else if ((c == ']' || c == '}') && --depth == 0)
                where = Where::between;
        } else if (c == '{') {
            where = Where::object;
            depth = 1;
            event = Event::object_start;
            break;
        } else if (c == '[') {
            where = Where::skipped;
            depth = 1;
        } else if (c == ']') {
            where = Where::ended;
            event = Event::array_end;
            break;
        }
    }
    where_ = where;
    in_string_ = in_string;
    after_backslash_ = after_backslash;
    depth_ = depth;
    *pos = event == Event::more ? n : i;
    return event;
}

// ---- records to rows -------------------------------------------------------

Status JsonHeader::assign(std::span<const json::JsonField> fields) {
    const size_t n = fields.size();
    names.clear();
    views.clear();
    index.clear();
    if (!names.reserve(n) || !views.reserve(n)) return Error::OutOfMemory;
    for (const json::JsonField &f : fields) {
        OwnedStr name;
        if (!OwnedStr::copy(f.key, &name)) return Error::OutOfMemory;
        (void)names.push(std::move(name));
        (void)views.push(names.back().view());
    }
    ROWKIT_TRY(index.reserve(n));
    for (size_t i = 0; i < n; ++i) ROWKIT_TRY(index.put(views[i], i));
    return Status();
}

Status RecordMapper::init() {
    if (!tokens_.resize(json::kMaxTokens)) return Error::OutOfMemory;
    return Status();
}

Status RecordMapper::setWidth(size_t n) {
    if (!field_buf_.resize(n)) return Error::OutOfMemory;
    return Status();
}

Status RecordMapper::parse(std::string_view record) {
    arena_.reset();
    Status parsed = json::parseObjectReuse(record, parse_fields_, arena_, tokens_.data());
    if (!parsed.ok()) return parsed.error() == Error::OutOfMemory ? Error::OutOfMemory : Error::InvalidJson;
    return Status();
}

Result<Row> RecordMapper::fullRow(std::string_view record, const JsonHeader &header, size_t wanted,
                                  NestedValues nested, size_t *emptied) {
    std::span<const std::string_view> names(header.views.data(), header.views.size());
    ROWKIT_TRY(parse(record));
    const size_t n_header = names.size();
    for (size_t c = 0; c < wanted; ++c) field_buf_[c] = std::string_view();
    for (size_t i = 0; i < parse_fields_.size(); ++i) {
        const json::JsonField &f = parse_fields_[i];
        size_t column;
        if (i < n_header && names[i] == f.key) {
            column = i;
        } else {
            std::optional<size_t> found = header.index.get(f.key);
            if (!found) continue;
            column = *found;
        }
        // Columns past the wanted ones are neither rendered nor checked, as
        // on the shortcut.
        if (column >= wanted) continue;
        Result<std::string_view> text = renderJsonValue(f.value);
        if (!text.ok()) {
            if (nested == NestedValues::fail) return text.error();
            field_buf_[column] = std::string_view();
            ++*emptied;
            continue;
        }
        field_buf_[column] = *text;
    }
    return Row(field_buf_.data(), wanted);
}

// ---- the reader ------------------------------------------------------------

Result<NdjsonScanner> NdjsonScanner::openWithOptions(const char *path,
                                                     const NdjsonScannerOptions &options,
                                                     RecordPosition *failed_at) {
    return openRecords<NdjsonScanner>(path, options, failed_at);
}

Result<NdjsonScanner> NdjsonScanner::fromBytes(std::string_view bytes) {
    return fromBytesWithOptions(bytes, NdjsonScannerOptions());
}

Result<NdjsonScanner> NdjsonScanner::fromBytesWithOptions(std::string_view bytes,
                                                          const NdjsonScannerOptions &options,
                                                          RecordPosition *failed_at) {
    return recordsFromBytes<NdjsonScanner>(bytes, options, failed_at);
}

Result<NdjsonScanner> NdjsonScanner::fromChunks(ChunkReader reader,
                                                const NdjsonScannerOptions &options,
                                                RecordPosition *failed_at) {
    NdjsonScanner s;
    s.limits_ = options.limits;
    s.reader_ = std::move(reader);
    ROWKIT_TRY(s.mapper_.init());
    const Status detected = s.detectMode();
    if (!detected.ok()) {
        // Only blank bytes were read: the first record was to begin with them.
        if (failed_at) *failed_at = RecordPosition{1, 0};
        return detected.error();
    }
    const Status header = s.readHeader();
    if (!header.ok()) {
        if (failed_at) *failed_at = s.position();
        return header.error();
    }
    return s;
}

// The first byte that is not whitespace decides the mode: '[' is an array.
// Chunks of nothing but whitespace are passed over, so the choice does not
// depend on the chunk size.
Status NdjsonScanner::detectMode() {
    bool passed_chunk = false;
    uint64_t line_feeds = 0;
    for (;;) {
        ROWKIT_TRY(reader_.refill());
        const std::string_view chunk = reader_.unread();
        if (chunk.empty()) {
            // Empty input has no record; input of only whitespace has a
            // blank first line, which is not an object.
            return passed_chunk ? Status(Error::InvalidJson) : Status();
        }
        for (size_t i = 0; i < chunk.size(); ++i) {
            char c = chunk[i];
            if (isBlank(c)) {
                line_feeds += c == '\n';
                continue;
            }
            if (c == '[') {
                mode_ = Mode::json_array;
                reader_.consume(i + 1);
                array_line_ = 1 + line_feeds;
                line_counted_to_ = chunk.data() + i + 1;
                return Status();
            }
            mode_ = Mode::line_delimited;
            // A line feed passed over ended a blank first line, which is not
            // an object. Other whitespace in front of the first record is
            // dropped, in this chunk as in the chunks before it, so that the
            // record bound measures the same first line at every chunk size.
            if (line_feeds) return Error::InvalidJson;
            reader_.consume(i);
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
    ROWKIT_TRY(mapper_.parse(first_row_line_.view()));
    ROWKIT_TRY(header_.assign(mapper_.parsed()));
    ROWKIT_TRY(mapper_.setWidth(header_.size()));
    wanted_columns_ = header_.size();
    return Status();
}

void NdjsonScanner::setStopAfterColumn(std::optional<size_t> column) {
    stop_after_column_ = column;
    wanted_columns_ = column && *column < header_.size() ? *column + 1 : header_.size();
}

Result<bool> NdjsonScanner::nextRecord(std::string_view *record) {
    if (mode_ == Mode::json_array) return nextObject(record);
    return reader_.nextLine(limits_, record);
}

Status NdjsonScanner::appendToObject(const char *from, const char *to, bool *discarding) {
    if (*discarding) return Status();
    const size_t n = static_cast<size_t>(to - from);
    if (limits_.max_record_bytes && object_scratch_.size() + n > *limits_.max_record_bytes)
        return Error::RecordTooLarge;
    if (!object_scratch_.append(from, n)) {
        // Go on to the end of the object without keeping it, so that the
        // next call starts after it.
        object_scratch_.clear();
        *discarding = true;
    }
    return Status();
}

// The assemble operation over the array scan: an object that ends in the
// chunk it started in is a slice of that chunk; one that spans chunks is
// copied piece by piece into object_scratch_.
Result<bool> NdjsonScanner::nextObject(std::string_view *record) {
    object_scratch_.clear();
    const char *start = nullptr;  // the object's first byte not yet copied
    bool assembled = false;       // object_scratch_ holds its first part
    bool discarding = false;      // a part could not be copied
    for (;;) {
        const std::string_view chunk = reader_.unread();
        size_t used = 0;
        const JsonArrayScan::Event event = array_.step(chunk.data(), chunk.size(), &used);
        reader_.consume(used);
        const char *const stop = chunk.data() + used;
        switch (event) {
            case JsonArrayScan::Event::object_start:
                start = stop - 1;
                beginObject(start);
                continue;
            case JsonArrayScan::Event::array_end:
                reader_.reportEnd();
                return false;
            case JsonArrayScan::Event::more:
                break;
            case JsonArrayScan::Event::object_end:
                if (!assembled) {
                    *record = std::string_view(start, static_cast<size_t>(stop - start));
                    ROWKIT_TRY(limits_.checkRecord(record->size()));
                    return true;
                }
                ROWKIT_TRY(appendToObject(start, stop, &discarding));
                if (discarding) {
                    object_scratch_.clear();
                    return Error::OutOfMemory;
                }
                *record = view(object_scratch_);
                return true;
        }
        if (array_.inObject()) {
            ROWKIT_TRY(appendToObject(start, stop, &discarding));
            assembled = true;
        }
        if (reader_.inputEnded()) {
            object_scratch_.clear();
            if (!array_.inObject()) return false;  // a missing ']' is accepted
            array_.end();
            return Error::InvalidJson;  // an object cut off by the end of the input
        }
        ROWKIT_TRY(refillArray());
        start = reader_.unread().data();
    }
}

// The line feeds of the chunk are counted before it goes, those before an
// object begun in it first. Between objects, the record that failed to be
// read begins where the read failed.
Status NdjsonScanner::refillArray() {
    const std::string_view rest = reader_.unread();
    if (object_start_) placeObject();
    arrayLineAt(rest.data() + rest.size());
    const uint64_t at = reader_.readOffset();
    const Status read = reader_.refill();
    if (!read.ok()) {
        if (!array_.inObject()) object_position_ = RecordPosition{array_line_, at};
        return read;
    }
    line_counted_to_ = reader_.unread().data();
    return read;
}

uint64_t NdjsonScanner::arrayLineAt(const char *p) const {
    const size_t n = static_cast<size_t>(p - line_counted_to_);
    array_line_ += bytes::countByte(line_counted_to_, n, '\n');
    line_counted_to_ = p;
    return array_line_;
}

void NdjsonScanner::beginObject(const char *start) {
    object_start_ = start;
    object_position_.offset = reader_.offsetOf(start);
}

void NdjsonScanner::placeObject() const {
    object_position_.line = arrayLineAt(object_start_);
    object_start_ = nullptr;
}

// The skip operation over the array scan: objects are only counted.
Result<size_t> NdjsonScanner::skipObjects() {
    size_t objects = 0;
    for (;;) {
        const std::string_view chunk = reader_.unread();
        size_t used = 0;
        for (;;) {
            const JsonArrayScan::Event event = array_.step(chunk.data(), chunk.size(), &used);
            if (event == JsonArrayScan::Event::more) break;
            if (event == JsonArrayScan::Event::array_end) {
                reader_.consume(used);
                reader_.reportEnd();
                return objects;
            }
            if (event == JsonArrayScan::Event::object_start) beginObject(chunk.data() + used - 1);
            objects += event == JsonArrayScan::Event::object_end;
        }
        reader_.consume(used);
        if (reader_.inputEnded()) {
            if (!array_.inObject()) return objects;
            array_.end();
            return Error::InvalidJson;
        }
        ROWKIT_TRY(refillArray());
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
    size_t emptied = 0;
    Result<Row> row = mapper_.toRow(record, header_, wanted_columns_, NestedValues::fail, &emptied);
    if (!row.ok()) return row.error();
    return std::optional<Row>(*row);
}

Status NdjsonScanner::restrictToLines(uint64_t start, uint64_t end) {
    if (mode_ == Mode::json_array) return Error::JsonArrayNotSplittable;
    used_first_row_ = true;
    return reader_.restrictToLines(0, start, end);
}

Result<size_t> NdjsonScanner::countRemaining() {
    if (limit_failure_) return *limit_failure_;
    if (limits_.enabled()) return countByReading(*this);
    size_t n = used_first_row_ ? 0 : 1;
    used_first_row_ = true;
    Result<size_t> rest = mode_ == Mode::json_array ? skipObjects() : reader_.countRemainingLines();
    if (!rest.ok()) {
        // Read errors are final, as in next(); an object cut off by the end
        // of the input is not.
        if (rest.error() != Error::InvalidJson) limit_failure_ = rest.error();
        return rest.error();
    }
    return n + *rest;
}

}  // namespace rowkit
