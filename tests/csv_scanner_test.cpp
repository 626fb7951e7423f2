// The CSV reader: line assembly over chunks, quoting rules, limits.
#include "csv_scanner.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "csv.hpp"
#include "file_io.hpp"
#include "support/test_files.hpp"

using namespace rowkit;
using namespace std::string_literals;

namespace {

using Steps = std::vector<std::string>;

// The header, then each step of the scan: fields joined with '|', or "!" +
// error name.
Steps drain(Scanner &s) {
    Steps out(1);
    for (size_t i = 0; i < s.header().size(); ++i) out[0] += (i ? "|" : "") + std::string(s.header()[i].view());
    for (int guard = 0; guard < 100000; ++guard) {
        RowResult r = s.next();
        if (!r.ok()) {
            out.push_back(std::string("!") + errorName(r.error()));
            size_t n = out.size();  // a stored failure repeats forever
            if (n >= 3 && out[n - 1] == out[n - 2] && out[n - 2] == out[n - 3]) break;
            continue;
        }
        if (!r->has_value()) break;
        std::string row;
        for (size_t i = 0; i < (*r)->size(); ++i) row += (i ? "|" : "") + std::string((**r)[i]);
        out.push_back(row);
    }
    return out;
}

// drain() over `bytes`, or "!open " + error name when no scanner can be made.
Steps scanSteps(std::string_view bytes, const ScannerOptions &options = {}) {
    auto s = Scanner::fromBytesWithOptions(bytes, options);
    return s.ok() ? drain(*s) : Steps{std::string("!open ") + errorName(s.error())};
}

ScannerOptions withChunk(size_t chunk) {
    ScannerOptions o;
    o.chunk_size = chunk;
    return o;
}

struct ScanCase {
    std::string in;
    Steps want;
    std::optional<size_t> max_fields = {}, max_bytes = {}, stop = {};
    size_t chunk = kDefaultChunkSize;
};

}  // namespace

TEST(CsvScanner, LinesQuotingAndLimits) {
    const std::string tmf = "!TooManyFields", big = "!RecordTooLarge";
    const ScanCase cases[] = {
        // Line ends: only LF ends a line, one CR before it is trimmed.
        {"a,b", {"a|b"}},
        {"a\r\nx\ry\nx\r\r\n\n2", {"a", "x\ry", "x\r", "", "2"}},
        {"a\r1\r2\r", {"a\r1\r2"}},
        {"", {"!open EmptyFile"}},
        {",\n", {"|"}},
        // Quoting: only a leading quote opens; bytes after the close are dropped.
        {"h\n1,\n\"a\"\"b\",c\n\"\"\n\"\",x\n\"\"\"\"\n\"a\"\"\",\"\"\"b\",\"c\"\"d\"\"e\"\n",
         {"h", "1|", "a\"b|c", "", "|x", "\"", "a\"|\"b|c\"d\"e"}},
        {"h\n\"ab\"cd\n\"ab\"cd,x\nab\"c,d\n \"x\",y\n", {"h", "ab", "ab|x", "ab\"c|d", " \"x\"|y"}},
        // An unclosed quote fails its line only; quoted fields never span lines.
        {"h\n\"a,b\",\"c\nd\"\n", {"h", "!UnterminatedQuote", "d\""}},
        {"h\n\"x\"\"\ny\n", {"h", "!UnterminatedQuote", "y"}},
        {"\"\n", {"!open UnterminatedQuote"}},
        // NUL, invalid UTF-8 and a byte-order mark are ordinary bytes.
        {"h\na\0b,\xff\xfe\n"s, {"h", "a\0b|\xff\xfe"s}},
        {"\xEF\xBB\xBFid,x\n", {"\xEF\xBB\xBFid|x"}},
        // Limit failures are stored and repeat.
        {"a,b\n1,2\n1,2,3\n4,5\n", {"a|b", "1|2", tmf, tmf, tmf}, 2},
        {"\n", {"!open TooManyFields"}, 0},
        {"a\nabc\nabc\r\nx\n", {"a", "abc", big, big, big}, {}, 3},
        {"abcd\n1\n", {"!open RecordTooLarge"}, {}, 3},
        {"a\nab\nabcd\n", {"a", "ab", big, big, big}, {}, 3, {}, 2},
        // Past the stop column the line is not looked at, unless a field
        // bound must still be checked.
        {"h\n1,2,3,4,5\n1\n", {"h", "1|2", "1"}, {}, {}, 1},
        {"h\n1,2,\"3\n", {"h", "1|2"}, {}, {}, 1},
        {"h\n1,2,3,4,5\n", {"h", tmf, tmf, tmf}, 3, {}, 1},
        {"h\n1,2,\"3\nx\n", {"h", "!UnterminatedQuote", "x"}, 10, {}, 1},
        {"h\n1\n", {"!open InvalidChunkSize"}, {}, {}, {}, 0},
    };
    for (const ScanCase &c : cases) {
        ScannerOptions o = withChunk(c.chunk);
        o.limits.max_fields = c.max_fields;
        o.limits.max_record_bytes = c.max_bytes;
        o.stop_after_column = c.stop;
        EXPECT_EQ(scanSteps(c.in, o), c.want) << testing::PrintToString(c.in);
    }
}

