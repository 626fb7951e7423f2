// Allocation failures over whole calls of the public interface, one table
// row per call: the Nth allocation of the call fails, for every N up to the
// last allocation the call makes (a run whose planned failure is never
// reached ends the sweep). Each run must give the clean run's result (the
// failure was absorbed) or one of the call's documented messages; the
// sanitizer build checks that nothing leaks. Calls that drain a handle must
// leave it open with the rows after the failure, never a reading error.
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "alloc.hpp"
#include "rowkit.h"
#include "support/test_files.hpp"

using rowkit_test::lastError;

namespace {

// Rows of every kind (quoted fields, texts that are not numbers, missing
// keys, keys out of order) and one field longer than a read chunk, so that a
// line is assembled across chunks and buffers grow.
struct Inputs {
    rowkit_test::TempDir dir;
    const rowkit_test::SameTable t = rowkit_test::makeSameTable(600, 300);
    const std::string csv = dir.write("in.csv", t.csv), ndjson = dir.write("in.ndjson", t.ndjson),
                      array = dir.write("in.json", t.array);
};

const Inputs &inputs() {
    static const Inputs in;
    return in;
}

// Every remaining row as "f|f|...", one per line; "!" and the message at
// the first -1.
std::string drain(Ctx *ctx) {
    std::string out;
    const char *const *fields;
    size_t n;
    for (int r; (r = rowkit_next(ctx, &fields, &n)) != 0;) {
        if (r < 0) return out + "!" + lastError();
        for (size_t i = 0; i < n; ++i) out += (i ? "|" : "") + std::string(fields[i]);
        out += "\n";
    }
    return out;
}

// One table row: `open` runs before the planned failure (null for calls that
// open nothing), `call` is swept and returns its result or "!" and the
// message, and `documented` lists the messages the call may leave. When
// `drains` is set, a failed call must leave the handle open with a tail of
// the rows after it. A row that sweeps an open has `call` null: the handle
// it opens is read without failures and its rows are the result.
struct SweptCall {
    const char *name;
    std::function<Ctx *()> open;
    std::function<std::string(Ctx *)> call;
    std::set<std::string> documented;
    bool drains = false;
};

const char *const kInList[] = {"ann", "a:b", "x/y", "null", "d\xc3\xa9"};
const CPredicate kWhere[] = {{2, ROWKIT_OP_GTE, "0", nullptr, 0},
                             {1, ROWKIT_OP_IN_LIST, nullptr, kInList, 5}};
const size_t kProjection[] = {3, 0, 2};

COptions filtered() {
    COptions o = ROWKIT_OPTIONS_INIT;
    o.columns = kProjection;
    o.n_columns = 3;
    o.where = kWhere;
    o.n_where = 2;
    return o;
}

std::string aggregateOf(Ctx *ctx) {
    AggC a;
    if (rowkit_aggregate(ctx, 2, &a) != 0) return "!" + lastError();
    return std::to_string(a.count) + " " + std::to_string(a.sum) + " " + std::to_string(a.min) +
           " " + std::to_string(a.max);
}

std::string collectOf(Ctx *ctx) { return rowkit_test::collectText(rowkit_collect(ctx)); }

std::string columnarOf(Ctx *ctx) { return rowkit_test::columnarText(rowkit_collect_columnar(ctx)); }

// The parallel collect on two workers, its allocations failing on whichever
// thread they happen: a worker's failure must never pass for a skipped line.
std::string parallelOf(const std::string &path, bool where) {
    return rowkit_test::columnarText(rowkit_parallel_collect_columnar(
        path.c_str(), ',', where ? kWhere : nullptr, where ? 2 : 0, 1, 2));
}

std::string countOf(Ctx *ctx) {
    const int64_t n = rowkit_count(ctx);
    return n < 0 ? "!" + lastError() : std::to_string(n);
}

std::string reportOf(const std::string &path) {
    ValidationReport *vr = rowkit_validate(
        path.c_str(), R"({"amount":{"type":"float","min":1},"name":{"one_of":["ann","a:b"]}})", 50);
    if (!vr) return "!" + lastError();
    std::string out = rowkit_validate_json(vr);
    rowkit_validate_free(vr);
    return out;
}

std::vector<SweptCall> sweptCalls() {
    const Inputs &in = inputs();
    const std::set<std::string> open_messages = {
        "out of memory allocating predicates", "out of memory allocating IN values",
        "open failed: OutOfMemory", "out of memory allocating scanner context",
        "out of memory allocating header"};
    auto opened = [](const std::string &path, bool with_options) {
        return [path, with_options] {
            const COptions o = filtered();
            return rowkit_open(path.c_str(), with_options ? &o : nullptr);
        };
    };
    const std::set<std::string> collect_messages = {"out of memory allocating collect context",
                                                    "out of memory collecting rows",
                                                    "collect failed: OutOfMemory"};
    const std::set<std::string> columnar_messages = {
        "out of memory allocating columnar collect context", "out of memory collecting rows",
        "collect failed: OutOfMemory"};
    const std::set<std::string> validate_messages = {
        "validate failed: OutOfMemory", "out of memory rendering report", "out of memory"};
    const std::set<std::string> parallel_messages = {
        "out of memory allocating predicates", "out of memory allocating IN values",
        "parallel scan failed: OutOfMemory", "out of memory allocating columnar collect context"};
    return {
        {"open csv", opened(in.csv, true), nullptr, open_messages},
        {"open json array", opened(in.array, false), nullptr, open_messages},
        {"open range",
         [&in] {
             const COptions o = filtered();
             return rowkit_open_range(in.csv.c_str(), &o, 40, 150000);
         },
         nullptr, open_messages},
        {"count csv", opened(in.csv, true), countOf, {"count failed: OutOfMemory"}},
        {"count ndjson", opened(in.ndjson, true), countOf, {"count failed: OutOfMemory"}},
        {"aggregate csv", opened(in.csv, true), aggregateOf, {"aggregate failed: OutOfMemory"}},
        {"aggregate ndjson", opened(in.ndjson, false), aggregateOf,
         {"aggregate failed: OutOfMemory"}},
        {"collect csv", opened(in.csv, false), collectOf, collect_messages, true},
        {"collect ndjson", opened(in.ndjson, true), collectOf, collect_messages, true},
        {"columnar csv", opened(in.csv, true), columnarOf, columnar_messages, true},
        {"columnar json array", opened(in.array, false), columnarOf, columnar_messages, true},
        {"validate json array", nullptr, [&in](Ctx *) { return reportOf(in.array); },
         validate_messages},
        {"parallel columnar csv", nullptr, [&in](Ctx *) { return parallelOf(in.csv, true); },
         parallel_messages},
        {"parallel columnar ndjson", nullptr, [&in](Ctx *) { return parallelOf(in.ndjson, false); },
         parallel_messages},
    };
}

// Runs one table row with the nth allocation of the call failing (0: none).
// Returns the result and whether the planned failure was reached.
std::pair<std::string, bool> runOnce(const SweptCall &c, uint64_t nth, std::string *tail) {
    if (!c.call) {
        rowkit::alloc_hook::reset();
        rowkit::alloc_hook::failAt(nth);
        Ctx *ctx = c.open();
        const bool reached = nth > 0 && rowkit::alloc_hook::count() >= nth;
        const std::string message = lastError();
        rowkit::alloc_hook::reset();
        const std::string got = ctx ? drain(ctx) : "!" + message;
        rowkit_close(ctx);
        return {got, reached};
    }
    Ctx *ctx = c.open ? c.open() : nullptr;
    if (c.open && !ctx) return {"!open: " + lastError(), false};
    rowkit::alloc_hook::reset();
    rowkit::alloc_hook::failAt(nth);
    const std::string got = c.call(ctx);
    const bool reached = nth > 0 && rowkit::alloc_hook::count() >= nth;
    rowkit::alloc_hook::reset();
    *tail = ctx ? drain(ctx) : "";
    rowkit_close(ctx);
    return {got, reached};
}

}  // namespace

