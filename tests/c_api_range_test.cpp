// rowkit_open_range through the public interface: any partition of a file
// into consecutive byte ranges yields every row exactly once, in order,
// wherever the bounds fall; counts and aggregates over the ranges combine to
// the whole file's; the options and whole-result calls work on a range; and
// the range's own failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "rowkit.h"
#include "support/test_files.hpp"

using rowkit_test::defaultOptions;
using rowkit_test::lastError;
using rowkit_test::Lcg;

namespace {

// A generated file and the offsets worth cutting at: inside the header, on
// and right after line feeds, between a CR and its LF, inside quoted fields.
struct Sample {
    std::string text;
    std::vector<uint64_t> cuts;
};

// CSV with quoted fields (delimiters and doubled quotes inside), CR LF and
// LF endings, blank lines, short rows, one line longer than the first
// window a line start is looked for in, and, when `breaks`, quoted fields
// holding a line break.
Sample csvSample(uint64_t seed, bool breaks) {
    Lcg rnd{seed};
    Sample s;
    s.text = "id,\"na,me\",amount\r\n";
    s.cuts = {1, 4, 5, s.text.size() - 2, s.text.size() - 1, s.text.size()};
    for (int i = 0; i < 400; ++i) {
        if (rnd(25) == 0) {
            s.text += rnd(2) ? "\n" : "\r\n";
            continue;
        }
        s.text += std::to_string(i) + ",";
        const size_t quote = s.text.size();
        switch (rnd(5)) {
            case 0: s.text += "\"a, \"\"b\"\"\""; break;
            case 1: s.text += breaks ? "\"two\nlines\"" : "\"x\""; break;
            case 2: break;
            default: s.text += "w" + std::to_string(rnd(1000));
        }
        if (i == 150) s.text += std::string(70000, 'L');
        s.cuts.push_back(quote + 2);
        if (rnd(10)) s.text += "," + std::to_string(static_cast<int64_t>(rnd(2000)) - 1000);
        s.text += rnd(4) ? "\n" : "\r\n";
    }
    return s;
}

// JSON records with escapes, keys out of order, missing keys, CR LF
// endings, and when `bad`, lines that are not an object.
Sample ndjsonSample(uint64_t seed, bool bad) {
    Lcg rnd{seed};
    Sample s;
    s.cuts = {1, 2};
    for (int i = 0; i < 400; ++i) {
        std::string amount = "\"amount\":" + std::to_string(static_cast<int64_t>(rnd(2000)) - 1000);
        std::string name = "\"name\":\"n\\\"" + std::to_string(rnd(50)) + "\\n\"";
        s.cuts.push_back(s.text.size() + 3);
        if (i == 0 || rnd(5)) {
            s.text += "{\"id\":" + std::to_string(i) + "," + name + "," + amount + "}";
        } else if (bad && rnd(8) == 0) {
            s.text += "not json";
        } else {
            s.text += "{" + amount + ",\"id\":\"" + std::to_string(i) + "\"}";
        }
        s.text += rnd(4) ? "\n" : "\r\n";
    }
    return s;
}

// Every row of the handle, a failed row as "!" + message; then closes it.
std::vector<std::string> rowsOf(Ctx *ctx) {
    std::vector<std::string> rows;
    if (!ctx) return {"open: " + lastError()};
    for (;;) {
        const char *const *fields = nullptr;
        size_t n = 0;
        const int got = rowkit_next(ctx, &fields, &n);
        if (got == 0) break;
        std::string row = got < 0 ? "!" + lastError() : "";
        for (size_t i = 0; got > 0 && i < n; ++i) row += std::string(fields[i]) + "|";
        rows.push_back(row);
    }
    rowkit_close(ctx);
    return rows;
}

// Random cut points: some from the sample's offsets worth cutting at, some
// anywhere, some past the end; sorted, between 0 and past the end.
std::vector<uint64_t> partition(Lcg &rnd, const Sample &s) {
    const uint64_t size = s.text.size();
    std::vector<uint64_t> bounds = {0};
    const uint64_t n = 1 + rnd(6);
    for (uint64_t i = 0; i < n; ++i) {
        switch (rnd(4)) {
            case 0: bounds.push_back(s.cuts[rnd(s.cuts.size())]); break;
            case 1: {
                // On a line feed or right after one.
                const size_t at = s.text.find('\n', rnd(size));
                if (at != std::string::npos) bounds.push_back(at + rnd(2));
                break;
            }
            default: bounds.push_back(rnd(size + 1));
        }
    }
    bounds.push_back(rnd(3) ? size : size + 1000);
    std::sort(bounds.begin(), bounds.end());
    return bounds;
}

}  // namespace

