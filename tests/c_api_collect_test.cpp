// Row-major and columnar collect through the public interface: byte-exact
// buffers and offsets, empty results, ragged rows, limits, ownership across
// close, messages and allocation failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "alloc.hpp"
#include "collect.hpp"
#include "rowkit.h"
#include "support/test_files.hpp"

using rowkit_test::lastError;
using namespace std::string_literals;

namespace {

std::string bytes(const uint8_t *p, size_t len) {
    EXPECT_EQ(p == nullptr, len == 0);
    return p ? std::string(reinterpret_cast<const char *>(p), len) : "";
}

// Collects what remains in ctx, closing ctx first when asked (the result owns
// its bytes). Row-major: "<rows>x<cols>:<bytes>"; columnar: "<rows>:" then
// " <data>/<offsets>" per column, checking the offset invariants and the
// column bound; "!" + message on failure.
std::string collect(Ctx *ctx, bool columnar, bool close_scanner = false) {
    CollectCtx *rm = columnar ? nullptr : rowkit_collect(ctx);
    CollectColumnarCtx *cc = columnar ? rowkit_collect_columnar(ctx) : nullptr;
    if (close_scanner) rowkit_close(ctx);
    if (!rm && !cc) return "!" + lastError();
    EXPECT_EQ(rowkit_last_error(), nullptr);
    size_t len = 12345;
    if (rm) {
        const uint8_t *p = rowkit_collect_data(rm, &len);
        std::string out = std::to_string(rowkit_collect_n_rows(rm)) + "x" + std::to_string(rowkit_collect_n_cols(rm)) + ":" + bytes(p, len);
        rowkit_collect_close(rm);
        return out;
    }
    const size_t rows = rowkit_collect_columnar_n_rows(cc), cols = rowkit_collect_columnar_n_cols(cc);
    std::string out = std::to_string(rows) + ":";
    for (size_t c = 0; c < cols; ++c) {
        size_t n_off = 0;
        const uint8_t *d = rowkit_collect_columnar_data(cc, c, &len);
        const uint32_t *o = rowkit_collect_columnar_offsets(cc, c, &n_off);
        EXPECT_TRUE(o && n_off == rows + 1 && o[0] == 0 && o[rows] == len && std::is_sorted(o, o + n_off));
        out += " " + bytes(d, len) + "/";
        for (size_t i = 0; o && i < n_off; ++i) out += (i ? "," : "") + std::to_string(o[i]);
    }
    len = 99;  // past the last column
    EXPECT_TRUE(!rowkit_collect_columnar_data(cc, cols, &len) && !rowkit_collect_columnar_offsets(cc, cols, &len) && len == 99);
    rowkit_collect_columnar_close(cc);
    return out;
}

Ctx *openOrFail(const std::string &path, const COptions *o = nullptr) {
    Ctx *ctx = rowkit_open(path.c_str(), o);
    EXPECT_NE(ctx, nullptr) << lastError();
    return ctx;
}

}  // namespace

TEST(CApiCollect, BothLayoutsAreExactAndOutliveTheScanner) {
    rowkit_test::TempDir dir;
    const char *people = "id,name,age,city\n1,ann,34,Oslo\n2,bob,27,\"Lima, PE\"\n3,cy,,Rome\n"
                         "4,dee,41.5,\"Say \"\"hi\"\"\"\n5,eve,abc,Oslo\n";
    size_t cols[] = {3, 1};
    const CPredicate not_rome = {3, ROWKIT_OP_NEQ, "Rome", nullptr, 0};
    // skip: rows read with rowkit_next first, which are not collected;
    // projected: columns {3, 1}, city != Rome, at most 3 rows.
    const struct { std::string name, text; int skip; bool projected; std::string row_major, columnar; } cases[] = {
        {"p.csv", people, 1, false,
         "4x4:2\0bob\0" "27\0Lima, PE\0" "3\0cy\0\0Rome\0" "4\0dee\0" "41.5\0Say \"hi\"\0" "5\0eve\0abc\0Oslo\0"s,
         "4: 2345/0,1,2,3,4 bobcydeeeve/0,3,5,8,11 2741.5abc/0,2,2,6,9 Lima, PERomeSay \"hi\"Oslo/0,8,12,20,24"},
        {"p.csv", people, 0, true, "3x2:Oslo\0ann\0Lima, PE\0bob\0Say \"hi\"\0dee\0"s,
         "3: OsloLima, PESay \"hi\"/0,4,12,20 annbobdee/0,3,6,9"},
        // Empty fields are empty values; a NUL inside a field is kept.
        {"e.csv", "a,b,c\n,,\nx\0y,,z\n"s, 0, false, "2x3:\0\0\0x\0y\0\0z\0"s, "2: x\0y/0,0,3 /0,0,0 z/0,0,1"s},
        // Rows are brought to the first row's width, not the header's.
        {"r.csv", "a,b\n1,2,3\n4\n5,6,7,8,9\n,x,\n", 0, false,
         "4x3:1\0" "2\0" "3\0" "4\0\0\0" "5\0" "6\0" "7\0" "\0x\0\0"s, "4: 145/0,1,2,3,3 26x/0,1,1,2,3 37/0,1,1,2,2"},
        // JSON values as written, keys in any order, missing keys empty.
        {"r.ndjson", "{\"id\":1,\"n\":\"ann\"}\n{\"n\":\"b\\u00e9\\n\",\"id\":1.50,\"x\":true}\n{\"id\":-3e2}\n", 0,
         false, "3x2:1\0ann\0" "1.50\0b\xc3\xa9\n\0-3e2\0\0"s, "3: 11.50-3e2/0,1,5,9 annb\xc3\xa9\n/0,3,7,7"},
        // A first object without keys: rows with no fields and no columns.
        {"e.ndjson", "{}\n{\"a\":1}\n{}\n", 0, false, "3x0:", "3:"},
    };
    for (const auto &c : cases) {
        COptions o = rowkit_test::defaultOptions();
        if (c.projected) o.columns = cols, o.n_columns = 2, o.where = &not_rome, o.n_where = 1, o.limit = 3;
        for (bool columnar : {false, true}) {
            Ctx *ctx = openOrFail(dir.write(c.name, c.text), &o);
            for (int i = 0; i < c.skip; ++i) ASSERT_EQ(rowkit_next(ctx, nullptr, nullptr), 1);
            EXPECT_EQ(collect(ctx, columnar), columnar ? c.columnar : c.row_major) << c.name;
            // A drained handle (or a used-up limit) yields an empty result.
            EXPECT_EQ(collect(ctx, columnar, true), columnar ? "0:" : "0x0:") << c.name;
        }
    }
}

