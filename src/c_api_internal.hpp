// The handle types behind the C interface, shared by the c_api_* families.
#pragma once

#include <new>
#include <span>
#include <utility>

#include "alloc.hpp"
#include "errors.hpp"
#include "field_buffers.hpp"
#include "query.hpp"
#include "rowkit.h"
#include "validate.hpp"

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

enum class HeaderCopy { ok, array_failed, name_failed };

// Copies the header names, each NUL-terminated, into the empty `copies`.
inline HeaderCopy copyHeader(std::span<const OwnedStr> header, Vec<OwnedStr> &copies) {
    if (!copies.reserve(header.size())) return HeaderCopy::array_failed;
    for (const OwnedStr &name : header) {
        OwnedStr copy;
        if (!OwnedStr::copy(name.view(), &copy)) return HeaderCopy::name_failed;
        (void)copies.push(std::move(copy));  // capacity reserved above
    }
    return HeaderCopy::ok;
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

// Where a query's or a validator's reader stands: the file, and the line
// and byte offset of the record last read or failed.
inline void describeWhere(ErrorDetail &detail, const Query &query) {
    describePosition(detail, query.path(), query.position());
}
inline void describeWhere(ErrorDetail &detail, const Validator &validator) {
    validator.describePosition(detail);
}

// Sets `prefix` and the error's name as the message, with where the
// source's reader stood as the detail: the record that failed.
template <class Source>
void setReadError(std::string_view prefix, Error e, const Source &source) {
    ErrorDetail detail;
    describeWhere(detail, source);
    setError(prefix, e, detail);
}

// Builds predicates from the caller's records (rowkit_open's and the
// parallel scan's), copying the IN-list texts into `in_values`, which the
// predicates then refer to. Sets the message ("predicates are null",
// "predicate text is null", "out of memory allocating predicates",
// "out of memory allocating IN values") and returns false on failure.
bool buildPredicates(const CPredicate *where, size_t n_where, Vec<Predicate> &predicates,
                     Vec<InValues> &in_values);

}  // namespace rowkit

// The scanner handle.
struct Ctx {
    rowkit::Query query;
    rowkit::Vec<rowkit::Predicate> predicates;
    rowkit::Vec<rowkit::InValues> in_values;
    rowkit::FieldBuffers fields;
    rowkit::Vec<rowkit::OwnedStr> header_cstrs;
    size_t batch_size_hint = 0;  // length of the last batch taken from it
};

// The streaming validator handle.
struct ValidatorCtx {
    rowkit::Validator validator;
    rowkit::FieldBuffers fields;
    rowkit::ByteBuf errors_json;  // the current row's errors, NUL-terminated
    rowkit::Vec<rowkit::OwnedStr> header_cstrs;
    size_t batch_size_hint = 0;
};

namespace rowkit {

// The start of every call that can fail: clears the message, and sets
// `null_message` and returns false when `required` (the handle, or the path
// of an open) is null.
inline bool enterCall(const void *required, const char *null_message) {
    clearError();
    if (required) return true;
    setError(null_message);
    return false;
}

inline bool enterScannerCall(const Ctx *ctx) {
    return enterCall(ctx, "scanner is null");
}

// The start of the calls that read a file against a schema: both are needed.
inline bool enterSchemaCall(const char *path, const char *schema_json) {
    if (!enterCall(path, "path is null")) return false;
    if (schema_json) return true;
    setError("schema_json is null");
    return false;
}

// A new handle whose `result` takes the value of `computed`; null with the
// message set when `computed` is an error (`failed_prefix` and its name) or
// when the handle cannot be allocated (`alloc_message`).
template <class Handle, class T>
Handle *newResultHandle(Result<T> computed, const char *failed_prefix, const char *alloc_message,
                        const Query &source) {
    if (!computed.ok()) {
        setReadError(failed_prefix, computed.error(), source);
        return nullptr;
    }
    Handle *handle = newHandle<Handle>();
    if (!handle) {
        setError(alloc_message);
        return nullptr;
    }
    handle->result = std::move(*computed);
    return handle;
}

}  // namespace rowkit
