// Output files: exclusive creation, removal of only the file that was
// created, and the errors of writes, syncs and closes.
#include "file_io.hpp"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>

#include "support/test_files.hpp"

using namespace rowkit;

namespace {

bool exists(const std::string &path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

}  // namespace

// Whatever takes the created file's name later (another file, a link to the
// created file) is left alone; the created file under its own name goes.
TEST(FileIo, CreatesExclusivelyAndRemovesOnlyTheFileItCreated) {
    rowkit_test::TempDir dir;
    const std::string name = dir.path() + "/out", moved = name + ".moved";
    Result<CreatedFile> created = createExclusive(name.c_str());
    ASSERT_TRUE(created.ok());
    EXPECT_EQ(fcntl(created->file.fd(), F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
    EXPECT_EQ(createExclusive(name.c_str()).error(), Error::PathAlreadyExists);
    ASSERT_EQ(std::rename(name.c_str(), moved.c_str()), 0);
    dir.write("out", "another file");
    removeIfSame(name.c_str(), *created);
    EXPECT_TRUE(exists(name));
    ASSERT_TRUE(unlink(name.c_str()) == 0 && symlink(moved.c_str(), name.c_str()) == 0);
    removeIfSame(name.c_str(), *created);
    EXPECT_TRUE(exists(name) && exists(moved));
    removeIfSame(moved.c_str(), *created);
    EXPECT_FALSE(exists(moved));
    removeIfSame((dir.path() + "/none").c_str(), *created);  // nothing there: nothing happens
}

// A failed write, sync or close gives the platform's error name; the
// descriptor is closed whatever happens.
TEST(FileIo, WriteSyncAndCloseFailures) {
    rowkit_test::TempDir dir;
    // The operations are the write, the sync and the close; an interrupted
    // close is no failure, the data having been synced before.
    const struct {
        uint64_t nth;
        int err;
        std::optional<Error> want;
    } cases[] = {{1, EIO, Error::InputOutput},
                 {2, ENOSPC, Error::NoSpaceLeft},
                 {3, EDQUOT, Error::DiskQuota},
                 {3, EINTR, std::nullopt},
                 {4, EIO, std::nullopt}};
    for (const auto &c : cases) {
        const std::string name = dir.path() + "/f" + std::to_string(c.nth) + std::to_string(c.err);
        Result<CreatedFile> created = createExclusive(name.c_str());
        ASSERT_TRUE(created.ok());
        const int fd = created->file.fd();
        file_hook::failOutputAt(c.nth, c.err);
        const Status written = writeAll(fd, "abc");
        const Status closed = syncAndClose(created->file);
        file_hook::failOutputAt(0, 0);
        std::optional<Error> got;
        if (!written.ok()) got = written.error();
        if (written.ok() && !closed.ok()) got = closed.error();
        EXPECT_EQ(got, c.want) << c.nth << " " << c.err;
        EXPECT_TRUE(fcntl(fd, F_GETFD) == -1 && errno == EBADF) << c.nth;
        EXPECT_FALSE(created->file.isOpen());
    }
}
