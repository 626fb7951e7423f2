#include "errors.hpp"

#include <errno.h>

#include <charconv>
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

// One stored text (the message or its detail) in a buffer of its own.
struct StoredText {
    char buf[kLastErrorCapacity];
    const char *text = nullptr;  // null: none stored
    size_t len = 0;
};

// The process-wide message and detail: no lock and no per-thread copy, by
// design.
StoredText g_message;
StoredText g_detail;

constexpr std::string_view kMessageTooLong = "error (message too long)";
constexpr std::string_view kDetailTooLong = "error (detail too long)";

// Bounded writer over a buffer of kLastErrorCapacity bytes; remembers
// whether anything was cut.
struct BoundedWriter {
    char *buf;
    size_t len = 0;
    bool overflow = false;
    void write(std::string_view s) {
        if (overflow) return;
        if (s.size() > kLastErrorCapacity - len) {
            overflow = true;
            return;
        }
        if (s.empty()) return;  // s.data() may be null
        std::memcpy(buf + len, s.data(), s.size());
        len += s.size();
    }
};

// Stores what `w` wrote into `slot`'s buffer, or the fixed text when it did
// not fit.
void finish(StoredText &slot, const BoundedWriter &w, std::string_view too_long) {
    if (w.overflow) {
        slot.text = too_long.data();
        slot.len = too_long.size();
        return;
    }
    if (w.len < kLastErrorCapacity) slot.buf[w.len] = '\0';
    slot.text = slot.buf;
    slot.len = w.len;
}

void storeDetail(const ErrorDetail *detail) {
    g_detail.text = nullptr;
    g_detail.len = 0;
    if (!detail || detail->empty()) return;
    BoundedWriter w{g_detail.buf};
    if (detail->overflowed())
        w.overflow = true;
    else
        w.write(detail->text());
    finish(g_detail, w, kDetailTooLong);
}

const char *storedText(const StoredText &slot) {
    if (!slot.text) return nullptr;
    // The fixed texts are NUL-terminated; a buffered text needs room for its
    // terminator.
    if (slot.text == slot.buf && slot.len >= kLastErrorCapacity) return nullptr;
    return slot.text;
}

void setMessage(std::string_view prefix, const Error *e, const ErrorDetail *detail) {
    BoundedWriter w{g_message.buf};
    w.write(prefix);
    if (e) w.write(errorName(*e));
    finish(g_message, w, kMessageTooLong);
    storeDetail(detail);
}

}  // namespace

ErrorDetail &ErrorDetail::add(std::string_view text) {
    if (overflow_) return *this;
    if (text.size() > sizeof buf_ - len_) {
        overflow_ = true;
        return *this;
    }
    if (!text.empty()) std::memcpy(buf_ + len_, text.data(), text.size());
    len_ += text.size();
    return *this;
}

ErrorDetail &ErrorDetail::number(uint64_t value) {
    char digits[20];
    auto r = std::to_chars(digits, digits + sizeof digits, value);
    return add(std::string_view(digits, static_cast<size_t>(r.ptr - digits)));
}

ErrorDetail &ErrorDetail::quoted(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    add("\"");
    size_t plain = 0;  // start of the run of bytes not yet written
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c != '"' && c != '\\') continue;
        add(text.substr(plain, i - plain));
        plain = i + 1;
        switch (c) {
            case '"': add("\\\""); break;
            case '\\': add("\\\\"); break;
            case '\n': add("\\n"); break;
            case '\r': add("\\r"); break;
            case '\t': add("\\t"); break;
            default: {
                const char esc[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 15]};
                add(std::string_view(esc, sizeof esc));
            }
        }
    }
    add(text.substr(plain));
    return add("\"");
}

void clearError() {
    g_message.text = nullptr;
    g_message.len = 0;
    g_detail.text = nullptr;
    g_detail.len = 0;
}

void setError(std::string_view text) { setMessage(text, nullptr, nullptr); }

void setError(std::string_view prefix, Error e) { setMessage(prefix, &e, nullptr); }

void setError(std::string_view text, const ErrorDetail &detail) {
    setMessage(text, nullptr, &detail);
}

void setError(std::string_view prefix, Error e, const ErrorDetail &detail) {
    setMessage(prefix, &e, &detail);
}

const char *lastError() { return storedText(g_message); }

const char *lastErrorDetail() { return storedText(g_detail); }

}  // namespace rowkit
