// A strict JSON reader (RFC 8259) that builds a value tree, for texts the
// caller hands over whole, such as validation schemas.
//
// Unlike the record parser it checks the full grammar: whitespace is space,
// tab, LF and CR only; strings must be valid UTF-8 without raw control bytes;
// escapes are the eight short ones and \uXXXX, with surrogates paired; numbers
// follow the JSON number grammar; nothing may follow the top-level value; a
// key repeated inside one object is an error.
//
// Numbers: an integer literal (no fraction, no exponent) that fits a signed
// 64-bit value is an integer; a longer integer literal is kept as its text;
// every other number is a binary64 value, and one beyond the binary64 range
// is an error.
//
// Nesting is bounded by kMaxJsonDepth and the reader keeps its own stack, so
// no input can exhaust the thread's stack.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "alloc.hpp"
#include "errors.hpp"

namespace rowkit {

// Deepest nesting of arrays and objects accepted.
inline constexpr size_t kMaxJsonDepth = 256;

struct JsonMember;

struct JsonNode {
    enum class Kind : uint8_t {
        null_value = 0,
        boolean = 1,
        integer = 2,      // fits int64: `integer`
        floating = 3,     // binary64: `floating`
        integer_text = 4, // integer literal too long for int64: `text`
        string = 5,       // decoded: `text`
        array = 6,        // `items`, `count`
        object = 7,       // `members`, `count`, in text order
    };

    Kind kind = Kind::null_value;
    bool boolean = false;
    int64_t integer = 0;
    double floating = 0;
    std::string_view text;
    const JsonNode *items = nullptr;
    const JsonMember *members = nullptr;
    size_t count = 0;

    std::span<const JsonNode> arrayItems() const { return std::span<const JsonNode>(items, count); }
    inline std::span<const JsonMember> objectMembers() const;
};

struct JsonMember {
    std::string_view key;
    JsonNode value;
};

std::span<const JsonMember> JsonNode::objectMembers() const {
    return std::span<const JsonMember>(members, count);
}

// Where and why a text is not JSON.
struct JsonSyntaxError {
    size_t offset = 0;        // byte offset of the offending byte in the text
    std::string_view reason;  // a short static text: "expected ':'"
};

// A parsed text: the root value and the arena holding every array, object
// and decoded string. Strings without escapes are slices of the parsed text,
// so the text must outlive the tree.
class JsonTree {
public:
    JsonTree() = default;
    JsonTree(JsonTree &&) noexcept = default;
    JsonTree &operator=(JsonTree &&) noexcept = default;

    const JsonNode &root() const { return root_; }

private:
    friend Result<JsonTree> parseJsonTree(std::string_view text, JsonSyntaxError *syntax);
    Arena arena_;
    JsonNode root_;
};

// Parses the whole of `text` as one JSON value. Errors: InvalidJson (any
// departure from the grammar, a repeated key, a number beyond binary64,
// nesting deeper than kMaxJsonDepth), described in *syntax when that is not
// null; OutOfMemory. Nothing is kept on failure.
Result<JsonTree> parseJsonTree(std::string_view text, JsonSyntaxError *syntax = nullptr);

}  // namespace rowkit
