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
class OutputFile final : public ByteSink {
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

    // The sink of writeField; a failure is kept in error().
    bool write(std::string_view bytes) override {
        if (bytes.size() <= kBufferBytes - used_) [[likely]] {
            copyBytes(buf_ + used_, bytes.data(), bytes.size());
            used_ += bytes.size();
            return true;
        }
        return writeThrough(bytes);
    }

    Status put(std::string_view bytes) { return write(bytes) ? Status() : Status(error_); }

    Status putCsv(Row fields) {
        const Status s = writeCsv(*this, fields);
        return s.ok() || s.error() != Error::WriteFailed ? s : Status(error_);
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

    bool writeThrough(std::string_view bytes) {
        Status s = flush();
        if (s.ok() && bytes.size() >= kBufferBytes) {
            s = writeAll(created_->file.fd(), bytes);
        } else if (s.ok()) {
            copyBytes(buf_, bytes.data(), bytes.size());
            used_ = bytes.size();
        }
        if (!s.ok()) error_ = s.error();
        return s.ok();
    }

    const char *path_;
    std::optional<CreatedFile> created_;
    char *buf_ = nullptr;
    size_t used_ = 0;
    Error error_ = Error::WriteFailed;
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

Status writeCsv(ByteSink &out, Row fields) {
    if (fields.size() == 1 && fields[0].empty()) {
        if (!out.write("\"\"\r\n")) return Error::WriteFailed;
        return Status();
    }
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i && !out.write(",")) return Error::WriteFailed;
        ROWKIT_TRY(writeField(out, fields[i], ','));
    }
    if (!out.write("\r\n")) return Error::WriteFailed;
    return Status();
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
