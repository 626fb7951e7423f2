// The CSV reader: line assembly over chunks, quoting rules, limits.
#include "csv_scanner.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "csv.hpp"
#include "file_io.hpp"
#include "support/record_steps.hpp"
#include "support/test_files.hpp"

using namespace rowkit;
using namespace std::string_literals;

namespace {

using Steps = std::vector<std::string>;

// The header, then each step of the scan: fields joined with '|', or "!" +
// error name. A stored failure repeats, so three in a row end the scan.
Steps drain(Scanner &s) {
    Steps out(1);
    for (size_t i = 0; i < s.header().size(); ++i)
        out[0] += (i ? "|" : "") + std::string(s.header()[i].view());
    for (;;) {
        RowResult r = s.next();
        if (r.ok() && !r->has_value()) break;
        std::string row = r.ok() ? "" : "!"s + errorName(r.error());
        for (size_t i = 0; r.ok() && i < (*r)->size(); ++i)
            row += (i ? "|" : "") + std::string((**r)[i]);
        out.push_back(row);
        if (out.size() >= 4 && row[0] == '!' && out[out.size() - 2] == row &&
            out[out.size() - 3] == row)
            break;
    }
    return out;
}

// drain() over `bytes`, or "!open " + error name when no scanner can be made.
Steps scanSteps(std::string_view bytes, size_t chunk = kDefaultChunkSize, ScannerOptions o = {}) {
    o.chunk_size = chunk;
    auto s = Scanner::fromBytesWithOptions(bytes, o);
    return s.ok() ? drain(*s) : Steps{"!open "s + errorName(s.error())};
}

Steps placeSteps(std::string_view bytes, size_t chunk, ScannerOptions o = {}) {
    o.chunk_size = chunk;
    return rowkit_test::positionSteps(
        [&](RecordPosition *p) { return Scanner::fromBytesWithOptions(bytes, o, p); });
}

}  // namespace

TEST(CsvScanner, LinesQuotingAndLimits) {
    const std::string tmf = "!TooManyFields", big = "!RecordTooLarge";
    const struct {
        std::string in;
        Steps want;
        std::optional<size_t> max_fields = {}, max_bytes = {}, stop = {};
        size_t chunk = kDefaultChunkSize;
    } cases[] = {
        // Line ends: only LF ends a line, one CR before it is trimmed.
        {"a\r\nx\ry\nx\r\r\n\n2", {"a", "x\ry", "x\r", "", "2"}},
        {"a\r1\r2\r", {"a\r1\r2"}},
        {",\n", {"|"}},
        // Quoting: only a leading quote opens; bytes after the close are dropped.
        {"h\n1,\n\"a\"\"b\",c\n\"\"\n\"\",x\n\"\"\"\"\n\"a\"\"\",\"\"\"b\",\"c\"\"d\"\"e\"\n",
         {"h", "1|", "a\"b|c", "", "|x", "\"", "a\"|\"b|c\"d\"e"}},
        {"h\n\"ab\"cd\n\"ab\"cd,x\nab\"c,d\n \"x\",y\n",
         {"h", "ab", "ab|x", "ab\"c|d", " \"x\"|y"}},
        // An unclosed quote fails its line only; quoted fields never span lines.
        {"h\n\"a,b\",\"c\nd\"\n", {"h", "!UnterminatedQuote", "d\""}},
        // NUL, invalid UTF-8 and a byte-order mark are ordinary bytes.
        {"\xEF\xBB\xBFh\na\0b,\xff\xfe\n"s, {"\xEF\xBB\xBFh", "a\0b|\xff\xfe"s}},
        // Limit failures are stored and repeat.
        {"a,b\n1,2\n1,2,3\n4,5\n", {"a|b", "1|2", tmf, tmf, tmf}, 2},
        {"\n", {"!open TooManyFields"}, 0},
        {"a\nabc\nabc\r\nx\n", {"a", "abc", big, big, big}, {}, 3},
        {"abcd\n1\n", {"!open RecordTooLarge"}, {}, 3},
        {"a\nab\nabcd\n", {"a", "ab", big, big, big}, {}, 3, {}, 2},
        // Past the stop column the line is not looked at, unless a field
        // bound must still be checked.
        {"h\n1,2,3,4,5\n1\n1,2,\"3\n", {"h", "1|2", "1", "1|2"}, {}, {}, 1},
        {"h\n1,2,3,4,5\n", {"h", tmf, tmf, tmf}, 3, {}, 1},
        {"h\n1,2,\"3\nx\n", {"h", "!UnterminatedQuote", "x"}, 10, {}, 1},
        {"h\n1\n", {"!open InvalidChunkSize"}, {}, {}, {}, 0},
    };
    for (const auto &c : cases) {
        ScannerOptions o;
        o.limits.max_fields = c.max_fields, o.limits.max_record_bytes = c.max_bytes,
        o.stop_after_column = c.stop;
        EXPECT_EQ(scanSteps(c.in, c.chunk, o), c.want) << testing::PrintToString(c.in);
    }
}