TEST(CApiRange, EveryPartitionYieldsEveryRowOnceInOrder) {
    rowkit_test::TempDir dir;
    Lcg rnd{0xa11ce};
    const char *const in_list[] = {"7", "11", "x"};
    const CPredicate some[] = {{0, ROWKIT_OP_IN_LIST, nullptr, in_list, 3},
                               {2, ROWKIT_OP_GT, "-500", nullptr, 0}};
    const size_t projection[] = {2, 0};
    for (uint64_t seed = 1; seed <= 6; ++seed) {
        const bool json = seed % 3 == 0;
        const Sample s = json ? ndjsonSample(seed, true) : csvSample(seed, seed % 2 == 0);
        const std::string path = dir.write(json ? "r.ndjson" : "r.csv", s.text);
        for (int variant = 0; variant < 3; ++variant) {
            // The plain rows; a projection with a negated IN list; a
            // predicate with max_column.
            COptions o = defaultOptions();
            if (variant == 1) {
                o.columns = projection, o.n_columns = 2;
                o.where = some, o.n_where = 1, o.negate = 1;
            } else if (variant == 2) {
                o.where = some + 1, o.n_where = 1, o.max_column = 2;
            }
            const std::vector<std::string> whole = rowsOf(rowkit_open(path.c_str(), &o));
            ASSERT_GT(whole.size(), 100u);
            for (int trial = 0; trial < 40; ++trial) {
                const std::vector<uint64_t> bounds = partition(rnd, s);
                std::vector<std::string> joined;
                for (size_t i = 0; i + 1 < bounds.size(); ++i) {
                    Ctx *ctx = rowkit_open_range(path.c_str(), &o, bounds[i], bounds[i + 1]);
                    const std::vector<std::string> part = rowsOf(ctx);
                    joined.insert(joined.end(), part.begin(), part.end());
                }
                std::string cuts;
                for (uint64_t b : bounds) cuts += std::to_string(b) + " ";
                ASSERT_EQ(joined, whole) << path << " variant " << variant << " cuts " << cuts;
            }
        }
    }
}

TEST(CApiRange, CountsAndAggregatesCombine) {
    rowkit_test::TempDir dir;
    Lcg rnd{0xc0de};
    const CPredicate positive = {2, ROWKIT_OP_GT, "0", nullptr, 0};
    for (uint64_t seed = 10; seed <= 13; ++seed) {
        const bool json = seed % 2 == 1;
        const Sample s = json ? ndjsonSample(seed, false) : csvSample(seed, false);
        const std::string path = dir.write(json ? "c.ndjson" : "c.csv", s.text);
        COptions filtered = defaultOptions();
        filtered.where = &positive, filtered.n_where = 1;
        // Counts with and without a filter, and the amounts' aggregate: whole
        // numbers, whose sums are exact in any order.
        auto measure = [&](uint64_t start, uint64_t end) {
            std::vector<double> m;
            AggC agg{};
            const COptions *const options[] = {nullptr, &filtered, nullptr};
            for (const COptions *o : options) {
                Ctx *ctx = end == UINT64_MAX ? rowkit_open(path.c_str(), o)
                                             : rowkit_open_range(path.c_str(), o, start, end);
                if (m.size() < 2) m.push_back(static_cast<double>(rowkit_count(ctx)));
                else EXPECT_EQ(rowkit_aggregate(ctx, 2, &agg), 0) << lastError();
                rowkit_close(ctx);
            }
            m.insert(m.end(), {static_cast<double>(agg.count), agg.sum,
                               agg.has_values ? agg.min : 1e9, agg.has_values ? agg.max : -1e9});
            return m;
        };
        const std::vector<double> whole = measure(0, UINT64_MAX);
        ASSERT_GT(whole[0], 100);
        for (int trial = 0; trial < 20; ++trial) {
            const std::vector<uint64_t> bounds = partition(rnd, s);
            std::vector<double> sum = {0, 0, 0, 0, 1e9, -1e9};
            for (size_t i = 0; i + 1 < bounds.size(); ++i) {
                const std::vector<double> part = measure(bounds[i], bounds[i + 1]);
                for (size_t k = 0; k < 4; ++k) sum[k] += part[k];
                sum[4] = std::min(sum[4], part[4]);
                sum[5] = std::max(sum[5], part[5]);
            }
            EXPECT_EQ(sum, whole) << path << " trial " << trial;
        }
    }
}

