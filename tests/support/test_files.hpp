// Helpers shared by the test suites: a fresh temporary directory per test,
// fixture files written into it, and reading whole results through the C
// interface, whole results included.
#pragma once

#include <cstdint>
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

// A small deterministic generator of test data: each call gives a number
// below n.
struct Lcg {
    uint64_t x = 0x5eed;
    uint64_t operator()(uint64_t n) {
        x = x * 6364136223846793005ull + 1442695040888963407ull;
        return (x >> 33) % n;
    }
};

// Reads every remaining row of the handle with rowkit_next (fields copied
// with their C-string length). Fails the current test on a -1.
Rows readAll(Ctx *ctx);

// Opens `path`, reads all rows and closes the handle.
Rows readFile(const std::string &path, const COptions *options = nullptr);

// The header names of an open handle.
std::vector<std::string> headerOf(Ctx *ctx);

// The same rows as CSV and both JSON forms, with the header id, name, amount,
// note. Numbers and true are bare, empty text is null or "" or a missing
// key, anything else a string (with raw tabs and UTF-8; every CSV field is
// quoted); keys come in header order mostly (the fast path), reversed
// sometimes (the full path). Row `long_at`'s note is longer than a read chunk.
struct SameTable { std::string csv, ndjson, array; };
SameTable makeSameTable(size_t rows = 150, size_t long_at = SIZE_MAX);

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
