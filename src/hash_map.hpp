// A hash map from borrowed byte strings to indices (open addressing, linear
// probing). Used where a name must be found among many: header columns of
// JSON records, long lists of allowed values. Keys are not copied; their
// owner keeps them alive as long as the map.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "alloc.hpp"
#include "errors.hpp"

namespace rowkit {

// 64-bit hash of a byte string (FNV-1a over 8-byte words, then mixed).
uint64_t hashBytes(std::string_view s);

class StrIndexMap {
public:
    StrIndexMap() = default;
    StrIndexMap(const StrIndexMap &) = delete;
    StrIndexMap &operator=(const StrIndexMap &) = delete;
    StrIndexMap(StrIndexMap &&) noexcept = default;
    StrIndexMap &operator=(StrIndexMap &&) noexcept = default;

    // Room for n entries without rehashing.
    Status reserve(size_t n);
    // Maps key to value; a key already present gets the new value.
    Status put(std::string_view key, size_t value);
    // The value of key, if present.
    std::optional<size_t> get(std::string_view key) const;
    bool contains(std::string_view key) const { return get(key).has_value(); }
    size_t size() const { return count_; }
    void clear();

private:
    struct Slot {
        const char *key = nullptr;  // null: empty slot
        size_t len = 0;
        size_t value = 0;
        uint64_t hash = 0;
    };
    Status rehash(size_t slots);
    size_t findSlot(std::string_view key, uint64_t hash) const;

    Vec<Slot> slots_;  // size is zero or a power of two
    size_t count_ = 0;
};

}  // namespace rowkit
