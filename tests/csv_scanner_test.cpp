// The CSV reader: line assembly over chunks, quoting rules, limits.
#include "csv_scanner.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "csv.hpp"
#include "file_io.hpp"
#include "support/test_files.hpp"

using namespace rowkit;

namespace {

// Each step of a scan: a row's fields joined with '|', or "!" + error name.
std::vector<std::string> scanSteps(std::string_view bytes, ScannerOptions options = {},
                                   std::vector<std::string> *header = nullptr) {
    std::vector<std::string> out;
    auto s = Scanner::fromBytesWithOptions(bytes, options);
    if (!s.ok()) {
        out.push_back(std::string("!open ") + errorName(s.error()));
        return out;
    }
    if (header) {
        header->clear();
        for (const OwnedStr &h : s->header()) header->emplace_back(h.view());
    }
    for (int guard = 0; guard < 100000; ++guard) {
        RowResult r = s->next();
        if (!r.ok()) {
            out.push_back(std::string("!") + errorName(r.error()));
            if (out.size() >= 3 && out[out.size() - 1] == out[out.size() - 2] &&
                out[out.size() - 2] == out[out.size() - 3])
                break;  // a stored failure repeats forever
            continue;
        }
        if (!r->has_value()) break;
        std::string row;
        for (size_t i = 0; i < (*r)->size(); ++i) {
            if (i) row += '|';
            row.append((**r)[i]);
        }
        out.push_back(row);
    }
    return out;
}

using Steps = std::vector<std::string>;

}  // namespace

TEST(CsvScanner, LineEndsAndEmptyLines) {
    std::vector<std::string> header;
    EXPECT_EQ(scanSteps("a,b", {}, &header), Steps{});
    EXPECT_EQ(header, (std::vector<std::string>{"a", "b"}));

    EXPECT_EQ(scanSteps("a\r\n1\r\n", {}, &header), Steps{"1"});
    EXPECT_EQ(header, std::vector<std::string>{"a"});
    EXPECT_EQ(scanSteps("a\n1\n\n"), (Steps{"1", ""}));
    EXPECT_EQ(scanSteps("a\n1\n2"), (Steps{"1", "2"}));
    // A CR alone does not end a line; one in the middle is kept.
    EXPECT_EQ(scanSteps("a\r1\r2\r", {}, &header), Steps{});
    EXPECT_EQ(header, std::vector<std::string>{"a\r1\r2"});
    EXPECT_EQ(scanSteps("a\nx\ry\n"), Steps{"x\ry"});
    // Only one CR is trimmed.
    EXPECT_EQ(scanSteps("a\nx\r\r\n"), Steps{"x\r"});

    EXPECT_EQ(scanSteps("", {}), Steps{"!open EmptyFile"});
    EXPECT_EQ(scanSteps("\n", {}, &header), Steps{});
    EXPECT_EQ(header, std::vector<std::string>{""});
    scanSteps(",\n", {}, &header);
    EXPECT_EQ(header, (std::vector<std::string>{"", ""}));
    scanSteps("id,id\n", {}, &header);
    EXPECT_EQ(header, (std::vector<std::string>{"id", "id"}));
}

TEST(CsvScanner, FieldsAndQuoting) {
    EXPECT_EQ(scanSteps("h\n1,\n,\n"), (Steps{"1|", "|"}));
    EXPECT_EQ(scanSteps("h\n\"a\"\"b\",c\n"), Steps{"a\"b|c"});
    EXPECT_EQ(scanSteps("h\n\"\"\n\"\",x\n\"\"\"\"\n"), (Steps{"", "|x", "\""}));
    EXPECT_EQ(scanSteps("h\n\"ab\"cd\n\"ab\"cd,x\n"), (Steps{"ab", "ab|x"}));
    EXPECT_EQ(scanSteps("h\nab\"c,d\n \"x\",y\n"), (Steps{"ab\"c|d", " \"x\"|y"}));
    EXPECT_EQ(scanSteps("h\n\"a,b\",\"c\nd\"\n"), (Steps{"!UnterminatedQuote", "d\""}));
    // Several escaped fields in one row keep their own texts.
    EXPECT_EQ(scanSteps("h\n\"a\"\"\",\"\"\"b\",\"c\"\"d\"\"e\"\n"), Steps{"a\"|\"b|c\"d\"e"});
    EXPECT_EQ(scanSteps("h\n\"x\"\"\ny\n"), (Steps{"!UnterminatedQuote", "y"}));
    // A NUL byte and invalid UTF-8 are ordinary bytes.
    std::string nul("h\na\0b,\xff\xfe\n", 9);
    EXPECT_EQ(scanSteps(nul), Steps{std::string("a\0b|\xff\xfe", 6)});
    // A byte-order mark stays part of the first name.
    std::vector<std::string> header;
    scanSteps("\xEF\xBB\xBFid,x\n1,2\n", {}, &header);
    EXPECT_EQ(header[0], "\xEF\xBB\xBFid");
}

