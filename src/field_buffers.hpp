// Reusable per-position C-string buffers through which every row cursor
// hands rows out. Buffers only grow, so steady-state delivery allocates
// nothing.
#pragma once

#include <cstddef>

#include "alloc.hpp"
#include "row.hpp"

namespace rowkit {

// One field position's buffer; `cap` is its usable capacity in bytes.
struct CStrBuf {
    char *data = nullptr;
    size_t cap = 0;
};

// Makes both arrays hold at least n entries (new buffers empty); false when
// memory runs out. Arrays never shrink.
bool growFieldBuffers(Vec<CStrBuf> &field_cstrs, Vec<const char *> &field_ptrs, size_t n);

struct FieldBuffers {
    Vec<CStrBuf> field_cstrs;
    Vec<const char *> field_ptrs;

    FieldBuffers() = default;
    FieldBuffers(FieldBuffers &&) noexcept = default;
    FieldBuffers &operator=(FieldBuffers &&) noexcept = default;
    ~FieldBuffers();

    enum class CopyResult { ok, grow_failed, copy_failed };
    // Copies the row's fields into the buffers, each followed by a NUL, and
    // points field_ptrs at them.
    CopyResult copyRow(Row row);
};

// Sets the message for a failed copyRow.
void setCopyRowError(FieldBuffers::CopyResult r);

}  // namespace rowkit