TEST(CApiRange, OptionsResultsAndFailures) {
    rowkit_test::TempDir dir;
    const std::string csv = dir.write("p.csv", "a,b\n1,x\n2,y\n3,z\n4,w\n");  // rows at 4, 8, 12, 16
    auto rows = [&](const std::string &path, uint64_t start, uint64_t end,
                    const COptions *o = nullptr) {
        std::string out;
        for (const std::string &r : rowsOf(rowkit_open_range(path.c_str(), o, start, end)))
            out += r + " ";
        return out;
    };
    // The header is read from the start of the file whatever the range; a
    // row belongs to the range holding its first byte; bounds past the end
    // are clamped, and an empty range has the header but no rows. A limit
    // counts the range's rows. The first JSON record is both the header and
    // a row, of the range holding byte 0.
    const std::string json = dir.write("p.jsonl", "{\"k\":1}\n{\"k\":2}\r\n{\"k\":3}");
    COptions two = defaultOptions();
    two.limit = 2;
    const struct {
        const std::string &path;
        uint64_t start, end;
        const COptions *options;
        const char *want;
    } cases[] = {
        {csv, 0, 4, nullptr, ""},           {csv, 0, 5, nullptr, "1|x| "},
        {csv, 5, 9, nullptr, "2|y| "},      {csv, 7, 8, nullptr, ""},
        {csv, 12, UINT64_MAX, nullptr, "3|z| 4|w| "},
        {csv, 1000, 2000, nullptr, ""},     {csv, 5, 100, &two, "2|y| 3|z| "},
        {json, 0, 1, nullptr, "1| "},       {json, 1, 9, nullptr, "2| "},
        {json, 9, 10, nullptr, ""},         {json, 10, 30, nullptr, "3| "},
    };
    for (const auto &c : cases)
        EXPECT_EQ(rows(c.path, c.start, c.end, c.options), c.want) << c.path << " " << c.start;
    Ctx *empty = rowkit_open_range(csv.c_str(), nullptr, 6, 6);
    EXPECT_EQ(rowkit_n_columns(empty), 2u);
    EXPECT_EQ(rowkit_count(empty), 0);
    rowkit_close(empty);
    // Whole-result calls see the range's rows only.
    Ctx *ctx = rowkit_open_range(csv.c_str(), nullptr, 5, 13);
    CollectColumnarCtx *cc = rowkit_collect_columnar(ctx);
    rowkit_close(ctx);
    size_t len = 0;
    const uint8_t *data = rowkit_collect_columnar_data(cc, 1, &len);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(data), len), "yz");
    rowkit_collect_columnar_close(cc);
    ctx = rowkit_open_range(csv.c_str(), nullptr, 0, 13);
    OrderByCtx *ob = rowkit_order_by(ctx, 1, 1);
    rowkit_close(ctx);
    std::string order;
    const char *const *fields = nullptr;
    size_t n = 0;
    while (rowkit_order_by_next(ob, &fields, &n) == 1) order += fields[1];
    rowkit_order_by_close(ob);
    EXPECT_EQ(order, "zyx");

    // The range's own failures; the others are rowkit_open's.
    EXPECT_EQ(rowkit_open_range(csv.c_str(), nullptr, 5, 4), nullptr);
    EXPECT_EQ(lastError(), "range start is past its end");
    EXPECT_EQ(rowkit_open_range(nullptr, nullptr, 0, 1), nullptr);
    EXPECT_EQ(lastError(), "path is null");
    const std::string array = dir.write("a.json", " [{\"k\":1},\n{\"k\":2}]\n");
    EXPECT_EQ(rowkit_open_range(array.c_str(), nullptr, 0, 100), nullptr);
    EXPECT_EQ(lastError(), "open failed: JsonArrayNotSplittable");
    EXPECT_EQ(rowkit_open_range((dir.path() + "/none.csv").c_str(), nullptr, 0, 1), nullptr);
    EXPECT_EQ(lastError(), "open failed: FileNotFound");
}

// A range from byte 0 numbers the file's lines; a later range cannot know
// how many lines came before it, so it gives no line, and its failures name
// the byte offset in the file alone.
TEST(CApiRange, LinesAreKnownOnlyFromTheStart) {
    rowkit_test::TempDir dir;
    const std::string csv = dir.write("l.csv", "a,b\n1,x\n2,\"y\n3,z\n");  // line 3 at byte 8
    const char *const *fields = nullptr;
    size_t n = 0;
    Ctx *whole = rowkit_open_range(csv.c_str(), nullptr, 0, 100);
    ASSERT_EQ(rowkit_next(whole, &fields, &n), 1);
    EXPECT_EQ(rowkit_line_number(whole), 2u);
    EXPECT_EQ(rowkit_next(whole, &fields, &n), -1);
    EXPECT_EQ(rowkit_line_number(whole), 3u);
    EXPECT_NE(std::string(rowkit_last_error_detail()).find("line 3, byte offset 8"),
              std::string::npos);
    rowkit_close(whole);
    Ctx *later = rowkit_open_range(csv.c_str(), nullptr, 5, 100);
    EXPECT_EQ(rowkit_next(later, &fields, &n), -1);
    EXPECT_EQ(rowkit_line_number(later), 0u);
    const std::string detail = rowkit_last_error_detail();
    EXPECT_NE(detail.find("l.csv\", byte offset 8"), std::string::npos) << detail;
    EXPECT_EQ(detail.find("line"), std::string::npos) << detail;
    ASSERT_EQ(rowkit_next(later, &fields, &n), 1);
    EXPECT_STREQ(fields[0], "3");
    EXPECT_EQ(rowkit_line_number(later), 0u);
    rowkit_close(later);
}
