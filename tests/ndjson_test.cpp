// The JSON records reader: both input forms, key mapping and rendering, bad
// records, chunk boundaries, limits, read errors, counting, allocation
// failures and the stack use of deep nesting.
#include "ndjson.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "file_io.hpp"
#include "support/small_stack.hpp"
#include "support/test_files.hpp"

using namespace rowkit;

namespace {

using Steps = std::vector<std::string>;

std::string joined(Row row) {
    std::string s;
    for (size_t i = 0; i < row.size(); ++i) {
        if (i) s += '|';
        s.append(row[i]);
    }
    return s;
}

// Each step of a scan: a row's fields joined with '|', or "!" + error name.
Steps scanSteps(std::string_view bytes, NdjsonScannerOptions options = {},
                std::optional<size_t> stop = std::nullopt, std::vector<std::string> *header = nullptr) {
    Steps out;
    auto s = NdjsonScanner::fromBytesWithOptions(bytes, options);
    if (!s.ok()) return {std::string("!open ") + errorName(s.error())};
    s->setStopAfterColumn(stop);
    if (header) {
        header->clear();
        for (const OwnedStr &h : s->header()) header->emplace_back(h.view());
    }
    for (int guard = 0; guard < 1000000; ++guard) {
        RowResult r = s->next();
        if (!r.ok()) {
            out.push_back(std::string("!") + errorName(r.error()));
            bool sticky = r.error() == Error::RecordTooLarge || r.error() == Error::TooManyFields;
            if (sticky && out.size() >= 3 && out[out.size() - 1] == out[out.size() - 2] &&
                out[out.size() - 2] == out[out.size() - 3])
                break;  // a stored failure repeats forever
            continue;
        }
        if (!r->has_value()) break;
        out.push_back(joined(**r));
    }
    // The end is repeatable.
    RowResult again = s->next();
    if (again.ok() && again->has_value()) out.push_back("!rows after the end");
    return out;
}

NdjsonScannerOptions chunked(size_t chunk) {
    NdjsonScannerOptions o;
    o.chunk_size = chunk;
    return o;
}


// A table of rows in both JSON forms, with values that exercise rendering,
// escapes, key order, missing and extra keys, and records of many lengths.
struct Table {
    std::string lines;  // one object per line
    std::string array;  // the same objects as a pretty-printed array
    Steps rows;         // what every row should read as
};

Table makeTable(size_t n_rows) {
    Table t;
    t.array = "\n [\n";
    for (size_t i = 0; i < n_rows; ++i) {
        std::string id = std::to_string(i);
        std::string pad(i * 7 % 300, 'p');
        std::string obj;
        std::string row;
        switch (i % 5) {
            case 0:  // header order, flat: the fast path
                obj = R"({"id":)" + id + R"(,"name":"n)" + id + R"(","note":")" + pad + R"(","ok":true})";
                row = id + "|n" + id + "|" + pad + "|true";
                break;
            case 1:  // escapes and a nested value under an extra key
                obj = R"({"id":)" + id + R"(,"name":"q\"\u00e9","extra":{"x":[1,{"y":"}"}]},"note":"a\\b","ok":null})";
                row = id + "|q\"\xc3\xa9|a\\b|";
                break;
            case 2:  // keys out of order, one missing
                obj = R"({"ok":false, "note" : "x,y:z", "id" : )" + id + "}";
                row = id + "||x,y:z|false";
                break;
            case 3:  // whitespace and a string holding brackets
                obj = "{ \"id\" :\t" + id + " , \"name\": \"[{]}\" ,\"note\":\"" + pad + "\", \"ok\": 1.50 }";
                row = id + "|[{]}|" + pad + "|1.50";
                break;
            default:  // a long value
                obj = R"({"id":)" + id + R"(,"name":")" + std::string(3000 + i, 'L') + R"(","note":"","ok":"null"})";
                row = id + "|" + std::string(3000 + i, 'L') + "||null";
        }
        t.lines += obj + (i % 3 ? "\n" : "\r\n");
        t.array += "  " + obj + (i + 1 < n_rows ? ",\n" : "\n");
        t.rows.push_back(row);
    }
    t.array += "]\n";
    return t;
}

}  // namespace

