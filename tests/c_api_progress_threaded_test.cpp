// Progress reports of the whole-input calls through the public interface:
// every reporting call over files of a few MiB reports the file's size,
// never goes back, ends at the size and runs only on the registering thread,
// also when the parallel collect reads on several threads; no report after
// the callback is removed, and none from another thread's calls. These
// suites start threads; they also run under ThreadSanitizer.
#include <gtest/gtest.h>
#include <pthread.h>

#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "rowkit.h"
#include "support/test_files.hpp"

using rowkit_test::TempDir;

namespace {

// Every report a callback saw, and whether one came on a thread other than
// the one that registered it.
struct Seen {
    pthread_t thread = pthread_self();
    std::vector<std::pair<uint64_t, uint64_t>> calls;  // bytes_done, bytes_total
    bool foreign_thread = false;
};

void record(void *user, uint64_t done, uint64_t total) {
    Seen *seen = static_cast<Seen *>(user);
    if (!pthread_equal(pthread_self(), seen->thread)) {
        seen->foreign_thread = true;
        return;
    }
    seen->calls.emplace_back(done, total);
}

constexpr const char *kSchema = R"({"id": {"type": "integer"}, "score": {"max": 900}})";

// About 3 MiB of rows "id,name,score", some of them invalid for kSchema.
std::string csvText() {
    std::string text = "id,name,score\n";
    for (int i = 0; text.size() < (3u << 20); ++i)
        text += std::to_string(i) + ",name" + std::to_string(i * 7) + "," +
                std::to_string(i % 1000) + "\n";
    return text;
}

// The same rows as JSON records, one per line or in one array.
std::string jsonText(bool array) {
    std::string text = array ? "[\n" : "";
    for (int i = 0; text.size() < (3u << 20); ++i) {
        if (array && i) text += ",\n";
        text += R"({"id":)" + std::to_string(i) + R"(,"name":"name)" + std::to_string(i * 7) +
                R"(","score":)" + std::to_string(i % 1000) + "}";
        if (!array) text += "\n";
    }
    return text + (array ? "\n]\n" : "");
}

struct Files {
    TempDir dir;
    std::string csv_text = csvText();
    std::string csv = dir.write("rows.csv", csv_text);
    std::string ndjson = dir.write("rows.ndjson", jsonText(false));
    std::string array = dir.write("rows.json", jsonText(true));
};

uint64_t sizeOf(const std::string &path) {
    FILE *f = fopen(path.c_str(), "rb");
    if (!f) return 0;
    fseek(f, 0, SEEK_END);
    const long size = ftell(f);
    fclose(f);
    return static_cast<uint64_t>(size);
}

// A call over a handle: run on a handle opened on `path`, it returns
// whether it succeeded.
using HandleCall = std::function<bool(Ctx *)>;

bool freed(void *result, void (*free_fn)(void *)) {
    free_fn(result);
    return result != nullptr;
}

}  // namespace

