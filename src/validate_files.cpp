#include "validate_files.hpp"

#include <fcntl.h>

#include <cstring>
#include <optional>

#include "file_io.hpp"
#include "json_writer.hpp"
#include "utf8.hpp"
#include "validate.hpp"

namespace rowkit {

namespace {

constexpr size_t kBufferBytes = 65536;

// An output file of the split: created exclusively, written through a
// 64 KiB buffer, and removed when it goes away before it was kept.
class OutputFile {
public:
    explicit OutputFile(const char *path) : path_(path) {}
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;
    ~OutputFile() {
        freeBytes(buf_);
        if (!created_) return;
        created_->file.close();
        removeIfSame(path_, *created_);
    }

    Status allocate() {
        buf_ = static_cast<char *>(allocBytes(kBufferBytes));
        return buf_ ? Status() : Status(Error::OutOfMemory);
    }

    Status create() {
        Result<CreatedFile> c = createExclusive(path_);
        if (!c.ok()) return c.error();
        created_.emplace(std::move(*c));
        return Status();
    }

    Status put(std::string_view bytes) {
        if (bytes.size() > kBufferBytes - used_) {
            ROWKIT_TRY(flush());
            if (bytes.size() >= kBufferBytes) {
                ROWKIT_TRY(writeAll(created_->file.fd(), bytes));
                startWriteback(bytes.size());
                return Status();
            }
        }
        copyBytes(buf_ + used_, bytes.data(), bytes.size());
        used_ += bytes.size();
        return Status();
    }

    // A record's text as it stands, then CR LF.
    Status putRecord(std::string_view text) {
        if (text.size() + 2 > kBufferBytes - used_) {
            ROWKIT_TRY(put(text));
            return put("\r\n");
        }
        copyBytes(buf_ + used_, text.data(), text.size());
        used_ += text.size();
        buf_[used_++] = '\r';
        buf_[used_++] = '\n';
        return Status();
    }

    // One CSV record, written straight into the buffer; a record that could
    // be larger than the buffer goes through a block of its own.
    Status putCsv(Row fields) {
        const size_t most = csvRecordBound(fields);
        if (most <= kBufferBytes) {
            if (most > kBufferBytes - used_) ROWKIT_TRY(flush());
            used_ = static_cast<size_t>(writeCsv(buf_ + used_, fields) - buf_);
            return Status();
        }
        char *block = static_cast<char *>(allocBytes(most));
        if (!block) return Error::OutOfMemory;
        const Status s =
            put(std::string_view(block, static_cast<size_t>(writeCsv(block, fields) - block)));
        freeBytes(block);
        return s;
    }

    // Writes out the buffer, syncs and closes the file (it still is removed
    // when it goes away unless kept).
    Status finish() {
        ROWKIT_TRY(flush());
        return syncAndClose(created_->file);
    }

    // Leaves the file in place from now on.
    void keep() { created_.reset(); }

private:
    Status flush() {
        const Status s = writeAll(created_->file.fd(), std::string_view(buf_, used_));
        if (s.ok()) startWriteback(used_);
        used_ = 0;
        return s;
    }

    // Has the kernel start writing out what was written so far, every
    // 8 MiB, so that the disk works while rows are still read and the sync
    // at the end finds little left to wait for. Where that cannot be asked,
    // the sync does all the work.
    void startWriteback(size_t n) {
        written_ += n;
#ifdef SYNC_FILE_RANGE_WRITE
        constexpr uint64_t kWritebackBytes = uint64_t{8} << 20;
        if (written_ - started_ < kWritebackBytes) return;
        (void)sync_file_range(created_->file.fd(), static_cast<off_t>(started_),
                              static_cast<off_t>(written_ - started_), SYNC_FILE_RANGE_WRITE);
        started_ = written_;
#endif
    }

