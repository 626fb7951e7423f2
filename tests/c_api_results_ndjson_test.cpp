// Counting JSON records through the public interface: the counting paths'
// view of the first record (read at open) and of blank lines, with and
// without predicates. (The other operations over JSON records are compared
// with CSV in c_api_ndjson_test.cpp.)
#include <gtest/gtest.h>

#include <string>

#include "rowkit.h"
#include "support/test_files.hpp"

using rowkit_test::lastError;

TEST(CApiResultsNdjson, Count) {
    rowkit_test::TempDir dir;
    const std::string lines = dir.write("r.ndjson",
                                        "{\"id\":\"a\",\"v\":3}\n{\"id\":\"b\",\"v\":\"x\"}\n"
                                        "{\"id\":\"c\",\"v\":10}\n{\"id\":\"d\",\"v\":-2.5}\n");
    const std::string blank = dir.write("b.ndjson", "{\"v\":1}\n\n{\"v\":2}\n");
    CPredicate on_v{1, ROWKIT_OP_GT, "0", nullptr, 0}, on_first{0, ROWKIT_OP_GT, "0", nullptr, 0};
    COptions v = rowkit_test::defaultOptions(), first = v;
    v.where = &on_v, first.where = &on_first, v.n_where = first.n_where = 1;
    // The first record, read at open for the header, counts until it is read;
    // "x" is text, above "0" as bytes. A blank line counts as a line without
    // predicates; reading rows for them refuses it.
    const struct {
        const std::string &path;
        const COptions *o;
        bool read_one_first;
        int64_t want;
    } cases[] = {{lines, nullptr, false, 4}, {lines, nullptr, true, 3}, {lines, &v, false, 3},
                 {blank, nullptr, false, 3}, {blank, &first, false, -1}};
    for (const auto &c : cases) {
        Ctx *ctx = rowkit_open(c.path.c_str(), c.o);
        ASSERT_NE(ctx, nullptr) << lastError();
        EXPECT_TRUE(!c.read_one_first || rowkit_next(ctx, nullptr, nullptr) == 1);
        EXPECT_EQ(rowkit_count(ctx), c.want) << &c - cases;
        // Counting consumes the rows.
        if (c.want >= 0) {
            EXPECT_EQ(rowkit_next(ctx, nullptr, nullptr), 0) << &c - cases;
        }
        rowkit_close(ctx);
    }
    EXPECT_EQ(lastError(), "count failed: InvalidJson");
}
