// The parallel scan's planning, run on the calling thread: thread counts,
// range boundaries, the format sniff and the JSON header. (The workers and
// the merge are checked through the public interface against the sequential
// collect.)
#include "parallel.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "file_io.hpp"
#include "support/test_files.hpp"

using namespace rowkit;
using namespace std::string_literals;

namespace {

// A file written into a temporary directory and held open for reading.
struct OpenFile {
    rowkit_test::TempDir dir;
    FileHandle file;
    uint64_t size = 0;
    explicit OpenFile(const std::string &text, const std::string &name = "f.csv") {
        Result<OpenedFile> opened = openRegularFile(dir.write(name, text).c_str());
        EXPECT_TRUE(opened.ok());
        if (!opened.ok()) return;
        file = std::move(opened->file);
        size = opened->size;
    }
    int fd() const { return file.fd(); }
};

}  // namespace

TEST(ParallelPlanning, ThreadsRangesAndBoundaries) {
    // At least 64 KiB per worker; no cap beyond that.
    EXPECT_EQ(threadsFor(100, 1 << 20), 16u);
    EXPECT_EQ(threadsFor(SIZE_MAX, uint64_t{1} << 40), size_t{1} << 24);
    // One range for one thread; else one per 512 KiB, at least 8 per thread,
    // at most one per 64 KiB but never fewer than the threads.
    EXPECT_EQ(rangesFor(1, uint64_t{1} << 40), 1u);
    EXPECT_EQ(rangesFor(2, 1 << 20), 16u);
    EXPECT_EQ(rangesFor(2, 300 << 20), 600u);
    EXPECT_EQ(rangesFor(3, 200000), 3u);

    // A boundary is just after the first line feed at or after the guess: a
    // line feed at the guess itself ends the range there.
    OpenFile small("ab\ncd\n\nef");
    std::vector<uint64_t> got;
    for (uint64_t at : {0, 2, 3, 5, 6, 7, 9, 20})
        got.push_back(*alignForwardToNewline(small.fd(), at, small.size));
    EXPECT_EQ(got, (std::vector<uint64_t>{3, 3, 6, 6, 7, 9, 9, 9}));
    // Lines far longer than the first window are crossed by doubling it,
    // and a file without a line feed after the guess ends the range at its
    // end.
    const std::string long_line(300000, 'x');
    OpenFile big("h\n" + long_line + "\n" + long_line + "\n" + long_line);
    EXPECT_EQ(*alignForwardToNewline(big.fd(), 5, big.size), 300003u);
    EXPECT_EQ(*alignForwardToNewline(big.fd(), 600005, big.size), big.size);

    // Ranges cover the data without gaps, boundary k being the first line
    // start at or after k even shares; a line longer than a share leaves
    // the ranges it covers empty.
    auto ranges = [&](const OpenFile &f, uint64_t data_start, size_t n) {
        std::string out;
        Result<Vec<Range>> r = splitRangesFrom(f.fd(), data_start, f.size, n);
        for (const Range &range : *r)
            out += std::to_string(range.start) + "-" + std::to_string(range.end) + " ";
        return out;
    };
    EXPECT_EQ(ranges(big, 2, 3), "2-300003 300003-600004 600004-900004 ");
    EXPECT_EQ(ranges(big, 2, 5),
              "2-300003 300003-600004 600004-600004 600004-900004 900004-900004 ");
    EXPECT_EQ(ranges(small, 3, 1), "3-9 ");
}

TEST(ParallelPlanning, SniffAndNdjsonHeader) {
    auto sniff = [](const std::string &text) {
        return *sniffFormat(OpenFile(text).fd(), text.size());
    };
    // Only the first 256 bytes are looked at.
    EXPECT_EQ(sniff(std::string(255, ' ') + "["), SniffedFormat::json_array);
    EXPECT_EQ(sniff(std::string(256, '\n') + "["), SniffedFormat::line_delimited);

    auto header = [](const std::string &text) -> std::string {
        OpenFile f(text, "f.ndjson");
        Result<JsonHeader> h = buildNdjsonHeader(f.fd(), f.size);
        if (!h.ok()) return "!"s + errorName(h.error());
        std::string out;
        for (std::string_view name : h->views)
            out += std::string(name) + "|";
        return out + std::to_string(*h->index.get("a"));
    };
    // The first line's keys, escapes decoded, a CR before the line feed
    // dropped; a key given twice maps to its later column.
    EXPECT_EQ(header("{\"a\":1,\"b\\u00e9\":{\"x\":[1]},\"a\":null}\r\n{\"c\":2}\n"),
              "a|b\xc3\xa9|a|2");
    EXPECT_EQ(header("{\"a\":1}"), "a|0");
    // A first line that is not an object is InvalidJson, whatever the
    // parser's own reason; so is a first line longer than the 1 MiB read.
    EXPECT_EQ(header("{\"a\":\"unterminated}\n"), "!InvalidJson");
    EXPECT_EQ(header("[1]\n"), "!InvalidJson");
    EXPECT_EQ(header("{\"a\":\"" + std::string(kNdjsonHeaderBytes, 'x') + "\"}\n"), "!InvalidJson");
    EXPECT_EQ(header("{\"a\":\"" + std::string(kNdjsonHeaderBytes - 9, 'x') + "\"}\n"), "a|0");
}
