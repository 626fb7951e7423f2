// JSON records through the public interface: every handle operation gives
// the same results for a CSV file, an NDJSON file and a JSON array holding the
// same table; records straddling 256 KiB read chunks; messages; allocation
// failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "alloc.hpp"
#include "rowkit.h"
#include "support/test_files.hpp"

using rowkit_test::defaultOptions;
using rowkit_test::lastError;
using rowkit_test::readAll;
using rowkit_test::readFile;
using rowkit_test::Rows;
using rowkit_test::TempDir;

namespace {

std::string csvField(const std::string &v) {
    if (v.find_first_of(",\"\n\r") == std::string::npos) return v;
    std::string out = "\"";
    for (char c : v) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

// A JSON string; `fancy` spells some bytes with escapes a writer may choose.
std::string jsonString(const std::string &v, bool fancy) {
    std::string out = "\"";
    for (size_t i = 0; i < v.size(); ++i) {
        char c = v[i];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\t') {
            out += "\\t";
        } else if (fancy && c == '/') {
            out += "\\/";
        } else if (fancy && v.compare(i, 2, "\xc3\xa9") == 0) {
            out += "\\u00e9";
            ++i;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// A value as JSON: numbers and the words true/false bare, empty text as null
// or "" or a missing key, anything else as a string.
std::string jsonValue(const std::string &v, size_t row) {
    for (const char *bare : {"34", "-3", "41.5", "1e2", "7", "true"})
        if (v == bare) return v;
    if (v.empty()) return row % 2 ? "null" : "\"\"";
    return jsonString(v, row % 3 == 0);
}

struct SameTable {
    std::string csv, ndjson, array;
};

SameTable makeSameTable() {
    const std::vector<std::string> header = {"id", "name", "amount", "note"};
    const std::vector<std::string> names = {"ann", "bob, jr", "say \"hi\"", "d\xc3\xa9", "{[x]}", "a:b",
                                            "",    "null",    "tab\there",  "back\\slash", "x/y"};
    const std::vector<std::string> amounts = {"34", "-3", "41.5", "", "abc", "1e2", "0x10", "7", "true"};
    const std::vector<std::string> notes = {"x", "", "one, two", "}", "\"q\"", "7", "[1]", "z"};
    SameTable t;
    t.csv = "id,name,amount,note\n";
    t.array = "[\n";
    for (size_t i = 0; i < 150; ++i) {
        std::vector<std::string> row = {std::to_string(i), names[i % names.size()], amounts[i % amounts.size()],
                                        notes[i % notes.size()]};
        for (size_t c = 0; c < 4; ++c) t.csv += (c ? "," : "") + csvField(row[c]);
        t.csv += "\n";
        // Key order: header order mostly (the fast path), reversed sometimes
        // (the full path); an empty value's key is sometimes left out.
        std::vector<size_t> order = {0, 1, 2, 3};
        if (i % 4 == 1) std::reverse(order.begin(), order.end());
        std::string obj = "{";
        for (size_t c : order) {
            if (i % 5 == 2 && row[c].empty() && i > 0) continue;
            if (obj.size() > 1) obj += i % 6 == 0 ? ", " : ",";
            obj += "\"" + header[c] + "\":" + jsonValue(row[c], i);
        }
        obj += "}";
        t.ndjson += obj + "\n";
        t.array += (i ? (i % 3 ? ",\n  " : ", ") : "  ") + obj;
    }
    t.array += "\n]\n";
    return t;
}

CPredicate pred(size_t column, int op, const char *value) {
    CPredicate p;
    std::memset(&p, 0, sizeof p);
    p.column = column;
    p.op = op;
    p.value = value;
    return p;
}

std::string fieldsOf(const char *const *f, size_t n) {
    std::string s = "(";
    for (size_t i = 0; i < n; ++i) s += (i ? "|" : "") + std::string(f[i]);
    return s + ")";
}

// Everything the handle operations report for `path` under `o`, each from a
// fresh handle.
std::string snapshot(const std::string &path, const COptions &o) {
    std::ostringstream out;
    Ctx *ctx = rowkit_open(path.c_str(), &o);
    if (!ctx) return "open failed: " + lastError();
    out << "header";
    for (size_t i = 0; i < rowkit_n_columns(ctx); ++i)
        out << " " << rowkit_column_name(ctx, i) << "@" << rowkit_column_index(ctx, rowkit_column_name(ctx, i));
    out << "\nrows";
    for (const auto &row : readAll(ctx)) {
        out << " (";
        for (size_t i = 0; i < row.size(); ++i) out << (i ? "|" : "") << row[i];
        out << ")";
    }
    rowkit_close(ctx);

    ctx = rowkit_open(path.c_str(), &o);
    out << "\ncount " << rowkit_count(ctx);
    rowkit_close(ctx);

    ctx = rowkit_open(path.c_str(), &o);
    AggC agg;
    out << "\naggregate " << rowkit_aggregate(ctx, 2, &agg) << " " << agg.count << " " << agg.sum << " "
        << agg.min << " " << agg.max;
    rowkit_close(ctx);

    ctx = rowkit_open(path.c_str(), &o);
    TopkCtx *top = rowkit_topk(ctx, 2, 4, 1);
    rowkit_close(ctx);
    out << "\ntopk";
    const char *const *f;
    size_t n;
    double key;
    while (rowkit_topk_next(top, &f, &n, &key) == 1) out << " " << key << fieldsOf(f, n);
    rowkit_topk_close(top);

    ctx = rowkit_open(path.c_str(), &o);
    OrderByCtx *ord = rowkit_order_by(ctx, 1, 0);
    rowkit_close(ctx);
    out << "\norder";
    while (rowkit_order_by_next(ord, &f, &n) == 1) out << " " << fieldsOf(f, n);
    rowkit_order_by_close(ord);

    ctx = rowkit_open(path.c_str(), &o);
    CollectCtx *col = rowkit_collect(ctx);
    rowkit_close(ctx);
    size_t len = 0;
    const uint8_t *data = rowkit_collect_data(col, &len);
    out << "\ncollect " << rowkit_collect_n_rows(col) << "x" << rowkit_collect_n_cols(col) << " "
        << std::string(reinterpret_cast<const char *>(data ? data : reinterpret_cast<const uint8_t *>("")), len);
    rowkit_collect_close(col);

    ctx = rowkit_open(path.c_str(), &o);
    CollectColumnarCtx *cols = rowkit_collect_columnar(ctx);
    rowkit_close(ctx);
    out << "\ncolumnar " << rowkit_collect_columnar_n_rows(cols);
    for (size_t c = 0; c < rowkit_collect_columnar_n_cols(cols); ++c) {
        const uint8_t *d = rowkit_collect_columnar_data(cols, c, &len);
        size_t n_off = 0;
        const uint32_t *off = rowkit_collect_columnar_offsets(cols, c, &n_off);
        out << " [" << std::string(d ? reinterpret_cast<const char *>(d) : "", len) << "/"
            << (n_off ? off[n_off - 1] : 0) << "]";
    }
    rowkit_collect_columnar_close(cols);
    return out.str();
}

}  // namespace

TEST(CApiNdjson, EveryHandleOperationGivesTheSameResultsAsCsv) {
    TempDir dir;
    SameTable t = makeSameTable();
    const std::vector<std::string> paths = {dir.write("t.csv", t.csv), dir.write("t.ndjson", t.ndjson),
                                            dir.write("t.jsonl", t.ndjson), dir.write("t.json", t.array)};
    CPredicate preds[3];
    size_t cols[] = {3, 0, 9};
    const char *in_values[] = {"ann", "d\xc3\xa9", "7"};
    std::vector<COptions> options;
    options.push_back(defaultOptions());
    COptions o = defaultOptions();
    o.where = preds;
    o.n_where = 1;
    preds[0] = pred(2, ROWKIT_OP_GT, "10");
    options.push_back(o);
    preds[1] = pred(1, ROWKIT_OP_IN_LIST, nullptr);
    preds[1].values = in_values;
    preds[1].n_values = 3;
    o.where = preds + 1;
    options.push_back(o);
    preds[2] = pred(2, ROWKIT_OP_LT, "0");
    o.where = preds + 2;
    o.negate = 1;
    options.push_back(o);
    o = defaultOptions();
    o.columns = cols;
    o.n_columns = 3;
    options.push_back(o);
    o.where = preds;
    o.n_where = 1;
    o.limit = 7;
    options.push_back(o);
    o = defaultOptions();
    o.max_column = 1;
    options.push_back(o);
    o.where = preds;  // a predicate past max_column sees nothing
    o.n_where = 1;
    options.push_back(o);
    o = defaultOptions();
    o.limit = 3;
    options.push_back(o);

    for (size_t k = 0; k < options.size(); ++k) {
        std::string want = snapshot(paths[0], options[k]);
        ASSERT_NE(want.find("\nrows"), std::string::npos) << want;
        for (size_t p = 1; p < paths.size(); ++p) EXPECT_EQ(snapshot(paths[p], options[k]), want) << paths[p] << " options " << k;
    }
    // The table really has rows of every kind.
    std::string all = snapshot(paths[1], options[0]);
    EXPECT_NE(all.find("(2|say \"hi\"|41.5|one, two)"), std::string::npos) << all;
    EXPECT_NE(all.find("(3|d\xc3\xa9||})"), std::string::npos) << all;
    EXPECT_NE(all.find("count 150"), std::string::npos);
}

TEST(CApiNdjson, RecordsStraddleReadChunks) {
    TempDir dir;
    // Well over four 256 KiB chunks, records of many lengths, and one record
    // longer than two chunks.
    std::string lines, array = "[";
    Rows want;
    size_t total = 0;
    for (size_t i = 0; total < (1u << 20) + 300000; ++i) {
        std::string text = std::string(i == 37 ? 600000 : (i * 7919) % 3000, static_cast<char>('a' + i % 26));
        std::string obj = R"({"id":)" + std::to_string(i) + R"(,"text":")" + text + R"(","q":"\"")" +
                          (i % 2 ? R"(,"n":null})" : "}");
        lines += obj + "\n";
        array += (i ? ",\n" : "") + obj;
        want.push_back({std::to_string(i), text, "\""});
        total += obj.size() + 1;
    }
    array += "]";
    for (const auto &[name, text] : {std::pair<std::string, std::string>{"big.ndjson", lines}, {"big.json", array}}) {
        std::string path = dir.write(name, text);
        EXPECT_EQ(readFile(path), want) << name;
        Ctx *ctx = rowkit_open(path.c_str(), nullptr);
        ASSERT_NE(ctx, nullptr);
        EXPECT_EQ(rowkit_count(ctx), static_cast<int64_t>(want.size()));
        rowkit_close(ctx);
    }
}

TEST(CApiNdjson, MessagesAndRecovery) {
    TempDir dir;
    EXPECT_EQ(rowkit_open(dir.write("e.ndjson", "").c_str(), nullptr), nullptr);
    EXPECT_EQ(lastError(), "open failed: EmptyFile");
    EXPECT_EQ(rowkit_open(dir.write("e.json", " [ ] ").c_str(), nullptr), nullptr);
    EXPECT_EQ(lastError(), "open failed: EmptyFile");
    EXPECT_EQ(rowkit_open(dir.write("b.jsonl", "\n{\"a\":1}\n").c_str(), nullptr), nullptr);
    EXPECT_EQ(lastError(), "open failed: InvalidJson");
    EXPECT_EQ(rowkit_open(dir.write("b.json", "{\"a\":[1]").c_str(), nullptr), nullptr);
    EXPECT_EQ(lastError(), "open failed: InvalidJson");
    EXPECT_EQ(rowkit_open((dir.path() + "/missing.json").c_str(), nullptr), nullptr);
    EXPECT_EQ(lastError(), "open failed: FileNotFound");

    std::string path = dir.write("r.ndjson", "{\"a\":1,\"b\":2}\n\n{\"a\":{\"x\":1}}\n{\"b\":\"\\u12\"}\n{\"b\":4}\n");
    Ctx *ctx = rowkit_open(path.c_str(), nullptr);
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(rowkit_last_error(), nullptr);
    const char *const *f;
    size_t n;
    ASSERT_EQ(rowkit_next(ctx, &f, &n), 1);
    EXPECT_EQ(fieldsOf(f, n), "(1|2)");
    EXPECT_EQ(rowkit_next(ctx, &f, &n), -1);
    EXPECT_EQ(lastError(), "next failed: InvalidJson");
    EXPECT_EQ(rowkit_next(ctx, &f, &n), -1);
    EXPECT_EQ(lastError(), "next failed: NestedValueNotSupported");
    EXPECT_EQ(rowkit_next(ctx, &f, &n), -1);
    EXPECT_EQ(lastError(), "next failed: InvalidJson");
    ASSERT_EQ(rowkit_next(ctx, &f, &n), 1);
    EXPECT_EQ(rowkit_last_error(), nullptr);
    EXPECT_EQ(fieldsOf(f, n), "(|4)");
    EXPECT_EQ(rowkit_next(ctx, &f, &n), 0);
    rowkit_close(ctx);

}

TEST(CApiNdjson, AllocationFailures) {
    TempDir dir;
    SameTable t = makeSameTable();
    size_t cols[] = {1, 3};
    COptions o = defaultOptions();
    o.columns = cols;
    o.n_columns = 2;
    for (const std::string &path : {dir.write("t.ndjson", t.ndjson), dir.write("t.json", t.array)}) {
        const Rows expected = readFile(path, &o);
        ASSERT_EQ(expected.size(), 150u);
        bool opened = false;
        for (uint64_t nth = 1; nth < 200 && !opened; ++nth) {
            rowkit::alloc_hook::reset();
            rowkit::alloc_hook::failAt(nth);
            Ctx *ctx = rowkit_open(path.c_str(), &o);
            rowkit::alloc_hook::reset();
            if (ctx) {
                opened = true;
                rowkit_close(ctx);
                break;
            }
            std::string msg = lastError();
            EXPECT_TRUE(msg == "out of memory allocating scanner context" || msg == "open failed: OutOfMemory" ||
                        msg == "out of memory allocating header")
                << "allocation " << nth << ": " << msg;
        }
        EXPECT_TRUE(opened);
        for (uint64_t nth = 1; nth < 40; ++nth) {
            Ctx *ctx = rowkit_open(path.c_str(), &o);
            ASSERT_NE(ctx, nullptr);
            rowkit::alloc_hook::reset();
            rowkit::alloc_hook::failAt(nth);
            Rows got;
            int failures = 0;
            for (;;) {
                const char *const *f;
                size_t n;
                int r = rowkit_next(ctx, &f, &n);
                if (r == 0) break;
                if (r < 0) {
                    ++failures;
                    std::string msg = lastError();
                    EXPECT_TRUE(msg == "out of memory growing field buffers" || msg == "out of memory copying row" ||
                                msg == "next failed: OutOfMemory")
                        << msg;
                    continue;
                }
                got.push_back({f[0], f[1]});
            }
            rowkit::alloc_hook::reset();
            rowkit_close(ctx);
            EXPECT_EQ(got.size() + static_cast<size_t>(failures), expected.size()) << nth;
            size_t k = 0;
            for (const auto &row : got) {
                while (k < expected.size() && expected[k] != row) ++k;
                EXPECT_LT(k, expected.size()) << "allocation " << nth;
            }
            if (failures == 0) break;
        }
    }
}

TEST(CApiNdjson, SteadyStateRowsAllocateNothing) {
    TempDir dir;
    std::string lines;
    // Flat records in header order (the fast path) and records with escapes
    // and keys out of order (the full parse, into its reused arena).
    for (int i = 0; i < 40000; ++i)
        lines += i % 3 == 0 ? R"({"id":)" + std::to_string(i) + R"(,"name":"n)" + std::to_string(i % 97) +
                                  R"(","ok":true,"x":null})" + "\n"
                            : R"({"ok":false,"name":"e\t\u00e9)" + std::to_string(i % 97) + R"(","id":)" +
                                  std::to_string(i) + "}\n";
    for (const std::string &path : {dir.write("s.ndjson", lines), dir.write("s.json", "[" + lines + "]")}) {
        Ctx *ctx = rowkit_open(path.c_str(), nullptr);
        ASSERT_NE(ctx, nullptr);
        const char *const *f;
        size_t n;
        // Warm up past the first chunk boundaries (a record that straddles
        // one is assembled in a buffer that grows once).
        for (int i = 0; i < 12000; ++i) ASSERT_EQ(rowkit_next(ctx, &f, &n), 1);
        rowkit::alloc_hook::reset();
        size_t rows = 12000;
        while (rowkit_next(ctx, &f, &n) == 1) ++rows;
        EXPECT_EQ(rows, 40000u);
        EXPECT_EQ(rowkit::alloc_hook::count(), 0u) << path;
        rowkit_close(ctx);
    }
}
