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
#include "support/record_steps.hpp"
#include "support/small_stack.hpp"
#include "support/test_files.hpp"

using namespace rowkit;
using namespace std::string_literals;

namespace {

using Steps = std::vector<std::string>;

// Each step of a scan: a row's fields joined with '|', or "!" + error name.
// (Allocation failures are checked through the C interface.)
Steps scanSteps(std::string_view bytes, NdjsonScannerOptions options = {},
                std::optional<size_t> stop = {}) {
    auto s = NdjsonScanner::fromBytesWithOptions(bytes, options);
    if (!s.ok()) return {std::string("!open ") + errorName(s.error())};
    s->setStopAfterColumn(stop);
    Steps out;
    for (int stored = 0; stored < 3;) {  // a stored failure repeats forever: stop at its third
        RowResult r = s->next();
        if (r.ok() && !r->has_value()) break;
        std::string step = r.ok() ? "" : std::string("!") + errorName(r.error());
        for (size_t i = 0; r.ok() && i < (*r)->size(); ++i)
            step += (i ? "|" : "") + std::string((**r)[i]);
        out.push_back(step);
        stored +=
            !r.ok() && (r.error() == Error::RecordTooLarge || r.error() == Error::TooManyFields);
    }
    RowResult again = s->next();  // the end is repeatable
    if (again.ok() && again->has_value()) out.push_back("!rows after the end");
    return out;
}

NdjsonScannerOptions chunked(size_t chunk) { return {chunk, {}}; }

Steps placeSteps(std::string_view bytes, NdjsonScannerOptions o = {}) {
    return rowkit_test::positionSteps(
        [&](RecordPosition *p) { return NdjsonScanner::fromBytesWithOptions(bytes, o, p); });
}

struct Case {
    std::string in;
    Steps want;
    NdjsonScannerOptions o = {};
    std::optional<size_t> stop = {};
};

void expectAll(std::initializer_list<Case> cases) {
    for (const Case &c : cases) EXPECT_EQ(scanSteps(c.in, c.o, c.stop), c.want) << c.in;
}

// A table of rows in both JSON forms, with values that exercise rendering,
// escapes, key order, missing and extra keys, and records of many lengths.
// `lines` holds one object per line, `array` the same objects as a
// pretty-printed array, `rows` what every row should read as.
struct Table { std::string lines, array; Steps rows; };

Table makeTable(size_t n_rows) {
    // '#' stands for the row number, '@' for padding of varying length, 'L'
    // for a long value.
    static const std::pair<std::string, std::string> kinds[] = {
        {R"({"id":#,"name":"n#","note":"@","ok":true})",
         "#|n#|@|true"},  // header order, flat: the fast path
        {R"({"id":#,"name":"q\"\u00e9","extra":{"x":[1,{"y":"}"}]},"note":"a\\b","ok":null})",
         "#|q\"\xc3\xa9|a\\b|"},
        {R"({"ok":false, "note" : "x,y:z", "id" : #})",
         "#||x,y:z|false"},  // keys out of order, one missing
        {"{ \"id\" :\t# , \"name\": \"[{]}\" ,\"note\":\"@\", \"ok\": 1.50 }", "#|[{]}|@|1.50"},
        {R"({"id":#,"name":"L","note":"","ok":"null"})", "#|L||null"},
    };
    Table t{"", "\n [\n", {}};
    for (size_t i = 0; i < n_rows; ++i) {
        std::string obj, row;
        for (auto [in, out] : {std::pair{&kinds[i % 5].first, &obj}, {&kinds[i % 5].second, &row}})
            for (char c : *in)
                *out += c == '#'   ? std::to_string(i)
                        : c == '@' ? std::string(i * 7 % 300, 'p')
                        : c == 'L' ? std::string(3000 + i, 'L')
                                   : std::string(1, c);
        t.lines += obj + (i % 3 ? "\n" : "\r\n");
        t.array += "  " + obj + (i + 1 < n_rows ? ",\n" : "\n");
        t.rows.push_back(row);
    }
    return t.array += "]\n", t;
}

