// The JSON records reader: newline-delimited JSON (one object per line) or
// one top-level JSON array of objects, presented as a header and rows of
// field texts like the CSV reader.
//
// The header is the key list of the first object. Every later object is
// mapped onto those columns by key (by position first, by the header_index
// map when the key at a position differs); keys not in the header are
// ignored and missing keys give empty text. Values are rendered as text: null
// as empty text, true and false as those words, numbers exactly as written,
// strings decoded; a nested object or array in a wanted column is
// NestedValueNotSupported.
//
// Whether the input is line-delimited or an array is decided by its first
// byte that is not JSON whitespace: '[' means an array, whose objects may be
// spread over any number of lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "alloc.hpp"
#include "chunk_reader.hpp"
#include "errors.hpp"
#include "hash_map.hpp"
#include "input_limits.hpp"
#include "json_parser.hpp"
#include "row.hpp"

namespace rowkit {

// The scan of the inside of a JSON array of objects (after its '['), as a
// small state machine whose whole state lives in the object, so that the
// array can be fed in pieces of any size (chunks) with the same events at
// the same offsets as when it is fed whole.
//
// Between elements, '{' starts an object; '[' starts an element that is
// skipped whole with everything nested in it; '"' starts a string that is
// skipped; ']' ends the array; every other byte (commas, whitespace, bare
// scalars) is passed over. Inside an object only braces are counted; strings
// are tracked everywhere, so that brackets and braces inside them count for
// nothing.
class JsonArrayScan {
public:
    enum class Event : uint8_t {
        more,          // the piece is used up
        object_start,  // the byte before *pos is an object's '{'
        object_end,    // the byte before *pos is the '}' that closed it
        array_end,     // the array's ']' was met; every later step says so at once
    };

    // Scans text[*pos, n) up to and including the first byte that makes an
    // event and leaves *pos after it, or scans to n and returns more.
    Event step(const char *text, size_t n, size_t *pos);

    bool inObject() const { return where_ == Where::object; }
    // Ends the array as its ']' would, for input cut off inside an object.
    void end() { where_ = Where::ended; }

private:
    enum class Where : uint8_t { between, object, skipped, ended };

    Where where_ = Where::between;
    bool in_string_ = false;
    bool after_backslash_ = false;  // in a string, the byte before was an escaping backslash
    // Braces open in the object, or brackets and braces open in the skipped
    // element.
    size_t depth_ = 0;
};

// The text a JSON value stands for in a column: empty for null, "true" or
// "false", a number exactly as written, a string decoded. An object or an
// array has none: NestedValueNotSupported. Inline: it runs once per field.
inline Result<std::string_view> renderJsonValue(const json::JsonValue &value) {
    switch (value.kind) {
        case json::JsonValue::Kind::null_value: return std::string_view();
        case json::JsonValue::Kind::bool_value:
            return std::string_view(value.boolean ? "true" : "false");
        case json::JsonValue::Kind::number:
        case json::JsonValue::Kind::string: return value.text;
        case json::JsonValue::Kind::object:
        case json::JsonValue::Kind::array: break;
    }
    return Error::NestedValueNotSupported;
}

// The columns of JSON records: the keys of the first record, in order.
struct JsonHeader {
    Vec<OwnedStr> names;
    Vec<std::string_view> views;  // names as views, for the row paths
    StrIndexMap index;            // name -> column (the last of repeated names)

    // Takes copies of the keys of a parsed record. OutOfMemory, with the
    // header then partly filled and to be discarded.
    Status assign(std::span<const json::JsonField> fields);
    size_t size() const { return names.size(); }
};

// What mapping a record does with an object or an array in a wanted column.
enum class NestedValues : uint8_t { fail, leave_empty };

// Turns records into rows of header columns. It holds the scratch of one
// reader or worker thread: the parse output, an arena for decoded strings,
// the token table and the row, all reused from record to record, so that a
// warm mapper allocates nothing. Several mappers may share one header.
class RecordMapper {
public:
    // Allocates the token table. OutOfMemory.
    Status init();
    // Rows get `n` fields, the header's width. OutOfMemory.
    Status setWidth(size_t n);

