// The CSV reader: a header line, then one row per line.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

#include "alloc.hpp"
#include "chunk_reader.hpp"
#include "csv.hpp"
#include "errors.hpp"
#include "input_limits.hpp"
#include "row.hpp"

namespace rowkit {

struct ScannerOptions {
    InputLimits limits;
    size_t chunk_size = kDefaultChunkSize;
    std::optional<size_t> stop_after_column;
    char delimiter = ',';
};

// The header and its column lookup come from RecordHeader.
class Scanner : public RecordHeader {
public:
    Scanner() = default;
    Scanner(Scanner &&) noexcept = default;
    Scanner &operator=(Scanner &&) noexcept = default;

    // Opening reads the header line. When that fails and `failed_at` is not
    // null, it receives where the header begins (line 1, offset 0), or line
    // 0 when there is no line (an empty input, or one that cannot be opened).
    static Result<Scanner> open(const char *path);
    static Result<Scanner> openWithOptions(const char *path, const ScannerOptions &options,
                                           RecordPosition *failed_at = nullptr);
    // Reads `bytes` (not copied; they must outlive the scanner).
    static Result<Scanner> fromBytes(std::string_view bytes);
    static Result<Scanner> fromBytesWithOptions(std::string_view bytes,
                                                const ScannerOptions &options,
                                                RecordPosition *failed_at = nullptr);
    // Reads the header from `reader` and goes on with the rest of its input.
    static Result<Scanner> fromChunks(ChunkReader reader, const ScannerOptions &options,
                                      RecordPosition *failed_at = nullptr);

    // The next row, nullopt at the end (repeatable), or an error.
    // RecordTooLarge, TooManyFields and read errors are stored: every later
    // call returns them again. UnterminatedQuote and OutOfMemory consume the
    // line; the next call goes on with the following one.
    RowResult next();

    // The number of rows left, consuming them: afterwards next() returns
    // the end. A stored failure is returned again. With input limits set,
    // rows are read one by one so that the limits still apply; otherwise
    // the rest of the input is not split at all: every line counts, blank
    // lines and lines a row read would refuse (an unclosed quote) included.
    Result<size_t> countRemaining();

    // Right after the header was read: goes on with only the rows of the
    // lines that start in [start, end) of the file (ChunkReader::
    // restrictToLines, the data starting after the header line).
    // NotRegularFile unless the file has positions; read errors, OutOfMemory.
    Status restrictToLines(uint64_t start, uint64_t end) {
        return reader_.restrictToLines(reader_.position(), start, end);
    }

    void setStopAfterColumn(std::optional<size_t> column) { stop_after_column_ = column; }
    const InputLimits &limits() const { return limits_; }
    uint64_t bytesConsumed() const { return reader_.bytesConsumed(); }
    uint64_t bytesLeft() const { return reader_.bytesLeft(); }

    // Where the record last read or failed begins: the header (line 1) until
    // a row is read. Every line is one record.
    RecordPosition position() const { return reader_.linePosition(); }

private:
    Status readHeader();
    RowResult splitInto(std::string_view line);

    InputLimits limits_;
    ChunkReader reader_;
    OwnedStr header_line_;
    Vec<std::string_view> field_buf_;
    std::optional<size_t> stop_after_column_;
    ByteBuf quote_scratch_;
    // RecordTooLarge, TooManyFields or a read error, once met.
    std::optional<Error> limit_failure_;
    bool ended_ = false;
    char delimiter_ = ',';
};

}  // namespace rowkit
