// The handle types behind the C interface, shared by the c_api_* families.
#pragma once

#include <new>
#include <utility>

#include "alloc.hpp"
#include "field_buffers.hpp"
#include "query.hpp"

#define ROWKIT_EXPORT extern "C" __attribute__((visibility("default")))

namespace rowkit {

// Every handle of the interface is built in a block of the C allocator and
// destroyed by its close function, which accepts NULL. newHandle gives null
// when memory runs out (the caller sets the message).
template <class T, class... Args>
T *newHandle(Args &&...args) {
    void *mem = allocBytes(sizeof(T), alignof(T) > kDefaultAlign ? alignof(T) : kDefaultAlign);
    return mem ? new (mem) T{std::forward<Args>(args)...} : nullptr;
}

template <class T>
void freeHandle(T *handle) {
    if (!handle) return;
    handle->~T();
    freeBytes(handle);
}

// IN-list values copied from the caller: views over blocks this list owns.
struct InValues {
    Vec<std::string_view> items;

    InValues() = default;
    InValues(InValues &&) noexcept = default;
    InValues &operator=(InValues &&) noexcept = default;
    ~InValues() {
        for (std::string_view s : items) freeBytes(const_cast<char *>(s.data()));
    }
};

}  // namespace rowkit

// The scanner handle.
struct Ctx {
    rowkit::Query query;
    rowkit::Vec<rowkit::Predicate> predicates;
    rowkit::Vec<rowkit::InValues> in_values;
    rowkit::FieldBuffers fields;
    rowkit::Vec<rowkit::OwnedStr> header_cstrs;
};
