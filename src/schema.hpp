// A validation schema: per-column rules parsed once from JSON text against
// the header of an open source, then read as plain data by the row checks.
//
// The text is one JSON object mapping column names to rule objects, e.g.
//   {"id": {"type": "integer", "required": true, "min": 1},
//    "status": {"one_of": ["open", "closed"]}}
// Rule keys: "type" (any, integer, float, boolean, datetime, string),
// "required", "min", "max", "min_len", "max_len", "one_of".
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "alloc.hpp"
#include "errors.hpp"
#include "hash_map.hpp"

namespace rowkit {

enum class ColumnType : uint8_t { any = 0, integer = 1, floating = 2, boolean = 3, datetime = 4, string = 5 };

// The type a schema names: exactly "any", "integer", "float", "boolean",
// "datetime" or "string" (case-sensitive, no aliases).
std::optional<ColumnType> parseColumnType(std::string_view name);

// Lists of at least this many allowed values get a hash set.
inline constexpr size_t kOneOfIndexMin = 32;

struct Rule {
    size_t column = 0;            // index in the source header
    std::string_view name;        // the schema key, in the schema's arena
    std::optional<double> min;    // inclusive bounds on the numeric value
    std::optional<double> max;
    std::optional<size_t> min_len;  // inclusive bounds on the text length
    std::optional<size_t> max_len;
    std::span<const std::string_view> one_of;  // allowed texts, in the arena
    std::optional<StrIndexMap> one_of_index;   // over one_of, for long lists
    ColumnType type = ColumnType::any;
    bool required = false;

    Rule() = default;
    Rule(Rule &&) noexcept = default;
    Rule &operator=(Rule &&) noexcept = default;

    // Whether `text` is one of the allowed values (exact bytes).
    bool allows(std::string_view text) const;
};

class Schema {
public:
    Schema() = default;
    Schema(Schema &&) noexcept = default;
    Schema &operator=(Schema &&) noexcept = default;

    // One rule per schema member, in text order.
    std::span<const Rule> rules() const { return std::span<const Rule>(rules_.data(), rules_.size()); }
    // Header width at parse time: the expected field count of every row.
    size_t n_columns = 0;

private:
    friend Result<Schema> parseSchema(std::span<const OwnedStr> header,
                                      std::string_view schema_json, ErrorDetail *detail);
    Vec<Rule> rules_;
    Arena strings_;
};

// Parses `schema_json` against `header`. Each key must equal a header name
// byte for byte (the first such name wins). Errors: BadSchema (not valid
// JSON, a repeated key, not an object of rule objects, an unknown rule key,
// a rule value of the wrong kind, an unknown type name, a negative or
// non-integer length, a one_of element that is not a string or number),
// UnknownColumn, OutOfMemory. The first offending member decides the error;
// nothing is kept on failure. For BadSchema and UnknownColumn, *detail (when
// not null) receives what was wrong and where: the column and rule key, or
// the place of a JSON syntax error in the text.
Result<Schema> parseSchema(std::span<const OwnedStr> header, std::string_view schema_json,
                           ErrorDetail *detail = nullptr);

// Writes `value` in the shortest decimal form that reads back to the same
// binary64 value, without an exponent and without a fractional part when it
// is integral: 2.0 gives "2", 0.5 "0.5", 1e21 a 1 and 21 zeros. `out` needs
// kPlainDoubleMax bytes; returns the length. Finite values only.
inline constexpr size_t kPlainDoubleMax = 400;
size_t formatPlainDouble(double value, char *out);

}  // namespace rowkit
