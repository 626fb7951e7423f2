// Optional bounds on record size and field count, shared by both readers.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "errors.hpp"

namespace rowkit {

struct InputLimits {
    // Bytes of one line (a CR before the LF counts, the LF does not).
    std::optional<size_t> max_record_bytes;
    // Fields of one CSV row, or top-level keys of one JSON object.
    std::optional<size_t> max_fields;

    bool enabled() const { return max_record_bytes.has_value() || max_fields.has_value(); }

    // RecordTooLarge when a record of `len` bytes exceeds max_record_bytes.
    Status checkRecord(size_t len) const {
        if (max_record_bytes && len > *max_record_bytes) return Error::RecordTooLarge;
        return Status();
    }

    // TooManyFields when the JSON object text has more top-level keys than
    // max_fields. Keys of nested objects are not counted.
    Status checkJsonFields(std::string_view text) const;
};

}  // namespace rowkit