    const char *path_;
    std::optional<CreatedFile> created_;
    char *buf_ = nullptr;
    size_t used_ = 0;
    uint64_t written_ = 0;  // bytes written to the file
    uint64_t started_ = 0;  // bytes whose writing out was asked for
};

// Whether any byte of `w` is zero, exactly per byte: a byte's high bit in
// the result is set when that byte is zero.
inline uint64_t zeroBytes(uint64_t w) {
    constexpr uint64_t low7 = 0x7f7f7f7f7f7f7f7fULL;
    return ~(((w & low7) + low7) | w | low7);
}

// The record's fields as one piece of memory, when writeCsv would write
// exactly that piece: the fields lie one after another with one comma
// between neighbours, the piece holds no quote, CR or line feed, and its
// only commas are those between fields, so no field needs quotes. This is
// the common case of a CSV line without quotes, whose record is then
// checked and copied in one go instead of field by field. Also says whether
// the piece is ASCII, which spares the UTF-8 check.
struct PlainRecord {
    std::string_view text;
    bool ascii = false;  // and so valid UTF-8
};

std::optional<PlainRecord> plainRecord(Row fields) {
    const size_t n = fields.size();
    if (n == 0 || (n == 1 && fields[0].empty()) || fields[0].data() == nullptr) return std::nullopt;
    const char *begin = fields[0].data();
    const char *end = begin + fields[0].size();
    for (size_t i = 1; i < n; ++i) {
        if (fields[i].data() != end + 1 || *end != ',') return std::nullopt;
        end = fields[i].data() + fields[i].size();
    }
    // One pass, a word at a time: the bytes that need quotes, the commas
    // (each match's flag moved to the byte's low bit, the flags summed by a
    // multiply) and the high bits, which say whether the text is ASCII.
    constexpr uint64_t ones = 0x0101010101010101ULL;
    size_t commas = 0;
    uint64_t special = 0, high = 0;
    const char *p = begin;
    for (; end - p >= 8; p += 8) {
        uint64_t w;
        std::memcpy(&w, p, 8);
        special |= zeroBytes(w ^ ('"' * ones)) | zeroBytes(w ^ ('\r' * ones)) |
                   zeroBytes(w ^ ('\n' * ones));
        commas += static_cast<size_t>(((zeroBytes(w ^ (',' * ones)) >> 7) * ones) >> 56);
        high |= w;
    }
    for (; p < end; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        special |= c == '"' || c == '\r' || c == '\n';
        commas += c == ',';
        high |= c;
    }
    if (special != 0 || commas != n - 1) return std::nullopt;
    return PlainRecord{std::string_view(begin, static_cast<size_t>(end - begin)),
                       (high & 0x8080808080808080ULL) == 0};
}

// {"values":[...],"errors":[...]} and a line feed.
Status writeRejectedLine(ByteBuf &out, const ValidatedRow &row) {
    ROWKIT_TRY(writeJsonRaw(out, "{\"values\":"));
    ROWKIT_TRY(writeJsonTextArray(out, row.row));
    ROWKIT_TRY(writeJsonRaw(out, ",\"errors\":"));
    ROWKIT_TRY(writeRowErrorsJson(out, row.errors));
    return writeJsonRaw(out, "}\n");
}

}  // namespace

size_t csvRecordBound(Row fields) {
    size_t most = 2 + fields.size();  // CR LF and the commas, or "" for a lone empty field
    for (std::string_view field : fields)
        most += fieldBound(field.size());
    return most;
}

char *writeCsv(char *dst, Row fields) {
    if (fields.size() == 1 && fields[0].empty()) {
        copyBytes(dst, "\"\"\r\n", 4);
        return dst + 4;
    }
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i) *dst++ = ',';
        dst = writeField(dst, fields[i], ',');
    }
    *dst++ = '\r';
    *dst++ = '\n';
    return dst;
}

Result<SplitStats> validateToFiles(const char *path, std::string_view schema_json,
                                   const char *accepted, const char *rejected) {
    Result<Validator> v = Validator::openJson(path, schema_json);
    if (!v.ok()) return v.error();
    // Declared in this order, the rejected file goes first when both must.
    OutputFile accepted_out(accepted), rejected_out(rejected);
    Vec<std::string_view> header;
    ByteBuf line;  // one rejected line at a time
    ROWKIT_TRY(accepted_out.allocate());
    ROWKIT_TRY(rejected_out.allocate());
    if (!header.reserve(v->header().size())) return Error::OutOfMemory;
    for (const OwnedStr &name : v->header())
        (void)header.push(name.view());
    ROWKIT_TRY(accepted_out.create());
    ROWKIT_TRY(rejected_out.create());

    const Row header_row(header.data(), header.size());
    ROWKIT_TRY(requireUtf8(header_row));
    ROWKIT_TRY(accepted_out.putCsv(header_row));
    SplitStats stats;
    for (;;) {
        Result<std::optional<ValidatedRow>> r = v->next();
        if (!r.ok()) return r.error();
        if (!r->has_value()) break;
        const ValidatedRow &row = **r;
        if (row.errors.empty()) {
            if (const std::optional<PlainRecord> plain = plainRecord(row.row)) {
                // Commas between valid UTF-8 fields keep the whole valid.
                if (!plain->ascii && !isValidUtf8(plain->text)) return Error::InvalidUtf8;
                ROWKIT_TRY(accepted_out.putRecord(plain->text));
            } else {
                ROWKIT_TRY(requireUtf8(row.row));
                ROWKIT_TRY(accepted_out.putCsv(row.row));
            }
            continue;
        }
        ROWKIT_TRY(requireUtf8(row.row));
        line.clear();
        ROWKIT_TRY(writeRejectedLine(line, row));
        ROWKIT_TRY(rejected_out.put(view(line)));
        stats.errors_total += row.errors.size();
    }
    ROWKIT_TRY(accepted_out.finish());
    ROWKIT_TRY(rejected_out.finish());
    accepted_out.keep();
    rejected_out.keep();
    stats.rows_total = v->rowNumber();
    stats.rows_valid = v->rowsValid();
    stats.rows_invalid = v->rowsInvalid();
    return stats;
}

}  // namespace rowkit
