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

namespace {

const char *kPeople =
    "id,name,age,city\n"
    "1,ann,34,Oslo\n"
    "2,bob,27,\"Lima, PE\"\n"
    "3,cy,,Rome\n"
    "4,dee,41.5,\"Say \"\"hi\"\"\"\n"
    "5,eve,abc,Oslo\n";

std::string rowMajorBytes(CollectCtx *cc) {
    size_t len = 12345;
    const uint8_t *p = rowkit_collect_data(cc, &len);
    EXPECT_EQ(p == nullptr, len == 0);
    return p ? std::string(reinterpret_cast<const char *>(p), len) : std::string();
}

// One column of a columnar result: its data bytes and its offsets.
struct Column {
    std::string data;
    std::vector<uint32_t> offsets;
    bool operator==(const Column &) const = default;
};

Column columnOf(CollectColumnarCtx *cc, size_t c) {
    Column col;
    size_t len = 12345;
    const uint8_t *d = rowkit_collect_columnar_data(cc, c, &len);
    EXPECT_EQ(d == nullptr, len == 0);
    if (d) col.data.assign(reinterpret_cast<const char *>(d), len);
    const uint32_t *o = rowkit_collect_columnar_offsets(cc, c, &len);
    EXPECT_NE(o, nullptr);  // every column holds at least the initial offset
    if (o) col.offsets.assign(o, o + len);
    return col;
}

std::vector<Column> columnsOf(CollectColumnarCtx *cc) {
    std::vector<Column> cols;
    for (size_t c = 0; c < rowkit_collect_columnar_n_cols(cc); ++c) {
        cols.push_back(columnOf(cc, c));
        // Invariants: n_rows + 1 non-decreasing offsets from 0 to the data length.
        const Column &col = cols.back();
        EXPECT_EQ(col.offsets.size(), rowkit_collect_columnar_n_rows(cc) + 1);
        EXPECT_EQ(col.offsets.front(), 0u);
        EXPECT_EQ(col.offsets.back(), col.data.size());
        EXPECT_TRUE(std::is_sorted(col.offsets.begin(), col.offsets.end()));
    }
    return cols;
}

Ctx *openOrFail(const std::string &path, const COptions *o = nullptr) {
    Ctx *ctx = rowkit_open(path.c_str(), o);
    EXPECT_NE(ctx, nullptr) << lastError();
    return ctx;
}

std::string nul(const char *s, size_t n) { return std::string(s, n); }

}  // namespace

