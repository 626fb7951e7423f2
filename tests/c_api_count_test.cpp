// rowkit_count through the public interface: the line-counting fast path and
// the row-reading slow path over CSV and JSON records, how they differ on
// broken lines, what they leave in the handle, and failures.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "alloc.hpp"
#include "file_io.hpp"
#include "rowkit.h"
#include "support/test_files.hpp"

using rowkit_test::defaultOptions;
using rowkit_test::lastError;

namespace {

// Opens `path` with `options` and counts.
int64_t countFile(const std::string &path, const COptions *options = nullptr) {
    Ctx *ctx = rowkit_open(path.c_str(), options);
    int64_t n = ctx ? rowkit_count(ctx) : -2;
    rowkit_close(ctx);
    return n;
}

// Options keeping the rows that match `p`, which forces the slow path.
COptions where(const CPredicate *p) {
    COptions o = defaultOptions();
    o.where = p, o.n_where = 1;
    return o;
}

// A header and `rows` numbered lines of varying length, so that lines
// straddle every chunk boundary of a 256 KiB read.
std::string numberedRows(int rows) {
    std::string s = "id,text\n";
    for (int i = 0; i < rows; ++i) s += std::to_string(i) + "," + std::string(i % 97, 'x') + "\n";
    return s;
}

}  // namespace

TEST(CApiCount, LinesAndRows) {
    rowkit_test::TempDir dir;
    // The slow path reads rows: every row matches this predicate.
    CPredicate everything{0, ROWKIT_OP_NEQ, "zzz", nullptr, 0};
    const COptions slow = where(&everything);
    const std::string big = numberedRows(20000);  // larger than a read chunk, no last line feed
    const struct {
        std::string text;
        int64_t fast, slow;
        std::string message = "", name = "t.csv";
    } cases[] = {
        {"a\n1\n2\n", 2, 2}, {"a\n1\n2", 2, 2}, {"a\r\n1\r\n2\r\n", 2, 2}, {"a", 0, 0},
        {big.substr(0, big.size() - 1), 20000, 20000},
        // A blank line and a lone CR are lines too; so is a line with an
        // unclosed quote, which only the fast path counts.
        {"a\n1\n\n2\n", 3, 3}, {"a\n\r", 1, 1},
        {"a,b\n\"x,1\n2,3\n", 2, -1, "count failed: UnterminatedQuote"},
        // The first JSON record, read at open for the header, is a row too; a
        // blank line is a line, but no record when rows are read.
        {"{\"id\":\"a\"}\n{\"v\":\"x\"}\r\n{\"id\":\"c\"}", 3, 3, "", "t.ndjson"},
        {"{\"id\":1}\n\n{\"id\":2}\n", 3, -1, "count failed: InvalidJson", "t.ndjson"},
    };
    for (const auto &c : cases) {
        std::string path = dir.write(c.name, c.text);
        EXPECT_EQ(countFile(path), c.fast) << c.text.substr(0, 20);
        EXPECT_EQ(countFile(path, &slow), c.slow) << c.text.substr(0, 20);
        EXPECT_EQ(lastError(), c.message);
    }
}

TEST(CApiCount, WhatTheCountLeavesInTheHandle) {
    rowkit_test::TempDir dir;
    std::string path = dir.write("p.csv", numberedRows(100)), json;
    for (int i = 0; i < 100; ++i) json += "{\"id\":" + std::to_string(i) + "}\n";
    // Rows already read (the first JSON record too, though it was read at
    // open for the header) are not counted again, on either path; a limit
    // forces the slow path and is used up by the count. Afterwards nothing
    // is left.
    for (const std::string &file : {path, dir.write("p.ndjson", json)})
        for (int64_t limit : {-1, 5}) {
            COptions o = defaultOptions();
            o.limit = limit;
            Ctx *ctx = rowkit_open(file.c_str(), &o);
            ASSERT_EQ(rowkit_next(ctx, nullptr, nullptr), 1);
            EXPECT_EQ(rowkit_count(ctx), limit < 0 ? 99 : 4) << file;
            EXPECT_EQ(rowkit_count(ctx), 0);
            EXPECT_EQ(rowkit_last_error(), nullptr);
            EXPECT_EQ(rowkit_next(ctx, nullptr, nullptr), 0);
            rowkit_close(ctx);
        }
    // Slow path: only matching rows count, and only they count against the
    // limit; negation without predicates matches nothing.
    CPredicate small{0, ROWKIT_OP_LT, "10", nullptr, 0};
    COptions o = where(&small);
    o.negate = 1, o.limit = 7;
    EXPECT_EQ(countFile(path, &o), 7);
    o.n_where = 0, o.limit = -1;
    EXPECT_EQ(countFile(path, &o), 0);
}

TEST(CApiCount, FailuresAndMessages) {
    rowkit_test::TempDir dir;
    EXPECT_EQ(rowkit_count(nullptr), -1);
    EXPECT_EQ(lastError(), "scanner is null");
    // A failed read is reported and stays reported.
    Ctx *ctx = rowkit_open(dir.write("p.csv", numberedRows(30000)).c_str(), nullptr);
    rowkit::file_hook::failReadAt(2, EIO);
    EXPECT_EQ(rowkit_count(ctx), -1);
    rowkit::file_hook::failReadAt(0, 0);
    EXPECT_EQ(rowkit_count(ctx), -1);
    EXPECT_EQ(lastError(), "count failed: InputOutput");
    rowkit_close(ctx);
    // A line dropped because it could not be assembled (out of memory while
    // it spanned chunks) is not counted afterwards.
    ctx = rowkit_open(dir.write("long.csv", "a\n1\n" + std::string(600000, 'y') + "\n3\n4").c_str(),
                      nullptr);
    ASSERT_EQ(rowkit_next(ctx, nullptr, nullptr), 1);
    rowkit::alloc_hook::failAt(1);
    EXPECT_EQ(rowkit_next(ctx, nullptr, nullptr), -1);
    rowkit::alloc_hook::reset();
    EXPECT_EQ(rowkit_count(ctx), 2);
    rowkit_close(ctx);
}
