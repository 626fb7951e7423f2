#include "collect.hpp"

#include <cstring>
#include <utility>

#if ROWKIT_TEST_HOOKS
#include <atomic>
#endif

namespace rowkit {

#if ROWKIT_TEST_HOOKS
namespace collect_hook {
namespace {
std::atomic<size_t> g_column_limit{kMaxColumnBytes};
}
void setColumnLimit(size_t n) {
    g_column_limit.store(n == 0 || n > kMaxColumnBytes ? kMaxColumnBytes : n,
                         std::memory_order_relaxed);
}
size_t columnLimit() { return g_column_limit.load(std::memory_order_relaxed); }
}  // namespace collect_hook
#endif

// ---- growth ----------------------------------------------------------------

namespace {

// Results grow by doubling while small and by four times once past 1 MiB.
// Every growth moves the array to a fresh block whose pages the kernel must
// supply and the copy touches; in a large collect those faults cost as much
// as reading the rows, and the larger step cuts them by about a sixth. The
// part of a block a step leaves unused is address space, never touched. When
// the larger block cannot be had, growth falls back to doubling.
constexpr size_t kQuadrupleFromBytes = size_t{1} << 20;

template <class T>
bool growFor(Vec<T> &v, size_t extra) {
    if (extra <= v.capacity() - v.size()) return true;
    if (v.capacity() >= kQuadrupleFromBytes / sizeof(T) && extra <= SIZE_MAX / sizeof(T) - v.size()) {
        const size_t need = v.size() + extra;
        size_t cap = v.capacity();
        while (cap < need && cap <= SIZE_MAX / sizeof(T) / 4) cap *= 4;
        if (cap >= need && v.reserve(cap)) return true;
    }
    return v.reserveMore(extra);
}

}  // namespace

// ---- ColumnBuf -------------------------------------------------------------

Status ColumnBuf::appendValueGrowing(std::string_view value) {
    const size_t used = data.size();
    if (value.size() > columnByteLimit() - used) return Error::ColumnTooLarge;
    if (!growFor(data, value.size())) return Error::OutOfMemory;
    (void)data.append(value.data(), value.size());
    if (!growFor(offsets, 1) || !offsets.push(static_cast<uint32_t>(data.size()))) {
        data.truncate(used);
        return Error::OutOfMemory;
    }
    return Status::success();
}

Status ColumnBuf::appendColumn(const ColumnBuf &other) {
    const size_t n = other.rows();
    if (n == 0) return Status::success();
    const size_t used = data.size();
    if (other.data.size() > columnByteLimit() - used) return Error::ColumnTooLarge;
    if (!offsets.reserveMore(n)) return Error::OutOfMemory;
    if (!data.append(other.data.data(), other.data.size())) return Error::OutOfMemory;
    // The offsets after the first (0), moved up as they are copied, in one
    // pass, four at a time as a generic vector of the compiler (vector adds
    // on every target). The sums stay within the limit checked above, so
    // they fit in 32 bits.
    typedef uint32_t Four __attribute__((vector_size(16)));
    const uint32_t base = static_cast<uint32_t>(used);
    const uint32_t *from = other.offsets.data() + 1;
    uint32_t *to = offsets.data() + offsets.size();
    size_t r = 0;
    for (; r + 4 <= n; r += 4) {
        Four v;
        std::memcpy(&v, from + r, sizeof v);
        v += base;
        std::memcpy(to + r, &v, sizeof v);
    }
    for (; r < n; ++r) to[r] = from[r] + base;
    offsets.commit(n);
    return Status::success();
}

void ColumnBuf::deinit() {
    data = ByteBuf();
    offsets = Vec<uint32_t>();
}

Result<Vec<ColumnBuf>> newColumnBufs(size_t n) {
    Vec<ColumnBuf> columns;
    if (!columns.resize(n)) return Error::OutOfMemory;
    for (ColumnBuf &c : columns) {
        // On failure `columns` frees everything allocated so far.
        if (!c.offsets.push(0)) return Error::OutOfMemory;
    }
    return columns;
}

void deinitColumnBufs(Vec<ColumnBuf> &columns) { columns = Vec<ColumnBuf>(); }

// ---- row-major -------------------------------------------------------------

bool appendRowMajorRow(CollectCtx &cc, Row row) {
    const size_t n_cols = cc.n_cols;
    const size_t present = row.size() < n_cols ? row.size() : n_cols;
    // Every field position contributes its bytes and a NUL; missing fields
    // contribute the NUL alone.
    size_t need = n_cols;
    for (size_t i = 0; i < present; ++i) {
        if (__builtin_add_overflow(need, row[i].size(), &need)) return false;
    }
    // With the whole row reserved up front the appends below cannot fail, so
    // a failure leaves the result unchanged.
    if (!growFor(cc.buf, need)) return false;
    for (size_t i = 0; i < present; ++i) {
        (void)appendView(cc.buf, row[i]);
        (void)cc.buf.push('\0');
    }
    for (size_t i = present; i < n_cols; ++i) (void)cc.buf.push('\0');
    ++cc.n_rows;
    return true;
}

// ---- columnar --------------------------------------------------------------

namespace {

[[gnu::always_inline]] inline Status appendRow(ColumnBuf *column, size_t n_cols, Row row) {
    const size_t present = row.size() < n_cols ? row.size() : n_cols;
    for (size_t i = 0; i < present; ++i) ROWKIT_TRY(column[i].appendValue(row[i]));
    for (size_t i = present; i < n_cols; ++i) ROWKIT_TRY(column[i].appendValue(std::string_view()));
    return Status::success();
}

}  // namespace

Status appendRowToColumns(std::span<ColumnBuf> columns, Row row) {
    return appendRow(columns.data(), columns.size(), row);
}

Status appendColumnarRow(CollectColumnarCtx &cc, Row row) {
    ROWKIT_TRY(appendRow(cc.columns.data(), cc.n_cols, row));
    ++cc.n_rows;
    return Status::success();
}

}  // namespace rowkit

void CollectColumnarCtx::deinitAndFree() {
    rowkit::deinitColumnBufs(columns);
    n_cols = 0;
    n_rows = 0;
    n_skipped_lines = 0;
    n_emptied_values = 0;
}
