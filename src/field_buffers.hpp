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

    // What a row cursor returns for `row`: copies it, points the caller's
    // outputs (either may be null) at the copies and returns 1; or sets the
    // message ("out of memory growing field buffers", "out of memory copying
    // row") and returns -1, leaving the outputs alone.
    int handOut(Row row, const char *const **out_fields, size_t *out_n) {
        const CopyResult r = copyRow(row);
        if (r != CopyResult::ok) [[unlikely]]
            return failedHandOut(r);
        if (out_fields) *out_fields = field_ptrs.data();
        if (out_n) *out_n = row.size();
        return 1;
    }

private:
    // Sets the message of a failed copy and returns -1.
    static int failedHandOut(CopyResult r);
};

}  // namespace rowkit
