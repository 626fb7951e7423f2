// The JSON records reader over arbitrary bytes, line-delimited or as one
// array (a parameter bit puts a '[' in front), with a column bound and input
// limits from the input. The same bytes read in chunks of 1 byte to 64 KiB
// and read in one chunk must give the same header, the same rows and the
// same errors in the same order, and the same count after the same reads.
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz_input.hpp"
#include "ndjson.hpp"

namespace {

using rowkit::Error;
using rowkit::NdjsonScanner;

// Everything a reading produced, as plain values.
struct Reading {
    bool opened = false;
    Error open_error = Error::Unexpected;
    NdjsonScanner::Mode mode = NdjsonScanner::Mode::line_delimited;
    std::vector<std::string> header;
    std::vector<std::vector<std::string>> rows;  // an error is a row of one "!Name"
    bool count_ok = false;
    Error count_error = Error::Unexpected;
    size_t count = 0;
};

// Calls beyond this many rows are not compared (the input is a few KiB, so
// real readings end long before).
constexpr size_t kMaxCalls = 1 << 16;

Reading read(std::string_view text, const rowkit::NdjsonScannerOptions &options,
             std::optional<size_t> stop, size_t rows_before_count) {
    Reading r;
    auto s = NdjsonScanner::fromBytesWithOptions(text, options);
    if (!s.ok()) {
        r.open_error = s.error();
        return r;
    }
    r.opened = true;
    r.mode = s->mode();
    s->setStopAfterColumn(stop);
    for (const rowkit::OwnedStr &name : s->header()) r.header.emplace_back(name.view());
    const size_t wanted = stop && *stop < r.header.size() ? *stop + 1 : r.header.size();
    size_t errors_in_a_row = 0;
    for (size_t calls = 0; calls < kMaxCalls; ++calls) {
        rowkit::RowResult got = s->next();
        if (!got.ok()) {
            r.rows.push_back({std::string("!") + rowkit::errorName(got.error())});
            // A lasting error comes back at once; two in a row end the reading.
            if (++errors_in_a_row == 3) break;
            continue;
        }
        errors_in_a_row = 0;
        if (!got.value().has_value()) {
            // The end is repeatable.
            rowkit::RowResult again = s->next();
            FUZZ_CHECK(again.ok() && !again.value().has_value());
            break;
        }
        rowkit::Row row = *got.value();
        FUZZ_CHECK(row.size() == wanted);
        r.rows.emplace_back(row.begin(), row.end());
    }

    auto counted = NdjsonScanner::fromBytesWithOptions(text, options);
    FUZZ_CHECK(counted.ok());
    counted->setStopAfterColumn(stop);
    for (size_t i = 0; i < rows_before_count; ++i) (void)counted->next();
    rowkit::Result<size_t> n = counted->countRemaining();
    r.count_ok = n.ok();
    if (n.ok()) r.count = *n;
    else r.count_error = n.error();
    return r;
}

void dump(const char *title, const Reading &r) {
    std::fprintf(stderr, "%s: opened %d (%s) mode %d, %zu columns\n", title, r.opened,
                 r.opened ? "" : rowkit::errorName(r.open_error), static_cast<int>(r.mode),
                 r.header.size());
    for (const auto &row : r.rows) {
        std::string line;
        for (const std::string &f : row) line += (line.empty() ? "" : "|") + f;
        std::fprintf(stderr, "  %s\n", line.c_str());
    }
    std::fprintf(stderr, "  count %s %zu\n", r.count_ok ? "ok" : rowkit::errorName(r.count_error), r.count);
}

bool operator==(const Reading &a, const Reading &b) {
    if (a.opened != b.opened) return false;
    if (!a.opened) return a.open_error == b.open_error;
    if (a.mode != b.mode || a.header != b.header || a.rows != b.rows || a.count_ok != b.count_ok)
        return false;
    return a.count_ok ? a.count == b.count : a.count_error == b.count_error;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    rowkit_fuzz::ParamReader in(data, size);
    rowkit::NdjsonScannerOptions options;
    options.chunk_size = in.chunkSize();
    uint8_t stop_byte = in.byte();
    std::optional<size_t> stop;
    if (stop_byte != 0xff) stop = stop_byte % 16;
    options.limits.max_record_bytes = in.optionalSmall();
    options.limits.max_fields = in.optionalSmall();
    const bool array = in.byte() & 1;
    const size_t rows_before_count = in.byte() % 8;
    std::string text = array ? "[" : "";
    text += in.rest();

    const Reading pieces = read(text, options, stop, rows_before_count);
    rowkit::NdjsonScannerOptions whole = options;
    whole.chunk_size = text.size() + 1;
    const Reading once = read(text, whole, stop, rows_before_count);
    if (!(pieces == once)) {
        dump("in chunks", pieces);
        dump("in one chunk", once);
    }
    FUZZ_CHECK(pieces == once);
    if (array && pieces.opened) FUZZ_CHECK(pieces.mode == NdjsonScanner::Mode::json_array);
    return 0;
}
