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

// The header of a record reader, owned names in column order, and the
// lookup of a column by name, alike for both readers.
class RecordHeader {
public:
    std::span<const OwnedStr> header() const {
        return std::span<const OwnedStr>(header_.data(), header_.size());
    }

    // Index of the first header name equal to `name`, byte for byte.
    std::optional<size_t> columnIndex(std::string_view name) const {
        for (size_t i = 0; i < header_.size(); ++i)
            if (header_[i].view() == name) return i;
        return std::nullopt;
    }

protected:
    Vec<OwnedStr> header_;
};

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
