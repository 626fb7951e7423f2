// Helpers shared by the test suites: a fresh temporary directory per test,
// fixture files written into it, and reading whole results through the C
// interface, whole results included.
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

// A row-major result as text, then frees it: "<rows>x<cols>:<bytes>"; "!" +
// the message for NULL.
std::string collectText(CollectCtx *cc);

// A columnar result as text, then frees it: "<rows>:", then " <data>/<offsets>"
// for each column (offsets joined by ','), then " (skipped N, emptied M)" when
// either is not 0; "!" + the message for NULL. Checks the offsets' invariants
// and that the accessors refuse a column past the last.
std::string columnarText(CollectColumnarCtx *cc);

}  // namespace rowkit_test
