// Fixed-size chunk reads over a file or an in-memory byte range, and line
// assembly across chunk boundaries. Both readers (CSV and JSON records) are
// built on it.
#pragma once

#include <cstddef>
#include <string_view>

#include "alloc.hpp"
#include "errors.hpp"
#include "file_io.hpp"
#include "input_limits.hpp"

namespace rowkit {

inline constexpr size_t kDefaultChunkSize = 262144;

class ChunkReader {
public:
    ChunkReader() = default;
    ChunkReader(const ChunkReader &) = delete;
    ChunkReader &operator=(const ChunkReader &) = delete;
    ChunkReader(ChunkReader &&o) noexcept;
    ChunkReader &operator=(ChunkReader &&o) noexcept;
    ~ChunkReader() { freeBytes(buf); }

    // Takes the file (or, without one, reads `bytes`, which must outlive the
    // reader) and allocates the chunk buffer. chunk_size must not be 0.
    Status init(FileHandle file, std::string_view bytes, size_t chunk_size);

    // Replaces the buffer's contents with the next chunk: buf_len becomes
    // the count read, buf_pos 0, and a count of 0 sets eof.
    Status fillBuffer();

    // The next line without its line feed and with one trailing CR removed.
    // Returns false at the end of the input. The line is valid until the next
    // call. RecordTooLarge when the line (CR included) exceeds the bound.
    Result<bool> nextLine(const InputLimits &limits, std::string_view *line);

    // Unread bytes of the current buffer.
    std::string_view unread() const { return std::string_view(buf + buf_pos, buf_len - buf_pos); }

    std::string_view input_bytes;  // the in-memory source (not owned)
    size_t input_pos = 0;          // next unread byte of input_bytes
    char *buf = nullptr;           // chunk buffer, owned
    size_t buf_cap = 0;            // chunk size
    size_t buf_len = 0;            // valid bytes in buf
    size_t buf_pos = 0;            // next unconsumed byte in buf
    ByteBuf line_scratch;          // a line spanning chunks is assembled here
    FileHandle file;               // the open file, when reading one
    bool eof = false;              // a refill produced zero bytes
    // Set when a line could not be assembled for lack of memory: its unread
    // rest is skipped so that it never comes back as a row of its own.
    bool skip_partial_line = false;
};

// Drops one trailing carriage return.
inline std::string_view trimCR(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

}  // namespace rowkit
