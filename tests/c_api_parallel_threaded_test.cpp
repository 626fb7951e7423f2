// The parallel columnar collect through the public interface: the same
// result as the sequential columnar collect at every thread count on files
// of several MiB, the JSON-array and header-only paths, the JSON workers'
// counts, every failure message, failed reads and thread starts, and two
// scans at once. These suites start threads; they also run under
// ThreadSanitizer.
#include <errno.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "alloc.hpp"
#include "collect.hpp"
#include "file_io.hpp"
#include "parallel.hpp"
#include "rowkit.h"
#include "support/test_files.hpp"

using rowkit_test::lastError;
using rowkit_test::Lcg;
using namespace std::string_literals;

namespace {

// Results as columnarText puts them.
std::string parallel(const std::string &path, size_t threads,
                     const std::vector<CPredicate> &where = {}, int negate = 0,
                     uint8_t delimiter = ',') {
    return rowkit_test::columnarText(rowkit_parallel_collect_columnar(
        path.c_str(), delimiter, where.data(), where.size(), negate, threads));
}

std::string sequential(const std::string &path, const std::vector<CPredicate> &where = {},
                       int negate = 0) {
    COptions o = rowkit_test::defaultOptions();
    o.where = where.data();
    o.n_where = where.size();
    o.negate = negate;
    Ctx *ctx = rowkit_open(path.c_str(), &o);
    CollectColumnarCtx *cc = rowkit_collect_columnar(ctx);
    rowkit_close(ctx);
    return rowkit_test::columnarText(cc);
}

// The row count and the first column's data: enough to tell results apart.
std::string brief(const std::string &text) {
    return text.substr(0, std::min<size_t>(text.find('/'), 60));
}

const char *const kWords[] = {"ash", "birch", "cedar", "elm", "fir", "oak", "pine", "yew"};

// A CSV file of about `target` bytes: quoted fields with delimiters and
// doubled quotes, empty fields, CR LF endings, short and long rows, blank
// lines, and one line longer than a worker's read chunk.
std::string csvText(size_t target) {
    Lcg rnd;
    std::string s = "id,name,amount,note,flag\n";
    for (size_t i = 0; s.size() < target; ++i) {
        if (rnd(200) == 0) {
            s += "\n";
            continue;
        }
        s += std::to_string(i) + "," + kWords[rnd(8)] + ",";
        if (rnd(10)) s += std::to_string(static_cast<int64_t>(rnd(200000)) - 100000);
        s += ",";
        switch (rnd(6)) {
            case 0: s += "\"" + std::string(kWords[rnd(8)]) + ", " + kWords[rnd(8)] + "\""; break;
            case 1: s += "\"said \"\"" + std::string(kWords[rnd(8)]) + "\"\"\""; break;
            case 2: break;
            default: s += std::string(kWords[rnd(8)]) + " " + kWords[rnd(8)];
        }
        if (i == 20000) s += std::string(rowkit::kWorkerChunkBytes + 5000, 'L');
        // A short row (no flag), a long one, or the full width.
        const uint64_t shape = rnd(50);
        s += shape == 0 ? "" : shape == 1 ? ",true,extra,more" : rnd(2) ? ",true" : ",false";
        s += rnd(8) ? "\n" : rnd(4) ? "\r\n" : "\r\r\n";  // of two CRs one is kept
    }
    return s;
}

// JSON records of about `target` bytes: escapes, null, booleans, numbers as
// written, keys out of order (the full parse), missing keys, unknown keys
// with nested values, CR LF endings and one line longer than a read chunk.
std::string ndjsonText(size_t target) {
    Lcg rnd;
    std::string s;
    for (size_t i = 0; s.size() < target; ++i) {
        std::vector<std::string> fields = {
            "\"id\":" + std::to_string(i),
            "\"name\":\"" + std::string(kWords[rnd(8)]) +
                (rnd(5) ? "" : "\\\"q\\\" \\\\ \\n \\u00e9\\ud83d\\ude00") + "\"",
            "\"amount\":" + (rnd(10)
                                 ? std::to_string(static_cast<int64_t>(rnd(2000)) - 1000) + ".50e0"
                                 : "null"s),
            "\"flag\":" + std::string(rnd(2) ? "true" : "false"),
        };
        if (i == 15000)
            fields.push_back("\"note\":\"" + std::string(rowkit::kWorkerChunkBytes + 5000, 'L') +
                             "\"");
        if (i > 0 && rnd(20) == 0) fields.erase(fields.begin() + 2);
        if (i > 0 && rnd(20) == 0) fields.push_back("\"extra\":{\"x\":[1,{\"y\":2}]}");
        if (i > 0 && rnd(10) == 0) std::swap(fields[0], fields[fields.size() - 1]);
        std::string line;
        for (const std::string &f : fields)
            line += (line.empty() ? "{" : ",") + f;
        s += line + (rnd(8) ? "}\n" : "}\r\n");
    }
    return s;
}

constexpr size_t kManyMiB = 4u << 20 | 300000;  // 64 workers of more than 64 KiB each

}  // namespace

