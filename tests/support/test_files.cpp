#include "support/test_files.hpp"

#include <ftw.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace rowkit_test {

TempDir::TempDir() {
    const char *base = getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/rowkit-test-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr) {
        ADD_FAILURE() << "mkdtemp failed";
        return;
    }
    path_ = buf.data();
}

TempDir::~TempDir() {
    if (path_.empty()) return;
    nftw(
        path_.c_str(),
        [](const char *p, const struct stat *, int, struct FTW *) { return remove(p); }, 16,
        FTW_DEPTH | FTW_PHYS);
}

std::string TempDir::write(const std::string &name, const std::string &bytes) const {
    std::string p = path_ + "/" + name;
    FILE *f = fopen(p.c_str(), "wb");
    if (!f) {
        ADD_FAILURE() << "cannot write " << p;
        return p;
    }
    if (!bytes.empty()) fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
    return p;
}

Rows readAll(Ctx *ctx) {
    Rows rows;
    for (;;) {
        const char *const *fields = nullptr;
        size_t n = 0;
        int r = rowkit_next(ctx, &fields, &n);
        if (r == 0) break;
        if (r < 0) {
            ADD_FAILURE() << "rowkit_next failed: " << lastError();
            break;
        }
        std::vector<std::string> row;
        for (size_t i = 0; i < n; ++i) row.emplace_back(fields[i]);
        rows.push_back(std::move(row));
    }
    return rows;
}

Rows readFile(const std::string &path, const COptions *options) {
    Ctx *ctx = rowkit_open(path.c_str(), options);
    if (!ctx) {
        ADD_FAILURE() << "rowkit_open(" << path << ") failed: " << lastError();
        return {};
    }
    Rows rows = readAll(ctx);
    rowkit_close(ctx);
    return rows;
}

std::vector<std::string> headerOf(Ctx *ctx) {
    std::vector<std::string> names;
    for (size_t i = 0; i < rowkit_n_columns(ctx); ++i)
        names.emplace_back(rowkit_column_name(ctx, i));
    return names;
}

COptions defaultOptions() {
    COptions o = ROWKIT_OPTIONS_INIT;
    return o;
}

std::string lastError() {
    const char *m = rowkit_last_error();
    return m ? m : "";
}

}  // namespace rowkit_test
