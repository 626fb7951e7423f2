#include "hash_map.hpp"

#include <cstring>

namespace rowkit {

namespace {
// An empty key still needs a non-null pointer to mark its slot as used.
const char kEmptyKey[1] = {0};
}  // namespace

uint64_t hashBytes(std::string_view s) {
    uint64_t h = 0xcbf29ce484222325ull ^ s.size();
    size_t i = 0;
    for (; i + 8 <= s.size(); i += 8) {
        uint64_t w;
        std::memcpy(&w, s.data() + i, 8);
        h = (h ^ w) * 0x100000001b3ull;
        h ^= h >> 29;
    }
    for (; i < s.size(); ++i) h = (h ^ static_cast<uint8_t>(s[i])) * 0x100000001b3ull;
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdull;
    h ^= h >> 33;
    return h;
}

size_t StrIndexMap::findSlot(std::string_view key, uint64_t hash) const {
    const size_t mask = slots_.size() - 1;
    size_t i = static_cast<size_t>(hash) & mask;
    for (;;) {
        const Slot &s = slots_[i];
        if (s.key == nullptr) return i;
        if (s.hash == hash && s.len == key.size() &&
            (key.empty() || std::memcmp(s.key, key.data(), key.size()) == 0))
            return i;
        i = (i + 1) & mask;
    }
}

Status StrIndexMap::rehash(size_t n_slots) {
    Vec<Slot> fresh;
    if (!fresh.resize(n_slots)) return Error::OutOfMemory;
    Vec<Slot> old = std::move(slots_);
    slots_ = std::move(fresh);
    for (const Slot &s : old) {
        if (s.key == nullptr) continue;
        slots_[findSlot(std::string_view(s.key, s.len), s.hash)] = s;
    }
    return Status();
}

Status StrIndexMap::reserve(size_t n) {
    // Keep the load factor at or below one half.
    size_t want = 8;
    while (want / 2 < n) {
        if (want > SIZE_MAX / 4) return Error::OutOfMemory;
        want *= 2;
    }
    if (want <= slots_.size()) return Status();
    return rehash(want);
}

Status StrIndexMap::put(std::string_view key, size_t value) {
    if (count_ + 1 > slots_.size() / 2) ROWKIT_TRY(reserve(count_ + 1 > 4 ? (count_ + 1) * 2 : 8));
    uint64_t h = hashBytes(key);
    Slot &s = slots_[findSlot(key, h)];
    if (s.key == nullptr) {
        s.key = key.empty() ? kEmptyKey : key.data();
        s.len = key.size();
        s.hash = h;
        ++count_;
    }
    s.value = value;
    return Status();
}

std::optional<size_t> StrIndexMap::get(std::string_view key) const {
    if (count_ == 0) return std::nullopt;
    const Slot &s = slots_[findSlot(key, hashBytes(key))];
    if (s.key == nullptr) return std::nullopt;
    return s.value;
}

void StrIndexMap::clear() {
    for (Slot &s : slots_) s = Slot();
    count_ = 0;
}

}  // namespace rowkit
