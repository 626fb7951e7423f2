// Files that change size while they are read, between the open and the first
// reads and between chunks, as CSV, JSON lines and a JSON array: a file that
// grows gives the rows it held at the open; one cut shorter gives the rows
// that ended before the cut and then FileTruncated on every later call, never
// a row cut short or made of two versions of the file, and never a hang.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "rowkit.h"
#include "support/test_files.hpp"

namespace {

using rowkit_test::lastError;

// Row i's text: its number and a payload of varying length in letters of
// one version of the file (a lowercase version and an uppercase one), so
// that a row with bytes of both versions, or cut short, reads as wrong.
std::string payload(size_t i, char base) {
    return std::string(20 + i * 37 % 90, static_cast<char>(base + i % 26));
}

enum Form { csv, lines, array };

// Rows `from` to `to` of one version of the file in `form`: CSV lines, JSON
// lines, or the elements of a JSON array.
std::string rows(Form form, size_t from, size_t to, char base) {
    std::string text;
    for (size_t i = from; i < to; ++i)
        text += form == csv ? std::to_string(i) + "," + payload(i, base) + "\n"
                            : "{\"id\":" + std::to_string(i) + ",\"text\":\"" + payload(i, base) +
                                  (form == array && i + 1 < to ? "\"},\n" : "\"}\n");
    return text;
}

// 9000 rows, 650 to 800 KB: three or four chunks of 256 KiB.
constexpr size_t kRows = 9000;

// The whole file in `form`.
std::string wholeFile(Form form, char base) {
    const std::string body = rows(form, 0, kRows, base);
    return form == csv ? "id,text\n" + body : form == lines ? body : "[\n" + body + "]\n";
}

const char *const kNames[] = {"t.csv", "t.ndjson", "t.json"};

void append(const std::string &path, const std::string &bytes) {
    FILE *f = fopen(path.c_str(), "ab");
    ASSERT_NE(f, nullptr);
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

// Reads rows from `ctx` while each is row `*next` of the lowercase version,
// up to `stop` rows; returns what ended the reading: 0 at the end, -1 on a
// failure, 1 when `stop` rows were read. A row of any other text fails the
// test.
int readChecked(Ctx *ctx, size_t *next, size_t stop) {
    while (*next < stop) {
        const char *const *f = nullptr;
        size_t n = 0;
        int r = rowkit_next(ctx, &f, &n);
        if (r != 1) return r;
        EXPECT_TRUE(n == 2 && f[0] == std::to_string(*next) && f[1] == payload(*next, 'a'))
            << "row " << *next << " reads " << (n ? f[0] : "") << " with " << n << " fields";
        ++*next;
    }
    return 1;
}

}  // namespace

// Growth after the open, before the reads and between chunks, is not read
// (rows appended after a JSON array are past its end anyway).
TEST(FileChange, AGrowingFileGivesTheRowsItHeldAtTheOpen) {
    rowkit_test::TempDir dir;
    for (Form form : {csv, lines, array})
        for (size_t grow_after : {size_t{0}, kRows / 2}) {
            const std::string path = dir.write(kNames[form], wholeFile(form, 'a'));
            Ctx *ctx = rowkit_open(path.c_str(), nullptr);
            ASSERT_NE(ctx, nullptr);
            size_t next = 0;
            ASSERT_EQ(readChecked(ctx, &next, grow_after), 1);
            append(path, rows(form, kRows, kRows + 2000, 'a'));
            EXPECT_EQ(readChecked(ctx, &next, SIZE_MAX), 0);
            EXPECT_EQ(next, kRows) << path;
            rowkit_close(ctx);
            // Counting sees the same lines.
            ctx = rowkit_open(path.c_str(), nullptr);
            append(path, "more\n");
            EXPECT_EQ(rowkit_count(ctx), static_cast<int64_t>(kRows + (form == array ? 0 : 2000)));
            rowkit_close(ctx);
        }
}

// A file cut shorter (to nothing, in the middle of a line, or replaced by a
// shorter version with other bytes), before the reads or between chunks:
// the rows read are the first rows of the file as it was, then every call
// fails with FileTruncated.
TEST(FileChange, ACutFileFailsAfterTheRowsBeforeTheCut) {
    rowkit_test::TempDir dir;
    struct Cut {
        size_t after_rows;  // rows read before the file changes
        size_t size;        // its new size
        bool rewrite;       // new bytes of the other version up to that size
        bool count_first = false;  // counting meets the cut, not reading
    };
    const Cut cuts[] = {{0, 0, false},          {0, 300000, false},       {0, 400001, true},
                        {kRows / 2, 520000, false}, {kRows / 2, 600001, true}, {100, 1, false},
                        {0, 300000, false, true}};
    for (Form form : {csv, lines, array})
        for (const Cut &cut : cuts) {
            const std::string path = dir.write(kNames[form], wholeFile(form, 'a'));
            Ctx *ctx = rowkit_open(path.c_str(), nullptr);
            ASSERT_NE(ctx, nullptr);
            size_t next = 0;
            ASSERT_EQ(readChecked(ctx, &next, cut.after_rows), 1);
            if (cut.rewrite)
                dir.write(kNames[form], wholeFile(form, 'A').substr(0, cut.size));
            else
                ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(cut.size)), 0);
            if (!cut.count_first) {
                EXPECT_EQ(readChecked(ctx, &next, SIZE_MAX), -1) << path << " " << cut.size;
                EXPECT_EQ(lastError(), "next failed: FileTruncated");
            }
            // Only rows of the first chunk (read at the open) or, for a later
            // cut, of the chunks before it.
            EXPECT_LT(next, kRows);
            EXPECT_EQ(rowkit_count(ctx), -1);
            EXPECT_EQ(lastError(), "count failed: FileTruncated");
            EXPECT_EQ(rowkit_next(ctx, nullptr, nullptr), -1);
            rowkit_close(ctx);
        }
}
