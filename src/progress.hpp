// Progress of the calls that read a whole input. A thread registers a
// callback (rowkit_set_progress); while one of those calls runs on it, a
// ProgressScope points the thread's chunk readers at a target, and every
// refill reports to it. Outside such a call, and on threads without a
// callback, no target is set and a refill pays one read of a thread-local
// pointer (constant-initialised, so without an initialisation check) and
// one test of it.
#pragma once

#include <atomic>
#include <cstdint>

#include "rowkit.h"

namespace rowkit {

// Where the chunk readers of one thread report during one call: the
// registered callback on the calling thread, or a counter shared with it on
// a worker thread of the parallel scan (the callback runs only on the
// thread that registered it).
struct ProgressTarget {
    RowkitProgressFn fn = nullptr;
    void *user = nullptr;
    std::atomic<uint64_t> *counter = nullptr;

    // A reader has consumed `done` of its `total` bytes (0: size unknown),
    // `added` of them since its last report.
    void report(uint64_t done, uint64_t total, uint64_t added) {
        if (counter)
            counter->fetch_add(added, std::memory_order_relaxed);
        else
            fn(user, done, total);
    }
};

namespace progress_detail {
extern constinit thread_local ProgressTarget *t_target;
}

// The target of the whole-input call running on this thread, or null.
inline ProgressTarget *currentProgress() { return progress_detail::t_target; }

// Registers the calling thread's callback (null fn: none).
void setThreadProgress(RowkitProgressFn fn, void *user);

// For the length of a whole-input call: the thread's registered callback
// becomes the target (nothing changes when none is registered), or, on a
// worker thread, `counter`. The previous target comes back at the end, so
// scopes nest.
class ProgressScope {
public:
    ProgressScope();
    explicit ProgressScope(std::atomic<uint64_t> *counter);
    ~ProgressScope() { progress_detail::t_target = previous_; }
    ProgressScope(const ProgressScope &) = delete;
    ProgressScope &operator=(const ProgressScope &) = delete;

private:
    ProgressTarget target_;
    ProgressTarget *previous_;
};

}  // namespace rowkit
