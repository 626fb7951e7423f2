// Row-major and columnar collect through the public interface: byte-exact
// buffers and offsets, empty results, ragged rows, limits, ownership across
// close, messages and allocation failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "alloc.hpp"
#include "collect.hpp"
#include "rowkit.h"
#include "support/test_files.hpp"

using rowkit_test::lastError;
using namespace std::string_literals;

namespace {

// Collects what remains in ctx, closing ctx first when asked (the result owns
// its bytes), as collectText or columnarText put it.
std::string collect(Ctx *ctx, bool columnar, bool close_scanner = false) {
    CollectCtx *rm = columnar ? nullptr : rowkit_collect(ctx);
    CollectColumnarCtx *cc = columnar ? rowkit_collect_columnar(ctx) : nullptr;
    if (close_scanner) rowkit_close(ctx);
    return columnar ? rowkit_test::columnarText(cc) : rowkit_test::collectText(rm);
}

}  // namespace

TEST(CApiCollect, BothLayoutsAreExactAndOutliveTheScanner) {
    rowkit_test::TempDir dir;
    size_t cols[] = {3, 1};
    const CPredicate not_rome = {3, ROWKIT_OP_NEQ, "Rome", nullptr, 0};
    const COptions all = rowkit_test::defaultOptions(),
                   projected = {cols, 2, &not_rome, 1, 4, -1, 0},
                   two_columns = {nullptr, 0, nullptr, 0, -1, 1, 0};
    // One row is read with rowkit_next first, and is not collected. With
    // `projected`: columns {3, 1}, city != Rome, at most 4 rows counting the
    // one read first.
    const std::string ragged = "a,b,c\n0\n1\n2,3,4\n5,6,,8,9\n,x\0y\n"s;
    const struct {
        std::string name, text;
        const COptions *o;
        std::string row_major, columnar;
    } cases[] = {
        {"p.csv",
         "id,name,age,city\n1,ann,34,Oslo\n2,bob,27,\"Lima, PE\"\n3,cy,,Rome\n4,dee,41.5,\"Say "
         "\"\"hi\"\"\"\n5,eve,abc,Oslo\n",
         &projected, "3x2:Lima, PE\0bob\0Say \"hi\"\0dee\0Oslo\0eve\0"s,
         "3: Lima, PESay \"hi\"Oslo/0,8,16,20 bobdeeeve/0,3,6,9"},
        // Rows are brought to the header's width, even when the first
        // collected row is short: no later row loses a column. Empty fields
        // are empty values; a NUL inside a field is kept.
        {"r.csv", ragged, &all,
         "4x3:1\0\0\0" "2\0" "3\0" "4\0" "5\0" "6\0\0" "\0x\0y\0\0"s,
         "4: 125/0,1,2,3,3 36x\0y/0,0,1,2,5 4/0,0,1,1,1"s},
        // max_column cuts the width to the columns the rows carry.
        {"m.csv", ragged, &two_columns,
         "4x2:1\0\0" "2\0" "3\0" "5\0" "6\0" "\0x\0y\0"s,
         "4: 125/0,1,2,3,3 36x\0y/0,0,1,2,5"s},
        // A first object without keys: rows with no fields and no columns.
        {"e.ndjson", "{}\n{}\n{\"a\":1}\n{}\n", &all, "3x0:", "3:"},
    };
    for (const auto &c : cases)
        for (bool columnar : {false, true}) {
            Ctx *ctx = rowkit_open(dir.write(c.name, c.text).c_str(), c.o);
            ASSERT_EQ(rowkit_next(ctx, nullptr, nullptr), 1);
            EXPECT_EQ(collect(ctx, columnar), columnar ? c.columnar : c.row_major) << c.name;
            // A drained handle (or a used-up limit) yields no rows and no
            // columns.
            EXPECT_EQ(collect(ctx, columnar, true), columnar ? "0:" : "0x0:") << c.name;
        }
}

TEST(CApiCollect, FailuresSetTheMessageAndKeepTheScannerOpen) {
    rowkit_test::TempDir dir;
    EXPECT_EQ(collect(nullptr, false) + collect(nullptr, true), "!scanner is null!scanner is null");
    size_t len = 7;  // NULL results: every accessor is safe and leaves the outputs alone
    EXPECT_EQ(rowkit_collect_data(nullptr, &len), nullptr);
    EXPECT_EQ(rowkit_collect_columnar_data(nullptr, 0, &len), nullptr);
    EXPECT_EQ(rowkit_collect_columnar_offsets(nullptr, 0, &len), nullptr);
    EXPECT_EQ(len, 7u);
    EXPECT_EQ(rowkit_collect_n_rows(nullptr), 0u);
    EXPECT_EQ(rowkit_collect_n_cols(nullptr), 0u);
    EXPECT_EQ(rowkit_collect_columnar_n_rows(nullptr), 0u);
    EXPECT_EQ(rowkit_collect_columnar_n_cols(nullptr), 0u);
    rowkit_collect_close(nullptr), rowkit_collect_columnar_close(nullptr);
    // A reader error discards the rows gathered so far; the scanner goes on
    // after the failing line. With the column limit lowered to 10 bytes,
    // column a reaches it exactly and column b passes it on the last row; the
    // row-major buffer has no 32-bit offsets and no such limit.
    const std::string quote = dir.write("q.csv", "a,b\n1,2\n3,\"x\n4,y\n"),
                      over = dir.write("o.csv", "a,b\nabcd,1\nefgh,22222\nij,33333\n");
    rowkit::collect_hook::setColumnLimit(10);
    for (bool columnar : {false, true}) {
        Ctx *ctx = rowkit_open(quote.c_str(), nullptr);
        EXPECT_EQ(collect(ctx, columnar), "!collect failed: UnterminatedQuote");
        EXPECT_EQ(collect(ctx, columnar, true), columnar ? "1: 4/0,1 y/0,1" : "1x2:4\0y\0"s);
        EXPECT_EQ(collect(rowkit_open(over.c_str(), nullptr), columnar, true)
                      .substr(0, columnar ? 99 : 4),
                  columnar ? "!collect failed: ColumnTooLarge" : "3x2:");
    }
    EXPECT_EQ(
        collect(rowkit_open(dir.write("f.csv", "a,b\nabcd,1\nefgh,2\nij,3\n").c_str(), nullptr),
                true, true),
        "3: abcdefghij/0,4,8,10 123/0,1,2,3");
    rowkit::collect_hook::setColumnLimit(0);
}

// The first allocation of a collect is its handle (the full sweep lives with
// the other calls'); the message names it per layout.
TEST(CApiCollect, AFailedHandleAllocationNamesTheLayout) {
    rowkit_test::TempDir dir;
    const std::string path = dir.write("a.csv", "id\n0\n1\n2\n");
    for (bool columnar : {false, true}) {
        Ctx *ctx = rowkit_open(path.c_str(), nullptr);
        ASSERT_EQ(rowkit_next(ctx, nullptr, nullptr), 1);  // the reader's arrays are grown
        rowkit::alloc_hook::failAt(1);
        const std::string got = collect(ctx, columnar);
        rowkit::alloc_hook::reset();
        EXPECT_EQ(got, columnar ? "!out of memory allocating columnar collect context"
                                : "!out of memory allocating collect context");
        EXPECT_EQ(collect(ctx, columnar, true), columnar ? "2: 12/0,1,2" : "2x1:1\0"s "2\0"s);
    }
}
