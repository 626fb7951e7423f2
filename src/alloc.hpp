// The C allocator and the containers built on it.
//
// Every byte the library owns comes from here: posix_memalign, free and
// malloc_usable_size, so that buffers can grow in place when the allocator
// handed out more than was asked for. Nothing here throws or aborts; every
// allocation can fail and reports it by returning null or false.
//
// In the test build of the library, a process-wide hook counts allocations
// and can make the Nth one fail, which lets tests prove that every
// allocation failure is handled. The shipped library has no hook.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <string_view>
#include <type_traits>
#include <utility>

namespace rowkit {

// ---- raw allocation --------------------------------------------------------

inline constexpr size_t kDefaultAlign = 16;

// Allocates `n` bytes (n may be 0: a minimal block is returned) aligned to
// `align` (a power of two, at least sizeof(void*)). Null on failure.
void *allocBytes(size_t n, size_t align = kDefaultAlign);

// Frees a block from allocBytes or growBytes; null is ignored.
void freeBytes(void *p);

// Bytes usable in the block (at least what was asked for).
size_t usableSize(const void *p);

// Makes `p` (holding `used` meaningful bytes) at least `n` bytes long: the same
// block when its usable size already suffices, else a larger block holding
// the first `used` bytes, the old one freed. `p` may be null. On failure
// returns null and leaves `p` untouched.
//
// Blocks with the default alignment (which the C allocator gives every
// block) grow with realloc: the allocator extends a block in place when it
// can and moves a large block by remapping its pages, so growing a large
// buffer neither copies it nor makes the kernel supply fresh pages for the
// bytes it already holds. A small block that must become large (1 MiB or
// more) and other alignments get a new block and a copy.
void *growBytes(void *p, size_t used, size_t n, size_t align = kDefaultAlign);

// n * size, or false when it overflows.
inline bool checkedMul(size_t n, size_t size, size_t *out) {
    return !__builtin_mul_overflow(n, size, out);
}

#if ROWKIT_TEST_HOOKS
// The test hook, compiled only into the test build of the library. Counts
// every allocation attempt (allocBytes and growBytes that needs a larger
// block) and fails the one numbered `fail_at` (1-based, counted from the
// last reset); 0 fails none.
namespace alloc_hook {
void reset();                // count = 0, no failure planned
void failAt(uint64_t nth);   // the nth allocation from now fails
void failFrom(uint64_t nth); // the nth allocation from now and every later one fail
uint64_t count();            // allocations attempted since the last reset
}  // namespace alloc_hook
#endif

// Copies n bytes between blocks that do not overlap. Copies of up to 32
// bytes, the common case for fields, are overlapping moves that read only
// [src, src + n), sparing a library call.
inline void copyBytes(char *dst, const char *src, size_t n) {
    if (n <= 16) {
        if (n >= 8) {
            uint64_t a, b;
            std::memcpy(&a, src, 8);
            std::memcpy(&b, src + n - 8, 8);
            std::memcpy(dst, &a, 8);
            std::memcpy(dst + n - 8, &b, 8);
        } else if (n >= 4) {
            uint32_t a, b;
            std::memcpy(&a, src, 4);
            std::memcpy(&b, src + n - 4, 4);
            std::memcpy(dst, &a, 4);
            std::memcpy(dst + n - 4, &b, 4);
        } else if (n > 0) {
            // 1, 2 or 3 bytes: the first, the middle and the last.
            const char first = src[0], middle = src[n / 2], last = src[n - 1];
            dst[0] = first;
            dst[n / 2] = middle;
            dst[n - 1] = last;
        }
    } else if (n <= 32) {
        char a[16], b[16];
        std::memcpy(a, src, 16);
        std::memcpy(b, src + n - 16, 16);
        std::memcpy(dst, a, 16);
        std::memcpy(dst + n - 16, b, 16);
    } else {
        std::memcpy(dst, src, n);
    }
}

// ---- owned byte block -----------------------------------------------------

// Growth policy for the growable containers: at least `need`, at least double
// the current capacity, at least `min_cap`.
inline size_t grownCapacity(size_t cap, size_t need, size_t min_cap) {
    size_t c = cap < min_cap ? min_cap : cap;
    while (c < need) {
        if (c > SIZE_MAX / 2) return need;
        c *= 2;
    }
    return c;
}

// ---- growable array --------------------------------------------------------

// A growable array of T. T must be trivially relocatable (moving it to a new
// address by copying its bytes is valid), which holds for every type the
// library stores: plain values and our move-only owners of heap blocks.
// Capacity grows geometrically and in place when the allocator allows.
template <class T>
class Vec {
public:
    Vec() = default;
    Vec(const Vec &) = delete;
    Vec &operator=(const Vec &) = delete;
    Vec(Vec &&o) noexcept : data_(o.data_), len_(o.len_), cap_(o.cap_) {
        o.data_ = nullptr;
        o.len_ = o.cap_ = 0;
    }
    Vec &operator=(Vec &&o) noexcept {
        if (this != &o) {
            destroy();
            data_ = o.data_;
            len_ = o.len_;
            cap_ = o.cap_;
            o.data_ = nullptr;
            o.len_ = o.cap_ = 0;
        }
        return *this;
    }
    ~Vec() { destroy(); }

    T *data() { return data_; }
    const T *data() const { return data_; }
    size_t size() const { return len_; }
    size_t capacity() const { return cap_; }
    bool empty() const { return len_ == 0; }
    T &operator[](size_t i) { return data_[i]; }
    const T &operator[](size_t i) const { return data_[i]; }
    T *begin() { return data_; }
    T *end() { return data_ + len_; }
    const T *begin() const { return data_; }
    const T *end() const { return data_ + len_; }
    T &back() { return data_[len_ - 1]; }