// The events of scanning the inside of an array fed in pieces of `piece`
// bytes (each in a block of its own, so that a read past it is caught), each
// as its letter and the offset in the whole text after it: 's' an object's
// start, 'e' its end, ']' the array's end; "cut" when the text ends inside an
// object.
std::string arrayEvents(std::string_view text, size_t piece) {
    JsonArrayScan scan;
    std::string out;
    for (size_t begin = 0; begin < text.size(); begin += piece) {
        const std::vector<char> block(text.begin() + begin,
                                      text.begin() + std::min(text.size(), begin + piece));
        for (size_t pos = 0;;) {
            const JsonArrayScan::Event e = scan.step(block.data(), block.size(), &pos);
            if (e == JsonArrayScan::Event::more) break;
            out += " se]"[static_cast<int>(e)] + std::to_string(begin + pos) + " ";
            if (e == JsonArrayScan::Event::array_end) return out;
        }
    }
    return out + (scan.inObject() ? "cut" : "");
}

}  // namespace

// The array scan fed in pieces of every size gives the events it gives when
// fed whole: strings (escaped quotes and backslashes included), skipped
// elements and brace depth all carry across the boundaries.
TEST(NdjsonScanner, ArrayScanStateSurvivesEveryPieceSize) {
    const std::pair<std::string, std::string> cases[] = {
        {R"({"a":"}"}, 5, "{", [{"b":1}, "]"], {"c":{"d":"\\\"}{"}} ] {"x":1})",
         "s1 e9 s36 e55 ]57 "},
        {R"(null,{"k":"\\"},{"k":"{\"}"},{"n":{}})", "s6 e15 s17 e28 s30 e37 "},
        {R"( {"a":{"b":"x\"}", "c"  )", "s2 cut"},
        {R"("[{", "\"]", {})", "s14 e15 "},
    };
    for (const auto &[text, want] : cases) {
        EXPECT_EQ(arrayEvents(text, text.size()), want) << text;
        for (size_t piece = 1; piece < text.size(); ++piece)
            EXPECT_EQ(arrayEvents(text, piece), want) << text << " piece " << piece;
    }
}

