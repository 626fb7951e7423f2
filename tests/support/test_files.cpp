#include "support/test_files.hpp"

#include <ftw.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
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

namespace {

// `v` in quotes, with `esc` before each byte of it that is in `special`.
std::string quoted(std::string v, const char *special, char esc) {
    for (size_t i = v.size(); i-- > 0;) if (std::strchr(special, v[i])) v.insert(i, 1, esc);
    return "\"" + v + "\"";
}

}  // namespace

SameTable makeSameTable(size_t rows, size_t long_at) {
    const std::vector<std::string> header = {"id", "name", "amount", "note"},
                                   names = {"ann",       "bob, jr",     "say \"hi\"", "d\xc3\xa9",
                                            "{[x]}",     "a:b",         "",           "null",
                                            "tab\there", "back\\slash", "x/y"},
                                   amounts = {"34",  "-3",   "41.5", "",    "abc",
                                              "1e2", "0x10", "7",    "true"},
                                   notes = {"x", "", "one, two", "}", "\"q\"", "7", "[1]", "z"};
    SameTable t{"id,name,amount,note\n", "", "[\n"};
    for (size_t i = 0; i < rows; ++i) {
        const std::string note = i == long_at ? std::string(300000, 'w') : notes[i % notes.size()];
        const std::string row[] = {std::to_string(i), names[i % names.size()],
                                   amounts[i % amounts.size()], note};
        std::string obj = "{";
        for (size_t c = 0; c < 4; ++c) {
            t.csv += (c ? "," : "") + quoted(row[c], "\"", '"');  // every CSV field quoted
            const size_t k = i % 4 == 1 ? 3 - c : c;
            const std::string &v = row[k];
            if (i % 5 == 2 && v.empty()) continue;
            obj +=
                (obj.size() > 1 ? i % 6 == 0 ? ", " : "," : "") + ("\"" + header[k] + "\":") +
                (std::string(" 34 -3 41.5 1e2 7 true ").find(" " + v + " ") != std::string::npos ? v
                 : v.empty() ? (i % 2 ? "null" : "\"\"")
                             : quoted(v, "\"\\", '\\'));
        }
        t.csv += "\n", t.ndjson += obj + "}\n",
            t.array += (i ? (i % 3 ? ",\n  " : ", ") : "  ") + obj + "}";
    }
    return t.array += "\n]\n", t;
}

std::string lastError() {
    const char *m = rowkit_last_error();
    return m ? m : "";
}

namespace {

std::string bytes(const uint8_t *p, size_t len) {
    EXPECT_EQ(p == nullptr, len == 0);
    return p ? std::string(reinterpret_cast<const char *>(p), len) : "";
}

}  // namespace

std::string collectText(CollectCtx *cc) {
    if (!cc) return "!" + lastError();
    EXPECT_EQ(rowkit_last_error(), nullptr);
    size_t len = 12345;
    const uint8_t *p = rowkit_collect_data(cc, &len);
    std::string out = std::to_string(rowkit_collect_n_rows(cc)) + "x" +
                      std::to_string(rowkit_collect_n_cols(cc)) + ":" + bytes(p, len);
    rowkit_collect_close(cc);
    return out;
}

std::string columnarText(CollectColumnarCtx *cc) {
    if (!cc) return "!" + lastError();
    EXPECT_EQ(rowkit_last_error(), nullptr);
    const size_t rows = rowkit_collect_columnar_n_rows(cc),
                 cols = rowkit_collect_columnar_n_cols(cc);
    std::string out = std::to_string(rows) + ":";
    for (size_t c = 0, len = 12345, n_off = 0; c < cols; ++c) {
        const uint8_t *d = rowkit_collect_columnar_data(cc, c, &len);
        const uint32_t *o = rowkit_collect_columnar_offsets(cc, c, &n_off);
        EXPECT_NE(o, nullptr);
        EXPECT_EQ(n_off, rows + 1);
        if (o && n_off == rows + 1) {
            EXPECT_EQ(o[0], 0u);
            EXPECT_EQ(o[rows], len);
            EXPECT_TRUE(std::is_sorted(o, o + n_off));
        }
        out += " " + bytes(d, len) + "/";
        for (size_t i = 0; o && i < n_off; ++i) out += (i ? "," : "") + std::to_string(o[i]);
    }
    size_t len = 99;  // past the last column
    EXPECT_EQ(rowkit_collect_columnar_data(cc, cols, &len), nullptr);
    EXPECT_EQ(rowkit_collect_columnar_offsets(cc, cols, &len), nullptr);
    EXPECT_EQ(len, 99u);
    const size_t skipped = rowkit_collect_columnar_n_skipped_lines(cc),
                 emptied = rowkit_collect_columnar_n_emptied_values(cc);
    if (skipped || emptied)
        out += " (skipped " + std::to_string(skipped) + ", emptied " + std::to_string(emptied) +
               ")";
    rowkit_collect_columnar_close(cc);
    return out;
}

}  // namespace rowkit_test
