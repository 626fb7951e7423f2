#include "chunk_reader.hpp"

#include <errno.h>
#include <sys/stat.h>

#include <cstring>

#include "byte_search.hpp"
#include "progress.hpp"
#include "simd_count.hpp"

namespace rowkit {

Status ChunkReader::allocBuffer(size_t chunk_size) {
    buf_.reset(static_cast<char *>(allocBytes(chunk_size)));
    if (!buf_) return Error::OutOfMemory;
    cap_ = chunk_size;
    len_ = pos_ = 0;
    eof_ = false;
    skip_partial_line_ = false;
    line_scratch_.clear();
    return Status();
}

Status ChunkReader::openFile(const char *path, size_t chunk_size) {
    *this = ChunkReader();
    if (chunk_size == 0) return Error::InvalidChunkSize;
    Result<OpenedFile> file = openNonEmpty(path);
    if (!file.ok()) return file.error();
    ROWKIT_TRY(allocBuffer(chunk_size));
    owned_ = std::move(file->file);
    fd_ = owned_.fd();
    positional_ = file->regular;
    sized_ = file->regular;
    end_ = file->regular ? file->size : UINT64_MAX;
    return Status();
}

Status ChunkReader::initBytes(std::string_view bytes, size_t chunk_size) {
    *this = ChunkReader();
    if (chunk_size == 0) return Error::InvalidChunkSize;
    if (bytes.empty()) return Error::EmptyFile;
    ROWKIT_TRY(allocBuffer(chunk_size));
    bytes_ = bytes;
    end_ = bytes.size();
    return Status();
}

Status ChunkReader::initRange(int fd, uint64_t begin, uint64_t end, size_t chunk_size) {
    *this = ChunkReader();
    if (chunk_size == 0) return Error::InvalidChunkSize;
    struct stat st;
    if (fstat(fd, &st) != 0) return errorFromErrno(errno);
    if (!S_ISREG(st.st_mode)) return Error::NotRegularFile;
    ROWKIT_TRY(allocBuffer(chunk_size));
    fd_ = fd;
    offset_ = begin;
    begin_ = begin;
    end_ = end > begin ? end : begin;
    return Status();
}

void ChunkReader::moveToRange(uint64_t begin, uint64_t end) {
    offset_ = begin_ = chunk_offset_ = begin;
    end_ = end > begin ? end : begin;
    len_ = pos_ = 0;
    eof_ = false;
    skip_partial_line_ = false;
    line_scratch_.clear();
    line_begun_ = RecordPosition{};
}

Status ChunkReader::restrictToLines(uint64_t data_start, uint64_t start, uint64_t end) {
    if (fd_ < 0 || !positional_) return Error::NotRegularFile;
    // The size at the open when the reader keeps to it, else the size now.
    uint64_t size = end_;
    if (!sized_) {
        struct stat st;
        if (fstat(fd_, &st) != 0) return errorFromErrno(errno);
        size = static_cast<uint64_t>(st.st_size);
    }
    // The first line start at or after `at`: the data's start, or the byte
    // after the first line feed at or after at - 1.
    auto lineStartFrom = [&](uint64_t at) -> Result<uint64_t> {
        if (at <= data_start) return data_start;
        return alignForwardToNewline(fd_, at - 1, size);
    };
    Result<uint64_t> first = lineStartFrom(start);
    if (!first.ok()) return first.error();
    Result<uint64_t> last = start < end ? lineStartFrom(end) : Result<uint64_t>(*first);
    if (!last.ok()) return last.error();
    offset_ = begin_ = *first;
    end_ = *last > *first ? *last : *first;
    len_ = pos_ = 0;
    eof_ = false;
    skip_partial_line_ = false;
    line_scratch_.clear();
    return Status();
}

Status ChunkReader::refill() {
    // What was read so far is consumed now: the report of a whole-input call.
    if (ProgressTarget *progress = currentProgress()) [[unlikely]]
        progress->report(offset_ - begin_, progressTotal(), len_);
    const uint64_t left = end_ - offset_;
    const size_t want = left < cap_ ? static_cast<size_t>(left) : cap_;
    size_t n = 0;
    if (fd_ >= 0) {
        if (want) {
            Result<size_t> got = positional_ ? readChunkAt(fd_, buf_.get(), want, offset_)
                                             : readChunk(fd_, buf_.get(), want);
            if (!got.ok()) return got.error();
            n = *got;
            // The file ended before the size it had at the open.
            if (sized_ && n < want) return Error::FileTruncated;
            // Or it is shorter now than it was: the bytes just read may
            // belong to a later version of the file than those before them.
            if (sized_) {
                struct stat st;
                if (fstat(fd_, &st) != 0) return errorFromErrno(errno);
                if (static_cast<uint64_t>(st.st_size) < end_) return Error::FileTruncated;
            }
        }
    } else if (want) {
        std::memcpy(buf_.get(), bytes_.data() + offset_, want);
        n = want;
    }
    chunk_offset_ = offset_;
    offset_ += n;
    len_ = n;
    pos_ = 0;
    if (n == 0) eof_ = true;
    return Status();
}

void ChunkReader::reportEnd() const {
    if (ProgressTarget *progress = currentProgress()) [[unlikely]] {
        const uint64_t total = progressTotal();
        const uint64_t done = total ? total : offset_ - begin_;
        progress->report(done, total, done - (chunk_offset_ - begin_));
    }
}

Result<bool> ChunkReader::nextLine(const InputLimits &limits, std::string_view *line) {
    line_scratch_.clear();
    char *const buf = buf_.get();
    while (skip_partial_line_) {
        if (pos_ < len_) {
            size_t i = bytes::findByte(buf + pos_, len_ - pos_, '\n');
            if (i < len_ - pos_) {
                pos_ += i + 1;
                skip_partial_line_ = false;
                break;
            }
            pos_ = len_;
        }
        if (eof_) {
            skip_partial_line_ = false;
            return false;
        }
        ROWKIT_TRY(refill());
    }
    // The line begins at `start` when nothing of it was assembled yet: the
    // first bytes of the call (after a skipped tail, if any).
    auto begin = [&](const char *start) {
        ++line_begun_.line;
        line_begun_.offset = chunk_offset_ + static_cast<uint64_t>(start - buf);
    };
    for (;;) {
        if (pos_ < len_) {
            const char *start = buf + pos_;
            size_t remaining = len_ - pos_;
            size_t i = bytes::findByte(start, remaining, '\n');
            if (i < remaining) {
                const bool whole = line_scratch_.empty();
                if (whole) begin(start);
                if (limits.max_record_bytes && line_scratch_.size() + i > *limits.max_record_bytes)
                    return Error::RecordTooLarge;
                pos_ += i + 1;
                if (whole) {
                    *line = trimCR(std::string_view(start, i));
                    return true;
                }
                if (!line_scratch_.append(start, i)) {
                    line_scratch_.clear();
                    return Error::OutOfMemory;
                }
                *line = trimCR(view(line_scratch_));
                return true;
            }
            if (line_scratch_.empty()) begin(start);
            if (limits.max_record_bytes &&
                line_scratch_.size() + remaining > *limits.max_record_bytes)
                return Error::RecordTooLarge;
            if (!line_scratch_.append(start, remaining)) {
                line_scratch_.clear();
                pos_ = len_;
                skip_partial_line_ = true;
                return Error::OutOfMemory;
            }
            pos_ = len_;
        }
        if (eof_) {
            if (line_scratch_.empty()) return false;
            *line = trimCR(view(line_scratch_));
            return true;
        }
        const Status read = refill();
        if (!read.ok()) {
            // Between lines, the line that failed is the one that would
            // have begun with the bytes that could not be read.
            if (line_scratch_.empty()) line_begun_ = RecordPosition{line_begun_.line + 1, offset_};
            return read.error();
        }
    }
}

Result<size_t> ChunkReader::countRemainingLines() {
    char *const buf = buf_.get();
    size_t lines = 0;
    bool examined = false;
    char last = '\n';
    // The unread bytes begin on the line after the last one begun, or on it
    // when its tail is still to be skipped.
    const uint64_t first_line = skip_partial_line_ ? line_begun_.line : line_begun_.line + 1;
    // Where the line the count stands in begins, and where the one before.
    uint64_t line_start = skip_partial_line_ ? line_begun_.offset : chunk_offset_ + pos_;
    uint64_t previous_start = line_start;
    for (;;) {
        if (pos_ < len_) {
            const char *p = buf + pos_;
            const size_t n = len_ - pos_;
            const size_t found = bytes::countByte(p, n, '\n');
            if (found) {
                // The last two line starts, for the position of the last line.
                const char *lf = static_cast<const char *>(memrchr(p, '\n', n));
                const char *before = found > 1 ? static_cast<const char *>(
                                                     memrchr(p, '\n', static_cast<size_t>(lf - p)))
                                               : nullptr;
                previous_start = before ? offsetOf(before + 1) : line_start;
                line_start = offsetOf(lf + 1);
            }
            lines += found;
            last = buf[len_ - 1];
            examined = true;
            pos_ = len_;
        }
        if (eof_) break;
        const Status read = refill();
        if (!read.ok()) {
            line_begun_ = RecordPosition{first_line + lines, line_start};
            return read.error();
        }
    }
    if (examined) {
        line_begun_ = last == '\n' ? RecordPosition{first_line + lines - 1, previous_start}
                             : RecordPosition{first_line + lines, line_start};
    }
    if (examined && last != '\n') ++lines;
    // The tail of a line that was dropped for lack of memory is the first
    // line counted above; it never comes back as a row.
    if (skip_partial_line_) {
        skip_partial_line_ = false;
        if (examined) --lines;
    }
    return lines;
}

namespace {
struct FreeBytes {
    void operator()(char *p) const { freeBytes(p); }
};
}  // namespace

Result<uint64_t> alignForwardToNewline(int fd, uint64_t approx, uint64_t file_size,
                                       size_t first_window) {
    if (approx >= file_size) return file_size;
    const uint64_t remaining = file_size - approx;
    uint64_t cap = first_window > 0 ? first_window : 1;
    for (;;) {
        const size_t want = static_cast<size_t>(remaining < cap ? remaining : cap);
        std::unique_ptr<char, FreeBytes> window(static_cast<char *>(allocBytes(want)));
        if (!window) return Error::OutOfMemory;
        Result<size_t> got = readChunkAt(fd, window.get(), want, approx);
        if (!got.ok()) return got.error();
        const size_t k = bytes::findByte(window.get(), *got, '\n');
        if (k < *got) return approx + k + 1;
        if (*got < want || want == remaining) return file_size;
        cap *= 2;
    }
}

}  // namespace rowkit
