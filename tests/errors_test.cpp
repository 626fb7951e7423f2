// Error names, the errno mapping, Result / ROWKIT_TRY and the last-error
// message with its buffer limits.
#include "errors.hpp"

#include <errno.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

using rowkit::Error;
using rowkit::Result;
using rowkit::Status;

TEST(Errors, NamesAreTheEnumeratorSpellings) {
#define CHECK_NAME(name) EXPECT_STREQ(rowkit::errorName(Error::name), #name);
    ROWKIT_ERRORS(CHECK_NAME)
#undef CHECK_NAME
}

TEST(Errors, FromErrno) {
    const std::pair<int, Error> cases[] = {
        {ENOENT, Error::FileNotFound}, {EPERM, Error::AccessDenied}, {EISDIR, Error::IsDir},
        {ENOMEM, Error::OutOfMemory}, {ENOSPC, Error::NoSpaceLeft}, {EIO, Error::InputOutput},
        {EMFILE, Error::ProcessFdQuotaExceeded}, {ENFILE, Error::SystemFdQuotaExceeded},
        {EAGAIN, Error::SystemResources}, {0, Error::Unexpected}, {EINVAL, Error::Unexpected}};
    for (auto [err, want] : cases) EXPECT_EQ(rowkit::errorFromErrno(err), want) << "errno " << err;
}

TEST(Errors, LastErrorMessageAndBufferLimits) {
    rowkit::setError("open data.csv: ", Error::FileNotFound);
    EXPECT_STREQ(rowkit::lastError(), "open data.csv: FileNotFound");
    rowkit::setError("x");  // no tail of the longer message
    EXPECT_STREQ(rowkit::lastError(), "x");
    rowkit::clearError();
    EXPECT_EQ(rowkit::lastError(), nullptr);
    // 511 bytes and the NUL fill the buffer; 512 leave no room for the NUL,
    // so there is no message; anything longer gives a fixed text. The same
    // holds when an error name makes up the end.
    const std::string name = "FileNotFound";
    for (size_t n : {511, 512, 513, 100000}) {
        std::string text(n, 'm'), prefix(n - name.size(), 'p'), named = prefix + name;
        const char *too_long = n == 512 ? nullptr : "error (message too long)";
        rowkit::setError(text);
        EXPECT_STREQ(rowkit::lastError(), n == 511 ? text.c_str() : too_long) << n;
        rowkit::setError(prefix, Error::FileNotFound);
        EXPECT_STREQ(rowkit::lastError(), n == 511 ? named.c_str() : too_long) << n;
    }
}

Result<std::unique_ptr<int>> owner(int v) {
    if (v < 0) return Error::InvalidChunkSize;
    return std::make_unique<int>(v);
}

// Passes a Result, then a Status, through ROWKIT_TRY, counting the steps made.
Result<int> twoSteps(int a, Status second, int *steps) {
    ROWKIT_TRY(owner(a));
    ++*steps;
    ROWKIT_TRY(second);
    ++*steps;
    return a;
}

TEST(Errors, ResultAndTryPropagate) {
    Result<std::unique_ptr<int>> r = owner(7);
    Result<std::unique_ptr<int>> moved(std::move(r));  // LeakSanitizer: each value freed once
    EXPECT_EQ(**moved, 7);
    int steps = 0;
    EXPECT_EQ(*twoSteps(2, Status::success(), &steps), 2);
    EXPECT_EQ(twoSteps(-2, Status::success(), &steps).error(), Error::InvalidChunkSize);
    EXPECT_EQ(twoSteps(2, Error::InvalidJson, &steps).error(), Error::InvalidJson);
    EXPECT_EQ(steps, 3);  // stopped at each failure
}

}  // namespace
