// JSON records through the public interface: the handle operations give the
// same results for a CSV file, an NDJSON file and a JSON array holding the
// same table; messages; allocation failures; no allocation per row.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "alloc.hpp"
#include "rowkit.h"
#include "support/test_files.hpp"

using rowkit_test::defaultOptions;
using rowkit_test::lastError;
using rowkit_test::TempDir;
using namespace std::string_literals;

namespace {

// A JSON string; `fancy` spells some bytes with escapes a writer may choose.
std::string jsonString(const std::string &v, bool fancy) {
    std::string out = "\"";
    for (size_t i = 0; i < v.size(); ++i) {
        if (v[i] == '"' || v[i] == '\\' || (fancy && v[i] == '/')) out += '\\';
        bool e = fancy && v.compare(i, 2, "\xc3\xa9") == 0;
        out += e ? "\\u00e9" : v[i] == '\t' ? std::string("\\t") : std::string(1, v[i]);
        i += e;
    }
    return out + "\"";
}

struct SameTable { std::string csv, ndjson, array; };

// 150 rows as CSV and both JSON forms. Numbers and true are bare, empty text
// is null or "" or a missing key, anything else a string; keys come in header
// order mostly (the fast path), reversed sometimes (the full path).
SameTable makeSameTable() {
    const std::vector<std::string> header = {"id", "name", "amount", "note"};
    const std::vector<std::string> names = {"ann", "bob, jr", "say \"hi\"", "d\xc3\xa9", "{[x]}", "a:b",
                                            "",    "null",    "tab\there",  "back\\slash", "x/y"};
    const std::vector<std::string> amounts = {"34", "-3", "41.5", "", "abc", "1e2", "0x10", "7", "true"};
    const std::vector<std::string> notes = {"x", "", "one, two", "}", "\"q\"", "7", "[1]", "z"};
    SameTable t{"id,name,amount,note\n", "", "[\n"};
    for (size_t i = 0; i < 150; ++i) {
        std::vector<std::string> row = {std::to_string(i), names[i % names.size()], amounts[i % amounts.size()], notes[i % notes.size()]};
        const std::vector<size_t> order = i % 4 == 1 ? std::vector<size_t>{3, 2, 1, 0} : std::vector<size_t>{0, 1, 2, 3};
        std::string obj = "{";
        for (size_t c = 0; c < 4; ++c) {
            std::string quoted = row[c];  // every CSV field quoted, its quotes doubled
            for (size_t q = quoted.find('"'); q != std::string::npos; q = quoted.find('"', q + 2)) quoted.insert(q, "\"");
            t.csv += (c ? ",\"" : "\"") + quoted + "\"";
            const std::string &v = row[order[c]];
            if (i % 5 == 2 && v.empty() && i > 0) continue;
            bool bare = v == "34" || v == "-3" || v == "41.5" || v == "1e2" || v == "7" || v == "true";
            if (obj.size() > 1) obj += i % 6 == 0 ? ", " : ",";
            obj += "\"" + header[order[c]] + "\":" +
                   (bare ? v : v.empty() ? (i % 2 ? "null" : "\"\"") : jsonString(v, i % 3 == 0));
        }
        t.csv += "\n", t.ndjson += obj + "}\n";
        t.array += (i ? (i % 3 ? ",\n  " : ", ") : "  ") + obj + "}";
    }
    t.array += "\n]\n";
    return t;
}

std::string fieldsOf(const char *const *f, size_t n) {
    std::string s = "(";
    for (size_t i = 0; i < n; ++i) s += (i ? "|" : "") + std::string(f[i]);
    return s + ")";
}

// Each rowkit_next of the handle up to the end: the fields, "!" when the
// last error was not cleared, or the message.
std::vector<std::string> steps(Ctx *ctx) {
    std::vector<std::string> out;
    const char *const *f;
    size_t n;
    for (int r; (r = rowkit_next(ctx, &f, &n)) != 0;)
        out.push_back(r == 1 ? fieldsOf(f, n) + (rowkit_last_error() ? "!" : "") : lastError());
    return out;
}

// What the handle operations report for `path` under `o`, each from a fresh
// handle: the header, the rows, the count, and the rows order-by keeps
// across reads. The other operations consume the same rows.
std::string snapshot(const std::string &path, const COptions &o) {
    std::ostringstream out;
    auto open = [&] { return rowkit_open(path.c_str(), &o); };
    Ctx *ctx = open();
    if (!ctx) return "open failed: " + lastError();
    out << "header";
    for (size_t i = 0; i < rowkit_n_columns(ctx); ++i)
        out << " " << rowkit_column_name(ctx, i) << "@" << rowkit_column_index(ctx, rowkit_column_name(ctx, i));
    out << "\nrows";
    for (const std::string &step : steps(ctx)) out << " " << step;
    rowkit_close(ctx);
    out << "\ncount " << rowkit_count(ctx = open()) << "\norder";
    rowkit_close(ctx);
    OrderByCtx *ord = rowkit_order_by(ctx = open(), 1, 0);
    rowkit_close(ctx);
    const char *const *f;
    size_t n;
    while (rowkit_order_by_next(ord, &f, &n) == 1) out << " " << fieldsOf(f, n);
    rowkit_order_by_close(ord);
    return out.str();
}

}  // namespace

