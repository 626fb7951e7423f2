// Validation into files through the public interface: the two files byte
// for byte, refusal to overwrite, failures before, during and after the
// rows that leave no file behind, allocation and output failures.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "alloc.hpp"
#include "file_io.hpp"
#include "rowkit.h"
#include "support/test_files.hpp"

using namespace rowkit_test;

namespace {

const char *kSchema = R"({"id":{"type":"integer","required":true},"name":{"max_len":3}})";

// A file's bytes, or "<none>" when there is no file of that name.
std::string contents(const std::string &path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return "<none>";
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// One split into dir/acc.csv and dir/rej.jsonl: "stats a/b/c/d" or the
// message, then the two files' contents.
struct Split {
    std::string result, accepted, rejected;
};

Split split(const TempDir &dir, const std::string &input, const char *schema = kSchema,
            const std::string &accepted = "acc.csv", const std::string &rejected = "rej.jsonl") {
    const std::string a = dir.path() + "/" + accepted, r = dir.path() + "/" + rejected;
    Stats stats = {7, 7, 7, 7};
    Split out;
    if (rowkit_validate_to_files(input.c_str(), schema, a.c_str(), r.c_str(), &stats) == 0) {
        EXPECT_EQ(rowkit_last_error(), nullptr);
        out.result = "stats " + std::to_string(stats.rows_total) + "/" +
                     std::to_string(stats.rows_valid) + "/" + std::to_string(stats.rows_invalid) +
                     "/" + std::to_string(stats.errors_total);
    } else {
        EXPECT_TRUE(stats.rows_total == 0 && stats.rows_valid == 0 && stats.rows_invalid == 0 &&
                    stats.errors_total == 0);
        out.result = lastError();
    }
    out.accepted = contents(a);
    out.rejected = contents(r);
    return out;
}

}  // namespace

// Quoting only where a field needs it, CR LF record ends, empty fields, a
// lone empty field, and rejected rows with all their errors.
TEST(CApiValidateFiles, WritesAcceptedCsvAndRejectedLines) {
    TempDir dir;
    Split s = split(dir, dir.write("in.csv",
                                   "id,name,note\n1,ann,\"a,b\"\n2,bob,\"say \"\"hi\"\"\"\n"
                                   "3, x ,a\rb\n4,,\nx,dora,\"q\"\"\"\n6,eve,,extra\n"));
    EXPECT_EQ(s.result, "stats 6/4/2/3");
    EXPECT_EQ(
        s.accepted,
        "id,name,note\r\n1,ann,\"a,b\"\r\n2,bob,\"say \"\"hi\"\"\"\r\n3, x ,\"a\rb\"\r\n4,,\r\n");
    EXPECT_EQ(s.rejected,
              R"({"values":["x","dora","q\""],"errors":[{"row":5,"column":0,"column_name":"id",)"
              R"("rule":"bad_type","value":"x"},{"row":5,"column":1,"column_name":"name",)"
              R"("rule":"too_long","value":"dora"}]})"
              "\n"
              R"({"values":["6","eve","","extra"],"errors":[{"row":6,"column":null,)"
              R"("column_name":"","rule":"too_many_fields","value":""}]})"
              "\n");

    TempDir one;
    EXPECT_EQ(split(one, one.write("in.csv", "a\n\n1\n"), "{}").accepted, "a\r\n\"\"\r\n1\r\n");
    // Text beyond ASCII, in records long and short, passes as it is.
    TempDir utf8;
    EXPECT_EQ(split(utf8, utf8.write("in.csv", "a,b\nl\xc3\xa9o,\xe2\x82\xac\n\xc3\xa9,x\n"), "{}").accepted,
              "a,b\r\nl\xc3\xa9o,\xe2\x82\xac\r\n\xc3\xa9,x\r\n");
    // Records that fill the 64 KiB buffer many times over, and records
    // larger than it, quoted or not.
    TempDir large;
    std::string in = "a,b\n", want = "a,b\r\n";
    for (int i = 0; i < 3000; ++i) {
        const std::string n = std::to_string(i);
        if (i == 1000 || i == 2000) {
            const std::string big(i == 1000 ? 40000 : 70000, i == 1000 ? '"' : 'x');
            in += n + ",\"" + (i == 1000 ? big + big : big) + "\"\n";
            want += n + (i == 1000 ? ",\"" + big + big + "\"\r\n" : "," + big + "\r\n");
        } else {
            in += n + ",\"q\"\"" + n + "\"\n";
            want += n + ",\"q\"\"" + n + "\"\r\n";
        }
    }
    s = split(large, large.write("in.csv", in), "{}");
    EXPECT_TRUE(s.result == "stats 3000/3000/0/0" && s.accepted == want);
    TempDir header_only;
    s = split(header_only, header_only.write("in.csv", "id,name\n"));
    EXPECT_EQ(s.result + "|" + s.accepted + "|" + s.rejected, "stats 0/0/0/0|id,name\r\n|");
    // JSON records: a line feed inside a value is quoted in the CSV file
    // and escaped in the JSON line.
    TempDir records;
    s = split(records, records.write("in.ndjson",
                                     "{\"id\": 1, \"name\": \"a\\nb\"}\n"
                                     "{\"id\": 2, \"name\": \"l\\u00e9o\\t\"}\n"));
    EXPECT_EQ(s.result, "stats 2/1/1/1");
    EXPECT_EQ(s.accepted, "id,name\r\n1,\"a\nb\"\r\n");
    EXPECT_EQ(s.rejected, R"({"values":["2","léo\t"],"errors":[{"row":2,"column":1,)"
                          R"("column_name":"name","rule":"too_long","value":"léo\t"}]})"
                          "\n");
}

// An existing file is never overwritten, whichever of the two it is, and a
// file this call created is removed when the other one cannot be.
TEST(CApiValidateFiles, NeverOverwrites) {
    TempDir dir;
    const std::string in = dir.write("in.csv", "id,name\n1,a\nz,b\n");
    const Split first = split(dir, in);
    ASSERT_EQ(first.result, "stats 2/1/1/1");
    const std::string refused = "validate_to_files failed: PathAlreadyExists";
    Split again = split(dir, in);
    EXPECT_TRUE(again.result == refused && again.accepted == first.accepted &&
                again.rejected == first.rejected);
    again = split(dir, in, kSchema, "new.csv");
    EXPECT_TRUE(again.result == refused && again.accepted == "<none>" &&
                again.rejected == first.rejected);
    again = split(dir, in, kSchema, "same", "same");
    EXPECT_TRUE(again.result == refused && again.accepted == "<none>");
    // A link, even one that points nowhere, is an existing name.
    ASSERT_EQ(symlink("nowhere", (dir.path() + "/link").c_str()), 0);
    again = split(dir, in, kSchema, "x.csv", "link");
    EXPECT_TRUE(again.result == refused && again.accepted == "<none>");
    struct stat st;
    EXPECT_EQ(lstat((dir.path() + "/link").c_str(), &st), 0);
}

// Failures before the first row, midway and at the end of the input leave
// no file; so do output directories that do not exist or cannot be
// written. The files are created with 0666 less the umask.
TEST(CApiValidateFiles, FailuresLeaveNoFile) {
    TempDir dir;
    std::string rows = "id,name\n", big = rows;  // big: more than a 64 KiB buffer of rows
    for (int i = 0; i < 5000; ++i) {
        rows += std::to_string(i) + ",n\n";
        big += std::to_string(i) + ",nnnnnnnnnnnnnnnnnnnn\n";
    }
    const std::string failed = "validate_to_files failed: ";
    const struct {
        std::string input;
        const char *schema;
        std::string message;
    } cases[] = {
        {dir.path() + "/missing.csv", kSchema, "FileNotFound"},
        {dir.write("s.csv", "id\n1\n"), R"({"id":{"type":"int"}})", "BadSchema"},
        {dir.write("h.csv", "id,n\xff\n1,2\n"), "{}", "InvalidUtf8"},
        {dir.write("u.csv", big + "7,\xc3\n8,x\n"), "{}", "InvalidUtf8"},
        {dir.write("q.csv", big + "\"7,x\n"), "{}", "UnterminatedQuote"},
        {dir.write("j.ndjson", "{\"id\": 1}\n{\"id\": \n"), "{}", "InvalidJson"},
    };
    for (const auto &c : cases) {
        const Split s = split(dir, c.input, c.schema);
        EXPECT_EQ(s.result, failed + c.message) << c.input;
        EXPECT_TRUE(s.accepted == "<none>" && s.rejected == "<none>") << c.input;
    }
    const std::string in = dir.write("in.csv", rows);
    EXPECT_EQ(split(dir, in, kSchema, "none/a.csv").result, failed + "FileNotFound");
    EXPECT_EQ(split(dir, in, kSchema, "in.csv/a.csv").result, failed + "NotDir");
    // A directory this process cannot write in; root writes anywhere but in
    // /sys.
    const std::string locked = dir.path() + "/locked";
    ASSERT_EQ(mkdir(locked.c_str(), 0555), 0);
    const std::string unwritable = geteuid() == 0 ? "/sys/rowkit-test.jsonl" : locked + "/r.jsonl";
    Stats stats;
    EXPECT_EQ(rowkit_validate_to_files(in.c_str(), kSchema, (dir.path() + "/a.csv").c_str(),
                                       unwritable.c_str(), &stats),
              -1);
    EXPECT_EQ(lastError(), failed + "AccessDenied");
    EXPECT_EQ(contents(dir.path() + "/a.csv"), "<none>");

    const char *a = "a.csv";
    for (int missing = 0; missing < 5; ++missing) {
        stats = {1, 1, 1, 1};
        EXPECT_EQ(rowkit_validate_to_files(
                      missing == 0 ? nullptr : in.c_str(), missing == 1 ? nullptr : "{}",
                      missing == 2 ? nullptr : a, missing == 3 ? nullptr : a,
                      missing == 4 ? nullptr : &stats),
                  -1);
        EXPECT_EQ(lastError(), "validate_to_files requires input, schema, two outputs and stats");
        EXPECT_EQ(missing < 4 ? stats.rows_total + stats.errors_total : 0u, 0u) << missing;
    }

    const mode_t mask = umask(027);
    const Split s = split(dir, in);
    umask(mask);
    ASSERT_EQ(s.result, "stats 5000/5000/0/0");
    struct stat st;
    ASSERT_EQ(stat((dir.path() + "/rej.jsonl").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

// Every allocation, and every write, sync and close of the outputs, can
// fail: each failure gives its message and leaves no file (and the
// sanitizer build checks that nothing leaks). Rows allocate nothing: a
// longer input costs no more allocations.
TEST(CApiValidateFiles, AllocationAndOutputFailuresLeaveNoFile) {
    TempDir dir;
    auto input = [](int n) {
        std::string rows = "id,name\n";
        for (int i = 0; i < n; ++i)
            rows += std::to_string(i % 10) + (i % 3 ? ",n\n" : ",long\n");
        return rows;
    };
    const std::string in = dir.write("in.csv", input(9000));
    const Split expected = split(dir, in);
    ASSERT_EQ(expected.result, "stats 9000/6000/3000/3000");
    auto removeOutputs = [&] {
        ASSERT_TRUE(std::remove((dir.path() + "/acc.csv").c_str()) == 0 &&
                    std::remove((dir.path() + "/rej.jsonl").c_str()) == 0);
    };
    removeOutputs();
    std::set<std::string> seen;
    for (int pass = 0; pass < 3; ++pass) {
        for (uint64_t nth = 1;; ++nth) {
            if (pass == 0) rowkit::alloc_hook::failAt(nth);
            if (pass > 0) rowkit::file_hook::failOutputAt(nth, pass == 1 ? ENOSPC : EIO);
            const Split s = split(dir, in);
            const bool failed =
                pass == 0 ? rowkit::alloc_hook::count() >= nth : s.result.rfind("stats", 0) != 0;
            rowkit::alloc_hook::reset();
            rowkit::file_hook::failOutputAt(0, 0);
            if (!failed) {
                EXPECT_TRUE(s.result == expected.result && s.accepted == expected.accepted &&
                            s.rejected == expected.rejected);
                removeOutputs();
                break;
            }
            seen.insert(s.result);
            ASSERT_TRUE(s.accepted == "<none>" && s.rejected == "<none>") << s.result << nth;
        }
    }
    EXPECT_EQ(seen, (std::set<std::string>{"validate_to_files failed: OutOfMemory",
                                           "validate_to_files failed: NoSpaceLeft",
                                           "validate_to_files failed: InputOutput"}));

    uint64_t allocations[2];
    for (int n : {100, 3000}) {
        TempDir d;
        const std::string path = d.write("in.csv", input(n));
        rowkit::alloc_hook::reset();
        EXPECT_EQ(split(d, path).result.substr(0, 6), "stats ");
        allocations[n == 3000] = rowkit::alloc_hook::count();
    }
    EXPECT_EQ(allocations[0], allocations[1]);
}