// Every case runs on a small stack: deep nesting must never exhaust it.
TEST(NdjsonScanner, RecordsBadRecordsArraysLimitsAndNesting) {
    ASSERT_TRUE(rowkit_test::runOnStack(rowkit_test::kSmallStack, [] {
        const std::string bad = "!InvalidJson",
                          many = "{\"a\":\"" + std::string(json::kMaxTokens, ',') + "\"}";
        const Steps sticky = {"1", "!RecordTooLarge", "!RecordTooLarge", "!RecordTooLarge"};
        const NdjsonScannerOptions eight{kDefaultChunkSize, {8, {}}},
            two_fields{kDefaultChunkSize, {{}, 2}};
        std::string brackets = std::string(10000, '[') + std::string(10000, ']'), objects;
        for (size_t i = 0; i < 10000; ++i)
            objects.insert(0, "{\"a\":").append(i ? "}" : "1}");
        // Within the token table but deeper than the parser goes.
        std::string within = objects.substr(0, 2500) + "1" + std::string(500, '}');
        expectAll(
            {{R"({"s":"l\nx\u00e9","n":1.50,"t":true,"f":false,"z":null,"q":"null"})"
              "\n"
              R"({"q":null,"z":"null","f":"false","t":"","n":-0,"s":"\/"})",
              {"l\nx\xc3\xa9|1.50|true|false||null", "/|-0||false|null|"}},
             // A nested value under a header key fails that row only; under any
             // other key it is ignored.
             {"{\"a\":[1]}\n{\"b\":[1],\"a\":2}\n", {"!NestedValueNotSupported", "2"}},
             // A key repeated in one record: the full path keeps the later value,
             // the fast path (keys in header order) the first.
             {"{\"a\":0,\"b\":0}\n{\"b\":2,\"a\":1,\"a\":3}\n{\"a\":1,\"b\":2,\"a\":3}\n",
              {"0|0", "3|2", "1|2"}},
             // A header holding a name twice: values go by position, then by the
             // map (which holds the later index).
             {"{\"a\":1,\"a\":2}\n{\"a\":5,\"a\":6}\n{\"x\":0,\"a\":7}\n{\"a\":8}\n",
              {"1|2", "5|6", "|7", "8|"}},
             {"{}\n{\"a\":1}\n", {"", ""}},  // no columns
             // Only the wanted columns are read, and only they are checked.
             {"{\"a\":1,\"b\":2}\n{\"b\":[9],\"a\":3}\n", {"1", "3"}, {}, 0},
             // One line feed ends the input, a second is a blank record.
             {"{\"a\":1}\n\n{\"a\":2}\n  \n[1]\n{\"a\":\"\\ud800\"}\n"
              "{\"a\":1\n{\"a\":\"x}\n{\"a\":1}}\n{\"a\":3}\n\n",
              {"1", bad, "2", bad, bad, bad, bad, bad, "1", "3", bad}},
             // Invalid UTF-8 and NUL bytes are ordinary bytes.
             {"{\"a\":\"\xff\xfe\",\"b\":1}\n{\"b\":\"x\0y\",\"a\":\"\xc3\"}\n{\"a\":1\0}"s,
              {"\xff\xfe|1", "\xc3|x\0y"s, "1\0|"s}},
             // 4096 structural bytes or more, strings included.
             {"{\"a\":1}\n" + many + "\n{\"a\":2}\n", {"1", bad, "2"}},
             // Arrays: elements that are not objects are skipped whole, strings
             // and nested arrays included; only the array's own ']' ends the input.
             {R"([{"id":1}, 5, "}{", [ {"id":9}, "]" ], null, {"id":"}{\"}"}] {"id":3})",
              {"1", "}{\"}"}},
             // The closing ']' may be missing; an object cut off by the end is not.
             {R"([{"a":1},{"a":2})", {"1", "2"}}, {R"([{"a":1},{"a":2)", {"1", bad}},
             {R"([{"a":1)", {"!open InvalidJson"}}, {R"([{"a":1},{"a":[1]},{"a":"\q"},{"a":3}])",
              {"1", "!NestedValueNotSupported", bad, "3"}},
             {" \n\t[1, \"x\", [{}]]", {"!open EmptyFile"}},
             {"{\"a\":1}", {"!open InvalidChunkSize"}, chunked(0)},
             {"", {"!open EmptyFile"}},
             {"\n{\"a\":1}\n", {"!open InvalidJson"}},
             // Limits are sticky, and the bound holds for objects assembled across
             // chunks. Keys of nested values and bytes inside strings do not count.
             {"{\"a\":1}\n{\"a\":123}\n{\"a\":1}\n", sticky, eight},
             {"{\"a\":1234}\n", {"!open RecordTooLarge"}, eight},
             {"[{\"a\":1},{\"a\":123}, {\"a\":1}]", sticky, {3, eight.limits}},
             {"{\"a\":1,\"b\":\"{:,:}\"}\n{\"a\":1,\"b\":{\"x\":1,\"y\":2,\"z\":3}}\n"
              "{\"a\":1,\"b\":2,\"c\":3}\n{}\n",
              {"1|{:,:}", "!NestedValueNotSupported", "!TooManyFields", "!TooManyFields",
               "!TooManyFields"},
              two_fields},
             // Deep nesting.
             {objects + "\n", {"!open InvalidJson"}},
             {brackets, {"!open EmptyFile"}},
             {"{\"a\":1}\n{\"a\":" + brackets + "}\n{\"b\":" + within + ",\"a\":2}\n{\"a\":2}",
              {"1", "!InvalidJson", "!InvalidJson", "2"}},
             {"[{\"a\":1}," + brackets + "," + objects + ",{\"a\":2}]",
              {"1", "!InvalidJson", "2"},
              chunked(100)}});
        // The index of a repeated name is its first.
        EXPECT_EQ(NdjsonScanner::fromBytes("[{\"a\":1,\"a\":2,\"b\":3}]")->columnIndex("a"),
                  std::optional<size_t>(0));
    }));
}

