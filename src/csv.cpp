#include "csv.hpp"

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
    if (!scratch->reserve(line.size())) return Error::OutOfMemory;
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
    size_t rest = line.size() - from;
    size_t d = bytes::findByte(line.data() + from, rest, delimiter);
    if (d < rest) {
        pos = from + d + 1;
    } else {
        pos = line.size();
        done = true;
    }
}

Status writeField(ByteSink &out, std::string_view field, char delimiter) {
    bool needs_quotes = false;
    for (char c : field) {
        if (c == delimiter || c == '"' || c == '\n' || c == '\r') {
            needs_quotes = true;
            break;
        }
    }
    if (!needs_quotes) {
        if (!field.empty() && !out.write(field)) return Error::WriteFailed;
        return Status();
    }
    if (!out.write("\"")) return Error::WriteFailed;
    size_t run = 0;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '"') {
            if (!out.write(field.substr(run, i + 1 - run))) return Error::WriteFailed;
            if (!out.write("\"")) return Error::WriteFailed;
            run = i + 1;
        }
    }
    if (run < field.size() && !out.write(field.substr(run))) return Error::WriteFailed;
    if (!out.write("\"")) return Error::WriteFailed;
    return Status();
}

}  // namespace rowkit