// Rows and the places of their records come out the same for every chunk
// size, lines longer than many chunks and blank lines included.
TEST(CsvScanner, ChunkSizesAndLongLinesGiveTheSameRowsAndPlaces) {
    std::string text = "id,name,note\n";
    for (int i = 0; i < 120; ++i)
        text += std::to_string(i) + ",\"n" + std::to_string(i) + "\"\"q\"\",x\"," +
                std::string(size_t(i * 37 % 700), 'z') + (i % 3 ? "\r\n" : "\n") +
                std::string(i % 50 ? "" : "\n");
    Steps expected = scanSteps(text), places;
    ASSERT_EQ(expected.size(), 124u);
    EXPECT_EQ(expected[3], "1|n1\"q\",x|" + std::string(37, 'z'));
    const std::vector<size_t> starts = rowkit_test::lineStarts(text);
    for (size_t line = 2; line < starts.size(); ++line)
        places.push_back(std::to_string(line) + "@" + std::to_string(starts[line - 1]));
    for (size_t chunk : {1u, 3u, 7u, 17u, 64u, 4093u}) {
        EXPECT_EQ(scanSteps(text, chunk), expected) << chunk;
        EXPECT_EQ(placeSteps(text, chunk), places) << chunk;
    }
    std::string big(10u << 20, 'x');
    EXPECT_EQ(
        scanSteps("h\n" + big + "\n\"" + big + "\",y\n" + std::string(200000, ',') + "\n", 4096),
        (Steps{"h", big, big + "|y", std::string(200000, '|')}));
}

// Fields longer than a word have their special byte at every place.
TEST(CsvWriter, QuotesOnlyWhenNeeded) {
    std::string out;
    auto write = [&](std::string_view field) {
        std::string buf(fieldBound(field.size()), '?');
        out.append(buf.data(), writeField(buf.data(), field, ',')).append("|");
    };
    for (std::string field :
         {"plain", "", "a,b", "say \"hi\"", "two\nlines", "cr\r", "\"", " lead", "\"\"\"\"\"\"\"\"\"\""})
        write(field);
    EXPECT_EQ(out, "plain||\"a,b\"|\"say \"\"hi\"\"\"|\"two\nlines\"|\"cr\r\"|\"\"\"\"| lead|\"" +
                       std::string(20, '"') + "\"|");
    for (char special : {',', '"', '\n', '\r'})
        for (size_t at = 0; at < 19; ++at) {
            std::string field(19, 'x');
            field[at] = special;
            out.clear();
            write(field);
            std::string quoted = field;
            if (special == '"') quoted.insert(at, 1, '"');
            EXPECT_EQ(out, "\"" + quoted + "\"|") << at;
        }
}

// splitLine against FieldIterator field by field on random lines.
TEST(CsvSplitLine, MatchesTheFieldIteratorOnRandomLines) {
    const char alphabet[] = {'a', 'b', ',', ',', '"', ' ', '\r', 'x'};
    uint64_t seed = 12345;
    auto rnd = [&seed]() {
        return static_cast<uint32_t>(
            (seed = seed * 6364136223846793005ull + 1442695040888963407ull) >> 33);
    };
    ByteBuf scratch, scratch2;
    Vec<std::string_view> fields;
    for (int round = 0; round < 10000; ++round) {
        std::string line;
        const bool quotes = rnd() % 3 == 0;
        for (size_t i = 0, len = rnd() % 70; i < len; ++i)
            line += alphabet[rnd() % sizeof alphabet];
        if (!quotes) std::replace(line.begin(), line.end(), '"', 'q');
        InputLimits limits;
        if (rnd() % 4 == 0) limits.max_fields = rnd() % 12;
        if (rnd() % 8 == 0) limits.max_record_bytes = rnd() % 70;
        const size_t max_stored = rnd() % 3 == 0 ? 1 + rnd() % 10 : SIZE_MAX;
        // The reference: past the stored fields the line is gone through
        // only to check a field bound.
        std::string want_error;
        std::vector<std::string> want;
        FieldIterator it;
        Status init = it.initWithLimits(line, ',', &scratch2, limits);
        if (!init.ok()) want_error = errorName(init.error());
        for (std::string_view f; init.ok() && (want.size() < max_stored || limits.max_fields);) {
            auto more = it.next(&f);
            if (!more.ok()) want_error = errorName(more.error());
            if (!more.ok() || !*more) break;
            if (want.size() < max_stored) want.emplace_back(f);
        }
        size_t n = 0;
        Status st = splitLine(line, ',', &scratch, limits, max_stored, fields, &n);
        ASSERT_EQ(st.ok() ? "" : errorName(st.error()), want_error) << line;
        if (!st.ok()) continue;
        ASSERT_EQ(std::vector<std::string>(fields.data(), fields.data() + n), want)
            << "line «" << line << "»";
    }
}


