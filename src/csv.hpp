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
//
// Delimiters are found 16 bytes at a time: the iterator keeps the match mask
// of the last block it loaded, so short fields share one vector compare.
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
        block_base_ = l.size() + 16;  // no block loaded
        block_mask_ = 0;
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
    [[gnu::always_inline]] Result<bool> next(std::string_view *out) {
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
        size_t d = findDelimiter(pos);
        *out = std::string_view(line.data() + pos, d - pos);
        if (d < line.size()) {
            pos = d + 1;
        } else {
            pos = line.size();
            done = true;
        }
        return true;
    }

    // Position of the first delimiter at or after `from`, or the line length.
    [[gnu::always_inline]] size_t findDelimiter(size_t from) {
        const size_t n = line.size();
        for (;;) {
            size_t offset = from - block_base_;  // wraps to a huge value below the block
            if (offset < 16) {
                uint32_t m = block_mask_ >> offset;
                if (m) return from + static_cast<size_t>(__builtin_ctz(m));
                from = block_base_ + 16;
            }
            if (from >= n) return n;
            block_base_ = from;
            size_t rest = n - from;
            block_mask_ = rest >= 16 ? bytes::matchMask16(line.data() + from, delimiter)
                                     : bytes::matchMaskPartial(line.data() + from, rest, delimiter);
        }
    }

private:
    Status quotedField(std::string_view *out);
    Status quotedFieldEscaped(size_t start, std::string_view *out);
    void advancePastFieldEnd(size_t from);

    size_t block_base_ = 16;  // line offset of the loaded block
    uint32_t block_mask_ = 0;  // delimiter bits of that block
};

// Splits a whole line into `fields` (grown as needed; its first *count
// entries are the row) with the same rules as FieldIterator. At most
// `max_stored` fields are stored; without a field bound the rest of the line
// is then not looked at, with one (max_fields set) it is still gone through
// so that TooManyFields and UnterminatedQuote there are reported. Lines
// without any double quote are split from 16-byte delimiter masks without
// going field by field.
Status splitLine(std::string_view line, char delimiter, ByteBuf *scratch,
                 const InputLimits &limits, size_t max_stored, Vec<std::string_view> &fields,
                 size_t *count);

// The most bytes writeField writes for a field of `size` bytes: every byte
// a quote, doubled, inside quotes.
constexpr size_t fieldBound(size_t size) { return 2 * size + 2; }

// Writes one field in this dialect at `dst`, which has room for
// fieldBound(field.size()) bytes: quoted (quotes doubled) when it holds the
// delimiter, a quote, LF or CR; unchanged otherwise. Returns the end of what
// it wrote.
char *writeField(char *dst, std::string_view field, char delimiter);

}  // namespace rowkit
