// Row-major and columnar collect through the public interface: byte-exact
// buffers and offsets, empty results, ragged rows, limits, ownership across
// close, messages and allocation failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "alloc.hpp"
#include "collect.hpp"
#include "rowkit.h"
#include "support/test_files.hpp"

using rowkit_test::defaultOptions;
using rowkit_test::lastError;
using rowkit_test::TempDir;
using namespace std::string_literals;

namespace {

const char *kPeople =
    "id,name,age,city\n"
    "1,ann,34,Oslo\n"
    "2,bob,27,\"Lima, PE\"\n"
    "3,cy,,Rome\n"
    "4,dee,41.5,\"Say \"\"hi\"\"\"\n"
    "5,eve,abc,Oslo\n";

// A row-major collect of what remains in ctx, closing ctx first when asked
// (the result owns its bytes): "<rows>x<cols>:<bytes>", or "!" + message.
std::string rowMajor(Ctx *ctx, bool close_scanner = false) {
    CollectCtx *cc = rowkit_collect(ctx);
    if (close_scanner) rowkit_close(ctx);
    if (!cc) return "!" + lastError();
    EXPECT_EQ(rowkit_last_error(), nullptr);
    size_t len = 12345;
    const uint8_t *p = rowkit_collect_data(cc, &len);
    EXPECT_EQ(p == nullptr, len == 0);
    std::string out = std::to_string(rowkit_collect_n_rows(cc)) + "x" +
                      std::to_string(rowkit_collect_n_cols(cc)) + ":" +
                      (p ? std::string(reinterpret_cast<const char *>(p), len) : "");
    rowkit_collect_close(cc);
    return out;
}

// The columnar collect: "<rows>:" then " <data>/<offsets>" per column, or
// "!" + message. Checks the offset invariants and the column bound.
std::string columnar(Ctx *ctx, bool close_scanner = false) {
    CollectColumnarCtx *cc = rowkit_collect_columnar(ctx);
    if (close_scanner) rowkit_close(ctx);
    if (!cc) return "!" + lastError();
    EXPECT_EQ(rowkit_last_error(), nullptr);
    const size_t rows = rowkit_collect_columnar_n_rows(cc), cols = rowkit_collect_columnar_n_cols(cc);
    std::string out = std::to_string(rows) + ":";
    for (size_t c = 0; c < cols; ++c) {
        size_t len = 12345, n_off = 0;
        const uint8_t *d = rowkit_collect_columnar_data(cc, c, &len);
        EXPECT_EQ(d == nullptr, len == 0);
        const uint32_t *o = rowkit_collect_columnar_offsets(cc, c, &n_off);
        EXPECT_TRUE(o && n_off == rows + 1 && o[0] == 0 && o[rows] == len && std::is_sorted(o, o + n_off));
        out += " " + (d ? std::string(reinterpret_cast<const char *>(d), len) : "") + "/";
        for (size_t i = 0; o && i < n_off; ++i) out += (i ? "," : "") + std::to_string(o[i]);
    }
    size_t len = 99;
    EXPECT_EQ(rowkit_collect_columnar_data(cc, cols, &len), nullptr);
    EXPECT_EQ(rowkit_collect_columnar_offsets(cc, cols, &len), nullptr);
    EXPECT_EQ(len, 99u);
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
    TempDir dir;
    size_t cols[] = {3, 1};
    const CPredicate not_rome = {3, ROWKIT_OP_NEQ, "Rome", nullptr, 0};
    struct Case {
        std::string name, text;
        int skip;  // rows read with rowkit_next first: those are not collected
        const size_t *columns;
        const CPredicate *where;
        int64_t limit;
        std::string row_major, columnar;
    };
    const Case cases[] = {
        {"p.csv", kPeople, 1, nullptr, nullptr, -1,
         "4x4:2\0bob\0" "27\0Lima, PE\0" "3\0cy\0\0Rome\0" "4\0dee\0" "41.5\0Say \"hi\"\0" "5\0eve\0abc\0Oslo\0"s,
         "4: 2345/0,1,2,3,4 bobcydeeeve/0,3,5,8,11 2741.5abc/0,2,2,6,9 Lima, PERomeSay \"hi\"Oslo/0,8,12,20,24"},
        // Projection order, predicates and the limit apply.
        {"p.csv", kPeople, 0, cols, &not_rome, 3, "3x2:Oslo\0ann\0Lima, PE\0bob\0Say \"hi\"\0dee\0"s,
         "3: OsloLima, PESay \"hi\"/0,4,12,20 annbobdee/0,3,6,9"},
        // Empty fields are empty values; a NUL inside a field is kept.
        {"e.csv", "a,b,c\n,,\nx\0y,,z\n"s, 0, nullptr, nullptr, -1, "2x3:\0\0\0x\0y\0\0z\0"s,
         "2: x\0y/0,0,3 /0,0,0 z/0,0,1"s},
        // Rows are brought to the first row's width.
        {"r.csv", "a,b,c\n1,2,3\n4\n5,6,7,8,9\n,x,\n", 0, nullptr, nullptr, -1,
         "4x3:1\0" "2\0" "3\0" "4\0\0\0" "5\0" "6\0" "7\0" "\0x\0\0"s,
         "4: 145/0,1,2,3,3 26x/0,1,1,2,3 37/0,1,1,2,2"},
        {"n.csv", "a,b\n1\n2,3\n", 0, nullptr, nullptr, -1, "2x1:1\0" "2\0"s, "2: 12/0,1,2"},
        // JSON values as written, keys in any order, missing keys empty.
        {"r.ndjson", "{\"id\":1,\"n\":\"ann\"}\n{\"n\":\"b\\u00e9\\n\",\"id\":1.50,\"x\":true}\n{\"id\":-3e2}\n", 0,
         nullptr, nullptr, -1, "3x2:1\0ann\0" "1.50\0b\xc3\xa9\n\0-3e2\0\0"s, "3: 11.50-3e2/0,1,5,9 annb\xc3\xa9\n/0,3,7,7"},
        // A first object without keys: rows with no fields and no columns.
        {"e.ndjson", "{}\n{\"a\":1}\n{}\n", 0, nullptr, nullptr, -1, "3x0:", "3:"},
    };
    for (const Case &c : cases) {
        std::string path = dir.write(c.name, c.text);
        COptions o = defaultOptions();
        o.columns = c.columns;
        o.n_columns = c.columns ? 2 : 0;
        o.where = c.where;
        o.n_where = c.where ? 1 : 0;
        o.limit = c.limit;
        for (int layout = 0; layout < 2; ++layout) {
            Ctx *ctx = openOrFail(path, &o);
            for (int i = 0; i < c.skip; ++i) ASSERT_EQ(rowkit_next(ctx, nullptr, nullptr), 1);
            // A drained handle (or a used-up limit) yields an empty result.
            if (layout == 0) {
                EXPECT_EQ(rowMajor(ctx), c.row_major) << c.name;
                EXPECT_EQ(rowMajor(ctx, true), "0x0:") << c.name;
            } else {
                EXPECT_EQ(columnar(ctx), c.columnar) << c.name;
                EXPECT_EQ(columnar(ctx, true), "0:") << c.name;
            }
        }
    }

    size_t len = 7;
    EXPECT_EQ(rowkit_collect_data(nullptr, &len), nullptr);
    EXPECT_EQ(rowkit_collect_columnar_data(nullptr, 0, &len), nullptr);
    EXPECT_EQ(rowkit_collect_columnar_offsets(nullptr, 0, &len), nullptr);
    EXPECT_EQ(len, 7u);
    EXPECT_EQ(rowkit_collect_n_rows(nullptr) + rowkit_collect_n_cols(nullptr), 0u);
    EXPECT_EQ(rowkit_collect_columnar_n_rows(nullptr) + rowkit_collect_columnar_n_cols(nullptr), 0u);
    rowkit_collect_close(nullptr);
    rowkit_collect_columnar_close(nullptr);
}

TEST(CApiCollect, FailuresSetTheMessageAndKeepTheScannerOpen) {
    TempDir dir;
    EXPECT_EQ(rowMajor(nullptr), "!scanner is null");
    EXPECT_EQ(columnar(nullptr), "!scanner is null");

    // A reader error discards the rows gathered so far; the scanner goes on
    // after the failing line or record.
    std::string path = dir.write("q.csv", "a,b\n1,2\n3,\"x\n4,y\n");
    Ctx *ctx = openOrFail(path);
    EXPECT_EQ(rowMajor(ctx), "!collect failed: UnterminatedQuote");
    EXPECT_EQ(rowMajor(ctx, true), "1x2:4\0y\0"s);
    ctx = openOrFail(path);
    EXPECT_EQ(columnar(ctx), "!collect failed: UnterminatedQuote");
    EXPECT_EQ(columnar(ctx, true), "1: 4/0,1 y/0,1");
    ctx = openOrFail(dir.write("b.ndjson", "{\"a\":1}\n{\"a\":[1]}\n{\"a\":2}\n\n{\"a\":3}\n"));
    EXPECT_EQ(columnar(ctx), "!collect failed: NestedValueNotSupported");
    EXPECT_EQ(rowMajor(ctx), "!collect failed: InvalidJson");
    EXPECT_EQ(rowMajor(ctx, true), "1x1:3\0"s);

    // With the column limit lowered to 10 bytes, column a reaches it exactly
    // and column b passes it on the last row. The row-major buffer has no
    // 32-bit offsets and no such limit.
    rowkit::collect_hook::setColumnLimit(10);
    EXPECT_EQ(columnar(openOrFail(dir.write("f.csv", "a,b\nabcd,1\nefgh,2\nij,3\n")), true),
              "3: abcdefghij/0,4,8,10 123/0,1,2,3");
    std::string over = dir.write("o.csv", "a,b\nabcd,1\nefgh,22222\nij,33333\n");
    EXPECT_EQ(columnar(openOrFail(over), true), "!collect failed: ColumnTooLarge");
    EXPECT_EQ(rowMajor(openOrFail(over), true).substr(0, 4), "3x2:");
    rowkit::collect_hook::setColumnLimit(0);
}

// Each allocation of a collect fails in turn until one gets through: each
// failed call leaves nothing allocated (LeakSanitizer checks the sanitizer
// run) and the message names what ran out.
TEST(CApiCollect, AllocationFailuresGiveTheDocumentedMessage) {
    TempDir dir;
    std::string text = "id,name,note\n";
    for (int i = 0; i < 300; ++i)
        text += std::to_string(i) + ",name" + std::to_string(i) + ",n" + std::to_string(i * 7) + "\n";
    std::string path = dir.write("a.csv", text);

    for (int layout = 0; layout < 2; ++layout) {
        std::vector<std::string> messages;
        for (uint64_t nth = 1;; ++nth) {
            Ctx *ctx = openOrFail(path);
            // One row read first grows the reader's own arrays, so that every
            // allocation after it is the collect's.
            ASSERT_EQ(rowkit_next(ctx, nullptr, nullptr), 1);
            rowkit::alloc_hook::failAt(nth);
            std::string got = layout == 0 ? rowMajor(ctx, true) : columnar(ctx, true);
            rowkit::alloc_hook::reset();
            if (got[0] != '!') {
                EXPECT_EQ(got.substr(0, 4), layout == 0 ? "299x" : "299:");
                break;
            }
            messages.push_back(got.substr(1));
            ASSERT_LT(nth, 1000u);
        }
        // Row-major: the handle, then at least two buffer growths. Columnar:
        // the handle, the column array and three initial offsets, then the
        // data and offsets of three columns growing.
        const size_t handle = layout == 0 ? 1 : 5;
        ASSERT_GE(messages.size(), handle + (layout == 0 ? 2 : 6));
        for (size_t i = 0; i < messages.size(); ++i)
            EXPECT_EQ(messages[i], i >= handle ? "out of memory collecting rows"
                                   : layout == 0 ? "out of memory allocating collect context"
                                                 : "out of memory allocating columnar collect context")
                << layout << " " << i;
    }

    // When every allocation fails from the first growth on, the scanner is
    // still usable afterwards; one row went with the failed call.
    Ctx *ctx = openOrFail(path);
    ASSERT_EQ(rowkit_next(ctx, nullptr, nullptr), 1);
    rowkit::alloc_hook::failFrom(2);
    EXPECT_EQ(rowMajor(ctx), "!out of memory collecting rows");
    rowkit::alloc_hook::reset();
    EXPECT_EQ(rowMajor(ctx, true).substr(0, 4), "298x");
}