TEST(NdjsonScanner, KeysMapOntoTheHeaderAndValuesRender) {
    std::vector<std::string> header;
    EXPECT_EQ(scanSteps("{\"a\":1,\"b\":\"x\"}\n{\"b\":\"y\",\"c\":3}\n", {}, {}, &header), (Steps{"1|x", "|y"}));
    EXPECT_EQ(header, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(scanSteps(R"({"s":"l\nx\u00e9","n":1.50,"t":true,"f":false,"z":null,"q":"null"})"
                        "\n"
                        R"({"q":null,"z":"null","f":"false","t":"","n":-0,"s":"\/"})"),
              (Steps{"l\nx\xc3\xa9|1.50|true|false||null", "/|-0||false|null|"}));
    // A nested value under a header key fails that row only; under any other
    // key it is ignored.
    EXPECT_EQ(scanSteps("{\"a\":1}\n{\"a\":[1,2]}\n{\"a\":{}}\n{\"b\":[1],\"a\":2}\n{\"a\":3}\n"),
              (Steps{"1", "!NestedValueNotSupported", "!NestedValueNotSupported", "2", "3"}));
    // A key repeated in one record: the full path keeps the later value, the
    // fast path (keys in header order) the first.
    EXPECT_EQ(scanSteps("{\"a\":0,\"b\":0}\n{\"b\":2,\"a\":1,\"a\":3}\n{\"a\":1,\"b\":2,\"a\":3}\n"),
              (Steps{"0|0", "3|2", "1|2"}));
    // A header holding a name twice: values go by position, then by the map
    // (which holds the later index).
    auto s = NdjsonScanner::fromBytes("{\"a\":1,\"a\":2}\n{\"a\":5,\"a\":6}\n{\"x\":0,\"a\":7}\n{\"a\":8}\n{\"x\":0,\"y\":1,\"a\":9}\n");
    ASSERT_TRUE(s.ok());
    EXPECT_EQ(s->columnIndex("a"), std::optional<size_t>(0));
    EXPECT_EQ(s->columnIndex("b"), std::nullopt);
    Steps rows;
    for (;;) {
        RowResult r = s->next();
        ASSERT_TRUE(r.ok());
        if (!r->has_value()) break;
        rows.push_back(joined(**r));
    }
    EXPECT_EQ(rows, (Steps{"1|2", "5|6", "|7", "8|", "|9"}));
    // An empty first object: no columns, rows with no fields.
    EXPECT_EQ(scanSteps("{}\n{\"a\":1}\n{}\n", {}, {}, &header), (Steps{"", "", ""}));
    EXPECT_TRUE(header.empty());
    // Only the wanted columns are read.
    EXPECT_EQ(scanSteps("{\"a\":1,\"b\":2}\n{\"b\":[9],\"a\":3}\n", {}, 0), (Steps{"1", "3"}));
    EXPECT_EQ(scanSteps("{\"a\":1,\"b\":2}\n", {}, 7), Steps{"1|2"});
}

TEST(NdjsonScanner, BadRecordsFailOneCallEach) {
    // Blank lines, bad JSON and bad escapes fail their own call only.
    EXPECT_EQ(scanSteps("{\"a\":1}\n\n{\"a\":2}\n  \n[1]\n{\"a\":\"\\ud800\"}\n{\"a\":\"\\u12\"}\n{\"a\":\"\\q\"}\n{\"a\":3}"),
              (Steps{"1", "!InvalidJson", "2", "!InvalidJson", "!InvalidJson", "!InvalidJson", "!InvalidJson",
                     "!InvalidJson", "3"}));
    EXPECT_EQ(scanSteps("{\"a\":1}\n{\"a\":1\n{\"a\":\"x}\n{\"a\":1}}\n{\"a\":2}\n"),
              (Steps{"1", "!InvalidJson", "!InvalidJson", "1", "2"}));
    // One line feed at the end ends the input; a second is a blank record.
    EXPECT_EQ(scanSteps("{\"a\":1}\n"), Steps{"1"});
    EXPECT_EQ(scanSteps("{\"a\":1}\n\n"), (Steps{"1", "!InvalidJson"}));
    EXPECT_EQ(scanSteps("{\"a\":1}\r\n{\"a\":2}\r\n"), (Steps{"1", "2"}));
    // Invalid UTF-8 and NUL bytes are ordinary bytes.
    const char utf8[] = "{\"a\":\"\xff\xfe\",\"b\":1}\n{\"b\":\"x\0y\",\"a\":\"\xc3\"}\n";
    EXPECT_EQ(scanSteps(std::string(utf8, sizeof utf8 - 1)), (Steps{"\xff\xfe|1", std::string("\xc3|x\0y", 5)}));
    const char nul[] = "{\"a\":1\0}\n{\"a\":2}\n";
    EXPECT_EQ(scanSteps(std::string(nul, sizeof nul - 1)), (Steps{std::string("1\0", 2), "2"}));
    // 4096 structural bytes or more: the first record fails the open, a later
    // one its own call.
    std::string many = "{\"a\":\"" + std::string(json::kMaxTokens, ',') + "\"}";
    EXPECT_EQ(scanSteps(many + "\n"), Steps{"!open InvalidJson"});
    EXPECT_EQ(scanSteps("{\"a\":1}\n" + many + "\n{\"a\":2}\n"), (Steps{"1", "!InvalidJson", "2"}));
    // Opening.
    EXPECT_EQ(scanSteps(""), Steps{"!open EmptyFile"});
    EXPECT_EQ(scanSteps("\n{\"a\":1}\n"), Steps{"!open InvalidJson"});
    EXPECT_EQ(scanSteps("  \t\n"), Steps{"!open InvalidJson"});
    EXPECT_EQ(scanSteps("[1]\n"), Steps{"!open EmptyFile"});  // an array without objects
    EXPECT_EQ(scanSteps("1\n"), Steps{"!open InvalidJson"});
    EXPECT_EQ(scanSteps("{\"a\":[1]}\n{\"a\":2}\n"), (Steps{"!NestedValueNotSupported", "2"}));
    EXPECT_EQ(scanSteps("{\"a\":1}", chunked(0)), Steps{"!open InvalidChunkSize"});
}

TEST(NdjsonScanner, ArraysOfObjects) {
    std::vector<std::string> header;
    EXPECT_EQ(scanSteps("[\n  {\"id\": 1,\n   \"v\": \"a\"},\n  {\"v\": \"b\", \"id\": 2}\n]\n", {}, {}, &header),
              (Steps{"1|a", "2|b"}));
    EXPECT_EQ(header, (std::vector<std::string>{"id", "v"}));
    // Elements that are not objects are skipped whole, strings and nested
    // arrays included; only the array's own ']' ends the input.
    EXPECT_EQ(scanSteps(R"([{"id":1},"see [x]",{"id":2}])"), (Steps{"1", "2"}));
    EXPECT_EQ(scanSteps(R"([{"id":1}, 5, "}{", [ {"id":9}, "]" ], null, {"id":2}] {"id":3})"),
              (Steps{"1", "2"}));
    EXPECT_EQ(scanSteps(R"([{"id":"}{\"}"},{"id":"x\\"}])"), (Steps{"}{\"}", "x\\"}));
    // The closing ']' may be missing; an object cut off by the end is not.
    EXPECT_EQ(scanSteps(R"([{"a":1},{"a":2})"), (Steps{"1", "2"}));
    EXPECT_EQ(scanSteps(R"([{"a":1},{"a":2)"), (Steps{"1", "!InvalidJson"}));
    EXPECT_EQ(scanSteps(R"([{"a":1)"), Steps{"!open InvalidJson"});
    EXPECT_EQ(scanSteps(R"([{"a":1},{"a":[1]},{"a":"\q"},{"a":3}])"),
              (Steps{"1", "!NestedValueNotSupported", "!InvalidJson", "3"}));
    for (const char *empty : {"[]", "[ \n ]", "[", "[   \n", "[1, \"x\", [{}]]", " \n\t[]"})
        EXPECT_EQ(scanSteps(empty), Steps{"!open EmptyFile"}) << empty;
    EXPECT_EQ(scanSteps("[{}]"), Steps{""});
}