TEST(CApiCollect, RowMajorBufferIsExactAndOutlivesTheScanner) {
    TempDir dir;
    std::string path = dir.write("p.csv", kPeople);
    Ctx *ctx = openOrFail(path);
    // Rows already read are not collected.
    ASSERT_EQ(rowkit_next(ctx, nullptr, nullptr), 1);
    CollectCtx *cc = rowkit_collect(ctx);
    ASSERT_NE(cc, nullptr);
    EXPECT_EQ(rowkit_last_error(), nullptr);
    rowkit_close(ctx);  // the result owns its bytes
    EXPECT_EQ(rowkit_collect_n_rows(cc), 4u);
    EXPECT_EQ(rowkit_collect_n_cols(cc), 4u);
    const char expect[] =
        "2\0bob\0" "27\0Lima, PE\0"
        "3\0cy\0\0Rome\0"
        "4\0dee\0" "41.5\0Say \"hi\"\0"
        "5\0eve\0abc\0Oslo\0";
    EXPECT_EQ(rowMajorBytes(cc), nul(expect, sizeof expect - 1));
    EXPECT_NE(rowkit_collect_data(cc, nullptr), nullptr);
    rowkit_collect_close(cc);

    // Projection order, predicates and the limit apply; a drained handle
    // yields an empty result, not an error.
    size_t cols[] = {3, 1};
    CPredicate p;
    std::memset(&p, 0, sizeof p);
    p.column = 3;
    p.op = ROWKIT_OP_NEQ;
    p.value = "Rome";
    COptions o = defaultOptions();
    o.columns = cols;
    o.n_columns = 2;
    o.where = &p;
    o.n_where = 1;
    o.limit = 3;
    ctx = openOrFail(path, &o);
    cc = rowkit_collect(ctx);
    ASSERT_NE(cc, nullptr);
    EXPECT_EQ(rowkit_collect_n_rows(cc), 3u);
    EXPECT_EQ(rowkit_collect_n_cols(cc), 2u);
    const char projected[] = "Oslo\0ann\0Lima, PE\0bob\0Say \"hi\"\0dee\0";
    EXPECT_EQ(rowMajorBytes(cc), nul(projected, sizeof projected - 1));
    rowkit_collect_close(cc);
    cc = rowkit_collect(ctx);
    ASSERT_NE(cc, nullptr);
    EXPECT_EQ(rowkit_collect_n_rows(cc), 0u);
    EXPECT_EQ(rowkit_collect_n_cols(cc), 0u);
    size_t len = 99;
    EXPECT_EQ(rowkit_collect_data(cc, &len), nullptr);
    EXPECT_EQ(len, 0u);
    rowkit_collect_close(cc);
    rowkit_close(ctx);

    // All-empty fields give one NUL each; a NUL inside a field is kept.
    std::string text = std::string("a,b,c\n,,\nx\0y,,z\n", 16);
    ctx = openOrFail(dir.write("e.csv", text));
    cc = rowkit_collect(ctx);
    ASSERT_NE(cc, nullptr);
    EXPECT_EQ(rowMajorBytes(cc), nul("\0\0\0x\0y\0\0z\0", 10));
    rowkit_collect_close(cc);
    rowkit_close(ctx);

    // NULL handles.
    len = 7;
    EXPECT_EQ(rowkit_collect_data(nullptr, &len), nullptr);
    EXPECT_EQ(len, 7u);
    EXPECT_EQ(rowkit_collect_n_rows(nullptr), 0u);
    EXPECT_EQ(rowkit_collect_n_cols(nullptr), 0u);
    rowkit_collect_close(nullptr);
}

