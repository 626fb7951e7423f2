// The chunk reader: every source through every chunk size, byte ranges of a
// shared descriptor, lines and line counts across chunk boundaries, errors.
#include "chunk_reader.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "support/test_files.hpp"

using namespace rowkit;

namespace {

// Every chunk size up to 40, a few primes past it, and the default.
std::vector<size_t> chunkSizes() {
    std::vector<size_t> sizes = {61, 127, 509, 4093, kDefaultChunkSize};
    for (size_t n = 1; n <= 40; ++n) sizes.push_back(n);
    return sizes;
}

// Lines of every length from 0 to 40, some ending in CR, the last one without
// a line feed.
std::string makeText() {
    std::string text;
    for (size_t i = 0; i < 60; ++i) {
        for (size_t k = 0; k < i * 7 % 41; ++k)
            text += static_cast<char>('a' + (i + k) % 26);
        text += i % 5 == 0 ? "\r\n" : "\n";
    }
    return text + "end";
}

// Everything the reader yields, chunk by chunk; no chunk is longer than
// `chunk`. "!" + the error's name on a failed refill.
std::string drain(ChunkReader &r, size_t chunk) {
    std::string out;
    for (;;) {
        std::string_view unread = r.unread();
        EXPECT_LE(unread.size(), chunk);
        out.append(unread);
        r.consume(unread.size());
        if (r.inputEnded()) return out;
        if (Status s = r.refill(); !s.ok()) return out + "!" + errorName(s.error());
    }
}

// nextLine over the whole input, each line followed by '|'.
std::string lines(ChunkReader &r) {
    std::string out;
    std::string_view line;
    for (;;) {
        Result<bool> got = r.nextLine(InputLimits(), &line);
        if (!got.ok()) return out + "!" + errorName(got.error());
        if (!*got) return out;
        out.append(line) += '|';
    }
}

// Three readers made by `init` give exactly `want` as bytes (no chunk
// longer than `chunk`), as lines and as a line count.
template <typename Init>
void expectReads(Init init, const std::string &want, size_t chunk, const std::string &what) {
    SCOPED_TRACE(what + " chunk " + std::to_string(chunk));
    std::string want_lines;
    size_t want_count = 0;
    for (std::string_view rest = want; !rest.empty(); ++want_count) {
        const size_t end = rest.find('\n');
        want_lines.append(trimCR(rest.substr(0, end))) += '|';
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    }
    ChunkReader r[3];
    for (ChunkReader &one : r) ASSERT_TRUE(init(one).ok());
    EXPECT_EQ(drain(r[0], chunk), want);
    EXPECT_EQ(lines(r[1]), want_lines);
    Result<size_t> count = r[2].countRemainingLines();
    ASSERT_TRUE(count.ok());
    EXPECT_EQ(*count, want_count);
}

}  // namespace

// A whole file (the reader owns the descriptor), bytes held in memory, and
// ranges of a shared descriptor at the start, in the middle, to the end,
// past the end and empty: each gives exactly its bytes, lines and line count
// at every chunk size. Range readers never move the descriptor's own offset
// and never close it.
TEST(ChunkReader, EverySourceAtEveryChunkSizeAndItsErrors) {
    rowkit_test::TempDir dir;
    const std::string text = makeText();
    const std::string path = dir.write("t.txt", text);
    const uint64_t n = text.size();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    const std::pair<uint64_t, uint64_t> ranges[] = {{0, 0},          {0, n},     {0, 100},
                                                    {100, 517},      {517, n},   {n, n},
                                                    {300, n + 1000}, {600, 200}, {n + 5, n + 9}};
    for (size_t chunk : chunkSizes()) {
        expectReads([&](ChunkReader &r) { return r.openFile(path.c_str(), chunk); }, text, chunk,
                    "file");
        expectReads([&](ChunkReader &r) { return r.initBytes(text, chunk); }, text, chunk, "bytes");
        for (const auto &[begin, end] : ranges) {
            const uint64_t b = begin, e = end;
            expectReads([&](ChunkReader &r) { return r.initRange(fd, b, e, chunk); },
                        b < n && b < e ? text.substr(b, e - b) : "", chunk,
                        std::to_string(b) + ".." + std::to_string(e));
        }
    }
    // Two readers over the halves, refilled in turn, each keep to their own.
    ChunkReader first, second;
    ASSERT_TRUE(first.initRange(fd, 0, n / 2, 7).ok());
    ASSERT_TRUE(second.initRange(fd, n / 2, n, 5).ok());
    std::string a, b;
    while (!first.inputEnded() || !second.inputEnded()) {
        for (auto [r, out] : {std::pair{&first, &a}, {&second, &b}}) {
            if (r->inputEnded()) continue;
            ASSERT_TRUE(r->refill().ok());
            out->append(r->unread());
        }
    }
    EXPECT_EQ(a + b, text);
    EXPECT_EQ(::lseek(fd, 0, SEEK_CUR), 0);
    EXPECT_NE(::fcntl(fd, F_GETFD), -1);
    ::close(fd);
    // Each source refuses a zero chunk size first, and the whole ones refuse
    // empty input.
    ChunkReader r;
    EXPECT_EQ(r.openFile((dir.path() + "/none").c_str(), 0).error(), Error::InvalidChunkSize);
    EXPECT_EQ(r.initBytes("", 0).error(), Error::InvalidChunkSize);
    EXPECT_EQ(r.initRange(-1, 0, 1, 0).error(), Error::InvalidChunkSize);
    EXPECT_EQ(r.openFile((dir.path() + "/none").c_str(), 1).error(), Error::FileNotFound);
    EXPECT_EQ(r.openFile(dir.write("empty", "").c_str(), 1).error(), Error::EmptyFile);
    EXPECT_EQ(r.initBytes("", 1).error(), Error::EmptyFile);
    // A device has no size and is read to its end; a pipe has no byte ranges.
    ASSERT_TRUE(r.openFile("/dev/null", 16).ok());
    EXPECT_EQ(drain(r, 16), "");
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    EXPECT_EQ(r.initRange(ends[0], 0, 1, 1).error(), Error::NotRegularFile);
    close(ends[0]), close(ends[1]);
    // A failed read is returned as it is.
    ASSERT_TRUE(r.openFile(path.c_str(), 16).ok());
    file_hook::failReadAt(3, EIO);
    const std::string got = drain(r, 16);
    file_hook::failReadAt(0, 0);
    EXPECT_EQ(got, text.substr(0, 32) + "!InputOutput");
}