    // Parses `record` as one object into parsed(), valid until the next
    // call. InvalidJson when it is not one (whatever the parser's reason),
    // OutOfMemory.
    Status parse(std::string_view record);
    std::span<const json::JsonField> parsed() const {
        return std::span<const json::JsonField>(parse_fields_.data(), parse_fields_.size());
    }

    // The record as a row of header columns 0..wanted-1 (wanted at most the
    // width): keys not in the header are ignored and missing keys give empty
    // text. A record whose leading keys come in header order without
    // escapes takes the shortcut, which reads only up to the wanted columns
    // (and so keeps the first value of a key given twice); others are
    // parsed whole, and the later value of a repeated key counts. A nested
    // value in a wanted column is NestedValueNotSupported, or with
    // leave_empty an empty text counted in *emptied (which is set for every
    // row). InvalidJson and OutOfMemory as for parse. The row is valid until
    // the next call.
    // Inline: the shortcut is tried once per record.
    Result<Row> toRow(std::string_view record, const JsonHeader &header, size_t wanted,
                      NestedValues nested, size_t *emptied) {
        *emptied = 0;
        std::span<const std::string_view> names(header.views.data(), header.views.size());
        if (json::tryFastRow(record, names, wanted, field_buf_.data()))
            return Row(field_buf_.data(), wanted);
        return fullRow(record, header, wanted, nested, emptied);
    }

private:
    // toRow by the full parse.
    Result<Row> fullRow(std::string_view record, const JsonHeader &header, size_t wanted,
                        NestedValues nested, size_t *emptied);

    Vec<std::string_view> field_buf_;    // one slot per header column
    Arena arena_;                        // decoded strings of the current full parse
    Vec<json::JsonField> parse_fields_;  // the full parse's field list
    Vec<json::Token> tokens_;            // the full parse's token table, off the stack
};

struct NdjsonScannerOptions {
    size_t chunk_size = kDefaultChunkSize;  // bytes per read; 0 is InvalidChunkSize
    InputLimits limits;
};

class NdjsonScanner {
public:
    enum class Mode : uint8_t { line_delimited = 0, json_array = 1 };

    NdjsonScanner() = default;
    NdjsonScanner(NdjsonScanner &&) noexcept = default;
    NdjsonScanner &operator=(NdjsonScanner &&) noexcept = default;

    // Opens `path` and reads the first record, whose keys become the header.
    // InvalidChunkSize, the platform's open errors, EmptyFile (no bytes or no
    // record), InvalidJson (the first record is not an object), TooManyFields
    // and RecordTooLarge (limits), OutOfMemory. Nothing is kept on failure.
    // When reading the first record fails and `failed_at` is not null, it
    // receives where that record begins (line 0 when there is none).
    static Result<NdjsonScanner> openWithOptions(const char *path,
                                                 const NdjsonScannerOptions &options,
                                                 RecordPosition *failed_at = nullptr);
    // The same over bytes held in memory (not copied; they must outlive the
    // scanner).
    static Result<NdjsonScanner> fromBytes(std::string_view bytes);
    static Result<NdjsonScanner> fromBytesWithOptions(std::string_view bytes,
                                                      const NdjsonScannerOptions &options,
                                                      RecordPosition *failed_at = nullptr);
    // Reads the first record from `reader` and goes on with the rest of its
    // input.
    static Result<NdjsonScanner> fromChunks(ChunkReader reader,
                                            const NdjsonScannerOptions &options,
                                            RecordPosition *failed_at = nullptr);

    // Rows then carry only columns 0..column (all columns when absent).
    void setStopAfterColumn(std::optional<size_t> column);

