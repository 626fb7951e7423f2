// rowkit_count through the public interface: the line-counting fast path and
// the row-reading slow path, how they differ on blank and broken lines, what
// they leave in the handle, and failures.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "alloc.hpp"
#include "file_io.hpp"
#include "rowkit.h"
#include "support/test_files.hpp"

using rowkit_test::defaultOptions;
using rowkit_test::lastError;
using rowkit_test::readAll;
using rowkit_test::TempDir;

namespace {

CPredicate pred(size_t column, int op, const char *value) {
    CPredicate p;
    std::memset(&p, 0, sizeof p);
    p.column = column;
    p.op = op;
    p.value = value;
    return p;
}

// Opens `path` with `options` and counts.
int64_t countFile(const std::string &path, const COptions *options = nullptr) {
    Ctx *ctx = rowkit_open(path.c_str(), options);
    if (!ctx) {
        ADD_FAILURE() << "open " << path << ": " << lastError();
        return -2;
    }
    int64_t n = rowkit_count(ctx);
    rowkit_close(ctx);
    return n;
}

// A header and `rows` numbered lines of varying length, so that lines
// straddle every chunk boundary of a 256 KiB read.
std::string numberedRows(int rows) {
    std::string s = "id,text\n";
    for (int i = 0; i < rows; ++i) s += std::to_string(i) + "," + std::string(static_cast<size_t>(i % 97), 'x') + "\n";
    return s;
}

}  // namespace

TEST(CApiCount, FastPathCountsLines) {
    TempDir dir;
    EXPECT_EQ(countFile(dir.write("a.csv", "a\n1\n2\n")), 2);
    EXPECT_EQ(countFile(dir.write("b.csv", "a\n1\n2")), 2);
    EXPECT_EQ(countFile(dir.write("c.csv", "a\n1\n\n2\n")), 3);
    EXPECT_EQ(countFile(dir.write("d.csv", "a\r\n1\r\n2\r\n")), 2);
    EXPECT_EQ(countFile(dir.write("e.csv", "a\n")), 0);
    EXPECT_EQ(countFile(dir.write("f.csv", "a")), 0);
    EXPECT_EQ(countFile(dir.write("g.csv", "a\n\r")), 1);  // a lone CR is a line
    EXPECT_EQ(rowkit_last_error(), nullptr);
    // An unclosed quote is still one line here; reading rows refuses it.
    std::string broken = dir.write("q.csv", "a,b\n\"x,1\n2,3\n");
    EXPECT_EQ(countFile(broken), 2);
    CPredicate everything = pred(0, ROWKIT_OP_NEQ, "zzz");
    COptions o = defaultOptions();
    o.where = &everything;
    o.n_where = 1;
    EXPECT_EQ(countFile(broken, &o), -1);
    EXPECT_EQ(lastError(), "count failed: UnterminatedQuote");

    // Larger than a read chunk: both paths agree, whatever the chunk
    // boundaries cut.
    std::string big = dir.write("big.csv", numberedRows(20000));
    EXPECT_EQ(countFile(big), 20000);
    EXPECT_EQ(countFile(big, &o), 20000);
    std::string unterminated = numberedRows(20000);
    unterminated.pop_back();
    EXPECT_EQ(countFile(dir.write("big2.csv", unterminated)), 20000);
}

