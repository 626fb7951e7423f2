// Files without a size through the public interface: a FIFO fed by a writer
// thread is read to its end like a regular file, and one that delivers
// nothing, like /dev/null, is an empty file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "rowkit.h"
#include "support/test_files.hpp"

using rowkit_test::lastError;

namespace {

// Makes a FIFO and writes `bytes` into it from a thread, in pieces of `piece`
// bytes, once a reader opens it. The writer ignores a reader that goes away
// (SIGPIPE is blocked on its thread, so a write then fails with EPIPE).
class FifoWriter {
public:
    FifoWriter(const rowkit_test::TempDir &dir, const std::string &name, std::string bytes,
               size_t piece)
        : path_(dir.path() + "/" + name), bytes_(std::move(bytes)), piece_(piece) {
        made_ =
            mkfifo(path_.c_str(), 0600) == 0 && pthread_create(&thread_, nullptr, run, this) == 0;
        EXPECT_TRUE(made_);
    }
    ~FifoWriter() {
        if (!made_) return;
        // A writer still waiting for a reader is let through; its writes fail.
        int fd = open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) close(fd);
        pthread_join(thread_, nullptr);
    }
    const std::string &path() const { return path_; }

private:
    static void *run(void *arg) {
        auto *w = static_cast<FifoWriter *>(arg);
        sigset_t pipe_signal;
        sigemptyset(&pipe_signal);
        sigaddset(&pipe_signal, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);
        int fd = open(w->path_.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd < 0) return nullptr;
        for (size_t at = 0; at < w->bytes_.size();) {
            ssize_t n =
                write(fd, w->bytes_.data() + at, std::min(w->piece_, w->bytes_.size() - at));
            if (n <= 0) break;
            at += static_cast<size_t>(n);
        }
        close(fd);
        return nullptr;
    }

    std::string path_, bytes_;
    size_t piece_;
    pthread_t thread_{};
    bool made_ = false;
};

}  // namespace

TEST(CApiPipe, FifoIsReadToItsEndAndNothingIsAnEmptyFile) {
    rowkit_test::TempDir dir;
    // More than one 256 KiB chunk, written in odd pieces.
    std::string csv = "id,name\n";
    const int rows = 30000;
    for (int i = 0; i < rows; ++i)
        csv += std::to_string(i) + ",name" + std::to_string(i) + "\n";
    ASSERT_GT(csv.size(), 262144u);
    {
        FifoWriter w(dir, "rows.csv", csv, 4099);
        rowkit_test::Rows got = rowkit_test::readFile(w.path());
        ASSERT_EQ(got.size(), size_t(rows));
        EXPECT_EQ(got[12345], (std::vector<std::string>{"12345", "name12345"}));
        EXPECT_EQ(got.back(), (std::vector<std::string>{"29999", "name29999"}));
    }
    {
        // Counting reads the lines without splitting them.
        FifoWriter w(dir, "count.csv", csv, 65537);
        Ctx *ctx = rowkit_open(w.path().c_str(), nullptr);
        ASSERT_NE(ctx, nullptr) << lastError();
        EXPECT_EQ(rowkit_count(ctx), rows);
        rowkit_close(ctx);
    }
    {
        FifoWriter w(dir, "records.ndjson", "{\"a\":1,\"b\":\"x\"}\n{\"b\":\"y\",\"a\":2}\n", 5);
        EXPECT_EQ(rowkit_test::readFile(w.path()), (rowkit_test::Rows{{"1", "x"}, {"2", "y"}}));
    }
    for (const char *name : {"empty.csv", "empty.ndjson"}) {
        FifoWriter w(dir, name, "", 1);
        EXPECT_EQ(rowkit_open(w.path().c_str(), nullptr), nullptr);
        EXPECT_EQ(lastError(), "open failed: EmptyFile") << name;
    }
    EXPECT_EQ(rowkit_open("/dev/null", nullptr), nullptr);
    EXPECT_EQ(lastError(), "open failed: EmptyFile");
}
