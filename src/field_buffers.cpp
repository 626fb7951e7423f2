#include "field_buffers.hpp"

#include <cstring>

#include "errors.hpp"

namespace rowkit {

namespace {

// Copies a field; short ones with overlapping word moves that read only
// [src, src + len), sparing a library call per field.
inline void copyField(char *dst, const char *src, size_t len) {
    if (len >= 8 && len <= 16) {
        uint64_t a, b;
        std::memcpy(&a, src, 8);
        std::memcpy(&b, src + len - 8, 8);
        std::memcpy(dst, &a, 8);
        std::memcpy(dst + len - 8, &b, 8);
    } else if (len >= 4 && len < 8) {
        uint32_t a, b;
        std::memcpy(&a, src, 4);
        std::memcpy(&b, src + len - 4, 4);
        std::memcpy(dst, &a, 4);
        std::memcpy(dst + len - 4, &b, 4);
    } else if (len < 4) {
        for (size_t i = 0; i < len; ++i) dst[i] = src[i];
    } else {
        std::memcpy(dst, src, len);
    }
}

}  // namespace

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
        copyField(b.data, f.data(), len);
        b.data[len] = '\0';
        ptrs[i] = b.data;
    }
    return CopyResult::ok;
}

int FieldBuffers::failedHandOut(CopyResult r) {
    setError(r == CopyResult::grow_failed ? "out of memory growing field buffers"
                                          : "out of memory copying row");
    return -1;
}

}  // namespace rowkit