TEST(ParallelCollect, EveryThreadCountGivesTheSequentialResult) {
    rowkit_test::TempDir dir;
    const std::string csv = dir.write("big.csv", csvText(kManyMiB));
    const std::string ndjson = dir.write("big.ndjson", ndjsonText(kManyMiB));
    for (const std::string &path : {csv, ndjson}) {
        const std::string expected = sequential(path);
        ASSERT_TRUE(expected[0] != '!' && std::stoul(expected) > 40000u) << brief(expected);
        for (size_t threads : {0, 1, 2, 3, 8, 64}) {
            const std::string got = parallel(path, threads);
            EXPECT_TRUE(got == expected) << path << " threads " << threads << ": " << brief(got)
                                         << " vs " << brief(expected);
        }
        // The predicates and negation select the same rows; they see a row
        // as split, so the flag a short CSV row lacks is missing, not empty.
        const size_t flag = path == csv ? 4 : 3;
        for (const std::vector<CPredicate> &where :
             {std::vector<CPredicate>{{2, ROWKIT_OP_GT, "0", nullptr, 0},
                                      {1, ROWKIT_OP_NEQ, "oak", nullptr, 0}},
              {{flag, ROWKIT_OP_NEQ, "true", nullptr, 0}}})
            for (int negate : {0, 1})
                EXPECT_TRUE(parallel(path, 3, where, negate) == sequential(path, where, negate))
                    << path << " negate " << negate << " on column " << where[0].column;
    }
}

