// Fixed-size chunk reads over a file, a byte range of a file or bytes held in
// memory, and line assembly across chunk boundaries. Both readers (CSV and
// JSON records) are built on it.
//
// Files are read with positional reads (pread), which neither use nor move
// the descriptor's file offset. That is what lets several readers share one
// descriptor: the parallel scan opens the file once and gives each worker
// thread a reader over its own byte range (initRange); the readers borrow the
// descriptor, and the one owner closes it after the last reader is gone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "alloc.hpp"
#include "errors.hpp"
#include "file_io.hpp"
#include "input_limits.hpp"

namespace rowkit {

inline constexpr size_t kDefaultChunkSize = 262144;
// The first window a line start is looked for in (alignForwardToNewline); it
// doubles until a line feed is found.
inline constexpr size_t kAlignWindowBytes = 65536;

// Where a record begins in its input: what error details and the handles'
// line numbers report.
struct RecordPosition {
    uint64_t line = 0;    // 1-based line; 0 when no record was begun
    uint64_t offset = 0;  // bytes before the record, from the start of the input
};

class ChunkReader {
public:
    ChunkReader() = default;
    ChunkReader(ChunkReader &&) noexcept = default;
    ChunkReader &operator=(ChunkReader &&) noexcept = default;

    // ---- sources ----------------------------------------------------------
    // Each one replaces whatever the reader read before and allocates the
    // chunk buffer. InvalidChunkSize when chunk_size is 0 (checked before
    // anything else), OutOfMemory; on failure the reader holds nothing.

    // Opens `path` read-only; the reader owns the descriptor and reads the
    // whole file. The platform's open errors; EmptyFile for a regular file of
    // zero bytes. A pipe, FIFO or character device is read with plain reads
    // to its end (it has no positions); when that yields nothing, the
    // readers built on this one report EmptyFile as for an empty file.
    //
    // A regular file is read up to the size it had when it was opened:
    // bytes appended later are not read, so a file that grows gives the
    // lines it held at the open. A file cut shorter than that size fails the
    // refill that meets the cut with FileTruncated, rather than end a line
    // that had more bytes, or join the rest of a line to a later version of
    // the file.
    Status openFile(const char *path, size_t chunk_size);

    // Reads `bytes`, which are not copied and must outlive the reader.
    // EmptyFile when there are none.
    Status initBytes(std::string_view bytes, size_t chunk_size);

    // Reads the bytes [begin, end) of the file open on `fd`, stopping at
    // `end` or at the end of the file, whichever comes first; a range with
    // begin >= end is empty. The descriptor is borrowed: the reader never
    // closes it, and whoever opened it keeps it open until every reader over
    // it is gone. Any number of readers, on any threads, may share it.
    // NotRegularFile when fd is not a regular file: only those have byte
    // ranges.
    Status initRange(int fd, uint64_t begin, uint64_t end, size_t chunk_size);

    // Points a reader made by initRange at another range of the same file,
    // [begin, end) as for initRange, keeping its buffers: a thread that reads
    // one range after another allocates (and faults in) its chunk once.
    // Lines are counted afresh from `begin`.
    void moveToRange(uint64_t begin, uint64_t end);

    // Narrows a reader over a file with positions (openFile on a regular
    // file, or initRange) to the lines that start in [start, end): a line
    // starts at `data_start` or just after a line feed that lies at or after
    // it, so every line of the data belongs to exactly one of any consecutive
    // ranges that cover it, whichever bytes the ranges' bounds fall on. The
    // chunk read so far is dropped and reading goes on at the first such
    // line. Bounds past the end of the file are taken as its end; start >=
    // end leaves no line. NotRegularFile for a pipe, a device or bytes in
    // memory; read errors, OutOfMemory.
    Status restrictToLines(uint64_t data_start, uint64_t start, uint64_t end);

    // The source offset of the first byte not yet consumed: right after a
    // line nextLine returned, the start of the next line.
    uint64_t position() const { return offset_ - (len_ - pos_); }

    // ---- chunks -----------------------------------------------------------

    // The bytes of the current chunk not yet consumed.
    std::string_view unread() const { return std::string_view(buf_.get() + pos_, len_ - pos_); }
    // Marks the first n bytes of unread() consumed (n <= unread().size()).
    void consume(size_t n) { pos_ += n; }
    // The offset in the input of a byte of the current chunk.
    uint64_t offsetOf(const char *p) const {
        return chunk_offset_ + static_cast<uint64_t>(p - buf_.get());
    }
    // The offset in the input of the next byte a refill would read.
    uint64_t readOffset() const { return offset_; }
    // Replaces the chunk with the next one, dropping what was left unread.
    // A read of zero bytes means the input has ended. Read errors are
    // returned as they are, after which the position is unknown.
    //
    // During a whole-input call with a progress target (progress.hpp), every
    // refill first reports the bytes read so far as consumed, with the
    // source's size (0 when unknown) and what the chunk it drops added; so
    // the refill that finds the end reports the whole source.
    Status refill();
    // Reports the source as consumed to its end, for a reader that stops
    // before its last byte because the data ends there (a JSON array's
    // closing bracket). Nothing without a progress target.
    void reportEnd() const;
    // Whether a refill found nothing more: with unread() empty, the input
    // is exhausted.
    bool inputEnded() const { return eof_; }
    // Bytes of the source consumed so far: read from it, less what the chunk
    // still holds unread. Counted from the start of a range.
    uint64_t bytesConsumed() const { return offset_ - begin_ - (len_ - pos_); }
    // Bytes of the source not consumed yet, as far as its size is known: 0
    // for a pipe or a device.
    uint64_t bytesLeft() const {
        if (end_ == UINT64_MAX || end_ <= position()) return 0;
        return end_ - position();
    }

