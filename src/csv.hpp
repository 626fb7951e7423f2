// The CSV dialect: the field splitter and the field writer.
//
// Fields are separated by the delimiter. A field whose first byte is a double
// quote is quoted: it runs to the next quote that is not doubled, a doubled
// quote inside stands for one quote, and bytes between the closing quote and
// the next delimiter are dropped. A quote anywhere else is an ordinary byte.
// Only a line feed ends a line, so quoted fields never span lines.
#pragma once

#include <cstddef>
#include <string_view>

#include "alloc.hpp"
#include "byte_search.hpp"
#include "errors.hpp"
#include "input_limits.hpp"

namespace rowkit {

// Splits one line into fields. Fields are slices of the line, except quoted
// fields with doubled quotes, whose decoded text goes to `scratch`; all
// slices stay valid until scratch is next cleared.
struct FieldIterator {
    InputLimits limits;
    size_t fields_read = 0;
    std::string_view line;
    ByteBuf *scratch = nullptr;
    size_t pos = 0;
    char delimiter = ',';
    bool done = false;

    // Starts over `line` with no limits; clears scratch.
    void init(std::string_view l, char delim, ByteBuf *s) {
        limits = InputLimits();
        fields_read = 0;
        line = l;
        scratch = s;
        pos = 0;
        delimiter = delim;
        done = false;
        s->clear();
    }
    // Checks the record size first (RecordTooLarge), then starts as init does.
    Status initWithLimits(std::string_view l, char delim, ByteBuf *s, const InputLimits &lim) {
        ROWKIT_TRY(lim.checkRecord(l.size()));
        init(l, delim, s);
        limits = lim;
        return Status();
    }

    // Stores the next field in *out and returns true; false after the last
    // field. Errors: TooManyFields, UnterminatedQuote, OutOfMemory.
    Result<bool> next(std::string_view *out) {
        if (done) return false;
        if (limits.max_fields && fields_read >= *limits.max_fields) return Error::TooManyFields;
        ++fields_read;
        if (pos >= line.size()) {
            done = true;
            *out = std::string_view();
            return true;
        }
        if (line[pos] == '"') {
            ROWKIT_TRY(quotedField(out));
            return true;
        }
        const char *p = line.data() + pos;
        size_t rest = line.size() - pos;
        size_t d = bytes::findByte(p, rest, delimiter);
        *out = std::string_view(p, d);
        if (d < rest) {
            pos += d + 1;
        } else {
            pos = line.size();
            done = true;
        }
        return true;
    }

private:
    Status quotedField(std::string_view *out);
    Status quotedFieldEscaped(size_t start, std::string_view *out);
    void advancePastFieldEnd(size_t from);
};

// Receives the bytes writeField produces; returns false when it cannot take
// them (the writer's own failure, reported as WriteFailed).
struct ByteSink {
    virtual bool write(std::string_view bytes) = 0;

protected:
    ~ByteSink() = default;
};

// Writes one field in this dialect: quoted (quotes doubled) when it holds the
// delimiter, a quote, LF or CR; unchanged otherwise.
Status writeField(ByteSink &out, std::string_view field, char delimiter);

}  // namespace rowkit
