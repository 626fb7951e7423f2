#include "field_buffers.hpp"

#include <cstring>

#include "errors.hpp"

namespace rowkit {

bool growFieldBuffers(Vec<CStrBuf> &field_cstrs, Vec<const char *> &field_ptrs, size_t n) {
    if (field_cstrs.size() < n && !field_cstrs.resize(n)) return false;
    if (field_ptrs.size() < n && !field_ptrs.resize(n)) return false;
    return true;
}

FieldBuffers::~FieldBuffers() {
    for (CStrBuf &b : field_cstrs) freeBytes(b.data);
}

FieldBuffers::CopyResult FieldBuffers::copyRow(Row row) {
    const size_t n = row.size();
    if (!growFieldBuffers(field_cstrs, field_ptrs, n)) return CopyResult::grow_failed;
    CStrBuf *bufs = field_cstrs.data();
    const char **ptrs = field_ptrs.data();
    for (size_t i = 0; i < n; ++i) {
        const std::string_view f = row[i];
        const size_t len = f.size();
        CStrBuf &b = bufs[i];
        if (b.cap <= len) {
            if (len == SIZE_MAX) return CopyResult::copy_failed;
            // Grow geometrically so that slowly lengthening fields do not
            // reallocate on every row; the old text need not be kept.
            size_t want = grownCapacity(b.cap, len + 1, 32);
            if (b.data && usableSize(b.data) >= want) {
                b.cap = usableSize(b.data);
            } else {
                char *p = static_cast<char *>(allocBytes(want));
                if (!p) return CopyResult::copy_failed;
                freeBytes(b.data);
                b.data = p;
                b.cap = usableSize(p);
            }
        }
        if (len) std::memcpy(b.data, f.data(), len);
        b.data[len] = '\0';
        ptrs[i] = b.data;
    }
    return CopyResult::ok;
}

void setCopyRowError(FieldBuffers::CopyResult r) {
    if (r == FieldBuffers::CopyResult::grow_failed)
        setError("out of memory growing field buffers");
    else
        setError("out of memory copying row");
}

}  // namespace rowkit