    // Capacity for at least n elements in all.
    [[nodiscard]] bool reserve(size_t n) {
        if (n <= cap_) return true;
        size_t bytes;
        if (!checkedMul(n, sizeof(T), &bytes)) return false;
        void *p = growBytes(data_, len_ * sizeof(T), bytes, alignof(T) > kDefaultAlign ? alignof(T) : kDefaultAlign);
        if (!p) return false;
        data_ = static_cast<T *>(p);
        cap_ = usableSize(p) / sizeof(T);
        return true;
    }
    // Capacity for `extra` more elements, growing geometrically.
    [[nodiscard]] bool reserveMore(size_t extra) {
        if (extra <= cap_ - len_) return true;
        if (extra > SIZE_MAX - len_) return false;
        return reserve(grownCapacity(cap_, len_ + extra, 16 / sizeof(T) ? 16 / sizeof(T) : 1));
    }
    [[nodiscard]] bool push(T v) {
        if (len_ == cap_ && !reserveMore(1)) return false;
        new (data_ + len_) T(std::move(v));
        ++len_;
        return true;
    }
    // Grows to n default-initialised elements or shrinks to n (destroying the rest).
    [[nodiscard]] bool resize(size_t n) {
        if (n > len_) {
            if (n > cap_ && !reserve(grownCapacity(cap_, n, 1))) return false;
            for (size_t i = len_; i < n; ++i) new (data_ + i) T();
            len_ = n;
        } else {
            truncate(n);
        }
        return true;
    }
    void truncate(size_t n) {
        if constexpr (!std::is_trivially_destructible_v<T>) {
            for (size_t i = n; i < len_; ++i) data_[i].~T();
        }
        if (n < len_) len_ = n;
    }
    void clear() { truncate(0); }
    void popBack() { truncate(len_ - 1); }

    // Byte arrays only: append raw bytes.
    [[nodiscard]] bool append(const T *p, size_t n) {
        static_assert(std::is_trivially_copyable_v<T>);
        if (!reserveMore(n)) return false;
        if (n) std::memcpy(static_cast<void *>(data_ + len_), p, n * sizeof(T));
        len_ += n;
        return true;
    }

    // Counts n more elements as used: the caller has constructed them in the
    // capacity past end() (n <= capacity() - size()).
    void commit(size_t n) { len_ += n; }

    // Gives up ownership of the block (len and capacity reset to 0).
    T *release() {
        T *p = data_;
        data_ = nullptr;
        len_ = cap_ = 0;
        return p;
    }

private:
    void destroy() {
        clear();
        freeBytes(data_);
        data_ = nullptr;
        cap_ = 0;
    }

    T *data_ = nullptr;
    size_t len_ = 0;
    size_t cap_ = 0;
};

using ByteBuf = Vec<char>;

inline std::string_view view(const ByteBuf &b) { return std::string_view(b.data(), b.size()); }
[[nodiscard]] inline bool appendView(ByteBuf &b, std::string_view s) {
    return b.append(s.data(), s.size());
}

// ---- owned string ----------------------------------------------------------

// A heap copy of a byte string, NUL-terminated so it can be handed to C
// callers. The empty string holds no block.
class OwnedStr {
public:
    OwnedStr() = default;
    OwnedStr(const OwnedStr &) = delete;
    OwnedStr &operator=(const OwnedStr &) = delete;
    OwnedStr(OwnedStr &&o) noexcept : p_(o.p_), n_(o.n_) {
        o.p_ = nullptr;
        o.n_ = 0;
    }
    OwnedStr &operator=(OwnedStr &&o) noexcept {
        if (this != &o) {
            freeBytes(p_);
            p_ = o.p_;
            n_ = o.n_;
            o.p_ = nullptr;
            o.n_ = 0;
        }
        return *this;
    }
    ~OwnedStr() { freeBytes(p_); }

    // A copy with a NUL after it; false when the block cannot be allocated.
    [[nodiscard]] static bool copy(std::string_view s, OwnedStr *out) {
        char *p = static_cast<char *>(allocBytes(s.size() + 1));
        if (!p) return false;
        if (!s.empty()) std::memcpy(p, s.data(), s.size());
        p[s.size()] = '\0';
        *out = OwnedStr();
        out->p_ = p;
        out->n_ = s.size();
        return true;
    }
    std::string_view view() const { return std::string_view(p_ ? p_ : "", n_); }
    const char *cstr() const { return p_ ? p_ : ""; }
    size_t size() const { return n_; }

private:
    char *p_ = nullptr;
    size_t n_ = 0;
};

// ---- arena -----------------------------------------------------------------

// Bump allocator for many small texts that share one lifetime. `reset` keeps
// the largest block for reuse, so a per-row arena allocates nothing once warm.
class Arena {
public:
    explicit Arena(size_t block_size = 4096) : block_size_(block_size) {}
    Arena(const Arena &) = delete;
    Arena &operator=(const Arena &) = delete;
    Arena(Arena &&o) noexcept;
    Arena &operator=(Arena &&o) noexcept;
    ~Arena();

    // n bytes aligned to `align`; null on failure.
    void *alloc(size_t n, size_t align = 8);
    // A copy of s inside the arena; false on failure.
    [[nodiscard]] bool dup(std::string_view s, std::string_view *out);
    // Forgets every allocation; keeps one block.
    void reset();

private:
    struct Block {
        Block *prev;
        size_t size;  // usable bytes after the header
    };
    Block *head_ = nullptr;
    size_t used_ = 0;  // bytes used in head_
    size_t block_size_;
};

}  // namespace rowkit