TEST(CApiCount, WhatTheCountLeavesInTheHandle) {
    TempDir dir;
    std::string path = dir.write("p.csv", numberedRows(100));
    // Rows already read are not counted again; afterwards the handle is at
    // its end.
    Ctx *ctx = rowkit_open(path.c_str(), nullptr);
    ASSERT_NE(ctx, nullptr);
    ASSERT_EQ(rowkit_next(ctx, nullptr, nullptr), 1);
    ASSERT_EQ(rowkit_next(ctx, nullptr, nullptr), 1);
    EXPECT_EQ(rowkit_count(ctx), 98);
    EXPECT_EQ(rowkit_next(ctx, nullptr, nullptr), 0);
    EXPECT_EQ(rowkit_count(ctx), 0);
    rowkit_close(ctx);

    // A limit forces the slow path and is used up by the count.
    COptions o = defaultOptions();
    o.limit = 5;
    ctx = rowkit_open(path.c_str(), &o);
    ASSERT_NE(ctx, nullptr);
    ASSERT_EQ(rowkit_next(ctx, nullptr, nullptr), 1);
    EXPECT_EQ(rowkit_count(ctx), 4);
    EXPECT_EQ(rowkit_count(ctx), 0);
    EXPECT_EQ(rowkit_last_error(), nullptr);
    EXPECT_EQ(rowkit_next(ctx, nullptr, nullptr), 0);
    rowkit_close(ctx);

    // Slow path with predicates: only matching rows count; without a limit
    // the reader is at its end afterwards.
    CPredicate small = pred(0, ROWKIT_OP_LT, "10");
    o = defaultOptions();
    o.where = &small;
    o.n_where = 1;
    EXPECT_EQ(countFile(path, &o), 10);
    o.negate = 1;
    EXPECT_EQ(countFile(path, &o), 90);
    o.limit = 7;
    EXPECT_EQ(countFile(path, &o), 7);
    // The limit stops the count right after the last counted row.
    o.limit = 3;
    ctx = rowkit_open(path.c_str(), &o);
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(rowkit_count(ctx), 3);
    o.limit = -1;
    rowkit_close(ctx);
    // Negation without predicates matches nothing.
    o = defaultOptions();
    o.negate = 1;
    EXPECT_EQ(countFile(path, &o), 0);
    o = defaultOptions();
    o.limit = 0;
    EXPECT_EQ(countFile(path, &o), 0);
}

TEST(CApiCount, FailuresAndMessages) {
    TempDir dir;
    EXPECT_EQ(rowkit_count(nullptr), -1);
    EXPECT_EQ(lastError(), "scanner is null");

    // A failed read is reported and stays reported.
    std::string path = dir.write("p.csv", numberedRows(30000));
    Ctx *ctx = rowkit_open(path.c_str(), nullptr);
    ASSERT_NE(ctx, nullptr);
    rowkit::file_hook::failReadAt(2, EIO);
    EXPECT_EQ(rowkit_count(ctx), -1);
    rowkit::file_hook::failReadAt(0, 0);
    EXPECT_EQ(lastError(), "count failed: InputOutput");
    EXPECT_EQ(rowkit_count(ctx), -1);
    EXPECT_EQ(lastError(), "count failed: InputOutput");
    rowkit_close(ctx);

    // The fast path allocates nothing.
    ctx = rowkit_open(path.c_str(), nullptr);
    ASSERT_NE(ctx, nullptr);
    rowkit::alloc_hook::reset();
    EXPECT_EQ(rowkit_count(ctx), 30000);
    EXPECT_EQ(rowkit::alloc_hook::count(), 0u);
    rowkit_close(ctx);

    // A line dropped because it could not be assembled (out of memory while
    // it spanned chunks) is not counted afterwards.
    std::string tail = "a\n1\n" + std::string(600000, 'y') + "\n3\n4";
    path = dir.write("long.csv", tail);
    ctx = rowkit_open(path.c_str(), nullptr);
    ASSERT_NE(ctx, nullptr);
    ASSERT_EQ(rowkit_next(ctx, nullptr, nullptr), 1);
    rowkit::alloc_hook::reset();
    rowkit::alloc_hook::failAt(1);
    EXPECT_EQ(rowkit_next(ctx, nullptr, nullptr), -1);
    rowkit::alloc_hook::reset();
    EXPECT_EQ(lastError(), "next failed: OutOfMemory");
    EXPECT_EQ(rowkit_count(ctx), 2);
    rowkit_close(ctx);

    // Slow path: every allocation failure gives the documented message.
    CPredicate p = pred(0, ROWKIT_OP_GTE, "0");
    COptions o = defaultOptions();
    o.where = &p;
    o.n_where = 1;
    path = dir.write("s.csv", numberedRows(50));
    bool succeeded = false;
    for (uint64_t nth = 1; nth < 50 && !succeeded; ++nth) {
        ctx = rowkit_open(path.c_str(), &o);
        ASSERT_NE(ctx, nullptr);
        rowkit::alloc_hook::reset();
        rowkit::alloc_hook::failAt(nth);
        int64_t n = rowkit_count(ctx);
        rowkit::alloc_hook::reset();
        if (n >= 0) {
            EXPECT_EQ(n, 50);
            succeeded = true;
        } else {
            EXPECT_EQ(lastError(), "count failed: OutOfMemory") << nth;
        }
        rowkit_close(ctx);
    }
    EXPECT_TRUE(succeeded);
}
