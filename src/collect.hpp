// Whole results in contiguous buffers: the row-major collect (every field
// followed by a NUL, in one buffer) and the columnar collect (per column, one
// data buffer and 32-bit offsets delimiting its values).
//
// Both results are normalised to the query's width `n_cols` (the projection's
// length, else the header's width): a row with fewer fields gets empty values
// for the missing ones, and fields past `n_cols` are dropped, so every result
// splits cleanly into rows and every column holds n_rows + 1 offsets. The
// width is fixed before the first row, so a short first row cannot narrow
// the result and lose the later rows' columns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "alloc.hpp"
#include "errors.hpp"
#include "row.hpp"

namespace rowkit {

// Offsets are 32-bit: one column's data holds at most this many bytes.
inline constexpr size_t kMaxColumnBytes = UINT32_MAX;

#if ROWKIT_TEST_HOOKS
// Test builds can lower the column limit to reach it without gigabytes of
// input; release builds compare against the constant.
namespace collect_hook {
void setColumnLimit(size_t n);  // 0 restores kMaxColumnBytes
size_t columnLimit();
}  // namespace collect_hook
inline size_t columnByteLimit() { return collect_hook::columnLimit(); }
#else
inline size_t columnByteLimit() { return kMaxColumnBytes; }
#endif

// One column of a columnar result. `offsets[0]` is 0 and `offsets[r + 1]` is
// the length of `data` after row r, so row r's value is the byte range
// [offsets[r], offsets[r + 1]) of `data`. Values are raw bytes: nothing is
// escaped or terminated.
//
// Both members are plain growable arrays, so a producer (the columnar
// collect, a parallel worker) can build a column with appendValue and a
// consumer can take the arrays over by moving them out.
struct ColumnBuf {
    ByteBuf data;
    Vec<uint32_t> offsets;

    // Appends one value and its end offset. ColumnTooLarge when the data
    // would pass the column limit, OutOfMemory when an array cannot grow; on
    // failure the column is unchanged. Inline, because it runs once per field
    // of a collect; growth takes the out-of-line path.
    Status appendValue(std::string_view value) {
        const size_t used = data.size();
        if (value.size() <= data.capacity() - used && offsets.size() < offsets.capacity() &&
            value.size() <= columnByteLimit() - used) [[likely]] {
            (void)data.append(value.data(), value.size());
            (void)offsets.push(static_cast<uint32_t>(used + value.size()));
            return Status::success();
        }
        return appendValueGrowing(value);
    }
    // appendValue when an array must grow first or the limit is reached.
    Status appendValueGrowing(std::string_view value);

    // Appends every value of `other` (a finished column of its own, starting
    // at offset 0) after this column's values, shifting its offsets. Same
    // errors as appendValue; on failure this column is unchanged.
    Status appendColumn(const ColumnBuf &other);

    // Number of values held (one less than the number of offsets).
    size_t rows() const { return offsets.empty() ? 0 : offsets.size() - 1; }

    // Frees the storage of both arrays.
    void deinit();
};

// n empty columns, each holding the initial offset 0. OutOfMemory (with
// nothing left allocated) when any allocation fails or n is too large.
Result<Vec<ColumnBuf>> newColumnBufs(size_t n);

// Frees every column and then the array of columns.
void deinitColumnBufs(Vec<ColumnBuf> &columns);

}  // namespace rowkit

// The row-major collect handle: the bytes of every field of every row, each
// field followed by one NUL. Row r, field c is NUL-terminated string number
// r * n_cols + c.
struct CollectCtx {
    rowkit::ByteBuf buf;
    size_t n_rows = 0;
    size_t n_cols = 0;  // fields per row, set before the first row
};

// The columnar collect handle, also the result of the parallel columnar
// scan: `n_cols` columns of `n_rows` values each.
struct CollectColumnarCtx {
    rowkit::Vec<rowkit::ColumnBuf> columns;
    size_t n_rows = 0;
    size_t n_cols = 0;
    // What the parallel scan of JSON records passed over: non-empty lines
    // that are not an object, and nested values left empty in the rows
    // collected. Always 0 for other results.
    size_t n_skipped_lines = 0;
    size_t n_emptied_values = 0;

    CollectColumnarCtx() = default;
    CollectColumnarCtx(const CollectColumnarCtx &) = delete;
    CollectColumnarCtx &operator=(const CollectColumnarCtx &) = delete;
    ~CollectColumnarCtx() { deinitAndFree(); }

    // Frees every column and the array of columns, leaving no columns; the
    // handle itself is freed by its owner.
    void deinitAndFree();
};

namespace rowkit {

// Appends one row to a row-major result, normalised to cc.n_cols fields, and
// counts it. False when the buffer cannot grow or its length would overflow;
// the result is then unchanged.
[[nodiscard]] bool appendRowMajorRow(CollectCtx &cc, Row row);

// Appends one row to a set of columns: field i goes to column i, a missing
// field is an empty value and fields past the last column are dropped.
// ColumnTooLarge or OutOfMemory on failure, when the columns may be left
// mid-row and must be discarded.
Status appendRowToColumns(std::span<ColumnBuf> columns, Row row);

// appendRowToColumns on a columnar result whose n_cols columns exist, then
// counts the row.
Status appendColumnarRow(CollectColumnarCtx &cc, Row row);

}  // namespace rowkit
