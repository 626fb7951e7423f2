// Error names, the errno mapping, Result / Status / ROWKIT_TRY and the
// last-error message with its buffer limits.
#include "errors.hpp"

#include <errno.h>
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <utility>

namespace {

using rowkit::Error;
using rowkit::Result;
using rowkit::Status;

TEST(Errors, NamesAreTheEnumeratorSpellings) {
    EXPECT_STREQ(rowkit::errorName(Error::OutOfMemory), "OutOfMemory");
    EXPECT_STREQ(rowkit::errorName(Error::RecordTooLarge), "RecordTooLarge");
    EXPECT_STREQ(rowkit::errorName(Error::UnterminatedQuote), "UnterminatedQuote");
    EXPECT_STREQ(rowkit::errorName(Error::InvalidUnicodeEscape), "InvalidUnicodeEscape");
    EXPECT_STREQ(rowkit::errorName(Error::FileNotFound), "FileNotFound");
    EXPECT_STREQ(rowkit::errorName(Error::ProcessFdQuotaExceeded), "ProcessFdQuotaExceeded");
    EXPECT_STREQ(rowkit::errorName(Error::Unexpected), "Unexpected");

    // Every enumerator: its name is its own spelling, and no two share one.
    std::set<std::string> seen;
    size_t count = 0;
#define CHECK_NAME(name)                                                     \
    {                                                                        \
        const char *got = rowkit::errorName(Error::name);                    \
        ASSERT_NE(got, nullptr);                                             \
        EXPECT_STREQ(got, #name);                                            \
        EXPECT_TRUE(seen.insert(got).second) << "duplicate name " << got;    \
        ++count;                                                             \
    }
    ROWKIT_ERRORS(CHECK_NAME)
#undef CHECK_NAME
    EXPECT_EQ(seen.size(), count);
    EXPECT_EQ(seen.count(""), 0u);
}

TEST(Errors, FromErrno) {
    EXPECT_EQ(rowkit::errorFromErrno(ENOENT), Error::FileNotFound);
    EXPECT_EQ(rowkit::errorFromErrno(EACCES), Error::AccessDenied);
    EXPECT_EQ(rowkit::errorFromErrno(EPERM), Error::AccessDenied);
    EXPECT_EQ(rowkit::errorFromErrno(EISDIR), Error::IsDir);
    EXPECT_EQ(rowkit::errorFromErrno(EEXIST), Error::PathAlreadyExists);
    EXPECT_EQ(rowkit::errorFromErrno(ENOMEM), Error::OutOfMemory);
    EXPECT_EQ(rowkit::errorFromErrno(ENOTDIR), Error::NotDir);
    EXPECT_EQ(rowkit::errorFromErrno(ENAMETOOLONG), Error::NameTooLong);
    EXPECT_EQ(rowkit::errorFromErrno(ELOOP), Error::SymLinkLoop);
    EXPECT_EQ(rowkit::errorFromErrno(EMFILE), Error::ProcessFdQuotaExceeded);
    EXPECT_EQ(rowkit::errorFromErrno(ENFILE), Error::SystemFdQuotaExceeded);
    EXPECT_EQ(rowkit::errorFromErrno(EIO), Error::InputOutput);
    for (int other : {0, EINVAL, EBADF, EFAULT, ENXIO, EXDEV, EROFS, ESPIPE, ETXTBSY, -1, 100000})
        EXPECT_EQ(rowkit::errorFromErrno(other), Error::Unexpected) << "errno " << other;
}

TEST(Errors, LastErrorMessage) {
    rowkit::setError("bad input");
    ASSERT_NE(rowkit::lastError(), nullptr);
    EXPECT_STREQ(rowkit::lastError(), "bad input");
    // Reading the message does not change it.
    EXPECT_STREQ(rowkit::lastError(), "bad input");

    rowkit::setError("open data.csv: ", Error::FileNotFound);
    EXPECT_STREQ(rowkit::lastError(), "open data.csv: FileNotFound");
    rowkit::setError("", Error::OutOfMemory);
    EXPECT_STREQ(rowkit::lastError(), "OutOfMemory");

    // A shorter message after a longer one is not followed by the old tail.
    rowkit::setError("x");
    EXPECT_STREQ(rowkit::lastError(), "x");
    rowkit::setError(std::string_view());
    ASSERT_NE(rowkit::lastError(), nullptr);
    EXPECT_STREQ(rowkit::lastError(), "");

    rowkit::clearError();
    EXPECT_EQ(rowkit::lastError(), nullptr);
    rowkit::clearError();
    EXPECT_EQ(rowkit::lastError(), nullptr);
}

TEST(Errors, LastErrorBufferLimits) {
    static_assert(rowkit::kLastErrorCapacity == 512);
    const std::string fallback = "error (message too long)";

    // 511 bytes and the NUL fill the buffer exactly: returned whole.
    std::string m511(511, 'm');
    m511.front() = '<';
    m511.back() = '>';
    rowkit::setError(m511);
    ASSERT_NE(rowkit::lastError(), nullptr);
    EXPECT_EQ(std::string(rowkit::lastError()), m511);

    // 512 bytes fit the buffer but leave no room for the NUL: no message.
    rowkit::setError(std::string(512, 'm'));
    EXPECT_EQ(rowkit::lastError(), nullptr);

    // Longer: the fixed fallback text.
    for (size_t n : {size_t{513}, size_t{514}, size_t{1000}, size_t{100000}}) {
        rowkit::setError(std::string(n, 'm'));
        ASSERT_NE(rowkit::lastError(), nullptr) << n;
        EXPECT_EQ(rowkit::lastError(), fallback) << n;
    }

    // A short message after the fallback is stored normally again.
    rowkit::setError("short");
    EXPECT_STREQ(rowkit::lastError(), "short");

    // The same limits for prefix + name, including a name that is cut.
    const std::string name = "FileNotFound";
    rowkit::setError(std::string(511 - name.size(), 'p'), Error::FileNotFound);
    ASSERT_NE(rowkit::lastError(), nullptr);
    EXPECT_EQ(std::string(rowkit::lastError()), std::string(511 - name.size(), 'p') + name);
    rowkit::setError(std::string(512 - name.size(), 'p'), Error::FileNotFound);
    EXPECT_EQ(rowkit::lastError(), nullptr);
    rowkit::setError(std::string(513 - name.size(), 'p'), Error::FileNotFound);
    EXPECT_EQ(rowkit::lastError(), fallback);
    rowkit::setError(std::string(510, 'p'), Error::FileNotFound);
    EXPECT_EQ(rowkit::lastError(), fallback);
    rowkit::setError(std::string(600, 'p'), Error::FileNotFound);
    EXPECT_EQ(rowkit::lastError(), fallback);

    rowkit::clearError();
    EXPECT_EQ(rowkit::lastError(), nullptr);
}

// A move-only value that counts its live objects.
struct Owner {
    static inline int alive = 0;
    int value;
    explicit Owner(int v) : value(v) { ++alive; }
    Owner(const Owner &) = delete;
    Owner &operator=(const Owner &) = delete;
    Owner(Owner &&o) noexcept : value(o.value) {
        o.value = -1;
        ++alive;
    }
    ~Owner() { --alive; }
};

Result<Owner> makeOwner(int v) {
    if (v < 0) return Error::InvalidChunkSize;
    return Owner(v);
}

TEST(Errors, ResultWithMoveOnlyValue) {
    {
        Result<Owner> r = makeOwner(7);
        ASSERT_TRUE(r.ok());
        EXPECT_EQ(r.value().value, 7);
        EXPECT_EQ((*r).value, 7);
        EXPECT_EQ(r->value, 7);
        EXPECT_EQ(Owner::alive, 1);

        Result<Owner> moved(std::move(r));
        ASSERT_TRUE(moved.ok());
        EXPECT_EQ(moved->value, 7);
        Owner taken(std::move(moved.value()));
        EXPECT_EQ(taken.value, 7);
        EXPECT_EQ(moved->value, -1);

        Result<Owner> e = makeOwner(-1);
        ASSERT_FALSE(e.ok());
        EXPECT_EQ(e.error(), Error::InvalidChunkSize);
        Result<Owner> e2(std::move(e));
        ASSERT_FALSE(e2.ok());
        EXPECT_EQ(e2.error(), Error::InvalidChunkSize);
        EXPECT_EQ(Owner::alive, 3);  // r and moved (both moved-from) and taken
    }
    EXPECT_EQ(Owner::alive, 0);  // each value destroyed once, no error constructed one

    Status s;
    EXPECT_TRUE(s.ok());
    EXPECT_TRUE(Status::success().ok());
    Status f = Error::WriteFailed;
    EXPECT_FALSE(f.ok());
    EXPECT_EQ(f.error(), Error::WriteFailed);
}

int g_steps = 0;

Status step(bool fail, Error e = Error::UnexpectedEnd) {
    ++g_steps;
    if (fail) return e;
    return Status::success();
}

Status twoSteps(bool fail_first, bool fail_second) {
    ROWKIT_TRY(step(fail_first, Error::EmptyFile));
    ROWKIT_TRY(step(fail_second, Error::InvalidJson));
    return Status::success();
}

// TRY over a Result in a function that itself returns a Result.
Result<int> sumOfOwners(int a, int b) {
    ROWKIT_TRY(makeOwner(a));
    ROWKIT_TRY(twoSteps(false, b < 0));
    return a + b;
}

TEST(Errors, TryPropagates) {
    g_steps = 0;
    EXPECT_TRUE(twoSteps(false, false).ok());
    EXPECT_EQ(g_steps, 2);

    g_steps = 0;
    Status s = twoSteps(true, false);
    ASSERT_FALSE(s.ok());
    EXPECT_EQ(s.error(), Error::EmptyFile);
    EXPECT_EQ(g_steps, 1);  // stopped at the first failure

    g_steps = 0;
    s = twoSteps(false, true);
    ASSERT_FALSE(s.ok());
    EXPECT_EQ(s.error(), Error::InvalidJson);
    EXPECT_EQ(g_steps, 2);

    Result<int> r = sumOfOwners(2, 3);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(*r, 5);
    Result<int> r1 = sumOfOwners(-2, 3);
    ASSERT_FALSE(r1.ok());
    EXPECT_EQ(r1.error(), Error::InvalidChunkSize);
    Result<int> r2 = sumOfOwners(2, -3);
    ASSERT_FALSE(r2.ok());
    EXPECT_EQ(r2.error(), Error::InvalidJson);
    EXPECT_EQ(Owner::alive, 0);
}

}  // namespace
