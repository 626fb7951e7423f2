// Helpers shared by the test suites: a fresh temporary directory per test,
// fixture files written into it, and reading whole results through the C
// interface.
#pragma once

#include <string>
#include <vector>

#include "rowkit.h"

namespace rowkit_test {

// A new directory under $TMPDIR (or /tmp), removed with everything in it
// when the object goes away.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &path() const { return path_; }
    // Writes `bytes` to `name` inside the directory and returns the full path.
    std::string write(const std::string &name, const std::string &bytes) const;

private:
    std::string path_;
};

using Rows = std::vector<std::vector<std::string>>;

// Reads every remaining row of the handle with rowkit_next (fields copied
// with their C-string length). Fails the current test on a -1.
Rows readAll(Ctx *ctx);

// Opens `path`, reads all rows and closes the handle.
Rows readFile(const std::string &path, const COptions *options = nullptr);

// The header names of an open handle.
std::vector<std::string> headerOf(Ctx *ctx);

// Options with no projection, predicates or limit.
COptions defaultOptions();

// The last-error message, or "" when there is none.
std::string lastError();

}  // namespace rowkit_test
