#include "csv.hpp"

#include <cstring>

namespace rowkit {

Status FieldIterator::quotedField(std::string_view *out) {
    size_t start = pos + 1;
    if (start >= line.size()) return Error::UnterminatedQuote;
    size_t rel = bytes::findByte(line.data() + start, line.size() - start, '"');
    if (rel == line.size() - start) return Error::UnterminatedQuote;
    size_t q = start + rel;
    if (q + 1 == line.size()) {
        done = true;
        pos = line.size();
        *out = line.substr(start, q - start);
        return Status();
    }
    if (line[q + 1] != '"') {
        advancePastFieldEnd(q + 1);
        *out = line.substr(start, q - start);
        return Status();
    }
    return quotedFieldEscaped(start, out);
}

Status FieldIterator::quotedFieldEscaped(size_t start, std::string_view *out) {
    // One reservation for the whole line: the decoded fields of a row never
    // add up to more, so later fields of the row cannot move earlier ones.
    // Grown geometrically so that slowly lengthening lines do not reallocate.
    if (!scratch->reserve(grownCapacity(scratch->capacity(), line.size(), 64)))
        return Error::OutOfMemory;
    size_t mark = scratch->size();
    size_t i = start;
    const size_t n = line.size();
    for (;;) {
        // Copy the run up to the next quote at once.
        size_t rel = bytes::findByte(line.data() + i, n - i, '"');
        if (i + rel >= n) {
            scratch->truncate(mark);
            return Error::UnterminatedQuote;
        }
        (void)scratch->append(line.data() + i, rel);  // capacity reserved above
        i += rel;
        if (i + 1 < n && line[i + 1] == '"') {
            (void)scratch->push('"');
            i += 2;
            if (i >= n) {
                scratch->truncate(mark);
                return Error::UnterminatedQuote;
            }
            continue;
        }
        break;  // the closing quote is at i
    }
    if (i + 1 == n) {
        done = true;
        pos = n;
    } else {
        advancePastFieldEnd(i + 1);
    }
    *out = std::string_view(scratch->data() + mark, scratch->size() - mark);
    return Status();
}

void FieldIterator::advancePastFieldEnd(size_t from) {
    size_t d = findDelimiter(from);
    if (d < line.size()) {
        pos = d + 1;
    } else {
        pos = line.size();
        done = true;
    }
}

namespace {

// Stores field n, growing the list when the row is wider than any before.
inline bool storeField(Vec<std::string_view> &fields, size_t n, std::string_view f) {
    if (n >= fields.size() && !fields.resize(n + 1)) return false;
    fields[n] = f;
    return true;
}

// The field-by-field split, from a field boundary `start` on, with n fields
// already stored.
Status splitWithIterator(std::string_view line, char delimiter, ByteBuf *scratch,
                         const InputLimits &limits, size_t max_stored,
                         Vec<std::string_view> &fields, size_t start, size_t n, size_t *count) {
    FieldIterator it;
    it.init(line, delimiter, scratch);
    it.limits = limits;
    it.pos = start;
    it.fields_read = n;
    for (;;) {
        std::string_view field;
        auto more = it.next(&field);
        if (!more.ok()) return more.error();
        if (!*more) break;
        if (!storeField(fields, n, field)) return Error::OutOfMemory;
        if (++n == max_stored) {
            if (!limits.max_fields) break;
            for (;;) {
                auto rest = it.next(&field);
                if (!rest.ok()) return rest.error();
                if (!*rest) break;
            }
            break;
        }
    }
    *count = n;
    return Status();
}

}  // namespace

Status splitLine(std::string_view line, char delimiter, ByteBuf *scratch,
                 const InputLimits &limits, size_t max_stored, Vec<std::string_view> &fields,
                 size_t *count) {
    ROWKIT_TRY(limits.checkRecord(line.size()));
    scratch->clear();
    if (max_stored == 0) {
        *count = 0;
        return Status();
    }
    if (limits.max_fields)
        return splitWithIterator(line, delimiter, scratch, limits, max_stored, fields, 0, 0, count);
    const char *p = line.data();
    const size_t len = line.size();
    size_t n = 0;
    size_t start = 0;
    for (size_t base = 0; base < len; base += 16) {
        uint32_t delims, quotes;
        const size_t rest = len - base;
        if (rest >= 16) {
            bytes::matchMasks16(p + base, delimiter, '"', &delims, &quotes);
        } else {
            delims = bytes::matchMaskPartial(p + base, rest, delimiter);
            quotes = bytes::matchMaskPartial(p + base, rest, '"');
        }
        if (quotes) {
            // A quote ahead: the field that starts at `start` (a field
            // boundary) and everything after it go the careful way.
            return splitWithIterator(line, delimiter, scratch, limits, max_stored, fields, start,
                                     n, count);
        }
        while (delims) {
            size_t d = base + static_cast<size_t>(__builtin_ctz(delims));
            delims &= delims - 1;
            if (!storeField(fields, n, std::string_view(p + start, d - start)))
                return Error::OutOfMemory;
            start = d + 1;
            if (++n == max_stored) {
                *count = n;
                return Status();
            }
        }
    }
    if (!storeField(fields, n, std::string_view(p + start, len - start))) return Error::OutOfMemory;
    *count = n + 1;
    return Status();
}

namespace {

constexpr uint64_t kOnes = 0x0101010101010101ull;
constexpr uint64_t kHighs = 0x8080808080808080ull;

inline uint64_t load64(const char *p) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    return w;
}

// Whether the word holds one of the bytes replicated in d, q, lf, cr. Each
// (v - ones) & ~v & highs is non-zero exactly when v has a zero byte.
inline bool hasSpecial(uint64_t w, uint64_t d, uint64_t q, uint64_t lf, uint64_t cr) {
    const uint64_t a = w ^ d, b = w ^ q, c = w ^ lf, e = w ^ cr;
    return (((a - kOnes) & ~a) | ((b - kOnes) & ~b) | ((c - kOnes) & ~c) | ((e - kOnes) & ~e)) &
           kHighs;
}

// Whether the field holds the delimiter, a quote, LF or CR; a word at a
// time. Only presence matters, so the last word of a longer field overlaps
// the one before, and a shorter field is packed into one word with its
// bytes repeated or zero bytes, none of which is special.
bool needsQuotes(std::string_view field, char delimiter) {
    const char *p = field.data();
    const size_t n = field.size();
    const uint64_t d = kOnes * static_cast<unsigned char>(delimiter), q = kOnes * '"',
                   lf = kOnes * '\n', cr = kOnes * '\r';
    if (n >= 8) {
        for (size_t i = 0; i + 8 < n; i += 8)
            if (hasSpecial(load64(p + i), d, q, lf, cr)) return true;
        return hasSpecial(load64(p + n - 8), d, q, lf, cr);
    }
    uint64_t w;
    if (n >= 4) {
        uint32_t first, last;
        std::memcpy(&first, p, 4);
        std::memcpy(&last, p + n - 4, 4);
        w = first | static_cast<uint64_t>(last) << 32;
    } else if (n > 0) {
        w = static_cast<unsigned char>(p[0]) | static_cast<unsigned char>(p[n / 2]) << 8 |
            static_cast<unsigned char>(p[n - 1]) << 16;
    } else {
        return false;
    }
    return hasSpecial(w, d, q, lf, cr);
}

}  // namespace

char *writeField(char *dst, std::string_view field, char delimiter) {
    if (!needsQuotes(field, delimiter)) {
        copyBytes(dst, field.data(), field.size());
        return dst + field.size();
    }
    *dst++ = '"';
    size_t run = 0;
    for (;;) {
        const size_t q = run + bytes::findByte(field.data() + run, field.size() - run, '"');
        if (q == field.size()) break;
        // Up to and with the quote, then the quote once more.
        copyBytes(dst, field.data() + run, q + 1 - run);
        dst += q + 1 - run;
        *dst++ = '"';
        run = q + 1;
    }
    copyBytes(dst, field.data() + run, field.size() - run);
    dst += field.size() - run;
    *dst++ = '"';
    return dst;
}

}  // namespace rowkit