    // The next row (the first one is the record the header came from), the
    // end (nullopt, repeatable), or an error. RecordTooLarge, TooManyFields
    // and read errors are stored and returned by every later call.
    // InvalidJson (a record that is not an object, a blank line, an object
    // cut off by the end of the input), NestedValueNotSupported and
    // OutOfMemory consume the record; the next call goes on after it.
    //
    // A key given twice in one record: the later value wins, except when the
    // record takes the fast path (its leading keys in header order, no
    // escapes), which reads only the leading keys and so keeps the first.
    RowResult next();

    // The rows left, consuming them. A stored failure is returned again.
    // With input limits set, rows are read one by one so that the limits
    // apply. Otherwise nothing is parsed: line-delimited input counts its
    // remaining lines (blank lines included), an array its remaining objects.
    Result<size_t> countRemaining();

    // Right after opening: goes on with only the rows of the lines that
    // start in [start, end) of the file (ChunkReader::restrictToLines; the
    // first line, which gave the header, is a row of the range holding byte
    // 0). JsonArrayNotSplittable for an array, which has no lines to cut
    // at; NotRegularFile unless the file has positions; read errors,
    // OutOfMemory.
    Status restrictToLines(uint64_t start, uint64_t end);

    // Index of the first header name equal to `name`.
    std::optional<size_t> columnIndex(std::string_view name) const {
        for (size_t i = 0; i < header_.names.size(); ++i)
            if (header_.names[i].view() == name) return i;
        return std::nullopt;
    }
    std::span<const OwnedStr> header() const {
        return std::span<const OwnedStr>(header_.names.data(), header_.names.size());
    }
    Mode mode() const { return mode_; }
    const InputLimits &limits() const { return limits_; }
    uint64_t bytesConsumed() const { return reader_.bytesConsumed(); }
    uint64_t bytesLeft() const { return reader_.bytesLeft(); }

    // Where the record last read or failed begins: a line's first byte, an
    // array element's '{' (and its line), the first record's first byte that
    // is not whitespace. The first record's place until a row is read.
    RecordPosition position() const {
        if (mode_ != Mode::json_array) return reader_.linePosition();
        if (object_start_) placeObject();
        return object_position_;
    }

private:
    Status detectMode();
    Status readHeader();
    Result<bool> nextRecord(std::string_view *record);
    // Assembles the next object of an array, across chunks when it spans
    // them; false at the end of the array.
    Result<bool> nextObject(std::string_view *record);
    // Skips the rest of an array, returning how many objects it held.
    Result<size_t> skipObjects();
    // The next chunk of an array; a read error between objects moves the
    // position to where reading failed.
    Status refillArray();
    // The line of `p`, a byte of the chunk at or after line_counted_to_.
    // Line feeds are counted once, with the vector counting kernel, only
    // when a place is asked for and when a chunk is left: the array scan
    // itself does nothing for lines, and an object whose place nobody asks
    // for costs nothing.
    uint64_t arrayLineAt(const char *p) const;
    // Notes the '{' of an object of the current chunk; its line is counted
    // when asked for or when the chunk is left (placeObject).
    void beginObject(const char *start);
    void placeObject() const;
    // Appends [from, to) to the object being assembled.
    Status appendToObject(const char *from, const char *to, bool *discarding);

    InputLimits limits_;
    ChunkReader reader_;
    JsonHeader header_;
    RecordMapper mapper_;
    OwnedStr first_row_line_;  // the first record, handed out as the first row
    std::optional<size_t> stop_after_column_;
    size_t wanted_columns_ = 0;
    std::optional<Error> limit_failure_;
    JsonArrayScan array_;     // where the array scan stands (array mode)
    // Array mode: where the object last begun begins; its line is not
    // counted yet while object_start_ points at its '{' in the chunk.
    mutable RecordPosition object_position_;
    mutable const char *object_start_ = nullptr;
    mutable uint64_t array_line_ = 1;            // the line of *line_counted_to_
    mutable const char *line_counted_to_ = nullptr;  // line feeds before it are counted
    ByteBuf object_scratch_;  // an object spanning chunks is assembled here
    Mode mode_ = Mode::line_delimited;
    bool used_first_row_ = false;
};

}  // namespace rowkit