TEST(CApiCollect, FailuresSetTheMessageAndKeepTheScannerOpen) {
    rowkit_test::TempDir dir;
    EXPECT_EQ(collect(nullptr, false) + collect(nullptr, true), "!scanner is null!scanner is null");
    size_t len = 7;  // NULL results: every accessor is safe and leaves the outputs alone
    EXPECT_TRUE(!rowkit_collect_data(nullptr, &len) && !rowkit_collect_columnar_data(nullptr, 0, &len) &&
                !rowkit_collect_columnar_offsets(nullptr, 0, &len) && len == 7);
    EXPECT_EQ(rowkit_collect_n_rows(nullptr) + rowkit_collect_n_cols(nullptr) + rowkit_collect_columnar_n_rows(nullptr) +
                  rowkit_collect_columnar_n_cols(nullptr), 0u);
    rowkit_collect_close(nullptr), rowkit_collect_columnar_close(nullptr);
    // A reader error discards the rows gathered so far; the scanner goes on
    // after the failing line or record.
    std::string path = dir.write("q.csv", "a,b\n1,2\n3,\"x\n4,y\n");
    Ctx *ctx = openOrFail(path);
    EXPECT_EQ(collect(ctx, false), "!collect failed: UnterminatedQuote");
    EXPECT_EQ(collect(ctx, false, true), "1x2:4\0y\0"s);
    ctx = openOrFail(path);
    EXPECT_EQ(collect(ctx, true), "!collect failed: UnterminatedQuote");
    EXPECT_EQ(collect(ctx, true, true), "1: 4/0,1 y/0,1");

    // With the column limit lowered to 10 bytes, column a reaches it exactly
    // and column b passes it on the last row. The row-major buffer has no
    // 32-bit offsets and no such limit.
    rowkit::collect_hook::setColumnLimit(10);
    EXPECT_EQ(collect(openOrFail(dir.write("f.csv", "a,b\nabcd,1\nefgh,2\nij,3\n")), true, true),
              "3: abcdefghij/0,4,8,10 123/0,1,2,3");
    std::string over = dir.write("o.csv", "a,b\nabcd,1\nefgh,22222\nij,33333\n");
    EXPECT_EQ(collect(openOrFail(over), true, true), "!collect failed: ColumnTooLarge");
    EXPECT_EQ(collect(openOrFail(over), false, true).substr(0, 4), "3x2:");
    rowkit::collect_hook::setColumnLimit(0);
}

// Each allocation of a collect fails in turn until one gets through: each
// failed call leaves nothing allocated (LeakSanitizer checks the sanitizer
// run) and the message names what ran out.
TEST(CApiCollect, AllocationFailuresGiveTheDocumentedMessage) {
    rowkit_test::TempDir dir;
    std::string text = "id,name,note\n";
    for (int i = 0; i < 300; ++i) text += std::to_string(i) + ",name" + std::to_string(i) + ",n" + std::to_string(i * 7) + "\n";
    std::string path = dir.write("a.csv", text);
    for (bool columnar : {false, true}) {
        std::vector<std::string> messages;
        for (uint64_t nth = 1;; ++nth) {
            Ctx *ctx = openOrFail(path);
            // One row read first grows the reader's own arrays, so that every
            // allocation after it is the collect's.
            ASSERT_EQ(rowkit_next(ctx, nullptr, nullptr), 1);
            rowkit::alloc_hook::failAt(nth);
            std::string got = collect(ctx, columnar, true);
            rowkit::alloc_hook::reset();
            EXPECT_EQ(got.substr(0, 4), got[0] == '!' ? got.substr(0, 4) : columnar ? "299:" : "299x");
            if (got[0] != '!') break;
            messages.push_back(got.substr(1));
            ASSERT_LT(nth, 1000u);
        }
        // Row-major: the handle, then at least two buffer growths. Columnar:
        // the handle, the column array and three initial offsets, then the
        // data and offsets of three columns growing.
        const size_t handle = columnar ? 5 : 1;
        ASSERT_GE(messages.size(), handle + (columnar ? 6 : 2));
        for (size_t i = 0; i < messages.size(); ++i)
            EXPECT_EQ(messages[i], i >= handle ? "out of memory collecting rows"
                                   : columnar ? "out of memory allocating columnar collect context"
                                              : "out of memory allocating collect context")
                << columnar << " " << i;
    }
    // When every allocation fails from the first growth on, the scanner is
    // still usable afterwards; one row went with the failed call.
    Ctx *ctx = openOrFail(path);
    ASSERT_EQ(rowkit_next(ctx, nullptr, nullptr), 1);
    rowkit::alloc_hook::failFrom(2);
    EXPECT_EQ(collect(ctx, false), "!out of memory collecting rows");
    rowkit::alloc_hook::reset();
    EXPECT_EQ(collect(ctx, false, true).substr(0, 4), "298x");
}
