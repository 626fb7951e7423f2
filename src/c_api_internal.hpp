// The handle types behind the C interface, shared by the c_api_* families.
#pragma once

#include "alloc.hpp"
#include "field_buffers.hpp"
#include "query.hpp"

#define ROWKIT_EXPORT extern "C" __attribute__((visibility("default")))

namespace rowkit {

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