TEST(NdjsonScanner, ChunkSizesGiveTheSameRows) {
    Table t = makeTable(60);
    // Whitespace before the first record that fills whole chunks, a blank
    // line in line mode and non-object elements in the array.
    std::string lines = std::string(40, ' ') + t.lines + "\n{\"id\":\"last\"}";
    std::string array = std::string(40, ' ') + "\n" + t.array.substr(0, t.array.size() - 3) +
                        ", 7, \"]\", [[{}]], {\"id\":\"last\"}]\n";
    Steps want_lines = t.rows, want_array = t.rows;
    want_lines.insert(want_lines.end(), {"!InvalidJson", "last|||"});
    want_array.push_back("last|||");
    // The table's records begin one per line (CR LF and LF), or one per line
    // of a pretty-printed array after two spaces, the first on its third line.
    const std::vector<size_t> in_lines = rowkit_test::lineStarts(t.lines),
                              in_array = rowkit_test::lineStarts(t.array);
    Steps places_lines, places_array;
    for (size_t i = 0; i < t.rows.size(); ++i) {
        places_lines.push_back(std::to_string(i + 1) + "@" + std::to_string(in_lines[i]));
        places_array.push_back(std::to_string(i + 3) + "@" + std::to_string(in_array[i + 2] + 2));
    }
    // Every chunk size to 64, some primes past it, and the default; rows
    // and counts (from the start and after three rows) as for the whole
    // input in one chunk.
    std::vector<size_t> chunks = {lines.size(), 97, 251, 509, 1021, 4093, kDefaultChunkSize};
    for (size_t chunk = 1; chunk <= 64; ++chunk) chunks.push_back(chunk);
    for (size_t chunk : chunks) {
        EXPECT_EQ(scanSteps(lines, chunked(chunk)), want_lines) << "chunk " << chunk;
        EXPECT_EQ(scanSteps(array, chunked(chunk)), want_array) << "chunk " << chunk;
        EXPECT_EQ(placeSteps(t.lines, chunked(chunk)), places_lines) << chunk;
        EXPECT_EQ(placeSteps(t.array, chunked(chunk)), places_array) << chunk;
        for (const std::string *text : {&lines, &array}) {
            for (size_t skip : {0, 3}) {
                auto s = NdjsonScanner::fromBytesWithOptions(*text, chunked(chunk));
                for (size_t i = 0; i < skip; ++i) ASSERT_TRUE(s->next().ok());
                auto n = s->countRemaining();
                ASSERT_TRUE(n.ok()) << "chunk " << chunk;
                EXPECT_EQ(*n, t.rows.size() + 2 - skip - (text == &array)) << "chunk " << chunk;
            }
        }
        // Whitespace in front of the first record is not part of it for the
        // record bound, and a blank line before it (even one longer than the
        // bound) fails the open the same way, in one chunk or many.
        const NdjsonScannerOptions bound{chunk, {8, {}}};
        EXPECT_EQ(scanSteps(std::string(40, ' ') + "{\"a\":1}\n", bound), Steps{"1"}) << chunk;
        EXPECT_EQ(scanSteps(std::string(40, ' ') + "\n{\"a\":1}\n", bound),
                  Steps{"!open InvalidJson"})
            << chunk;
    }
}