// A record's line counts every line feed before it, the header's included;
// its offset counts bytes from the start. Both come out the same for every
// chunk size, for failures (stored ones repeat their place) as for rows.
TEST(CsvScanner, PositionsOfRecords) {
    ScannerOptions fields, bytes;
    fields.limits.max_fields = 1;
    bytes.limits.max_record_bytes = 3;
    const std::string open_bad = "open 1@0 !UnterminatedQuote";
    const struct {
        std::string in;
        Steps want;
        ScannerOptions o = {};
    } cases[] = {
        {"h\r\nab\r\n\r\n\"x\nq\"\n", {"2@3", "3@7", "4@9 !UnterminatedQuote", "5@12"}},
        {"h\nx", {"2@2"}},
        {"a\nb\nc,d\ne\n", {"2@2", "3@4 !TooManyFields", "3@4 !TooManyFields"}, fields},
        {"a\nabc\nabcd\nx\n", {"2@2", "3@6 !RecordTooLarge", "3@6 !RecordTooLarge"}, bytes},
        {"", {"open 0@0 !EmptyFile"}},
        {"\"a\nb\n", {open_bad}},
        {"abcd\n", {"open 1@0 !RecordTooLarge"}, bytes},
    };
    for (const auto &c : cases)
        for (size_t chunk : {size_t{1}, size_t{2}, size_t{3}, size_t{5}, kDefaultChunkSize})
            EXPECT_EQ(placeSteps(c.in, chunk, c.o), c.want) << c.in << " chunk " << chunk;

    // Counting moves the place to the last line counted.
    for (auto [in, place] :
         {std::pair{"h\na\nb\n\n", "4@6"}, {"h\na\nb", "3@4"}, {"h\na\n", "2@2"}}) {
        for (size_t chunk : {size_t{1}, size_t{2}, kDefaultChunkSize}) {
            ScannerOptions o;
            o.chunk_size = chunk;
            auto s = Scanner::fromBytesWithOptions(in, o);
            ASSERT_TRUE(s->next().ok());
            ASSERT_TRUE(s->countRemaining().ok());
            EXPECT_EQ(rowkit_test::at(s->position()), place) << in << " chunk " << chunk;
        }
    }
}

// A failed read, met while reading rows or while counting, is stored and
// placed at the line it would have begun or continued: right after the last
// row returned.
TEST(CsvScanner, ReadErrorIsStoredAndPlacedAfterTheLastRow) {
    rowkit_test::TempDir dir;
    std::string text = "h\n";
    for (int i = 0; i < 100; ++i) text += "row" + std::to_string(i) + "\n";
    const std::string path = dir.write("t.csv", text);
    ScannerOptions o;
    o.chunk_size = 16;
    for (uint64_t nth : {2, 3, 5})
        for (bool count : {false, true}) {
            auto s = Scanner::openWithOptions(path.c_str(), o);
            ASSERT_TRUE(s->next().ok());  // row0, line 2, read with the first chunk
            file_hook::failReadAt(nth - 1, EIO);
            RecordPosition last = s->position();
            size_t last_len = 4;
            Error failed = count ? s->countRemaining().error() : Error::Unexpected;
            while (!count) {
                RowResult r = s->next();
                if (!r.ok()) {
                    failed = r.error();
                    break;
                }
                ASSERT_TRUE(r->has_value());
                last = s->position(), last_len = (**r)[0].size();
            }
            file_hook::failReadAt(0, 0);
            ASSERT_EQ(failed, Error::InputOutput);
            EXPECT_EQ(s->next().error(), Error::InputOutput);
            if (!count) {
                EXPECT_EQ(s->position().line, last.line + 1) << nth;
                EXPECT_EQ(s->position().offset, last.offset + last_len + 1) << nth;
            }
            // Counting stops on a line that was begun before the failed read.
            EXPECT_GT(s->position().line, 2u) << nth;
        }
}