TEST(ParallelCollect, SmallFilesArraysHeadersAndFormats) {
    rowkit_test::TempDir dir;
    // A small file runs on one worker, with any thread count.
    std::string ten = "a,b,c\n";
    for (int i = 0; i < 10; ++i)
        ten += std::to_string(i) + ",\"x, " + std::to_string(i) + "\",\n";
    ten.pop_back();  // the last line has no line feed
    const std::string small = dir.write("ten.csv", ten);
    EXPECT_TRUE(parallel(small, 8) == sequential(small));
    EXPECT_EQ(brief(parallel(small, 8)), "10: 0123456789");
    // A header alone gives neither rows nor columns, as the sequential
    // collect does; a header with no matching row keeps its columns.
    for (const std::string text : {"a,b,c", "a,b,c\r\n"}) {
        const std::string only = dir.write("only.csv", text);
        EXPECT_TRUE(parallel(only, 2) == sequential(only));
        EXPECT_EQ(parallel(only, 2), "0:");
    }
    const std::vector<CPredicate> none = {{0, ROWKIT_OP_LT, "0", nullptr, 0}};
    EXPECT_EQ(parallel(small, 2, none), "0: /0 /0 /0");
    EXPECT_EQ(parallel(dir.write("one.ndjson", "{\"a\":1,\"b\":2}\n"), 2, none), "0: /0 /0");
    // Any file whose first non-blank byte is '[' is a JSON array, read on the
    // calling thread as the sequential reader reads it; there a nested value
    // fails the whole call.
    const std::string array =
        "\n [{\"a\":1,\"b\":\"x\"}, 5, {\"b\":\"y\\n\",\"a\":2.0}, {\"a\":null}]";
    const std::vector<CPredicate> not_two = {{0, ROWKIT_OP_NEQ, "2", nullptr, 0}};
    EXPECT_TRUE(parallel(dir.write("data.csv", array), 4, not_two) ==
                sequential(dir.write("data.json", array), not_two));
    EXPECT_EQ(brief(parallel(dir.write("data.csv", array), 4)), "3: 12.0");
    EXPECT_EQ(parallel(dir.write("n.csv", "[{\"a\":1},{\"a\":[1]}]"), 1),
              "!parallel scan failed: NestedValueNotSupported");
    // Only the first 256 bytes are sniffed: after more blanks the file is
    // line-delimited, and its blank first line is no JSON object.
    EXPECT_EQ(parallel(dir.write("late.json", std::string(300, '\n') + "[{\"a\":1}]"), 1),
              "!parallel scan failed: InvalidJson");
    // The format follows the name, case-sensitively: an upper-case suffix is
    // CSV ("{"a":1" and a quoted "b" are its header fields).
    const std::string records = "{\"a\":1,\"b\":2}\n{\"a\":3,\"b\":4}\n";
    EXPECT_EQ(parallel(dir.write("data.json", records), 0), "2: 13/0,1,2 24/0,1,2");
    EXPECT_EQ(brief(parallel(dir.write("DATA.JSON", records), 0)), "1: {\"a\":3");
    // The delimiter is the caller's.
    EXPECT_EQ(parallel(dir.write("semi.csv", "x;y;z\n1;2,5;3\n"), 1, {}, 0, ';'),
              "1: 1/0,1 2,5/0,3 3/0,1");
    // The JSON workers skip lines that are not objects (an empty line is no
    // line) and leave nested values under header keys empty, and say how
    // many, counting the emptied values of kept rows only; other results say 0.
    const std::string skips = dir.write(
        "s.ndjson", "{\"a\":1,\"b\":2}\nnot json\n\n  \n{\"b\":{\"c\":1},\"a\":3,\"x\":[1]}\n"
                    "{\"a\":[4],\"b\":[5]}\n");
    EXPECT_EQ(parallel(skips, 1), "3: 13/0,1,2,2 2/0,1,1,1 (skipped 2, emptied 3)");
    EXPECT_EQ(parallel(skips, 1, {{0, ROWKIT_OP_NEQ, "3", nullptr, 0}}),
              "2: 1/0,1,1 2/0,1,1 (skipped 2, emptied 2)");
    EXPECT_EQ(rowkit_collect_columnar_n_skipped_lines(nullptr), 0u);
    EXPECT_EQ(rowkit_collect_columnar_n_emptied_values(nullptr), 0u);
}