TEST(NdjsonScanner, ChunkSizesGiveTheSameRows) {
    Table t = makeTable(60);
    // A blank line in line mode and non-object elements in the array.
    std::string lines = t.lines + "\n{\"id\":\"last\"}";
    std::string array = t.array.substr(0, t.array.size() - 3) + ", 7, \"]\", [[{}]], {\"id\":\"last\"}]\n";
    Steps want_lines = t.rows;
    want_lines.push_back("!InvalidJson");
    want_lines.push_back("last|||");
    Steps want_array = t.rows;
    want_array.push_back("last|||");
    ASSERT_EQ(scanSteps(lines), want_lines);
    ASSERT_EQ(scanSteps(array), want_array);
    for (size_t chunk : {1u, 2u, 3u, 7u, 16u, 17u, 64u, 1000u, 4096u}) {
        EXPECT_EQ(scanSteps(lines, chunked(chunk)), want_lines) << "chunk " << chunk;
        EXPECT_EQ(scanSteps(array, chunked(chunk)), want_array) << "chunk " << chunk;
    }
    // Whitespace before the '[' that fills whole chunks.
    EXPECT_EQ(scanSteps(std::string(40, ' ') + "\n" + array, chunked(8)), want_array);
    EXPECT_EQ(scanSteps(std::string(40, ' ') + lines, chunked(8)), want_lines);
    EXPECT_EQ(scanSteps(std::string(40, ' ') + "\n" + lines, chunked(8)), Steps{"!open InvalidJson"});
}

