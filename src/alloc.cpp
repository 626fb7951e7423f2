#include "alloc.hpp"

#include <malloc.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#if ROWKIT_TEST_HOOKS
#include <atomic>
#endif
#include <cstddef>

namespace rowkit {

#if ROWKIT_TEST_HOOKS
namespace alloc_hook {

namespace {

std::atomic<uint64_t> g_alloc_count{0};
std::atomic<uint64_t> g_fail_at{0};
std::atomic<bool> g_fail_onward{false};

}  // namespace

void reset() {
    g_fail_at.store(0, std::memory_order_relaxed);
    g_fail_onward.store(false, std::memory_order_relaxed);
    g_alloc_count.store(0, std::memory_order_relaxed);
}
void failAt(uint64_t nth) {
    g_fail_onward.store(false, std::memory_order_relaxed);
    g_fail_at.store(nth == 0 ? 0 : g_alloc_count.load(std::memory_order_relaxed) + nth,
                    std::memory_order_relaxed);
}
void failFrom(uint64_t nth) {
    failAt(nth);
    g_fail_onward.store(nth != 0, std::memory_order_relaxed);
}
uint64_t count() { return g_alloc_count.load(std::memory_order_relaxed); }

}  // namespace alloc_hook

// Counts one allocation attempt and says whether the hook makes it fail.
static bool hookFails() {
    using namespace alloc_hook;
    uint64_t n = g_alloc_count.fetch_add(1, std::memory_order_relaxed) + 1;
    uint64_t at = g_fail_at.load(std::memory_order_relaxed);
    if (at == 0) return false;
    return n == at || (g_fail_onward.load(std::memory_order_relaxed) && n > at);
}
#else
// The shipped library counts nothing and never fails on purpose.
static bool hookFails() { return false; }
#endif

// Blocks from 1 MiB up are made at least 33 MiB long, which the C allocator
// always maps on its own (its limit for taking a block from its heaps is 32
// MiB), and ask the kernel for huge pages. A mapped block grows by
// remapping its pages, never by copying them, and the pages of a block that
// is freed go back to the system at once. Filling a fresh block faults its
// pages in one at a time, and with 4 KiB pages those faults cost as much as
// reading the rows of a collect; with 2 MiB pages they nearly vanish. The
// part of a block never written is address space only. The advice covers
// the block's whole pages, that is its whole mapping, so that remapping
// keeps working and keeps the advice; advice the kernel refuses changes
// nothing. The line is drawn at 1 MiB because a collect of a few tens of
// megabytes has columns of 1 to 4 MiB, which faulted in 4 KiB at a time
// made it run at a third of a large collect's speed; the price is that a
// block of just over 1 MiB holds a whole 2 MiB page once written.
//
// A large block also begins on a 2 MiB boundary. The allocator writes its
// header just before the block, before the advice can be given: were the
// block to begin part-way into a 2 MiB span, that write would fault the
// span's first page in as a small page, and the rest of the span, the very
// bytes filled first, would follow 4 KiB at a time. Aligned, the header
// lies in the span before the block, which is never used otherwise.
constexpr size_t kLargeFromBytes = size_t{1} << 20;
constexpr size_t kLargeMinBytes = size_t{33} << 20;
constexpr size_t kHugePageBytes = size_t{2} << 20;

static size_t largeSize(size_t n) {
    return n >= kLargeFromBytes && n < kLargeMinBytes ? kLargeMinBytes : n;
}

static void adviseHugePages(void *p, size_t n) {
#ifdef MADV_HUGEPAGE
    if (n < kLargeFromBytes) return;
    static const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    const uintptr_t begin = reinterpret_cast<uintptr_t>(p) & ~(page - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(p) + usableSize(p) + page - 1) & ~(page - 1);
    (void)madvise(reinterpret_cast<void *>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)p;
    (void)n;
#endif
}

void *allocBytes(size_t n, size_t align) {
    if (hookFails()) return nullptr;
    if (align < sizeof(void *)) align = sizeof(void *);
    void *p = nullptr;
    n = largeSize(n);
    if (n >= kLargeFromBytes && align < kHugePageBytes) align = kHugePageBytes;
    if (posix_memalign(&p, align, n == 0 ? 1 : n) != 0) return nullptr;
    adviseHugePages(p, n);
    return p;
}

void freeBytes(void *p) { free(p); }

size_t usableSize(const void *p) { return p ? malloc_usable_size(const_cast<void *>(p)) : 0; }

// Every block of the C allocator is aligned to at least this.
static_assert(alignof(std::max_align_t) >= kDefaultAlign);

void *growBytes(void *p, size_t used, size_t n, size_t align) {
    if (p && usableSize(p) >= n) return p;
    // A large block is remapped; a small one that must become large moves to
    // a fresh large block (aligned as above), copying its few bytes once.
    if (p && align <= kDefaultAlign &&
        (usableSize(p) >= kLargeFromBytes || largeSize(n) < kLargeFromBytes)) {
        if (hookFails()) return nullptr;
        n = largeSize(n);
        void *q = realloc(p, n);
        if (q) adviseHugePages(q, n);
        return q;
    }
    void *q = allocBytes(n, align);
    if (!q) return nullptr;
    if (p) {
        if (used) std::memcpy(q, p, used);
        freeBytes(p);
    }
    return q;
}

// ---- arena -----------------------------------------------------------------

Arena::Arena(Arena &&o) noexcept : head_(o.head_), used_(o.used_), block_size_(o.block_size_) {
    o.head_ = nullptr;
    o.used_ = 0;
}

Arena &Arena::operator=(Arena &&o) noexcept {
    if (this != &o) {
        this->~Arena();
        head_ = o.head_;
        used_ = o.used_;
        block_size_ = o.block_size_;
        o.head_ = nullptr;
        o.used_ = 0;
    }
    return *this;
}

Arena::~Arena() {
    while (head_) {
        Block *prev = head_->prev;
        freeBytes(head_);
        head_ = prev;
    }
}

void *Arena::alloc(size_t n, size_t align) {
    if (head_) {
        // Align the address, not the offset: block data is only 16-aligned.
        uintptr_t at = reinterpret_cast<uintptr_t>(head_ + 1) + used_;
        size_t start = used_ + ((align - at % align) % align);
        if (start >= used_ && start <= head_->size && n <= head_->size - start) {
            used_ = start + n;
            return reinterpret_cast<char *>(head_ + 1) + start;
        }
    }
    // The header is 16 bytes, so block data starts 16-aligned; larger
    // alignments get slack.
    size_t want = block_size_;
    if (head_ && head_->size >= want && head_->size <= SIZE_MAX / 2) want = head_->size * 2;
    size_t need = n + (align > 16 ? align : 0);
    if (need < n) return nullptr;
    if (want < need) want = need;
    if (want > SIZE_MAX - sizeof(Block)) return nullptr;
    void *raw = allocBytes(sizeof(Block) + want, 16);
    if (!raw) return nullptr;
    Block *b = static_cast<Block *>(raw);
    b->prev = head_;
    b->size = usableSize(raw) - sizeof(Block);
    head_ = b;
    char *base = reinterpret_cast<char *>(b + 1);
    size_t start = (reinterpret_cast<uintptr_t>(base) + align - 1) / align * align -
                   reinterpret_cast<uintptr_t>(base);
    used_ = start + n;
    return base + start;
}

bool Arena::dup(std::string_view s, std::string_view *out) {
    if (s.empty()) {
        *out = std::string_view();
        return true;
    }
    char *p = static_cast<char *>(alloc(s.size(), 1));
    if (!p) return false;
    std::memcpy(p, s.data(), s.size());
    *out = std::string_view(p, s.size());
    return true;
}

void Arena::reset() {
    if (!head_) return;
    // Keep the largest block, free the rest.
    Block *keep = head_;
    for (Block *b = head_; b; b = b->prev)
        if (b->size > keep->size) keep = b;
    Block *b = head_;
    while (b) {
        Block *prev = b->prev;
        if (b != keep) freeBytes(b);
        b = prev;
    }
    keep->prev = nullptr;
    head_ = keep;
    used_ = 0;
}

}  // namespace rowkit
