// The CSV reader over arbitrary bytes, in chunks of 1 byte to 64 KiB, with a
// column bound, input limits and a delimiter taken from the input, checked
// row by row against a plain splitter written here from the dialect's rules.
// A second reader reads some rows and counts the rest.
#include <string>
#include <vector>

#include "csv_scanner.hpp"
#include "fuzz_input.hpp"

namespace {

using rowkit::Error;

struct Options {
    rowkit::ScannerOptions scanner;
    size_t rows_before_count = 0;
};

// One expected outcome of a read: a row or an error.
struct Outcome {
    bool ok = true;
    Error error = Error::Unexpected;
    std::vector<std::string> fields;
};

// Splits one line (without its line feed and trailing CR) the plain way:
// field by field, a field opening with a quote running to the next quote
// that is not doubled.
Outcome splitReference(std::string_view line, char delim, std::optional<size_t> max_fields,
                       size_t max_stored) {
    Outcome out;
    size_t pos = 0;
    size_t read = 0;
    bool done = false;
    while (!done) {
        if (out.fields.size() == max_stored && !max_fields) break;
        if (max_fields && read >= *max_fields) return Outcome{false, Error::TooManyFields, {}};
        ++read;
        std::string field;
        if (pos >= line.size()) {
            done = true;
        } else if (line[pos] == '"') {
            size_t i = pos + 1;
            for (;;) {
                if (i >= line.size()) return Outcome{false, Error::UnterminatedQuote, {}};
                if (line[i] != '"') {
                    field += line[i++];
                } else if (i + 1 < line.size() && line[i + 1] == '"') {
                    field += '"';
                    i += 2;
                } else {
                    break;
                }
            }
            size_t d = line.find(delim, i + 1);
            if (d == std::string_view::npos) done = true;
            else pos = d + 1;
        } else {
            size_t d = line.find(delim, pos);
            if (d == std::string_view::npos) {
                field = std::string(line.substr(pos));
                done = true;
            } else {
                field = std::string(line.substr(pos, d - pos));
                pos = d + 1;
            }
        }
        if (out.fields.size() < max_stored) out.fields.push_back(std::move(field));
    }
    return out;
}

// The lines of the input as the reader sees them: cut at every line feed,
// an empty piece after the last one dropped. Each keeps its raw length (a
// trailing CR included) for the record bound.
std::vector<std::string_view> linesOf(std::string_view text) {
    std::vector<std::string_view> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t lf = text.find('\n', start);
        if (lf == std::string_view::npos) lf = text.size();
        lines.push_back(text.substr(start, lf - start));
        start = lf + 1;
    }
    return lines;
}

std::string_view withoutCR(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

// The whole expected reading: the header (or the error that fails the
// open), then every result of next() up to the end or a lasting error.
struct Expected {
    Outcome header;
    std::vector<Outcome> rows;  // the last one is a lasting error when `lasting`
    bool lasting = false;
};

Expected expectedReading(std::string_view text, const Options &o) {
    const rowkit::InputLimits &limits = o.scanner.limits;
    const char delim = o.scanner.delimiter;
    Expected e;
    std::vector<std::string_view> lines = linesOf(text);
    if (lines.empty()) {
        e.header = Outcome{false, Error::EmptyFile, {}};
        return e;
    }
    if (limits.max_record_bytes && lines[0].size() > *limits.max_record_bytes) {
        e.header = Outcome{false, Error::RecordTooLarge, {}};
        return e;
    }
    e.header = splitReference(withoutCR(lines[0]), delim, limits.max_fields, SIZE_MAX);
    if (!e.header.ok) return e;
    size_t max_stored = o.scanner.stop_after_column ? *o.scanner.stop_after_column + 1 : SIZE_MAX;
    for (size_t i = 1; i < lines.size(); ++i) {
        if (limits.max_record_bytes && lines[i].size() > *limits.max_record_bytes) {
            e.rows.push_back(Outcome{false, Error::RecordTooLarge, {}});
            e.lasting = true;
            return e;
        }
        e.rows.push_back(splitReference(withoutCR(lines[i]), delim, limits.max_fields, max_stored));
        if (!e.rows.back().ok && e.rows.back().error == Error::TooManyFields) {
            e.lasting = true;
            return e;
        }
    }
    return e;
}

void checkSame(const rowkit::RowResult &got, const Outcome &want) {
    FUZZ_CHECK(got.ok() == want.ok);
    if (!got.ok()) {
        FUZZ_CHECK(got.error() == want.error);
        return;
    }
    FUZZ_CHECK(got.value().has_value());
    rowkit::Row row = *got.value();
    FUZZ_CHECK(row.size() == want.fields.size());
    for (size_t i = 0; i < row.size(); ++i) FUZZ_CHECK(row[i] == want.fields[i]);
}

Options readOptions(rowkit_fuzz::ParamReader &in) {
    Options o;
    o.scanner.chunk_size = in.chunkSize();
    uint8_t stop = in.byte();
    if (stop != 0xff) o.scanner.stop_after_column = stop % 16;
    o.scanner.limits.max_record_bytes = in.optionalSmall();
    o.scanner.limits.max_fields = in.optionalSmall();
    uint8_t d = in.byte();
    static constexpr char kDelimiters[] = {',', '\t', ';', '|'};
    o.scanner.delimiter = d < 0xf0 || d == '"' || d == '\n' ? kDelimiters[d % 4] : static_cast<char>(d);
    o.rows_before_count = in.byte();
    return o;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    rowkit_fuzz::ParamReader in(data, size);
    const Options o = readOptions(in);
    const std::string_view text = in.rest();
    const Expected want = expectedReading(text, o);

    auto scanner = rowkit::Scanner::fromBytesWithOptions(text, o.scanner);
    FUZZ_CHECK(scanner.ok() == want.header.ok);
    if (!scanner.ok()) {
        FUZZ_CHECK(scanner.error() == want.header.error);
        return 0;
    }
    auto header = scanner->header();
    FUZZ_CHECK(header.size() == want.header.fields.size());
    for (size_t i = 0; i < header.size(); ++i) FUZZ_CHECK(header[i].view() == want.header.fields[i]);
    for (const Outcome &row : want.rows) checkSame(scanner->next(), row);
    // The end, or the lasting error, is given again.
    auto again = scanner->next();
    if (want.lasting) {
        checkSame(again, want.rows.back());
    } else {
        FUZZ_CHECK(again.ok() && !again.value().has_value());
    }

    // Read some rows, then count the rest: every line without limits, the
    // rows up to the first error with them.
    auto counted = rowkit::Scanner::fromBytesWithOptions(text, o.scanner);
    FUZZ_CHECK(counted.ok());
    const size_t before = std::min(o.rows_before_count, want.rows.size());
    for (size_t i = 0; i < before; ++i) checkSame(counted->next(), want.rows[i]);
    auto rest = counted->countRemaining();
    if (!o.scanner.limits.enabled()) {
        FUZZ_CHECK(rest.ok() && *rest == want.rows.size() - before);
    } else {
        size_t n = 0;
        const Outcome *error = before > 0 && want.lasting && before == want.rows.size()
                                   ? &want.rows.back()
                                   : nullptr;
        for (size_t i = before; i < want.rows.size() && !error; ++i) {
            if (want.rows[i].ok) ++n;
            else error = &want.rows[i];
        }
        FUZZ_CHECK(rest.ok() == !error);
        if (error) FUZZ_CHECK(rest.error() == error->error);
        else FUZZ_CHECK(*rest == n);
    }
    return 0;
}
