// JSON records through the public interface: the handle operations give the
// same results for a CSV file, an NDJSON file and a JSON array holding the
// same table (made in tests/support); allocation failures; no allocation per row. (Their messages
// and places are checked in c_api_errors_test.cpp.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "alloc.hpp"
#include "rowkit.h"
#include "support/test_files.hpp"

using namespace rowkit_test;
using Steps = std::vector<std::string>;

namespace {

std::string fieldsOf(const char *const *f, size_t n) {
    std::string s = "(";
    for (size_t i = 0; i < n; ++i) s += (i ? "|" : "") + std::string(f[i]);
    return s + ")";
}

// Each rowkit_next of the handle up to the end: the fields, "!" when the
// last error was not cleared, or the message.
Steps steps(Ctx *ctx) {
    Steps out;
    const char *const *f; size_t n;
    for (int r; (r = rowkit_next(ctx, &f, &n)) != 0;)
        out.push_back(r == 1 ? fieldsOf(f, n) + (rowkit_last_error() ? "!" : "") : lastError());
    return out;
}

// What the handle operations report for `path` under `o`, each from a fresh
// handle: the header, the rows, the count, and the rows order-by keeps
// across reads. The other operations consume the same rows.
std::string snapshot(const std::string &path, const COptions &o) {
    std::ostringstream out("header", std::ios::ate);
    Ctx *ctx = rowkit_open(path.c_str(), &o);
    if (!ctx) return "open failed: " + lastError();
    for (size_t i = 0; i < rowkit_n_columns(ctx); ++i)
        out << " " << rowkit_column_name(ctx, i) << "@"
            << rowkit_column_index(ctx, rowkit_column_name(ctx, i));
    for (const std::string &step : steps(ctx)) out << "\n" << step;
    rowkit_close(ctx);
    out << "\ncount " << rowkit_count(ctx = rowkit_open(path.c_str(), &o)) << "\norder";
    rowkit_close(ctx);
    OrderByCtx *ord = rowkit_order_by(ctx = rowkit_open(path.c_str(), &o), 1, 0);
    rowkit_close(ctx);
    const char *const *f; size_t n;
    while (rowkit_order_by_next(ord, &f, &n) == 1) out << " " << fieldsOf(f, n);
    rowkit_order_by_close(ord);
    return out.str();
}

}  // namespace

TEST(CApiNdjson, SameResultsAsCsvAndAllocationFailures) {
    TempDir dir;
    const SameTable t = makeSameTable();
    const std::string paths[] = {dir.write("t.csv", t.csv), dir.write("t.ndjson", t.ndjson),
                                 dir.write("t.jsonl", t.ndjson), dir.write("t.json", t.array)};
    const CPredicate gt{2, ROWKIT_OP_GT, "10", nullptr, 0};
    COptions options[4] = {defaultOptions(), defaultOptions(), defaultOptions(), defaultOptions()};
    options[1].where = options[3].where = &gt,
    options[1].n_where = options[3].n_where = 1;        // count then reads the rows
    options[2].max_column = options[3].max_column = 1;  // only the wanted columns are read
    for (const COptions &o : options)
        for (size_t p = 1; p < 4; ++p)
            EXPECT_EQ(snapshot(paths[p], o), snapshot(paths[0], o))
                << paths[p] << " options " << &o - options;
    // The table really has rows of every kind.
    for (const char *row : {"(2|say \"hi\"|41.5|one, two)", "(3|d\xc3\xa9||})", "count 150"})
        EXPECT_NE(snapshot(paths[1], options[0]).find(row), std::string::npos) << row;

    Ctx *ctx = nullptr;
    // Each allocation of opening and reading fails in turn, with and without
    // predicates: the open fails with one of its messages, or one call fails
    // with one of the row messages and loses at most its own row (possibly one
    // the predicates would have dropped); the others come out in order.
    const std::set<std::string> kMessages = {"out of memory allocating scanner context",
                                             "open failed: OutOfMemory",
                                             "out of memory allocating header",
                                             "out of memory growing field buffers",
                                             "out of memory copying row",
                                             "next failed: OutOfMemory"};
    auto oneRowFailed = [&](Steps got, Steps want) {
        auto at = std::find_if(got.begin(), got.end(),
                               [&](const std::string &m) { return kMessages.count(m) > 0; });
        if (at == got.end()) return false;
        const size_t i = static_cast<size_t>(at - got.begin());
        got.erase(at);
        if (got == want) return true;  // the failed row was one the predicates drop
        return i < want.size() && (want.erase(want.begin() + static_cast<long>(i)), got == want);
    };
    for (const std::string &path : {paths[0], paths[1], paths[3]})
        for (const COptions *o : {&options[0], &options[3]}) {
            const Steps expected = steps(ctx = rowkit_open(path.c_str(), o));
            rowkit_close(ctx);
            Steps got;
            for (uint64_t nth = 1; got != expected; ++nth) {  // until past the last allocation
                ASSERT_LT(nth, 300u);
                rowkit::alloc_hook::failAt(nth);
                got = (ctx = rowkit_open(path.c_str(), o)) ? steps(ctx) : Steps{lastError()};
                rowkit::alloc_hook::reset();
                rowkit_close(ctx);
                EXPECT_TRUE(got == expected ||
                            (ctx ? oneRowFailed(got, expected) : kMessages.count(got[0]) == 1))
                    << path << " " << nth << ": " << got[0];
            }
        }
}

// Once the buffers have grown, delivering rows allocates nothing.
TEST(CApiNdjson, SteadyStateRowsAllocateNothingInAnyFormat) {
    TempDir dir;
    // CSV: quoted fields with doubled quotes after a first row whose long
    // field grows the buffers. JSON: flat records in header order (the fast
    // path) and records with escapes and keys out of order (the full parse,
    // into its reused arena).
    std::string csv = "a,b,c\nshort,x,\"\"\"" + std::string(100, 'L') + "\"\n", lines;
    for (int i = 0; i < 40000; ++i) {
        if (i <= 10000)  // within the first read chunk
            csv += std::to_string(i) + ",y,\"q\"\"" + std::to_string(i % 90) + "\"\n";
        lines += i % 3 ? R"({"ok":false,"name":"e\t\u00e9","id":)" + std::to_string(i) + "}\n"
                       : R"({"id":)" + std::to_string(i) +
                             R"(,"name":"n","ok":true,"x":null})"
                             "\n";
    }
    // The JSON readers warm up past the first chunk boundaries (a record that
    // straddles one is assembled in a buffer that grows once).
    for (const auto &[path, warm] : {std::pair{dir.write("s.csv", csv), size_t{0}},
                                     {dir.write("s.ndjson", lines), size_t{12000}},
                                     {dir.write("s.json", "[" + lines + "]"), size_t{12000}}}) {
        Ctx *ctx = rowkit_open(path.c_str(), nullptr);
        const char *const *f; size_t n, rows = 0;
        for (; rowkit_next(ctx, &f, &n) == 1; ++rows)
            if (rows == warm) rowkit::alloc_hook::reset();
        EXPECT_EQ(rows, warm ? 40000u : 10002u) << path;
        EXPECT_EQ(rowkit::alloc_hook::count(), 0u) << path;
        rowkit_close(ctx);
    }
}
