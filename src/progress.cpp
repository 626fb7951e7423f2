#include "progress.hpp"

namespace rowkit {

namespace progress_detail {
constinit thread_local ProgressTarget *t_target = nullptr;
}

namespace {
thread_local RowkitProgressFn t_fn = nullptr;
thread_local void *t_user = nullptr;
}  // namespace

void setThreadProgress(RowkitProgressFn fn, void *user) {
    t_fn = fn;
    t_user = fn ? user : nullptr;
}

ProgressScope::ProgressScope() : previous_(progress_detail::t_target) {
    if (!t_fn) return;
    target_.fn = t_fn;
    target_.user = t_user;
    progress_detail::t_target = &target_;
}

ProgressScope::ProgressScope(std::atomic<uint64_t> *counter) : previous_(progress_detail::t_target) {
    target_.counter = counter;
    progress_detail::t_target = &target_;
}

}  // namespace rowkit