TEST(NdjsonScanner, CountRemainingAndStoredReadErrors) {
    // With limits the rows are read, so bad records fail the count.
    const NdjsonScannerOptions limited{kDefaultChunkSize, {{}, 100}};
    const Table t = makeTable(30);
    const std::string three = "{\"a\":1}\n{\"a\":2}\n{\"a\":3}",
                      array = "[{\"a\":1}, {\"a\":2}, {\"a\":3";
    const struct {
        std::string text;
        size_t rows_first;
        std::string want;
        NdjsonScannerOptions o = {};
    } cases[] = {
        {three + "\n", 1, "2"},
        {"{\"a\":1}\n\n{\"a\":3}\r\n", 0, "3"},
        {"[{\"a\":1}, 2, {\"a\":{\"b\":[]}}, \"{\", {}] {\"a\":9}", 0, "3"},
        {array + "}]", 2, "1"}, {array, 0, "!InvalidJson"},
        {"{\"a\":1}\n\n{\"a\":3}\n", 0, "!InvalidJson", limited},
        {three, 0, "3", limited},
    };
    for (const auto &c : cases) {
        auto s = NdjsonScanner::fromBytesWithOptions(c.text, c.o);
        for (size_t i = 0; i < c.rows_first; ++i) (void)s->next();
        auto n = s->countRemaining();
        RowResult after = s->next();  // counting consumes the rows
        EXPECT_EQ(n.ok() ? std::to_string(*n) + (after.ok() && !after->has_value() ? "" : " +rows")
                         : std::string("!") + errorName(n.error()),
                  c.want)
            << c.text;
    }
    // A read error, met while reading rows or while counting, in either
    // form, is stored and returned by every later call.
    rowkit_test::TempDir dir;
    auto error = [](const auto &r) { return r.ok() ? Error::Unexpected : r.error(); };
    for (int run = 0; run < 4; ++run) {  // lines or array, reading or counting
        auto s = NdjsonScanner::openWithOptions(
            dir.write("t.json", run < 2 ? t.lines : t.array).c_str(), chunked(256));
        file_hook::failReadAt(3, EIO);
        Error first = Error::Unexpected;
        for (bool more = !(run & 1); more;) {
            RowResult r = s->next();
            more = r.ok() && r->has_value(), first = error(r);
        }
        if (run & 1) first = error(s->countRemaining());
        file_hook::failReadAt(0, 0);
        for (Error e : {first, error(s->next()), error(s->countRemaining())})
            EXPECT_EQ(e, Error::InputOutput) << run;
    }
}

// A record's line counts every line feed before it (in an array, the line of
// its '{'; line feeds inside strings count too); its offset counts bytes
// from the start: a line's first byte, an array element's '{', and the first
// record's first byte that is not whitespace. Both are the same for every
// chunk size.
TEST(NdjsonScanner, PositionsOfRecords) {
    const NdjsonScannerOptions small{kDefaultChunkSize, {10, {}}};  // records of 10 bytes
    const std::string cut = "\n\n  [ 5, {\"a\":";
    const Case cases[] = {
        {"{\"a\":1}\r\n\n{\"a\":\n{\"a\":3}",
         {"1@0", "2@9 !InvalidJson", "3@10 !InvalidJson", "4@16"}},
        {"  {\"a\":1}\n {\"a\":2}", {"1@2", "2@10"}},
        {"\n\n [{\"a\":1},\n{\"a\":\"]\\\"{\n\"}, {\"a\":2}\n,\n  {\"a\":\n3}]",
         {"3@4", "4@13", "5@28", "7@40"}},
        {"{\"a\":1}\n{\"a\":\"0123456789\"}\n{}",
         {"1@0", "2@8 !RecordTooLarge", "2@8 !RecordTooLarge"}, small},
        {"[{\"a\":1},\n{\"a\":\"0123456789\"}]",
         {"1@1", "2@10 !RecordTooLarge", "2@10 !RecordTooLarge"}, small},
        {cut, {"open 3@9 !InvalidJson"}},
        {"\n{\"a\":1}", {"open 1@0 !InvalidJson"}},
        {"", {"open 0@0 !EmptyFile"}},
        {"[1, 2]", {"open 0@0 !EmptyFile"}},
    };
    for (const Case &c : cases)
        for (size_t chunk : {size_t{1}, size_t{2}, size_t{3}, size_t{5}, size_t{17},
                             kDefaultChunkSize})
            EXPECT_EQ(placeSteps(c.in, {chunk, c.o.limits}), c.want)
                << c.in << " chunk " << chunk;
}
