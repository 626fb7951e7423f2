// The error set, Result<T>, and the process-wide last-error message.
//
// Error names are part of the interface: the C boundary writes them, spelled
// exactly as the enumerators below, into the last-error message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <string_view>
#include <type_traits>
#include <utility>

namespace rowkit {

#define ROWKIT_ERRORS(X)         \
    X(OutOfMemory)               \
    X(RecordTooLarge)            \
    X(TooManyFields)             \
    X(UnterminatedQuote)         \
    X(InvalidJson)               \
    X(NestedValueNotSupported)   \
    X(EmptyFile)                 \
    X(InvalidChunkSize)          \
    X(UnknownColumn)             \
    X(BadSchema)                 \
    X(InvalidBatchSize)          \
    X(ColumnTooLarge)            \
    X(JsonArrayNotSplittable)    \
    X(ValidatorAlreadyStarted)   \
    X(WriteFailed)               \
    X(InvalidUtf8)               \
    X(UnexpectedEnd)             \
    X(UnexpectedToken)           \
    X(ExpectedQuote)             \
    X(ExpectedColon)             \
    X(MalformedString)           \
    X(MalformedKey)              \
    X(InvalidEscape)             \
    X(InvalidUnicodeEscape)      \
    X(TooManyTokens)             \
    X(FileNotFound)              \
    X(AccessDenied)              \
    X(IsDir)                     \
    X(NotRegularFile)            \
    X(PathAlreadyExists)         \
    X(BadPathName)               \
    X(NotDir)                    \
    X(NameTooLong)               \
    X(SymLinkLoop)               \
    X(ProcessFdQuotaExceeded)    \
    X(SystemFdQuotaExceeded)     \
    X(InputOutput)               \
    X(NoSpaceLeft)               \
    X(DiskQuota)                 \
    X(SystemResources)           \
    X(FileTruncated)             \
    X(Unexpected)

enum class Error : uint8_t {
#define ROWKIT_ERROR_ENUM(name) name,
    ROWKIT_ERRORS(ROWKIT_ERROR_ENUM)
#undef ROWKIT_ERROR_ENUM
};

// The exact name of an error, as it appears in messages.
const char *errorName(Error e);

// The library's name for a platform errno value.
Error errorFromErrno(int err);

// Either a value or an error. Move-only when T is.
template <class T>
class [[nodiscard]] Result {
public:
    Result(T v) : ok_(true) { new (&value_) T(std::move(v)); }
    Result(Error e) : ok_(false), error_(e) {}
    Result(const Result &) = delete;
    Result &operator=(const Result &) = delete;
    Result(Result &&o) noexcept : ok_(o.ok_) {
        if (ok_)
            new (&value_) T(std::move(o.value_));
        else
            error_ = o.error_;
    }
    ~Result() {
        if (ok_) value_.~T();
    }

    bool ok() const { return ok_; }
    Error error() const { return error_; }
    T &value() { return value_; }
    const T &value() const { return value_; }
    T &operator*() { return value_; }
    T *operator->() { return &value_; }

private:
    bool ok_;
    union {
        Error error_;
        T value_;
    };
};

// Success with no value, or an error.
class [[nodiscard]] Status {
public:
    Status() = default;
    Status(Error e) : ok_(false), error_(e) {}
    static Status success() { return Status(); }
    bool ok() const { return ok_; }
    Error error() const { return error_; }

private:
    bool ok_ = true;
    Error error_ = Error::Unexpected;
};

// Propagates a failed Status or Result from the enclosing function.
#define ROWKIT_TRY(expr)                        \
    do {                                        \
        auto rowkit_try_status_ = (expr);       \
        if (!rowkit_try_status_.ok()) return rowkit_try_status_.error(); \
    } while (0)

// ---- last-error message and its detail --------------------------------------
//
// Beside the message a failing call may store a detail: a short text saying
// where (file, line, byte offset) or what exactly (the schema's column and
// rule) went wrong. The two are set and cleared together: setting a message
// without a detail leaves none. The detail has a buffer of the message's
// size under the same rules.

inline constexpr size_t kLastErrorCapacity = 512;

// A detail text being composed, in a buffer of its own: the code that knows
// what went wrong fills it, and the C boundary stores it with the message.
// Text that does not fit is not cut: the detail becomes a fixed text, as a
// long message does.
class ErrorDetail {
public:
    ErrorDetail() = default;
    ErrorDetail(const ErrorDetail &) = delete;
    ErrorDetail &operator=(const ErrorDetail &) = delete;

    ErrorDetail &add(std::string_view text);
    ErrorDetail &number(uint64_t value);
    // The text in double quotes, with the quote, the backslash and control
    // bytes escaped as in JSON (\" \\ \n \t \r \u001b ...); other bytes
    // as they are.
    ErrorDetail &quoted(std::string_view text);
    // Forgets what was written.
    void clear() {
        len_ = 0;
        overflow_ = false;
    }

    bool empty() const { return len_ == 0 && !overflow_; }
    bool overflowed() const { return overflow_; }
    std::string_view text() const { return std::string_view(buf_, len_); }

private:
    char buf_[kLastErrorCapacity];
    size_t len_ = 0;
    bool overflow_ = false;
};

// Forgets the stored message and detail.
void clearError();
// Stores a fixed text, with no detail.
void setError(std::string_view text);
// Stores `prefix` followed by the error's name, with no detail.
void setError(std::string_view prefix, Error e);
// The same, with `detail` beside the message (none when it is empty).
void setError(std::string_view text, const ErrorDetail &detail);
void setError(std::string_view prefix, Error e, const ErrorDetail &detail);
// The stored message as a NUL-terminated string, or null when there is none
// (or when the message fills the whole buffer and leaves no room for the NUL).
const char *lastError();
// The stored detail, by the same rules; null when the message has none.
const char *lastErrorDetail();

}  // namespace rowkit
