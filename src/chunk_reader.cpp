#include "chunk_reader.hpp"

#include <cstring>

#include "byte_search.hpp"

namespace rowkit {

ChunkReader::ChunkReader(ChunkReader &&o) noexcept
    : input_bytes(o.input_bytes),
      input_pos(o.input_pos),
      buf(o.buf),
      buf_cap(o.buf_cap),
      buf_len(o.buf_len),
      buf_pos(o.buf_pos),
      line_scratch(std::move(o.line_scratch)),
      file(std::move(o.file)),
      eof(o.eof),
      skip_partial_line(o.skip_partial_line) {
    o.buf = nullptr;
    o.buf_cap = o.buf_len = o.buf_pos = 0;
}

ChunkReader &ChunkReader::operator=(ChunkReader &&o) noexcept {
    if (this != &o) {
        this->~ChunkReader();
        new (this) ChunkReader(std::move(o));
    }
    return *this;
}

Status ChunkReader::init(FileHandle f, std::string_view bytes, size_t chunk_size) {
    if (chunk_size == 0) return Error::InvalidChunkSize;
    buf = static_cast<char *>(allocBytes(chunk_size));
    if (!buf) return Error::OutOfMemory;
    buf_cap = chunk_size;
    buf_len = buf_pos = 0;
    input_bytes = bytes;
    input_pos = 0;
    file = std::move(f);
    eof = false;
    return Status();
}

Status ChunkReader::fillBuffer() {
    size_t n;
    if (file.isOpen()) {
        auto r = readChunk(file.fd(), buf, buf_cap);
        if (!r.ok()) return r.error();
        n = *r;
    } else {
        n = input_bytes.size() - input_pos;
        if (n > buf_cap) n = buf_cap;
        if (n) std::memcpy(buf, input_bytes.data() + input_pos, n);
        input_pos += n;
    }
    buf_len = n;
    buf_pos = 0;
    if (n == 0) eof = true;
    return Status();
}

Result<bool> ChunkReader::nextLine(const InputLimits &limits, std::string_view *line) {
    line_scratch.clear();
    while (skip_partial_line) {
        if (buf_pos < buf_len) {
            size_t i = bytes::findByte(buf + buf_pos, buf_len - buf_pos, '\n');
            if (i < buf_len - buf_pos) {
                buf_pos += i + 1;
                skip_partial_line = false;
                break;
            }
            buf_pos = buf_len;
        }
        if (eof) {
            skip_partial_line = false;
            return false;
        }
        ROWKIT_TRY(fillBuffer());
    }
    for (;;) {
        if (buf_pos < buf_len) {
            const char *start = buf + buf_pos;
            size_t remaining = buf_len - buf_pos;
            size_t i = bytes::findByte(start, remaining, '\n');
            if (i < remaining) {
                if (limits.max_record_bytes && line_scratch.size() + i > *limits.max_record_bytes)
                    return Error::RecordTooLarge;
                buf_pos += i + 1;
                if (line_scratch.empty()) {
                    *line = trimCR(std::string_view(start, i));
                    return true;
                }
                if (!line_scratch.append(start, i)) {
                    line_scratch.clear();
                    return Error::OutOfMemory;
                }
                *line = trimCR(view(line_scratch));
                return true;
            }
            if (limits.max_record_bytes &&
                line_scratch.size() + remaining > *limits.max_record_bytes)
                return Error::RecordTooLarge;
            if (!line_scratch.append(start, remaining)) {
                line_scratch.clear();
                buf_pos = buf_len;
                skip_partial_line = true;
                return Error::OutOfMemory;
            }
            buf_pos = buf_len;
        }
        if (eof) {
            if (line_scratch.empty()) return false;
            *line = trimCR(view(line_scratch));
            return true;
        }
        ROWKIT_TRY(fillBuffer());
    }
}

}  // namespace rowkit
