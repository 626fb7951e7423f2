// The errno mapping, Result / ROWKIT_TRY and the last-error
// message with its buffer limits.
#include "errors.hpp"

#include <errno.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

using rowkit::Error;

TEST(Errors, ErrnoMapsToTheErrors) {
    for (auto [err, want] : {std::pair{ENOENT, Error::FileNotFound}, {EPERM, Error::AccessDenied},
                             {EISDIR, Error::IsDir}, {ENOMEM, Error::OutOfMemory},
                             {ENOSPC, Error::NoSpaceLeft}, {EDQUOT, Error::DiskQuota},
                             {EIO, Error::InputOutput},
                             {EMFILE, Error::ProcessFdQuotaExceeded},
                             {ENFILE, Error::SystemFdQuotaExceeded},
                             {EAGAIN, Error::SystemResources}, {0, Error::Unexpected},
                             {EINVAL, Error::Unexpected}})
        EXPECT_EQ(rowkit::errorFromErrno(err), want) << "errno " << err;
}

// 511 bytes and the NUL fill the buffer; 512 leave no room for the NUL, so
// there is no message; anything longer gives a fixed text. The same holds
// when an error name makes up the end.
TEST(Errors, LastErrorMessageAndBufferLimits) {
    rowkit::setError("open data.csv: ", Error::FileNotFound);
    EXPECT_STREQ(rowkit::lastError(), "open data.csv: FileNotFound");
    for (size_t n : {511, 512, 513}) {
        std::string text(n, 'm'), prefix(n - 12, 'p'), named = prefix + "FileNotFound";
        const char *too_long = n == 512 ? nullptr : "error (message too long)";
        rowkit::setError(text);
        EXPECT_STREQ(rowkit::lastError(), n == 511 ? text.c_str() : too_long) << n;
        rowkit::setError(prefix, Error::FileNotFound);
        EXPECT_STREQ(rowkit::lastError(), n == 511 ? named.c_str() : too_long) << n;
        rowkit::setError("x");  // no tail of the longer message
        EXPECT_STREQ(rowkit::lastError(), "x");
    }
    rowkit::clearError();
    EXPECT_EQ(rowkit::lastError(), nullptr);
}

// The detail lives and dies with the message, has a buffer of the same
// size and the same rules, and quotes names as JSON strings.
TEST(Errors, DetailBesideTheMessage) {
    rowkit::ErrorDetail detail;
    detail.add("column ").quoted("a\"b\\c\n\x01\xc3\xa9").add(" at ").number(18446744073709551615u);
    rowkit::setError("validate failed: ", Error::BadSchema, detail);
    EXPECT_STREQ(rowkit::lastError(), "validate failed: BadSchema");
    EXPECT_STREQ(rowkit::lastErrorDetail(),
                 "column \"a\\\"b\\\\c\\n\\u0001\xc3\xa9\" at 18446744073709551615");
    rowkit::setError("scanner is null");  // a message without detail drops the old one
    EXPECT_EQ(rowkit::lastErrorDetail(), nullptr);
    rowkit::ErrorDetail empty;
    rowkit::setError("x", empty);
    EXPECT_EQ(rowkit::lastErrorDetail(), nullptr);
    for (size_t n : {511, 512, 513, 2000}) {
        rowkit::ErrorDetail d;
        const std::string text(n, 'd');
        d.add(text.substr(0, n / 2)).add(text.substr(n / 2));
        rowkit::setError("next failed: ", Error::InvalidJson, d);
        EXPECT_STREQ(rowkit::lastError(), "next failed: InvalidJson");
        const char *want = n == 511 ? text.c_str() : n == 512 ? nullptr : "error (detail too long)";
        EXPECT_STREQ(rowkit::lastErrorDetail(), want) << n;
    }
    rowkit::clearError();
    EXPECT_EQ(rowkit::lastError(), nullptr);
    EXPECT_EQ(rowkit::lastErrorDetail(), nullptr);
}

// ROWKIT_TRY passes on the first failure, of a Result or of a Status; a
// moved Result frees its value once (LeakSanitizer).
TEST(Errors, ResultAndTryPropagate) {
    auto twoSteps = [](int a, rowkit::Status second) -> rowkit::Result<int> {
        ROWKIT_TRY(a < 0 ? rowkit::Result<int>(Error::InvalidChunkSize) : rowkit::Result<int>(a));
        ROWKIT_TRY(second);
        return a;
    };
    rowkit::Result<std::unique_ptr<int>> r = std::make_unique<int>(7), moved(std::move(r));
    EXPECT_EQ(**moved, 7);
    EXPECT_EQ(*twoSteps(2, rowkit::Status::success()), 2);
    EXPECT_EQ(twoSteps(-2, rowkit::Status::success()).error(), Error::InvalidChunkSize);
    EXPECT_EQ(twoSteps(2, Error::InvalidJson).error(), Error::InvalidJson);
}

}  // namespace
