#include "field_buffers.hpp"

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

namespace {

// Makes `b` hold at least len + 1 bytes. Grows geometrically so that slowly
// lengthening fields do not reallocate on every row; the old text need not
// be kept.
[[gnu::noinline]] bool growBuffer(CStrBuf &b, size_t len) {
    if (len == SIZE_MAX) return false;
    const size_t want = grownCapacity(b.cap, len + 1, 32);
    if (b.data && usableSize(b.data) >= want) {
        b.cap = usableSize(b.data);
        return true;
    }
    char *p = static_cast<char *>(allocBytes(want));
    if (!p) return false;
    freeBytes(b.data);
    b.data = p;
    b.cap = usableSize(p);
    return true;
}

}  // namespace

FieldBuffers::CopyResult FieldBuffers::copyRow(Row row) {
    const size_t n = row.size();
    if ((field_cstrs.size() < n || field_ptrs.size() < n) &&
        !growFieldBuffers(field_cstrs, field_ptrs, n)) [[unlikely]]
        return CopyResult::grow_failed;
    CStrBuf *bufs = field_cstrs.data();
    const char **ptrs = field_ptrs.data();
    for (size_t i = 0; i < n; ++i) {
        const std::string_view f = row[i];
        const size_t len = f.size();
        CStrBuf &b = bufs[i];
        if (b.cap <= len && !growBuffer(b, len)) [[unlikely]]
            return CopyResult::copy_failed;
        char *const d = b.data;
        copyBytes(d, f.data(), len);
        d[len] = '\0';
        ptrs[i] = d;
    }
    return CopyResult::ok;
}

int FieldBuffers::failedHandOut(CopyResult r) {
    setError(r == CopyResult::grow_failed ? "out of memory growing field buffers"
                                          : "out of memory copying row");
    return -1;
}

}  // namespace rowkit
