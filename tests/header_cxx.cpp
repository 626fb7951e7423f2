// The public header compiles as C++ and the library links from C++.
#include "rowkit.h"

#include <cstdio>
#include <cstring>

int main() {
    const COptions options = ROWKIT_OPTIONS_INIT;
    if (options.limit != -1 || options.max_column != -1 || options.where != nullptr) return 1;
    if (std::strcmp(rowkit_build_mode(), "ReleaseFast") != 0) return 1;
    if (rowkit_open("/nonexistent/x.csv", &options) != nullptr) return 1;
    if (std::strcmp(rowkit_last_error(), "open failed: FileNotFound") != 0) return 1;
    if (rowkit_next(nullptr, nullptr, nullptr) != -1) return 1;
    if (std::strcmp(rowkit_last_error(), "scanner is null") != 0) return 1;
    rowkit_close(nullptr);
    std::puts("header compiles as C++");
    return 0;
}
