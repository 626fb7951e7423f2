// The file layer: read-only opens, size queries and reads that retry on EINTR;
// exclusive creation, writes, sync and removal of output files.
// Platform failures come back as the library's error names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "errors.hpp"

namespace rowkit {

// An open file descriptor, closed when the owner goes away.
class FileHandle {
public:
    FileHandle() = default;
    explicit FileHandle(int fd) : fd_(fd) {}
    FileHandle(const FileHandle &) = delete;
    FileHandle &operator=(const FileHandle &) = delete;
    FileHandle(FileHandle &&o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
    FileHandle &operator=(FileHandle &&o) noexcept;
    ~FileHandle() { close(); }

    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    void close();
    // Gives up the descriptor without closing it.
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_ = -1;
};

// Opens `path` read-only (relative paths from the current directory) and
// returns it with its size and kind. A directory fails with IsDir. Only a
// regular file has a size worth anything and byte ranges: a pipe, a FIFO or
// a character device reports 0 whatever it will deliver, and is read from
// start to end.
struct OpenedFile {
    FileHandle file;
    uint64_t size = 0;
    bool regular = false;
};
Result<OpenedFile> openForReading(const char *path);

// The same for a reader: a regular file of zero bytes fails with EmptyFile.
// Other files are not judged by their size; the reader finds out whether
// they hold anything.
Result<OpenedFile> openNonEmpty(const char *path);

// Opens `path` read-only for reads at any offset, which only a regular file
// allows: a directory fails with IsDir, anything else that is not a regular
// file (a pipe, a terminal, a socket, a device) with NotRegularFile. The
// open does not wait for a writer to come to a named pipe.
Result<OpenedFile> openRegularFile(const char *path);

// One read of up to n bytes at `offset` (fewer only at the end of the file),
// retried on EINTR and looped over short reads; 0 means end of file. The
// read is positional (pread): the descriptor's own offset is neither used
// nor moved, so readers may share a descriptor.
Result<size_t> readChunkAt(int fd, char *buf, size_t n, uint64_t offset);

// The same from the descriptor's current position (read), for files that
// have no positions: pipes, FIFOs, character devices.
Result<size_t> readChunk(int fd, char *buf, size_t n);

// ---- output files ----------------------------------------------------------

// A file this process has just created, and the identity (device and inode)
// it had at creation, by which it is told apart from any file that may take
// its name later.
struct CreatedFile {
    FileHandle file;
    uint64_t device = 0;
    uint64_t inode = 0;
};

// Creates `path` (relative paths from the current directory) write-only,
// exclusively (PathAlreadyExists when the name exists, also as a link; an
// existing file is never touched), with permission bits 0666 before the
// umask, close-on-exec.
Result<CreatedFile> createExclusive(const char *path);

// Removes `path` if it still names the file created as `created`, checked
// without following a link; anything else under that name stays. Errors
// are ignored: this runs while another error is being reported.
void removeIfSame(const char *path, const CreatedFile &created);

// Writes all of `bytes`, retrying on EINTR and looping over short writes.
Status writeAll(int fd, std::string_view bytes);

// fsync, then close, both checked (a full disk or a quota can surface only
// there). The handle is closed in every case.
Status syncAndClose(FileHandle &file);

#if ROWKIT_TEST_HOOKS
namespace file_hook {
// Test hook: the nth read from now (1-based) fails with errno `err`; 0 disables.
void failReadAt(uint64_t nth, int err);
// Test hook: the nth output operation from now (each write, fsync and
// close of an output file) fails with errno `err`; 0 disables.
void failOutputAt(uint64_t nth, int err);
}  // namespace file_hook
#endif

}  // namespace rowkit
