#include "validate_files.hpp"

#include <optional>

#include "file_io.hpp"
#include "json_writer.hpp"
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
            if (bytes.size() >= kBufferBytes) return writeAll(created_->file.fd(), bytes);
        }
        copyBytes(buf_ + used_, bytes.data(), bytes.size());
        used_ += bytes.size();
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
        used_ = 0;
        return s;
    }

    const char *path_;
    std::optional<CreatedFile> created_;
    char *buf_ = nullptr;
    size_t used_ = 0;
};

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
        ROWKIT_TRY(requireUtf8(row.row));
        if (row.errors.empty()) {
            ROWKIT_TRY(accepted_out.putCsv(row.row));
            continue;
        }
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