TEST(CApiCollect, ColumnarDataAndOffsetsAreExact) {
    TempDir dir;
    // The first row's three projected fields: "a", "" and "ccc".
    std::string path = dir.write("t.csv", "x,y,z\na,,ccc\n");
    Ctx *ctx = openOrFail(path);
    CollectColumnarCtx *cc = rowkit_collect_columnar(ctx);
    ASSERT_NE(cc, nullptr);
    EXPECT_EQ(rowkit_last_error(), nullptr);
    rowkit_close(ctx);
    ASSERT_EQ(rowkit_collect_columnar_n_cols(cc), 3u);
    EXPECT_EQ(rowkit_collect_columnar_n_rows(cc), 1u);
    EXPECT_EQ(columnsOf(cc), (std::vector<Column>{{"a", {0, 1}}, {"", {0, 0}}, {"ccc", {0, 3}}}));
    size_t len = 99;
    EXPECT_EQ(rowkit_collect_columnar_data(cc, 1, &len), nullptr);
    EXPECT_EQ(len, 0u);
    EXPECT_NE(rowkit_collect_columnar_offsets(cc, 1, &len), nullptr);
    EXPECT_EQ(len, 2u);
    EXPECT_NE(rowkit_collect_columnar_data(cc, 2, nullptr), nullptr);
    // Out-of-range columns and NULL handles leave out_len alone.
    len = 99;
    EXPECT_EQ(rowkit_collect_columnar_data(cc, 3, &len), nullptr);
    EXPECT_EQ(rowkit_collect_columnar_offsets(cc, 3, &len), nullptr);
    EXPECT_EQ(rowkit_collect_columnar_offsets(cc, SIZE_MAX, &len), nullptr);
    EXPECT_EQ(rowkit_collect_columnar_data(nullptr, 0, &len), nullptr);
    EXPECT_EQ(rowkit_collect_columnar_offsets(nullptr, 0, &len), nullptr);
    EXPECT_EQ(len, 99u);
    EXPECT_EQ(rowkit_collect_columnar_n_rows(nullptr), 0u);
    EXPECT_EQ(rowkit_collect_columnar_n_cols(nullptr), 0u);
    rowkit_collect_columnar_close(cc);
    rowkit_collect_columnar_close(nullptr);

    // Several rows after some rowkit_next calls, with projection and limit.
    path = dir.write("p.csv", kPeople);
    size_t cols[] = {3, 2};
    COptions o = defaultOptions();
    o.columns = cols;
    o.n_columns = 2;
    o.limit = 4;
    ctx = openOrFail(path, &o);
    ASSERT_EQ(rowkit_next(ctx, nullptr, nullptr), 1);
    cc = rowkit_collect_columnar(ctx);
    ASSERT_NE(cc, nullptr);
    EXPECT_EQ(rowkit_collect_columnar_n_rows(cc), 3u);
    EXPECT_EQ(columnsOf(cc), (std::vector<Column>{{"Lima, PERomeSay \"hi\"", {0, 8, 12, 20}},
                                                  {"2741.5", {0, 2, 2, 6}}}));
    rowkit_collect_columnar_close(cc);

    // The limit is used up: an empty result with no columns.
    cc = rowkit_collect_columnar(ctx);
    ASSERT_NE(cc, nullptr);
    EXPECT_EQ(rowkit_collect_columnar_n_rows(cc), 0u);
    EXPECT_EQ(rowkit_collect_columnar_n_cols(cc), 0u);
    len = 99;
    EXPECT_EQ(rowkit_collect_columnar_data(cc, 0, &len), nullptr);
    EXPECT_EQ(rowkit_collect_columnar_offsets(cc, 0, &len), nullptr);
    EXPECT_EQ(len, 99u);
    rowkit_collect_columnar_close(cc);
    rowkit_close(ctx);
}

TEST(CApiCollect, RaggedRowsAreBroughtToTheFirstRowsWidth) {
    TempDir dir;
    // Three fields first, then one, then five, then three.
    std::string path = dir.write("r.csv", "a,b,c\n1,2,3\n4\n5,6,7,8,9\n,x,\n");
    Ctx *ctx = openOrFail(path);
    CollectCtx *rm = rowkit_collect(ctx);
    rowkit_close(ctx);
    ASSERT_NE(rm, nullptr);
    EXPECT_EQ(rowkit_collect_n_rows(rm), 4u);
    EXPECT_EQ(rowkit_collect_n_cols(rm), 3u);
    const char rows[] = "1\0" "2\0" "3\0" "4\0\0\0" "5\0" "6\0" "7\0" "\0x\0\0";
    EXPECT_EQ(rowMajorBytes(rm), nul(rows, sizeof rows - 1));
    rowkit_collect_close(rm);

    ctx = openOrFail(path);
    CollectColumnarCtx *cc = rowkit_collect_columnar(ctx);
    rowkit_close(ctx);
    ASSERT_NE(cc, nullptr);
    EXPECT_EQ(rowkit_collect_columnar_n_rows(cc), 4u);
    EXPECT_EQ(columnsOf(cc), (std::vector<Column>{{"145", {0, 1, 2, 3, 3}},
                                                  {"26x", {0, 1, 1, 2, 3}},
                                                  {"37", {0, 1, 1, 2, 2}}}));
    rowkit_collect_columnar_close(cc);

    // A narrow first row fixes the width for the wider rows after it.
    path = dir.write("n.csv", "a,b\n1\n2,3\n");
    ctx = openOrFail(path);
    cc = rowkit_collect_columnar(ctx);
    rowkit_close(ctx);
    ASSERT_NE(cc, nullptr);
    EXPECT_EQ(columnsOf(cc), (std::vector<Column>{{"12", {0, 1, 2}}}));
    rowkit_collect_columnar_close(cc);
}