TEST(NdjsonScanner, LimitsAreSticky) {
    NdjsonScannerOptions bytes;
    bytes.limits.max_record_bytes = 8;
    EXPECT_EQ(scanSteps("{\"a\":12}\n{\"a\":123}\n{\"a\":1}\n", bytes),
              (Steps{"12", "!RecordTooLarge", "!RecordTooLarge", "!RecordTooLarge"}));
    EXPECT_EQ(scanSteps("[{\"a\":1},{\"a\":123}, {\"a\":1}]", bytes),
              (Steps{"1", "!RecordTooLarge", "!RecordTooLarge", "!RecordTooLarge"}));
    bytes.chunk_size = 3;  // the bound holds for records assembled across chunks
    EXPECT_EQ(scanSteps("[{\"a\":1},{\"a\":123}, {\"a\":1}]", bytes),
              (Steps{"1", "!RecordTooLarge", "!RecordTooLarge", "!RecordTooLarge"}));
    EXPECT_EQ(scanSteps("{\"a\":1234}\n", bytes), Steps{"!open RecordTooLarge"});

    NdjsonScannerOptions fields;
    fields.limits.max_fields = 2;
    // Keys of nested values and bytes inside strings do not count.
    EXPECT_EQ(scanSteps("{\"a\":1,\"b\":2}\n{\"b\":{\"x\":1,\"y\":2,\"z\":3},\"a\":5}\n", fields, 0),
              (Steps{"1", "5"}));
    EXPECT_EQ(scanSteps("{\"a\":1,\"b\":\"{:,:}\"}\n{\"a\":1,\"b\":2,\"c\":3}\n{}\n", fields),
              (Steps{"1|{:,:}", "!TooManyFields", "!TooManyFields", "!TooManyFields"}));
    fields.limits.max_fields = 0;
    EXPECT_EQ(scanSteps("{\"a\":1}\n", fields), Steps{"!open TooManyFields"});
}

TEST(NdjsonScanner, ReadErrorIsStored) {
    rowkit_test::TempDir dir;
    Table t = makeTable(40);
    for (const std::string &text : {t.lines, t.array}) {
        std::string path = dir.write("t.json", text);
        auto s = NdjsonScanner::openWithOptions(path.c_str(), chunked(256));
        ASSERT_TRUE(s.ok());
        file_hook::failReadAt(3, EIO);
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
        EXPECT_LT(rows, 40u);
        EXPECT_EQ(s->next().error(), Error::InputOutput);
        EXPECT_EQ(s->countRemaining().error(), Error::InputOutput);
    }
    // A read error while counting is stored too.
    std::string path = dir.write("c.ndjson", t.lines);
    auto s = NdjsonScanner::openWithOptions(path.c_str(), chunked(256));
    ASSERT_TRUE(s.ok());
    file_hook::failReadAt(2, EIO);
    EXPECT_EQ(s->countRemaining().error(), Error::InputOutput);
    file_hook::failReadAt(0, 0);
    EXPECT_EQ(s->next().error(), Error::InputOutput);
}

TEST(NdjsonScanner, CountRemaining) {
    auto count = [](std::string_view text, size_t rows_first = 0, NdjsonScannerOptions o = {}) -> std::string {
        auto s = NdjsonScanner::fromBytesWithOptions(text, o);
        if (!s.ok()) return std::string("!open ") + errorName(s.error());
        for (size_t i = 0; i < rows_first; ++i) (void)s->next();
        auto n = s->countRemaining();
        if (!n.ok()) return std::string("!") + errorName(n.error());
        RowResult after = s->next();
        if (!after.ok() || after->has_value()) return "rows left after counting";
        return std::to_string(*n);
    };
    EXPECT_EQ(count("{\"a\":1}\n{\"a\":2}\n{\"a\":3}\n"), "3");
    EXPECT_EQ(count("{\"a\":1}\n{\"a\":2}\n{\"a\":3}"), "3");
    EXPECT_EQ(count("{\"a\":1}\n{\"a\":2}\n{\"a\":3}\n", 1), "2");
    EXPECT_EQ(count("{\"a\":1}\n{\"a\":2}\n{\"a\":3}\n", 5), "0");
    EXPECT_EQ(count("{\"a\":1}\n\n{\"a\":3}\r\n"), "3");  // lines, not records
    EXPECT_EQ(count("{\"a\":1}"), "1");
    EXPECT_EQ(count("[{\"a\":1}, 2, {\"a\":{\"b\":[]}}, \"{\", {}] {\"a\":9}"), "3");
    EXPECT_EQ(count("[{\"a\":1}, {\"a\":2}, {\"a\":3}]", 2), "1");
    EXPECT_EQ(count("[{\"a\":1}, {\"a\":2}, {\"a\":3", 0), "!InvalidJson");
    // Every chunk size counts the same.
    Table t = makeTable(30);
    for (size_t chunk : {1u, 5u, 64u, 262144u}) {
        EXPECT_EQ(count(t.lines, 0, chunked(chunk)), "30") << chunk;
        EXPECT_EQ(count(t.array, 3, chunked(chunk)), "27") << chunk;
    }
    // With limits the rows are read, so bad records fail the count.
    NdjsonScannerOptions limited;
    limited.limits.max_fields = 100;
    EXPECT_EQ(count("{\"a\":1}\n\n{\"a\":3}\n", 0, limited), "!InvalidJson");
    EXPECT_EQ(count("{\"a\":1}\n{\"a\":3}\n", 0, limited), "2");
}

