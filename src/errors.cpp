#include "errors.hpp"

#include <errno.h>

#include <cstring>

namespace rowkit {

const char *errorName(Error e) {
    switch (e) {
#define ROWKIT_ERROR_NAME(name) \
    case Error::name:           \
        return #name;
        ROWKIT_ERRORS(ROWKIT_ERROR_NAME)
#undef ROWKIT_ERROR_NAME
    }
    return "Unexpected";
}

Error errorFromErrno(int err) {
    switch (err) {
        case ENOENT: return Error::FileNotFound;
        case EACCES:
        case EPERM: return Error::AccessDenied;
        case EISDIR: return Error::IsDir;
        case EEXIST: return Error::PathAlreadyExists;
        case ENOMEM: return Error::OutOfMemory;
        case ENOTDIR: return Error::NotDir;
        case ENAMETOOLONG: return Error::NameTooLong;
        case ELOOP: return Error::SymLinkLoop;
        case EMFILE: return Error::ProcessFdQuotaExceeded;
        case ENFILE: return Error::SystemFdQuotaExceeded;
        case EIO: return Error::InputOutput;
        case ENOSPC: return Error::NoSpaceLeft;
        case EDQUOT: return Error::DiskQuota;
        case EAGAIN: return Error::SystemResources;
        default: return Error::Unexpected;
    }
}

namespace {

// One process-wide message: no lock and no per-thread copy, by design.
char g_last_error_buf[kLastErrorCapacity];
const char *g_last_error = nullptr;
size_t g_last_error_len = 0;

constexpr std::string_view kTooLong = "error (message too long)";

// Bounded writer over the message buffer; remembers whether anything was cut.
struct BoundedWriter {
    size_t len = 0;
    bool overflow = false;
    void write(std::string_view s) {
        if (overflow) return;
        if (s.size() > kLastErrorCapacity - len) {
            overflow = true;
            return;
        }
        if (s.empty()) return;  // s.data() may be null
        std::memcpy(g_last_error_buf + len, s.data(), s.size());
        len += s.size();
    }
};

void finish(const BoundedWriter &w) {
    if (w.overflow) {
        g_last_error = kTooLong.data();
        g_last_error_len = kTooLong.size();
        return;
    }
    if (w.len < kLastErrorCapacity) g_last_error_buf[w.len] = '\0';
    g_last_error = g_last_error_buf;
    g_last_error_len = w.len;
}

}  // namespace

void clearError() {
    g_last_error = nullptr;
    g_last_error_len = 0;
}

void setError(std::string_view text) {
    BoundedWriter w;
    w.write(text);
    finish(w);
}

void setError(std::string_view prefix, Error e) {
    BoundedWriter w;
    w.write(prefix);
    w.write(errorName(e));
    finish(w);
}

const char *lastError() {
    if (!g_last_error) return nullptr;
    // The static fallback text is NUL-terminated; a buffered message needs
    // room for its terminator.
    if (g_last_error == g_last_error_buf && g_last_error_len >= kLastErrorCapacity) return nullptr;
    return g_last_error;
}

}  // namespace rowkit