TEST(CApiCollect, FailuresSetTheMessageAndKeepTheScannerOpen) {
    TempDir dir;
    EXPECT_EQ(rowkit_collect(nullptr), nullptr);
    EXPECT_EQ(lastError(), "scanner is null");
    EXPECT_EQ(rowkit_collect_columnar(nullptr), nullptr);
    EXPECT_EQ(lastError(), "scanner is null");
    // Accessors leave the message alone.
    EXPECT_EQ(rowkit_collect_n_rows(nullptr), 0u);
    rowkit_collect_columnar_close(nullptr);
    EXPECT_EQ(lastError(), "scanner is null");

    // A reader error discards the rows gathered so far; the scanner goes on
    // after the failing line.
    std::string path = dir.write("q.csv", "a,b\n1,2\n3,\"x\n4,y\n");
    Ctx *ctx = openOrFail(path);
    EXPECT_EQ(rowkit_collect(ctx), nullptr);
    EXPECT_EQ(lastError(), "collect failed: UnterminatedQuote");
    const char *const *f;
    size_t n;
    ASSERT_EQ(rowkit_next(ctx, &f, &n), 1);
    EXPECT_STREQ(f[0], "4");
    rowkit_close(ctx);
    ctx = openOrFail(path);
    EXPECT_EQ(rowkit_collect_columnar(ctx), nullptr);
    EXPECT_EQ(lastError(), "collect failed: UnterminatedQuote");
    CollectColumnarCtx *cc = rowkit_collect_columnar(ctx);
    ASSERT_NE(cc, nullptr);  // the rest of the input
    EXPECT_EQ(rowkit_last_error(), nullptr);
    EXPECT_EQ(columnsOf(cc), (std::vector<Column>{{"4", {0, 1}}, {"y", {0, 1}}}));
    rowkit_collect_columnar_close(cc);
    rowkit_close(ctx);
}

TEST(CApiCollect, ColumnsBeyondThirtyTwoBitOffsetsAreRefused) {
    TempDir dir;
    // With the limit lowered to 10 bytes, column a reaches it exactly and
    // column b passes it on the last row.
    rowkit::collect_hook::setColumnLimit(10);
    std::string fits = dir.write("f.csv", "a,b\nabcd,1\nefgh,2\nij,3\n");
    std::string over = dir.write("o.csv", "a,b\nabcd,1\nefgh,22222\nij,33333\n");
    Ctx *ctx = openOrFail(fits);
    CollectColumnarCtx *cc = rowkit_collect_columnar(ctx);
    ASSERT_NE(cc, nullptr);
    EXPECT_EQ(columnOf(cc, 0), (Column{"abcdefghij", {0, 4, 8, 10}}));
    rowkit_collect_columnar_close(cc);
    rowkit_close(ctx);

    ctx = openOrFail(over);
    EXPECT_EQ(rowkit_collect_columnar(ctx), nullptr);
    EXPECT_EQ(lastError(), "collect failed: ColumnTooLarge");
    rowkit_close(ctx);
    // The row-major buffer has no 32-bit offsets and no such limit.
    ctx = openOrFail(over);
    CollectCtx *rm = rowkit_collect(ctx);
    ASSERT_NE(rm, nullptr);
    EXPECT_EQ(rowkit_collect_n_rows(rm), 3u);
    rowkit_collect_close(rm);
    rowkit_close(ctx);
    rowkit::collect_hook::setColumnLimit(0);
}