TEST(NdjsonScanner, AllocationFailures) {
    Table t = makeTable(12);
    for (const std::string &text : {t.lines, t.array}) {
        bool opened = false;
        for (uint64_t nth = 1; nth < 100 && !opened; ++nth) {
            alloc_hook::reset();
            alloc_hook::failAt(nth);
            auto s = NdjsonScanner::fromBytesWithOptions(text, chunked(512));
            alloc_hook::reset();
            if (s.ok())
                opened = true;
            else
                EXPECT_EQ(s.error(), Error::OutOfMemory) << nth;
        }
        EXPECT_TRUE(opened);
        // A failure consumes its record only: the others come out in order.
        for (uint64_t nth = 1; nth < 60; ++nth) {
            auto s = NdjsonScanner::fromBytesWithOptions(text, chunked(512));
            ASSERT_TRUE(s.ok());
            alloc_hook::reset();
            alloc_hook::failAt(nth);
            Steps got;
            int failures = 0;
            for (;;) {
                RowResult r = s->next();
                if (!r.ok()) {
                    EXPECT_EQ(r.error(), Error::OutOfMemory);
                    ++failures;
                    continue;
                }
                if (!r->has_value()) break;
                got.push_back(joined(**r));
            }
            alloc_hook::reset();
            EXPECT_LE(failures, 1);
            EXPECT_EQ(got.size() + static_cast<size_t>(failures), t.rows.size()) << nth;
            size_t k = 0;
            for (const std::string &row : got) {
                while (k < t.rows.size() && t.rows[k] != row) ++k;
                EXPECT_LT(k, t.rows.size()) << "allocation " << nth;
            }
        }
    }
}

TEST(NdjsonScanner, DeepNestingNeverExhaustsASmallStack) {
    ASSERT_TRUE(rowkit_test::runOnStack(rowkit_test::kSmallStack, [] {
        const size_t deep = 10000;
        std::string brackets = std::string(deep, '[') + std::string(deep, ']');
        std::string objects;
        for (size_t i = 0; i < deep; ++i) objects += "{\"a\":";
        objects += "1" + std::string(deep, '}');
        EXPECT_EQ(scanSteps("{\"a\":" + brackets + "}\n"), Steps{"!open InvalidJson"});
        EXPECT_EQ(scanSteps(objects + "\n"), Steps{"!open InvalidJson"});
        EXPECT_EQ(scanSteps("{\"a\":1}\n{\"a\":" + brackets + "}\n" + objects + "\n{\"b\":" + brackets + "}\n{\"a\":2}"),
                  (Steps{"1", "!InvalidJson", "!InvalidJson", "!InvalidJson", "2"}));
        EXPECT_EQ(scanSteps(brackets), Steps{"!open EmptyFile"});
        EXPECT_EQ(scanSteps("[{\"a\":1}," + brackets + "," + objects + ",{\"a\":2}]", chunked(100)),
                  (Steps{"1", "!InvalidJson", "2"}));
        // Within the token table but deeper than the parser goes.
        std::string deep_value;
        for (int i = 0; i < 500; ++i) deep_value += "{\"a\":";
        deep_value += "1" + std::string(500, '}');
        EXPECT_EQ(scanSteps("{\"a\":1}\n{\"b\":" + deep_value + ",\"a\":2}\n"), (Steps{"1", "!InvalidJson"}));
    }));
}
