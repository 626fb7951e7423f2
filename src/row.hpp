// The row every reader hands out and every row consumer takes, and what the
// readers do alike with their header and rows.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

#include "alloc.hpp"
#include "errors.hpp"

namespace rowkit {

// A row: field texts borrowed from the reader, valid until its next call.
using Row = std::span<const std::string_view>;

// A row, the end of the input (nullopt), or an error.
using RowResult = Result<std::optional<Row>>;

// Index of the first name of `header` equal to `name`, byte for byte.
inline std::optional<size_t> findColumn(std::span<const OwnedStr> header, std::string_view name) {
    for (size_t i = 0; i < header.size(); ++i)
        if (header[i].view() == name) return i;
    return std::nullopt;
}

// The rows `reader` has left, read one by one (so that input limits and
// every row check apply) and so consumed; its first error is returned.
template <class Reader>
Result<size_t> countByReading(Reader &reader) {
    size_t n = 0;
    for (;;) {
        RowResult r = reader.next();
        if (!r.ok()) return r.error();
        if (!r->has_value()) return n;
        ++n;
    }
}

}  // namespace rowkit
