// The JSON object parser: one object's text (an NDJSON line or one element
// of a JSON array) into an ordered list of key/value fields.
//
// Parsing is driven by the structural token table of json_simd.hpp rather
// than by a byte-by-byte grammar. Numbers are kept as text; strings are slices
// of the input unless they hold a backslash, in which case they are decoded
// into an arena. The grammar is lenient in the ways a line reader needs:
// commas between fields may be missing, repeated or trailing, and bytes that
// are not structural are ignored between tokens.
//
// A value that starts with a quote is a string, with '{' a nested object,
// with '[' an array; any other value is a scalar that runs to the next comma,
// closing brace or quote, trimmed of whitespace: exactly true, false or null
// are those values, anything else (empty text included) is a number holding
// the text as written. Nested objects and arrays are parsed from the same
// token table, at most kMaxDepth levels deep, so no input can exhaust the
// stack.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "alloc.hpp"
#include "errors.hpp"
#include "json_simd.hpp"

namespace rowkit::json {

// Deepest nesting of objects and arrays inside a record; deeper input is
// InvalidJson.
inline constexpr size_t kMaxDepth = 64;

struct JsonField;

struct JsonValue {
    enum class Kind : uint8_t { null_value = 0, bool_value = 1, number = 2, string = 3, object = 4, array = 5 };

    Kind kind = Kind::null_value;
    bool boolean = false;            // bool_value
    std::string_view text;           // number (as written) or string (decoded)
    const JsonField *fields = nullptr;  // object: `count` fields
    const JsonValue *items = nullptr;   // array: `count` elements
    size_t count = 0;
};

struct JsonField {
    std::string_view key;
    JsonValue value;
    bool key_owned = false;  // the key was decoded into the arena
};

// A parsed object that owns everything it refers to except the input text:
// its field list and an arena holding decoded strings and nested values.
class JsonObject {
public:
    JsonObject() = default;
    JsonObject(JsonObject &&) noexcept = default;
    JsonObject &operator=(JsonObject &&) noexcept = default;

    std::span<const JsonField> fields() const {
        return std::span<const JsonField>(fields_.data(), fields_.size());
    }

private:
    friend Result<JsonObject> parseObject(std::string_view text);
    Vec<JsonField> fields_;
    Arena arena_;
};

// Parses the object at the start of `text` (bytes before its first
// structural byte are ignored; bytes after its closing brace are not
// examined). Errors: InvalidJson (no tokens, not an object, or nested too
// deeply), TooManyTokens (kMaxTokens or more structural bytes),
// UnexpectedEnd, MalformedKey, ExpectedColon, ExpectedQuote,
// MalformedString, UnexpectedToken, InvalidEscape, InvalidUnicodeEscape,
// OutOfMemory. Nothing is kept on failure. Uses a token table on the stack.
Result<JsonObject> parseObject(std::string_view text);

// The same grammar into caller-owned, reused storage: `fields` is cleared and
// refilled (grown with the C allocator), and decoded strings and nested
// values are allocated in `arena`, which the caller resets between records.
// `tokens` is a table of kMaxTokens entries. Slices of `text` and blocks of
// `arena` stay valid as long as those do.
Status parseObjectReuse(std::string_view text, Vec<JsonField> &fields, Arena &arena, Token *tokens);

// Position of the byte that closes the object or array opening at
// text[open] ('}' for '{', ']' for '['), tracking strings and counting only
// that kind of bracket. Nothing when the text ends first.
std::optional<size_t> findMatchingClose(std::string_view text, size_t open);

// The shortcut for flat records whose leading keys come in header order:
// fills out[0..wanted) with the values of header columns 0..wanted-1 as
// slices of `line` and returns true, or returns false so that the caller
// takes the full parse. It allocates nothing and reads only up to the wanted
// columns. For every record it accepts, the texts are those the full parse
// renders (an unquoted null is empty text), except that a key repeated after
// the wanted columns is not seen. It gives up on a backslash in a key or
// wanted value, a nested wanted value, a key out of order, any byte the full
// parse would treat differently, and records of kMaxTokens bytes or more
// (which the full parse may refuse as too many tokens).
bool tryFastRow(std::string_view line, std::span<const std::string_view> header, size_t wanted,
                std::string_view *out);

}  // namespace rowkit::json