TEST(CApiCollect, AllocationFailuresGiveTheDocumentedMessage) {
    TempDir dir;
    std::string text = "id,name,note\n";
    for (int i = 0; i < 300; ++i)
        text += std::to_string(i) + ",name" + std::to_string(i) + ",n" + std::to_string(i * 7) + "\n";
    std::string path = dir.write("a.csv", text);

    // Fail each allocation in turn until a collect gets through; each failed
    // call leaves nothing allocated (LeakSanitizer checks the sanitizer run)
    // and the message names what ran out.
    std::vector<std::string> messages;
    for (uint64_t nth = 1;; ++nth) {
        Ctx *ctx = openOrFail(path);
        ASSERT_NE(ctx, nullptr);
        // One row read first grows the reader's own arrays, so that every
        // allocation after it is the collect's.
        ASSERT_EQ(rowkit_next(ctx, nullptr, nullptr), 1);
        rowkit::alloc_hook::failAt(nth);
        CollectCtx *cc = rowkit_collect(ctx);
        rowkit::alloc_hook::reset();
        if (cc) {
            EXPECT_EQ(rowkit_collect_n_rows(cc), 299u);
            rowkit_collect_close(cc);
            rowkit_close(ctx);
            break;
        }
        messages.push_back(lastError());
        rowkit_close(ctx);
        ASSERT_LT(nth, 1000u);
    }
    ASSERT_GE(messages.size(), 3u);  // the handle and at least two buffer growths
    EXPECT_EQ(messages[0], "out of memory allocating collect context");
    for (size_t i = 1; i < messages.size(); ++i)
        EXPECT_EQ(messages[i], "out of memory collecting rows") << i;

    // Columnar: the handle, the column array, three initial offsets, then
    // growth of data and offsets.
    messages.clear();
    for (uint64_t nth = 1;; ++nth) {
        Ctx *ctx = openOrFail(path);
        ASSERT_NE(ctx, nullptr);
        // One row read first grows the reader's own arrays, so that every
        // allocation after it is the collect's.
        ASSERT_EQ(rowkit_next(ctx, nullptr, nullptr), 1);
        rowkit::alloc_hook::failAt(nth);
        CollectColumnarCtx *cc = rowkit_collect_columnar(ctx);
        rowkit::alloc_hook::reset();
        if (cc) {
            EXPECT_EQ(rowkit_collect_columnar_n_rows(cc), 299u);
            EXPECT_EQ(columnOf(cc, 2).offsets.back(), columnOf(cc, 2).data.size());
            rowkit_collect_columnar_close(cc);
            rowkit_close(ctx);
            break;
        }
        messages.push_back(lastError());
        rowkit_close(ctx);
        ASSERT_LT(nth, 1000u);
    }
    // The handle, the column array and three initial offsets, then the data
    // and offsets of three columns growing.
    ASSERT_GE(messages.size(), 11u);
    for (size_t i = 0; i < 5; ++i)
        EXPECT_EQ(messages[i], "out of memory allocating columnar collect context") << i;
    for (size_t i = 5; i < messages.size(); ++i)
        EXPECT_EQ(messages[i], "out of memory collecting rows") << i;

    // When every allocation fails from the first growth on, the scanner is
    // still usable afterwards.
    Ctx *ctx = openOrFail(path);
    ASSERT_EQ(rowkit_next(ctx, nullptr, nullptr), 1);
    rowkit::alloc_hook::failFrom(2);
    EXPECT_EQ(rowkit_collect(ctx), nullptr);
    rowkit::alloc_hook::reset();
    EXPECT_EQ(lastError(), "out of memory collecting rows");
    CollectCtx *rest = rowkit_collect(ctx);
    ASSERT_NE(rest, nullptr);
    EXPECT_EQ(rowkit_collect_n_rows(rest), 298u);  // one row went with the failed call
    rowkit_collect_close(rest);
    rowkit_close(ctx);
}