TEST(ParallelCollect, FailuresNameTheirCause) {
    rowkit_test::TempDir dir;
    const std::string ok = dir.write("ok.csv", "a,b\n1,2\n");
    const CPredicate null_text = {0, ROWKIT_OP_EQ, nullptr, nullptr, 0};
    EXPECT_EQ(rowkit_parallel_collect_columnar(nullptr, ',', nullptr, 0, 0, 1), nullptr);
    EXPECT_EQ(lastError(), "path is null");
    EXPECT_EQ(rowkit_parallel_collect_columnar(ok.c_str(), ',', nullptr, 1, 0, 1), nullptr);
    EXPECT_EQ(lastError(), "predicates are null");
    EXPECT_EQ(parallel(ok, 1, {null_text}), "!predicate text is null");
    const std::string fifo = dir.path() + "/pipe.csv";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string prefix = "!parallel scan failed: ";
    const struct {
        std::string path, message;
    } cases[] = {
        {dir.path() + "/none.csv", "FileNotFound"},
        {dir.write("empty.csv", ""), "EmptyFile"},
        {dir.path(), "IsDir"},
        // Byte ranges need a regular file: a named pipe is refused at once
        // (without waiting for a writer), and so is a device.
        {fifo, "NotRegularFile"},
        {"/dev/null", "NotRegularFile"},
        {dir.write("head.csv", "a,\"b\n1,2\n"), "UnterminatedQuote"},
        // A quoted line break is cut at the line feed; the quote error
        // surfaces from the worker.
        {dir.write("body.csv", "a,b\n1,\"two\nlines\"\n"), "UnterminatedQuote"},
        {dir.write("first.ndjson", "5\n{\"a\":1}\n"), "InvalidJson"},
        {dir.write("blank.jsonl", "\n{\"a\":1}\n"), "InvalidJson"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(parallel(c.path, 2), prefix + c.message) << c.path;

    // A column too large for 32-bit offsets, whether within one worker or
    // only once the workers' columns are joined.
    std::string wide = "a,b\n";
    while (wide.size() < 300000)
        wide += "12345678,1\n";
    const std::string wide_path = dir.write("wide.csv", wide);
    for (size_t limit : {size_t{40000}, size_t{200000}}) {
        rowkit::collect_hook::setColumnLimit(limit);
        EXPECT_EQ(parallel(wide_path, 4), prefix + "ColumnTooLarge") << limit;
    }
    rowkit::collect_hook::setColumnLimit(250000);
    EXPECT_TRUE(parallel(wide_path, 4) == sequential(wide_path));
    rowkit::collect_hook::setColumnLimit(0);

    // A read that fails anywhere (sniff, header, boundaries, any worker)
    // fails the call.
    uint64_t nth = 1;
    for (std::string got = prefix; got == prefix + "InputOutput" || got == prefix; ++nth) {
        rowkit::file_hook::failReadAt(nth, EIO);
        got = parallel(wide_path, 3);
        rowkit::file_hook::failReadAt(0, 0);
        if (got != prefix + "InputOutput") {
            EXPECT_TRUE(got == sequential(wide_path)) << nth << ": " << brief(got);
        }
    }
    EXPECT_GT(nth, 9u);  // sniff, header, its end, three boundaries, four ranges

    // An allocation that fails anywhere (planning, a thread's scanner, a
    // range's columns, the result) fails the call with OutOfMemory, with
    // every thread ended and nothing leaked, never with a partial result.
    const std::string expected_wide = sequential(wide_path);
    nth = 1;
    for (std::string got; got != expected_wide; ++nth) {
        rowkit::alloc_hook::failAt(nth);
        got = parallel(wide_path, 3);
        rowkit::alloc_hook::reset();
        if (got != expected_wide && got != "!out of memory allocating columnar collect context") {
            ASSERT_EQ(got, prefix + "OutOfMemory") << nth;
        }
    }

    // A thread that cannot start: the ones started are joined and freed.
    rowkit::parallel_hook::failThreadStartAt(2, EAGAIN);
    EXPECT_EQ(parallel(wide_path, 3), prefix + "SystemResources");
    rowkit::parallel_hook::failThreadStartAt(1, EPERM);
    EXPECT_EQ(parallel(wide_path, 3), prefix + "Unexpected");
    rowkit::parallel_hook::failThreadStartAt(0, 0);
}

// Two scans at once, each with its own worker threads (the calls' internal
// form: the C functions share the one last-error message and are not for
// concurrent use).
TEST(ParallelCollect, TwoScansAtOnce) {
    rowkit_test::TempDir dir;
    const std::string csv = dir.write("c.csv", csvText(600000)),
                      ndjson = dir.write("c.ndjson", ndjsonText(600000));
    size_t rows[2] = {0, 0};
    auto scan = [&](int i, const std::string &path) {
        rowkit::Result<rowkit::ColumnarScanResult> r =
            rowkit::parallelScanColumnar(path.c_str(), ',', {}, false, 3);
        rows[i] = r.ok() ? r->n_rows : 0;
    };
    std::thread first(scan, 0, csv), second(scan, 1, ndjson);
    first.join();
    second.join();
    EXPECT_EQ(rows[0], std::stoul(sequential(csv)));
    EXPECT_EQ(rows[1], std::stoul(sequential(ndjson)));
}
