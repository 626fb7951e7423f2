// The row every reader hands out and every row consumer takes.
#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "errors.hpp"

namespace rowkit {

// A row: field texts borrowed from the reader, valid until its next call.
using Row = std::span<const std::string_view>;

// A row, the end of the input (nullopt), or an error.
using RowResult = Result<std::optional<Row>>;

}  // namespace rowkit
