#include "file_io.hpp"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#if ROWKIT_TEST_HOOKS
#include <atomic>
#endif

namespace rowkit {

#if ROWKIT_TEST_HOOKS
namespace file_hook {
// Atomic: the parallel scan's workers read on several threads at once.
namespace {
std::atomic<uint64_t> g_reads{0};
std::atomic<uint64_t> g_fail_read_at{0};
std::atomic<int> g_fail_errno{0};
uint64_t g_outputs = 0;
uint64_t g_fail_output_at = 0;
int g_fail_output_errno = 0;
}  // namespace
void failReadAt(uint64_t nth, int err) {
    g_reads.store(0, std::memory_order_relaxed);
    g_fail_errno.store(err, std::memory_order_relaxed);
    g_fail_read_at.store(nth, std::memory_order_relaxed);
}
void failOutputAt(uint64_t nth, int err) {
    g_outputs = 0;
    g_fail_output_at = nth;
    g_fail_output_errno = err;
}
}  // namespace file_hook
static bool readHookFails() {
    using namespace file_hook;
    const uint64_t at = g_fail_read_at.load(std::memory_order_relaxed);
    if (at == 0) return false;
    if (g_reads.fetch_add(1, std::memory_order_relaxed) + 1 != at) return false;
    g_fail_read_at.store(0, std::memory_order_relaxed);
    errno = g_fail_errno.load(std::memory_order_relaxed);
    return true;
}
static bool outputHookFails() {
    using namespace file_hook;
    if (g_fail_output_at == 0) return false;
    if (++g_outputs != g_fail_output_at) return false;
    g_fail_output_at = 0;
    errno = g_fail_output_errno;
    return true;
}
#else
static bool readHookFails() { return false; }
static bool outputHookFails() { return false; }
#endif

FileHandle &FileHandle::operator=(FileHandle &&o) noexcept {
    if (this != &o) {
        close();
        fd_ = o.fd_;
        o.fd_ = -1;
    }
    return *this;
}

void FileHandle::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

// open(2), tried again while a signal interrupts it.
static int openRetrying(const char *path, int flags, mode_t mode = 0) {
    int fd;
    do {
        fd = ::open(path, flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Opens `path` with `flags` and learns what it is: IsDir for a directory,
// the size for a regular file.
static Result<OpenedFile> openAndStat(const char *path, int flags) {
    const int fd = openRetrying(path, flags);
    if (fd < 0) return errorFromErrno(errno);
    OpenedFile out;
    out.file = FileHandle(fd);
    struct stat st;
    if (fstat(fd, &st) != 0) return errorFromErrno(errno);
    if (S_ISDIR(st.st_mode)) return Error::IsDir;
    out.regular = S_ISREG(st.st_mode);
    out.size = out.regular ? static_cast<uint64_t>(st.st_size) : 0;
    return out;
}

Result<OpenedFile> openForReading(const char *path) {
    return openAndStat(path, O_RDONLY | O_CLOEXEC);
}

Result<OpenedFile> openRegularFile(const char *path) {
    // Without O_NONBLOCK, opening a named pipe blocks until a writer opens
    // it; the flag changes nothing for a regular file's reads, and it is
    // cleared once the file is known to be one.
    Result<OpenedFile> opened = openAndStat(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (!opened.ok()) return opened.error();
    if (!opened->regular) return Error::NotRegularFile;
    const int fd = opened->file.fd();
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return errorFromErrno(errno);
    return opened;
}

Result<OpenedFile> openNonEmpty(const char *path) {
    auto opened = openForReading(path);
    if (!opened.ok()) return opened.error();
    if (opened->regular && opened->size == 0) return Error::EmptyFile;
    return opened;
}

namespace {

// Reads until n bytes or the end of the file; positional when `offset` is
// given.
Result<size_t> readFull(int fd, char *buf, size_t n, const uint64_t *offset) {
    size_t got = 0;
    while (got < n) {
        if (readHookFails()) return errorFromErrno(errno);
        ssize_t r = offset ? ::pread(fd, buf + got, n - got, static_cast<off_t>(*offset + got))
                           : ::read(fd, buf + got, n - got);
        if (r < 0) {
            if (errno == EINTR) continue;
            return errorFromErrno(errno);
        }
        if (r == 0) break;
        got += static_cast<size_t>(r);
    }
    return got;
}

}  // namespace

Result<size_t> readChunkAt(int fd, char *buf, size_t n, uint64_t offset) {
    return readFull(fd, buf, n, &offset);
}

Result<size_t> readChunk(int fd, char *buf, size_t n) { return readFull(fd, buf, n, nullptr); }

}  // namespace rowkit

namespace rowkit {

Result<CreatedFile> createExclusive(const char *path) {
    const int fd = openRetrying(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return errorFromErrno(errno);
    CreatedFile out;
    out.file = FileHandle(fd);
    struct stat st;
    // Without its identity the new file could not be removed safely; it
    // stays (empty) and the error is reported.
    if (fstat(fd, &st) != 0) return errorFromErrno(errno);
    out.device = static_cast<uint64_t>(st.st_dev);
    out.inode = static_cast<uint64_t>(st.st_ino);
    return out;
}

void removeIfSame(const char *path, const CreatedFile &created) {
    struct stat st;
    if (fstatat(AT_FDCWD, path, &st, AT_SYMLINK_NOFOLLOW) != 0) return;
    if (static_cast<uint64_t>(st.st_dev) != created.device ||
        static_cast<uint64_t>(st.st_ino) != created.inode)
        return;
    (void)unlinkat(AT_FDCWD, path, 0);
}

Status writeAll(int fd, std::string_view bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        if (outputHookFails()) return errorFromErrno(errno);
        const ssize_t w = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (w < 0) {
            if (errno == EINTR) continue;
            return errorFromErrno(errno);
        }
        if (w == 0) return Error::WriteFailed;  // no progress and no reason given
        done += static_cast<size_t>(w);
    }
    return Status();
}

Status syncAndClose(FileHandle &file) {
    const int fd = file.fd();
    Error error = Error::Unexpected;
    bool failed = false;
    if (outputHookFails() || ::fsync(fd) != 0) {
        failed = true;
        error = errorFromErrno(errno);
    }
    // The descriptor is released even when close reports an error, so it is
    // never retried; EINTR says only that the close was interrupted, after
    // the data was already synced.
    (void)file.release();
    int closed = ::close(fd);
    int close_errno = errno;
    if (outputHookFails()) {
        closed = -1;
        close_errno = errno;
    }
    if (closed != 0 && close_errno != EINTR && !failed) {
        failed = true;
        error = errorFromErrno(close_errno);
    }
    if (failed) return error;
    return Status();
}

}  // namespace rowkit