TEST(CApiNdjson, EveryHandleOperationGivesTheSameResultsAsCsv) {
    TempDir dir;
    SameTable t = makeSameTable();
    const std::string paths[] = {dir.write("t.csv", t.csv), dir.write("t.ndjson", t.ndjson),
                                 dir.write("t.jsonl", t.ndjson), dir.write("t.json", t.array)};
    const CPredicate gt{2, ROWKIT_OP_GT, "10", nullptr, 0};
    COptions options[4] = {defaultOptions(), defaultOptions(), defaultOptions(), defaultOptions()};
    options[1].where = options[3].where = &gt, options[1].n_where = options[3].n_where = 1;  // count then reads the rows
    options[2].max_column = options[3].max_column = 1;  // only the wanted columns are read
    for (const COptions &o : options) {
        std::string want = snapshot(paths[0], o);
        ASSERT_NE(want.find("\nrows"), std::string::npos) << want;
        for (size_t p = 1; p < 4; ++p) EXPECT_EQ(snapshot(paths[p], o), want) << paths[p] << " options " << &o - options;
    }
    // The table really has rows of every kind.
    std::string all = snapshot(paths[1], options[0]);
    for (const char *row : {"(2|say \"hi\"|41.5|one, two)", "(3|d\xc3\xa9||})", "count 150"})
        EXPECT_NE(all.find(row), std::string::npos) << row;
}

TEST(CApiNdjson, MessagesAndRecovery) {
    TempDir dir;
    for (const auto &[name, text, error] : {std::tuple{"e.json", " [ ] ", "EmptyFile"}, {"b.jsonl", "\n{\"a\":1}\n", "InvalidJson"}}) {
        EXPECT_EQ(rowkit_open(dir.write(name, text).c_str(), nullptr), nullptr);
        EXPECT_EQ(lastError(), "open failed: "s + error) << name;
    }

    std::string path = dir.write("r.ndjson", "{\"a\":1,\"b\":2}\n\n{\"a\":{\"x\":1}}\n{\"b\":\"\\u12\"}\n{\"b\":4}\n");
    Ctx *ctx = rowkit_open(path.c_str(), nullptr);
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(steps(ctx), (std::vector<std::string>{"(1|2)", "next failed: InvalidJson", "next failed: NestedValueNotSupported",
                                                    "next failed: InvalidJson", "(|4)"}));
    rowkit_close(ctx);
}

// Each allocation of opening and reading fails in turn: the open fails with
// one of its messages, or one call fails with one of the row messages and
// consumes its row only.
TEST(CApiNdjson, AllocationFailures) {
    const std::set<std::string> kOpenMessages = {"out of memory allocating scanner context", "open failed: OutOfMemory",
                                                 "out of memory allocating header"},
                                kRowMessages = {"out of memory growing field buffers", "out of memory copying row",
                                                "next failed: OutOfMemory"};
    TempDir dir;
    SameTable t = makeSameTable();
    size_t cols[] = {1, 3};
    COptions o = defaultOptions();
    o.columns = cols, o.n_columns = 2;
    for (const std::string &path : {dir.write("t.ndjson", t.ndjson), dir.write("t.json", t.array)}) {
        Ctx *ctx = rowkit_open(path.c_str(), &o);
        const std::vector<std::string> expected = steps(ctx);
        rowkit_close(ctx);
        ASSERT_EQ(expected.size(), 150u);
        for (uint64_t nth = 1;; ++nth) {
            ASSERT_LT(nth, 300u);
            rowkit::alloc_hook::failAt(nth);
            ctx = rowkit_open(path.c_str(), &o);
            std::vector<std::string> got = ctx ? steps(ctx) : std::vector<std::string>{lastError()};
            rowkit::alloc_hook::reset();
            rowkit_close(ctx);
            if (got == expected) break;  // past the last allocation
            if (!ctx) {
                EXPECT_TRUE(kOpenMessages.count(got[0])) << "allocation " << nth << ": " << got[0];
                continue;
            }
            ASSERT_EQ(got.size(), expected.size()) << nth;
            size_t failures = 0;
            for (size_t i = 0; i < got.size(); ++i)
                if (got[i] != expected[i]) { EXPECT_TRUE(++failures == 1 && kRowMessages.count(got[i])) << nth << ": " << got[i]; }
            EXPECT_EQ(failures, 1u) << nth;
        }
    }
}

TEST(CApiNdjson, SteadyStateRowsAllocateNothing) {
    TempDir dir;
    std::string lines;
    // Flat records in header order (the fast path) and records with escapes
    // and keys out of order (the full parse, into its reused arena).
    for (int i = 0; i < 40000; ++i)
        lines += i % 3 ? R"({"ok":false,"name":"e\t\u00e9)" + std::to_string(i % 97) + R"(","id":)" + std::to_string(i) + "}\n"
                       : R"({"id":)" + std::to_string(i) + R"(,"name":"n)" + std::to_string(i % 97) + R"(","ok":true,"x":null})" + "\n";
    for (const std::string &path : {dir.write("s.ndjson", lines), dir.write("s.json", "[" + lines + "]")}) {
        Ctx *ctx = rowkit_open(path.c_str(), nullptr);
        ASSERT_NE(ctx, nullptr);
        const char *const *f;
        size_t n, rows = 0;
        // Warm up past the first chunk boundaries (a record that straddles
        // one is assembled in a buffer that grows once).
        for (; rows < 12000; ++rows) ASSERT_EQ(rowkit_next(ctx, &f, &n), 1);
        rowkit::alloc_hook::reset();
        while (rowkit_next(ctx, &f, &n) == 1) ++rows;
        EXPECT_EQ(rows, 40000u);
        EXPECT_EQ(rowkit::alloc_hook::count(), 0u) << path;
        rowkit_close(ctx);
    }
}
