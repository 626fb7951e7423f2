// Runs a function on a thread with a small stack, to show that some work
// never needs more than that.
#pragma once

#include <pthread.h>

#include <cstddef>
#include <functional>

namespace rowkit_test {

// The small stack such tests use. Sanitizer builds make every frame several
// times larger, so they get more room.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr size_t kSmallStack = 1024 * 1024;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
inline constexpr size_t kSmallStack = 1024 * 1024;
#else
inline constexpr size_t kSmallStack = 256 * 1024;
#endif
#else
inline constexpr size_t kSmallStack = 256 * 1024;
#endif

// Runs fn on a new thread whose stack is `bytes` long and waits for it.
// False when the thread could not be started.
inline bool runOnStack(size_t bytes, std::function<void()> fn) {
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) return false;
    pthread_t t;
    auto body = [](void *arg) -> void * {
        (*static_cast<std::function<void()> *>(arg))();
        return nullptr;
    };
    bool ok =
        pthread_attr_setstacksize(&attr, bytes) == 0 && pthread_create(&t, &attr, body, &fn) == 0;
    if (ok) pthread_join(t, nullptr);
    pthread_attr_destroy(&attr);
    return ok;
}

}  // namespace rowkit_test