TEST(CApiCollect, JsonRecordsCollectAsTheyAreRendered) {
    TempDir dir;
    // Keys in another order, a missing key, an unknown key, escapes, numbers
    // kept as written, booleans.
    std::string path = dir.write("r.ndjson",
                                 "{\"id\":1,\"name\":\"ann\",\"ok\":true}\n"
                                 "{\"name\":\"b\\u00e9\\n\",\"id\":1.50}\n"
                                 "{\"ok\":false,\"id\":-3e2,\"extra\":\"x\",\"name\":\"\"}\n");
    Ctx *ctx = openOrFail(path);
    ASSERT_NE(ctx, nullptr);
    CollectCtx *rm = rowkit_collect(ctx);
    rowkit_close(ctx);
    ASSERT_NE(rm, nullptr) << lastError();
    EXPECT_EQ(rowkit_collect_n_rows(rm), 3u);
    EXPECT_EQ(rowkit_collect_n_cols(rm), 3u);
    const char rows[] = "1\0ann\0true\0" "1.50\0b\xc3\xa9\n\0\0" "-3e2\0\0false\0";
    EXPECT_EQ(rowMajorBytes(rm), nul(rows, sizeof rows - 1));
    rowkit_collect_close(rm);

    // The same records as one array, projected, give the same columns.
    std::string array = dir.write("a.json",
                                  "[\n {\"id\":1,\"name\":\"ann\",\"ok\":true},\n"
                                  " {\"name\":\"b\\u00e9\\n\",\"id\":1.50},\n"
                                  " {\"ok\":false,\"id\":-3e2,\"extra\":\"x\",\"name\":\"\"}\n]\n");
    size_t cols[] = {1, 0};
    COptions o = defaultOptions();
    o.columns = cols;
    o.n_columns = 2;
    ctx = openOrFail(array, &o);
    ASSERT_NE(ctx, nullptr);
    CollectColumnarCtx *cc = rowkit_collect_columnar(ctx);
    rowkit_close(ctx);
    ASSERT_NE(cc, nullptr) << lastError();
    EXPECT_EQ(columnsOf(cc), (std::vector<Column>{{"ann" "b\xc3\xa9\n", {0, 3, 7, 7}},
                                                  {"11.50-3e2", {0, 1, 5, 9}}}));
    rowkit_collect_columnar_close(cc);

    // Reader errors name themselves; the scanner goes on after the record.
    std::string bad = dir.write("b.ndjson", "{\"a\":1}\n{\"a\":[1]}\n{\"a\":2}\n\n{\"a\":3}\n");
    ctx = openOrFail(bad);
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(rowkit_collect_columnar(ctx), nullptr);
    EXPECT_EQ(lastError(), "collect failed: NestedValueNotSupported");
    EXPECT_EQ(rowkit_collect(ctx), nullptr);
    EXPECT_EQ(lastError(), "collect failed: InvalidJson");
    rm = rowkit_collect(ctx);
    ASSERT_NE(rm, nullptr);
    EXPECT_EQ(rowMajorBytes(rm), nul("3\0", 2));
    rowkit_collect_close(rm);
    rowkit_close(ctx);

    // A first object with no keys: rows with no fields are counted, and
    // there are no columns to hold anything.
    std::string empty = dir.write("e.ndjson", "{}\n{\"a\":1}\n{}\n");
    ctx = openOrFail(empty);
    ASSERT_NE(ctx, nullptr);
    rm = rowkit_collect(ctx);
    rowkit_close(ctx);
    ASSERT_NE(rm, nullptr);
    EXPECT_EQ(rowkit_collect_n_rows(rm), 3u);
    EXPECT_EQ(rowkit_collect_n_cols(rm), 0u);
    EXPECT_EQ(rowkit_collect_data(rm, nullptr), nullptr);
    rowkit_collect_close(rm);
    ctx = openOrFail(empty);
    ASSERT_NE(ctx, nullptr);
    cc = rowkit_collect_columnar(ctx);
    rowkit_close(ctx);
    ASSERT_NE(cc, nullptr);
    EXPECT_EQ(rowkit_collect_columnar_n_rows(cc), 3u);
    EXPECT_EQ(rowkit_collect_columnar_n_cols(cc), 0u);
    size_t len = 99;
    EXPECT_EQ(rowkit_collect_columnar_offsets(cc, 0, &len), nullptr);
    EXPECT_EQ(len, 99u);
    rowkit_collect_columnar_close(cc);
}