TEST(CsvScanner, UnterminatedQuoteInHeaderFailsOpen) {
    EXPECT_EQ(scanSteps("\"a,b\n1\n"), Steps{"!open UnterminatedQuote"});
    EXPECT_EQ(scanSteps("\"\n"), Steps{"!open UnterminatedQuote"});
}

TEST(CsvScanner, Limits) {
    ScannerOptions fields2;
    fields2.limits.max_fields = 2;
    EXPECT_EQ(scanSteps("a,b\n1,2\n1,2,3\n4,5\n", fields2),
              (Steps{"1|2", "!TooManyFields", "!TooManyFields", "!TooManyFields"}));
    ScannerOptions fields0;
    fields0.limits.max_fields = 0;
    EXPECT_EQ(scanSteps("\n", fields0), Steps{"!open TooManyFields"});

    ScannerOptions bytes3;
    bytes3.limits.max_record_bytes = 3;
    EXPECT_EQ(scanSteps("a\nabc\nabc\r\nx\n", bytes3),
              (Steps{"abc", "!RecordTooLarge", "!RecordTooLarge", "!RecordTooLarge"}));
    EXPECT_EQ(scanSteps("abcd\n1\n", bytes3), Steps{"!open RecordTooLarge"});
    // The bound holds for lines assembled across chunks too.
    bytes3.chunk_size = 2;
    EXPECT_EQ(scanSteps("a\nab\nabcd\n", bytes3),
              (Steps{"ab", "!RecordTooLarge", "!RecordTooLarge", "!RecordTooLarge"}));

    ScannerOptions stop1;
    stop1.stop_after_column = 1;
    EXPECT_EQ(scanSteps("h\n1,2,3,4,5\n1\n", stop1), (Steps{"1|2", "1"}));
    // Without a field bound the rest of the line is not looked at.
    EXPECT_EQ(scanSteps("h\n1,2,\"3\n", stop1), Steps{"1|2"});
    stop1.limits.max_fields = 3;
    EXPECT_EQ(scanSteps("h\n1,2,3,4,5\n", stop1),
              (Steps{"!TooManyFields", "!TooManyFields", "!TooManyFields"}));
    stop1.limits.max_fields = 10;
    EXPECT_EQ(scanSteps("h\n1,2,\"3\nx\n", stop1), (Steps{"!UnterminatedQuote", "x"}));
}

TEST(CsvScanner, ChunkSizesGiveTheSameRows) {
    std::string text = "id,name,note\n";
    for (int i = 0; i < 300; ++i) {
        text += std::to_string(i) + ",\"n" + std::to_string(i) + "\"\"q\"\",x\"," +
                std::string(static_cast<size_t>(i % 37), 'z') + (i % 3 ? "\r\n" : "\n");
        if (i % 50 == 0) text += "\n";
    }
    Steps expected = scanSteps(text);
    ASSERT_EQ(expected.size(), 306u);
    EXPECT_EQ(expected[2], "1|n1\"q\",x|z");
    for (size_t chunk : {1u, 2u, 3u, 7u, 16u, 17u, 64u, 4096u}) {
        ScannerOptions o;
        o.chunk_size = chunk;
        EXPECT_EQ(scanSteps(text, o), expected) << "chunk " << chunk;
    }
    ScannerOptions zero;
    zero.chunk_size = 0;
    EXPECT_EQ(scanSteps(text, zero), Steps{"!open InvalidChunkSize"});
}

TEST(CsvScanner, LongLineAndFieldCount) {
    std::string big(10u << 20, 'x');
    std::string text = "h\n" + big + "\n\"" + big + "\",y\nend\n";
    ScannerOptions o;
    o.chunk_size = 4096;
    Steps steps = scanSteps(text, o);
    ASSERT_EQ(steps.size(), 3u);
    EXPECT_EQ(steps[0], big);
    EXPECT_EQ(steps[1], big + "|y");
    EXPECT_EQ(steps[2], "end");

    // A row of very many fields: the field list grows geometrically.
    std::string wide(200000, ',');
    auto s = Scanner::fromBytes("h\n" + wide + "\n");
    ASSERT_TRUE(s.ok());
    RowResult r = s->next();
    ASSERT_TRUE(r.ok() && r->has_value());
    EXPECT_EQ((*r)->size(), 200001u);
}