// Each call, over files of ~3 MiB, reports more than once with the input's
// size as the total, never goes back, ends at the size, and reports only on
// the registering thread (the parallel collect on 3 threads included).
TEST(ProgressTest, EveryWholeInputCallReportsItsInputToTheEnd) {
    Files files;
    const std::string csv_bytes = files.csv_text;
    struct Case {
        const char *name;
        const std::string *path;
        std::function<bool(const std::string &path)> run;
        uint64_t total;  // 0: the file's size
    };
    auto onHandle = [](HandleCall call) {
        return [call](const std::string &path) {
            Ctx *ctx = rowkit_open(path.c_str(), nullptr);
            const bool ok = ctx && call(ctx);
            rowkit_close(ctx);
            return ok;
        };
    };
    AggC agg;
    const Case cases[] = {
        {"count csv", &files.csv, onHandle([](Ctx *c) { return rowkit_count(c) > 0; }), 0},
        {"count array", &files.array, onHandle([](Ctx *c) { return rowkit_count(c) > 0; }), 0},
        {"aggregate ndjson", &files.ndjson,
         onHandle([&](Ctx *c) { return rowkit_aggregate(c, 2, &agg) == 0; }), 0},
        {"topk csv", &files.csv,
         onHandle([](Ctx *c) {
             return freed(rowkit_topk(c, 2, 5, 1), [](void *t) {
                 rowkit_topk_close(static_cast<TopkCtx *>(t));
             });
         }),
         0},
        {"order_by ndjson", &files.ndjson,
         onHandle([](Ctx *c) {
             return freed(rowkit_order_by(c, 0, 1), [](void *o) {
                 rowkit_order_by_close(static_cast<OrderByCtx *>(o));
             });
         }),
         0},
        {"collect csv", &files.csv,
         onHandle([](Ctx *c) {
             return freed(rowkit_collect(c), [](void *r) {
                 rowkit_collect_close(static_cast<CollectCtx *>(r));
             });
         }),
         0},
        {"collect_columnar array", &files.array,
         onHandle([](Ctx *c) {
             return freed(rowkit_collect_columnar(c), [](void *r) {
                 rowkit_collect_columnar_close(static_cast<CollectColumnarCtx *>(r));
             });
         }),
         0},
        {"parallel csv", &files.csv,
         [](const std::string &p) {
             return freed(rowkit_parallel_collect_columnar(p.c_str(), ',', nullptr, 0, 0, 3),
                          [](void *r) {
                              rowkit_collect_columnar_close(static_cast<CollectColumnarCtx *>(r));
                          });
         },
         0},
        {"parallel ndjson", &files.ndjson,
         [](const std::string &p) {
             return freed(rowkit_parallel_collect_columnar(p.c_str(), ',', nullptr, 0, 0, 2),
                          [](void *r) {
                              rowkit_collect_columnar_close(static_cast<CollectColumnarCtx *>(r));
                          });
         },
         0},
        {"parallel array", &files.array,
         [](const std::string &p) {
             return freed(rowkit_parallel_collect_columnar(p.c_str(), ',', nullptr, 0, 0, 2),
                          [](void *r) {
                              rowkit_collect_columnar_close(static_cast<CollectColumnarCtx *>(r));
                          });
         },
         0},
        {"validate csv", &files.csv,
         [](const std::string &p) {
             return freed(rowkit_validate(p.c_str(), kSchema, 0), [](void *r) {
                 rowkit_validate_free(static_cast<ValidationReport *>(r));
             });
         },
         0},
        {"validate_to_files ndjson", &files.ndjson,
         [&](const std::string &p) {
             Stats stats;
             return rowkit_validate_to_files(p.c_str(), kSchema,
                                             (files.dir.path() + "/accepted.csv").c_str(),
                                             (files.dir.path() + "/rejected.ndjson").c_str(),
                                             &stats) == 0;
         },
         0},
        {"validate_outcome path", &files.csv,
         [](const std::string &p) {
             return freed(rowkit_validate_outcome(reinterpret_cast<const uint8_t *>(p.data()),
                                                  p.size(), kSchema, 0, 1),
                          [](void *r) { rowkit_outcome_free(static_cast<char *>(r)); });
         },
         0},
        {"validate_outcome bytes", &files.csv,
         [&](const std::string &) {
             return freed(
                 rowkit_validate_outcome(reinterpret_cast<const uint8_t *>(csv_bytes.data()),
                                         csv_bytes.size(), kSchema, 1, 1),
                 [](void *r) { rowkit_outcome_free(static_cast<char *>(r)); });
         },
         csv_bytes.size()},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const uint64_t total = c.total ? c.total : sizeOf(*c.path);
        ASSERT_GT(total, 2u << 20);
        Seen seen;
        rowkit_set_progress(record, &seen);
        const bool ok = c.run(*c.path);
        rowkit_set_progress(nullptr, nullptr);
        ASSERT_TRUE(ok) << rowkit_test::lastError();
        EXPECT_FALSE(seen.foreign_thread);
        ASSERT_GT(seen.calls.size(), 1u);
        for (size_t i = 0; i < seen.calls.size(); ++i) {
            EXPECT_EQ(seen.calls[i].second, total) << "report " << i;
            if (i) {
                EXPECT_GE(seen.calls[i].first, seen.calls[i - 1].first) << "report " << i;
            }
        }
        EXPECT_EQ(seen.calls.back().first, total);
    }
}

// A handle over a range reports against the range: its last report is what
// rowkit_bytes_read counts at the end, less than the file.
TEST(ProgressTest, RangeHandleReportsTheRange) {
    Files files;
    const uint64_t size = sizeOf(files.csv);
    Ctx *ctx = rowkit_open_range(files.csv.c_str(), nullptr, size / 4, size / 2);
    ASSERT_NE(ctx, nullptr) << rowkit_test::lastError();
    Seen seen;
    rowkit_set_progress(record, &seen);
    EXPECT_GT(rowkit_count(ctx), 0);
    rowkit_set_progress(nullptr, nullptr);
    const uint64_t range = rowkit_bytes_read(ctx);
    rowkit_close(ctx);
    ASSERT_FALSE(seen.calls.empty());
    EXPECT_LT(range, size / 4 + 4096);
    EXPECT_GT(range, size / 4 - 4096);
    EXPECT_EQ(seen.calls.back(), std::make_pair(range, range));
}

// Removing the callback stops the reports, and a call made on another
// thread never reaches this thread's callback, with or without one of its
// own.
TEST(ProgressTest, ReportsStayWithTheRegisteringThreadWhileRegistered) {
    Files files;
    auto validate = [&] {
        ValidationReport *vr = rowkit_validate(files.csv.c_str(), kSchema, 0);
        rowkit_validate_free(vr);
        return vr != nullptr;
    };
    Seen mine;
    rowkit_set_progress(record, &mine);
    Seen theirs;
    bool theirs_ok = false, plain_ok = false;
    std::thread other([&] {
        theirs.thread = pthread_self();
        plain_ok = validate();  // no callback registered on this thread
        rowkit_set_progress(record, &theirs);
        theirs_ok = validate();
        rowkit_set_progress(nullptr, nullptr);
    });
    other.join();
    ASSERT_TRUE(plain_ok && theirs_ok);
    EXPECT_TRUE(mine.calls.empty());
    EXPECT_FALSE(mine.foreign_thread);
    EXPECT_GT(theirs.calls.size(), 1u);
    EXPECT_FALSE(theirs.foreign_thread);

    ASSERT_TRUE(validate());
    EXPECT_GT(mine.calls.size(), 1u);
    rowkit_set_progress(nullptr, &mine);
    mine.calls.clear();
    ASSERT_TRUE(validate());
    Ctx *ctx = rowkit_open(files.csv.c_str(), nullptr);
    EXPECT_GT(rowkit_count(ctx), 0);
    rowkit_close(ctx);
    CollectColumnarCtx *cc =
        rowkit_parallel_collect_columnar(files.csv.c_str(), ',', nullptr, 0, 0, 2);
    EXPECT_NE(cc, nullptr);
    rowkit_collect_columnar_close(cc);
    EXPECT_TRUE(mine.calls.empty());
}