TEST(CApiAllocationSweep, EveryAllocationOfEveryCallFailsCleanly) {
    for (const SweptCall &c : sweptCalls()) {
        SCOPED_TRACE(c.name);
        std::string tail, rows;
        if (c.drains) {
            Ctx *ctx = c.open();
            rows = drain(ctx);
            rowkit_close(ctx);
        }
        const std::string expected = runOnce(c, 0, &tail).first;
        ASSERT_NE(expected[0], '!') << expected;
        std::set<std::string> seen;
        uint64_t nth = 1;
        for (;; ++nth) {
            ASSERT_LT(nth, 2000u);
            const auto [got, reached] = runOnce(c, nth, &tail);
            if (!reached) {
                EXPECT_EQ(got, expected) << nth;
                break;
            }
            if (got == expected) continue;
            ASSERT_EQ(got[0], '!') << nth << ": " << got.substr(0, 200);
            const std::string message = got.substr(1);
            EXPECT_TRUE(c.documented.count(message)) << nth << ": " << message;
            seen.insert(message);
            // The handle goes on with the rows after those the call took.
            if (c.drains) {
                EXPECT_TRUE(rows.ends_with(tail)) << nth << ": " << tail.substr(0, 200);
            }
        }
        EXPECT_GT(nth, 2u);
        EXPECT_FALSE(seen.empty());
    }
}