TEST(CsvScanner, ReadErrorIsStored) {
    rowkit_test::TempDir dir;
    std::string text = "h\n";
    for (int i = 0; i < 100; ++i) text += "row" + std::to_string(i) + "\n";
    std::string path = dir.write("t.csv", text);
    ScannerOptions o;
    o.chunk_size = 64;
    auto s = Scanner::openWithOptions(path.c_str(), o);
    ASSERT_TRUE(s.ok());
    file_hook::failReadAt(2, EIO);
    size_t rows = 0;
    Error first = Error::Unexpected;
    for (;;) {
        RowResult r = s->next();
        if (!r.ok()) {
            first = r.error();
            break;
        }
        ASSERT_TRUE(r->has_value());
        ++rows;
    }
    file_hook::failReadAt(0, 0);
    EXPECT_EQ(first, Error::InputOutput);
    EXPECT_LT(rows, 100u);
    RowResult again = s->next();
    ASSERT_FALSE(again.ok());
    EXPECT_EQ(again.error(), Error::InputOutput);
}

TEST(CsvScanner, OpenFailures) {
    rowkit_test::TempDir dir;
    EXPECT_EQ(Scanner::open((dir.path() + "/missing.csv").c_str()).error(), Error::FileNotFound);
    EXPECT_EQ(Scanner::open(dir.path().c_str()).error(), Error::IsDir);
    EXPECT_EQ(Scanner::open(dir.write("empty.csv", "").c_str()).error(), Error::EmptyFile);
    EXPECT_EQ(Scanner::open((dir.path() + "/x/y.csv").c_str()).error(), Error::FileNotFound);
    EXPECT_EQ(Scanner::open((dir.write("f", "a\n") + "/y.csv").c_str()).error(), Error::NotDir);
}

namespace {
struct StringSink : ByteSink {
    std::string out;
    bool write(std::string_view b) override {
        out.append(b);
        return true;
    }
};
}  // namespace

TEST(CsvWriter, QuotesOnlyWhenNeededAndRoundTrips) {
    const std::vector<std::string> fields = {"plain", "", "a,b", "say \"hi\"", "two\nlines",
                                             "cr\r", "\"", " lead"};
    const std::vector<std::string> written = {"plain", "", "\"a,b\"", "\"say \"\"hi\"\"\"",
                                              "\"two\nlines\"", "\"cr\r\"", "\"\"\"\"", " lead"};
    for (size_t i = 0; i < fields.size(); ++i) {
        StringSink sink;
        ASSERT_TRUE(writeField(sink, fields[i], ',').ok());
        EXPECT_EQ(sink.out, written[i]);
    }
    // Fields without line breaks read back as written.
    StringSink line;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (fields[i].find('\n') != std::string::npos) continue;
        if (line.out.size()) line.out += ',';
        ASSERT_TRUE(writeField(line, fields[i], ',').ok());
    }
    Steps back = scanSteps("h\n" + line.out + "\n");
    EXPECT_EQ(back, Steps{"plain||a,b|say \"hi\"|cr\r|\"| lead"});
}

namespace {

// The reference split: FieldIterator field by field.
std::vector<std::string> iterateFields(std::string_view line, const InputLimits &limits,
                                       size_t max_stored, std::string *error) {
    ByteBuf scratch;
    FieldIterator it;
    std::vector<std::string> out;
    Status st = it.initWithLimits(line, ',', &scratch, limits);
    if (!st.ok()) {
        *error = errorName(st.error());
        return out;
    }
    bool storing = true;
    for (;;) {
        std::string_view f;
        auto more = it.next(&f);
        if (!more.ok()) {
            *error = errorName(more.error());
            return out;
        }
        if (!*more) break;
        if (storing) out.emplace_back(f);
        if (storing && out.size() == max_stored) {
            storing = false;
            if (!limits.max_fields) break;
        }
    }
    return out;
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
        if (!want_error.empty()) {
            ASSERT_FALSE(st.ok()) << line;
            EXPECT_EQ(errorName(st.error()), want_error) << line;
            continue;
        }
        ASSERT_TRUE(st.ok()) << line << ": " << errorName(st.error());
        std::vector<std::string> got;
        for (size_t i = 0; i < n; ++i) got.emplace_back(fields[i]);
        ASSERT_EQ(got, want) << "line «" << line << "»";
    }
}