    // ---- lines ------------------------------------------------------------

    // The next line without its line feed and with one trailing CR removed.
    // Returns false at the end of the input. The line is valid until the next
    // call. RecordTooLarge when the line (CR included) exceeds the bound;
    // OutOfMemory when a line spanning chunks cannot be assembled, in which
    // case the rest of that line is skipped.
    //
    // Every line begun moves linePosition() to it, so that it names the line
    // returned or the one that failed (for a read error between lines, the
    // line that could not be read). Lines are numbered by the lines read
    // before them, all of which nextLine read: a reader that hands out lines
    // only through nextLine needs no other count of line feeds.
    Result<bool> nextLine(const InputLimits &limits, std::string_view *line);

    // Counts the lines in the rest of the input without assembling them and
    // consumes them: the unread part of the chunk, then every further chunk
    // until a refill yields nothing. Every line feed ends a line, blank lines
    // included; a last line without a line feed counts too. The rest of a
    // line that nextLine skipped for lack of memory is not counted. Read
    // errors are returned as they are. linePosition() moves to the last line
    // counted, or to the line whose read failed.
    Result<size_t> countRemainingLines();

    // Where the line last begun by nextLine (or counted last) begins; line 0
    // before the first. Lines are counted from the reader's first byte.
    RecordPosition linePosition() const { return line_begun_; }

private:
    // The size progress is reported against: the bytes from begin_ to the
    // source's end, or 0 when that is not known.
    uint64_t progressTotal() const { return end_ == UINT64_MAX ? 0 : end_ - begin_; }

    struct FreeBytes {
        void operator()(char *p) const { freeBytes(p); }
    };

    Status allocBuffer(size_t chunk_size);

    std::string_view bytes_;  // the in-memory source (not owned)
    FileHandle owned_;        // the file, when the reader opened it
    int fd_ = -1;             // the descriptor read from: owned_'s or a borrowed one
    uint64_t offset_ = 0;     // next byte to read, in the file or in bytes_
    uint64_t chunk_offset_ = 0;  // offset of the chunk's first byte
    uint64_t end_ = 0;        // the source ends here (exclusive), or at the file's end
    uint64_t begin_ = 0;      // where offset_ started: a range's first byte, else 0
    bool positional_ = true;  // fd_ is read with pread; false for pipes and devices
    bool sized_ = false;      // end_ is the file's size at the open: a shorter read is a cut
    std::unique_ptr<char, FreeBytes> buf_;  // the chunk buffer
    size_t cap_ = 0;                        // chunk size
    size_t len_ = 0;                        // valid bytes in the buffer
    size_t pos_ = 0;                        // next unconsumed byte of the buffer
    ByteBuf line_scratch_;                  // a line spanning chunks is assembled here
    RecordPosition line_begun_;             // the line nextLine last began
    bool eof_ = false;                      // a refill produced zero bytes
    // Set when a line could not be assembled for lack of memory: its unread
    // rest is skipped so that it never comes back as a row of its own.
    bool skip_partial_line_ = false;
};

// The open sequence of both record readers: a chunk reader over the file at
// `path`, or over `bytes`, with the options' chunk size, then the reader's
// fromChunks on it. The errors of openFile or initBytes, then those of
// fromChunks, which places a failure in *failed_at (line 0 before any line).
template <class Reader, class Options>
Result<Reader> openRecords(const char *path, const Options &options,
                           RecordPosition *failed_at = nullptr) {
    if (failed_at) *failed_at = RecordPosition{};
    ChunkReader chunks;
    ROWKIT_TRY(chunks.openFile(path, options.chunk_size));
    return Reader::fromChunks(std::move(chunks), options, failed_at);
}

template <class Reader, class Options>
Result<Reader> recordsFromBytes(std::string_view bytes, const Options &options,
                                RecordPosition *failed_at = nullptr) {
    if (failed_at) *failed_at = RecordPosition{};
    ChunkReader chunks;
    ROWKIT_TRY(chunks.initBytes(bytes, options.chunk_size));
    return Reader::fromChunks(std::move(chunks), options, failed_at);
}

// The first line start at or after `approx` in a file of `file_size` bytes
// open on `fd`: just after the first line feed at or after `approx` (so a
// line feed at `approx` gives approx + 1), or `file_size` when none follows.
// Reads windows of `first_window` bytes (64 KiB unless told), then twice as
// many, ... from `approx`, never the whole file; only line feeds count
// (quotes do not). OutOfMemory, read errors.
Result<uint64_t> alignForwardToNewline(int fd, uint64_t approx, uint64_t file_size,
                                       size_t first_window = kAlignWindowBytes);

// Drops one trailing carriage return.
inline std::string_view trimCR(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

}  // namespace rowkit
