// Counting JSON records through the public interface: the counting paths'
// view of the first record (read at open) and of blank lines, with and
// without predicates. (The other operations over JSON records are compared
// with CSV in c_api_ndjson_test.cpp.)
#include <gtest/gtest.h>

#include <string>

#include "rowkit.h"
#include "support/test_files.hpp"

using rowkit_test::defaultOptions;
using rowkit_test::lastError;
using rowkit_test::TempDir;

namespace {

int64_t countFile(const std::string &path, const COptions *o = nullptr, bool read_one_first = false) {
    Ctx *ctx = rowkit_open(path.c_str(), o);
    if (!ctx) {
        ADD_FAILURE() << lastError();
        return -2;
    }
    EXPECT_TRUE(!read_one_first || rowkit_next(ctx, nullptr, nullptr) == 1);
    int64_t n = rowkit_count(ctx);
    EXPECT_TRUE(n < 0 || rowkit_next(ctx, nullptr, nullptr) == 0);  // counting consumes the rows
    rowkit_close(ctx);
    return n;
}

}  // namespace

TEST(CApiResultsNdjson, Count) {
    TempDir dir;
    const std::string lines = dir.write("r.ndjson", "{\"id\":\"a\",\"v\":3}\n{\"id\":\"b\",\"v\":\"x\"}\n"
                                                    "{\"id\":\"c\",\"v\":10}\n{\"id\":\"d\",\"v\":-2.5}\n");
    const std::string blank = dir.write("b.ndjson", "{\"v\":1}\n\n{\"v\":2}\n");
    CPredicate positive{1, ROWKIT_OP_GT, "0", nullptr, 0};
    COptions o = defaultOptions();
    o.where = &positive;
    o.n_where = 1;
    // The first record, read at open for the header, counts until it is read.
    EXPECT_EQ(countFile(lines), 4);
    EXPECT_EQ(countFile(lines, nullptr, true), 3);
    EXPECT_EQ(countFile(lines, &o), 3);  // "x" is text, above "0" as bytes
    // A blank line counts as a line without predicates; reading rows for
    // them refuses it.
    EXPECT_EQ(countFile(blank), 3);
    positive.column = 0;
    EXPECT_EQ(countFile(blank, &o), -1);
    EXPECT_EQ(lastError(), "count failed: InvalidJson");
}