TEST(CsvScanner, ChunkSizesAndLongLinesGiveTheSameRows) {
    std::string text = "id,name,note\n";
    for (int i = 0; i < 300; ++i) {
        text += std::to_string(i) + ",\"n" + std::to_string(i) + "\"\"q\"\",x\"," +
                std::string(static_cast<size_t>(i % 37), 'z') + (i % 3 ? "\r\n" : "\n");
        if (i % 50 == 0) text += "\n";
    }
    Steps expected = scanSteps(text);
    ASSERT_EQ(expected.size(), 307u);
    EXPECT_EQ(expected[3], "1|n1\"q\",x|z");
    for (size_t chunk : {1u, 2u, 3u, 17u, 4096u}) EXPECT_EQ(scanSteps(text, withChunk(chunk)), expected) << chunk;

    std::string big(10u << 20, 'x');
    EXPECT_EQ(scanSteps("h\n" + big + "\n\"" + big + "\",y\nend\n", withChunk(4096)), (Steps{"h", big, big + "|y", "end"}));
    // A row of very many fields.
    EXPECT_EQ(scanSteps("h\n" + std::string(200000, ',') + "\n"), (Steps{"h", std::string(200000, '|')}));
}

TEST(CsvScanner, ReadErrorIsStored) {
    rowkit_test::TempDir dir;
    std::string text = "h\n";
    for (int i = 0; i < 100; ++i) text += "row" + std::to_string(i) + "\n";
    auto s = Scanner::openWithOptions(dir.write("t.csv", text).c_str(), withChunk(64));
    ASSERT_TRUE(s.ok());
    file_hook::failReadAt(2, EIO);
    Steps got = drain(*s);
    file_hook::failReadAt(0, 0);
    // Rows up to the failed read, then the failure stored.
    ASSERT_GE(got.size(), 4u);
    EXPECT_LT(got.size(), 100u);
    EXPECT_EQ(got[got.size() - 4].substr(0, 3), "row");
    EXPECT_EQ(Steps(got.end() - 3, got.end()), Steps(3, "!InputOutput"));
}

namespace {
struct StringSink : ByteSink {
    std::string out;
    bool write(std::string_view b) override { return out.append(b), true; }
};
}  // namespace

TEST(CsvWriter, QuotesOnlyWhenNeededAndRoundTrips) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain", "plain"}, {"", ""}, {"a,b", "\"a,b\""}, {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"two\nlines", "\"two\nlines\""}, {"cr\r", "\"cr\r\""}, {"\"", "\"\"\"\""}, {" lead", " lead"}};
    StringSink line;  // the fields without line breaks, as one row
    for (const auto &[field, written] : cases) {
        StringSink sink;
        ASSERT_TRUE(writeField(sink, field, ',').ok());
        EXPECT_EQ(sink.out, written);
        if (field.find('\n') != std::string::npos) continue;
        if (line.out.size()) line.out += ',';
        ASSERT_TRUE(writeField(line, field, ',').ok());
    }
    EXPECT_EQ(scanSteps("h\n" + line.out + "\n"), (Steps{"h", "plain||a,b|say \"hi\"|cr\r|\"| lead"}));
}

namespace {

// The reference split: FieldIterator field by field.
std::vector<std::string> iterateFields(std::string_view line, const InputLimits &limits,
                                       size_t max_stored, std::string *error) {
    ByteBuf scratch;
    FieldIterator it;
    if (Status st = it.initWithLimits(line, ',', &scratch, limits); !st.ok()) {
        *error = errorName(st.error());
        return {};
    }
    std::vector<std::string> out;
    for (std::string_view f;;) {
        auto more = it.next(&f);
        if (!more.ok()) *error = errorName(more.error());
        if (!more.ok() || !*more) return out;
        if (out.size() < max_stored) out.emplace_back(f);
        // Past the stored fields the line is gone through only to check a field bound.
        if (out.size() == max_stored && !limits.max_fields) return out;
    }
}

}  // namespace

TEST(CsvSplitLine, MatchesTheFieldIteratorOnRandomLines) {
    const char alphabet[] = {'a', 'b', ',', ',', '"', ' ', '\r', 'x'};
    uint64_t seed = 12345;
    auto rnd = [&seed]() {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<uint32_t>(seed >> 33);
    };
    ByteBuf scratch;
    Vec<std::string_view> fields;
    for (int round = 0; round < 20000; ++round) {
        std::string line;
        size_t len = rnd() % 70;
        bool quotes = rnd() % 3 == 0;
        for (size_t i = 0; i < len; ++i) {
            char c = alphabet[rnd() % sizeof alphabet];
            if (c == '"' && !quotes) c = 'q';
            line += c;
        }
        InputLimits limits;
        if (rnd() % 4 == 0) limits.max_fields = rnd() % 12;
        if (rnd() % 8 == 0) limits.max_record_bytes = rnd() % 70;
        size_t max_stored = rnd() % 3 == 0 ? 1 + rnd() % 10 : SIZE_MAX;
        std::string want_error;
        std::vector<std::string> want = iterateFields(line, limits, max_stored, &want_error);
        size_t n = 0;
        Status st = splitLine(line, ',', &scratch, limits, max_stored, fields, &n);
        ASSERT_EQ(st.ok() ? "" : errorName(st.error()), want_error) << line;
        if (!st.ok()) continue;
        std::vector<std::string> got;
        for (size_t i = 0; i < n; ++i) got.emplace_back(fields[i]);
        ASSERT_EQ(got, want) << "line «" << line << "»";
    }
}
