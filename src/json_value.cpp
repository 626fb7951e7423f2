#include "json_value.hpp"

#include <charconv>
#include <cstring>
#include <optional>

#include "hash_map.hpp"
#include "json_simd.hpp"
#include "numeric.hpp"
#include "utf8.hpp"

namespace rowkit {

namespace {

// Objects with more members than this are checked for repeated keys with a
// hash map instead of comparing every pair.
constexpr size_t kPairwiseKeyCheck = 16;

bool isJsonSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// An open array or object: its children so far sit on the value stack from
// `values_start`, an object's keys on the key stack from `keys_start`.
struct Frame {
    size_t values_start;
    size_t keys_start;
    bool is_object;
};

class TreeParser {
public:
    TreeParser(std::string_view text, Arena &arena) : text_(text), arena_(arena) {}

    Result<JsonNode> run();
    const JsonSyntaxError &syntaxError() const { return syntax_; }

private:
    void skipSpace() {
        while (pos_ < text_.size() && isJsonSpace(text_[pos_])) ++pos_;
    }
    bool atEnd() const { return pos_ >= text_.size(); }
    char peek() const { return text_[pos_]; }

    Status parseScalar(JsonNode *out);
    Status parseString(std::string_view *out);
    Status parseNumber(JsonNode *out);
    Status parseLiteral(std::string_view word);
    Status parseKey();
    Status closeContainer();
    Status checkRepeatedKeys(size_t keys_start, size_t count);
    // Notes where and why the text is not JSON; returns InvalidJson.
    Error fail(size_t at, std::string_view reason) {
        syntax_ = JsonSyntaxError{at, reason};
        return Error::InvalidJson;
    }
    Error failAtEnd() { return fail(text_.size(), "unexpected end of text"); }

    std::string_view text_;
    Arena &arena_;
    size_t pos_ = 0;
    Vec<JsonNode> values_;
    Vec<std::string_view> keys_;
    Vec<size_t> key_offsets_;  // where each key of keys_ starts (its quote)
    Vec<Frame> frames_;
    JsonSyntaxError syntax_;
};

Status TreeParser::parseLiteral(std::string_view word) {
    if (text_.size() - pos_ < word.size() || text_.substr(pos_, word.size()) != word)
        return fail(pos_, "expected a value");
    pos_ += word.size();
    return Status();
}

// A string starting at the opening quote; the result is a slice of the text
// when it has no escapes, else a decoded copy in the arena.
Status TreeParser::parseString(std::string_view *out) {
    const size_t quote = pos_;
    const size_t start = ++pos_;
    const auto *bytes = reinterpret_cast<const unsigned char *>(text_.data());
    bool escaped = false;
    // First pass: find the end and check every byte.
    size_t i = start;
    for (;;) {
        if (i >= text_.size()) return fail(quote, "string without its closing quote");
        const unsigned char b = bytes[i];
        if (b == '"') break;
        if (b < 0x20) return fail(i, "control byte in a string");
        if (b == '\\') {
            escaped = true;
            i += 2;  // the escape letter; \u digits are checked while decoding
            continue;
        }
        if (b >= 0x80) {
            size_t len = utf8SequenceLength(bytes + i, text_.size() - i);
            if (len == 0) return fail(i, "invalid UTF-8 in a string");
            i += len;
            continue;
        }
        ++i;
    }
    const size_t end = i;
    pos_ = end + 1;
    if (!escaped) {
        *out = text_.substr(start, end - start);
        return Status();
    }
    // Every escape error of the shared decoder is a grammar error here.
    Result<std::string_view> decoded =
        json::decodeOwnedJsonString(text_.substr(start, end - start), arena_);
    if (!decoded.ok()) {
        if (decoded.error() == Error::OutOfMemory) return Error::OutOfMemory;
        return fail(quote, "invalid escape in a string");
    }
    *out = *decoded;
    return Status();
}

Status TreeParser::parseNumber(JsonNode *out) {
    const size_t start = pos_;
    size_t i = pos_;
    const size_t n = text_.size();
    if (i < n && text_[i] == '-') ++i;
    if (i >= n || !isDigit(text_[i])) return fail(start, "invalid number");
    if (text_[i] == '0') {
        ++i;
    } else {
        while (i < n && isDigit(text_[i])) ++i;
    }
    bool integral = true;
    if (i < n && text_[i] == '.') {
        integral = false;
        ++i;
        if (i >= n || !isDigit(text_[i])) return fail(start, "invalid number");
        while (i < n && isDigit(text_[i])) ++i;
    }
    if (i < n && (text_[i] == 'e' || text_[i] == 'E')) {
        integral = false;
        ++i;
        if (i < n && (text_[i] == '+' || text_[i] == '-')) ++i;
        if (i >= n || !isDigit(text_[i])) return fail(start, "invalid number");
        while (i < n && isDigit(text_[i])) ++i;
    }
    pos_ = i;
    std::string_view literal = text_.substr(start, i - start);
    if (integral) {
        int64_t v = 0;
        auto r = std::from_chars(literal.data(), literal.data() + literal.size(), v);
        if (r.ec == std::errc() && r.ptr == literal.data() + literal.size()) {
            out->kind = JsonNode::Kind::integer;
            out->integer = v;
        } else {
            out->kind = JsonNode::Kind::integer_text;
            out->text = literal;
        }
        return Status();
    }
    // The grammar is checked above; parseNumeric accepts a superset of it
    // and refuses only values beyond binary64.
    std::optional<double> v = parseNumeric(literal);
    if (!v) return fail(start, "number out of range");
    out->kind = JsonNode::Kind::floating;
    out->floating = *v;
    return Status();
}

Status TreeParser::parseScalar(JsonNode *out) {
    *out = JsonNode();
    switch (peek()) {
        case '"':
            out->kind = JsonNode::Kind::string;
            return parseString(&out->text);
        case 't':
            out->kind = JsonNode::Kind::boolean;
            out->boolean = true;
            return parseLiteral("true");
        case 'f':
            out->kind = JsonNode::Kind::boolean;
            return parseLiteral("false");
        case 'n': return parseLiteral("null");
        default:
            if (peek() == '-' || isDigit(peek())) return parseNumber(out);
            return fail(pos_, "expected a value");
    }
}

// A key and its colon, with the whitespace around them.
Status TreeParser::parseKey() {
    skipSpace();
    if (atEnd()) return failAtEnd();
    // An empty object was taken care of at its '{': here a '}' follows a comma.
    if (peek() == '}') return fail(pos_, "trailing comma before '}'");
    if (peek() != '"') return fail(pos_, "expected a key in quotes");
    const size_t at = pos_;
    std::string_view key;
    ROWKIT_TRY(parseString(&key));
    if (!keys_.push(key) || !key_offsets_.push(at)) return Error::OutOfMemory;
    skipSpace();
    if (atEnd()) return failAtEnd();
    if (peek() != ':') return fail(pos_, "expected ':'");
    ++pos_;
    return Status();
}

// The object's keys are the `count` keys from `keys_start`; a repeat is
// reported where it stands.
Status TreeParser::checkRepeatedKeys(size_t keys_start, size_t count) {
    std::span<const std::string_view> keys(keys_.data() + keys_start, count);
    auto repeated = [&](size_t a) { return fail(key_offsets_[keys_start + a], "repeated key"); };
    if (keys.size() <= kPairwiseKeyCheck) {
        for (size_t a = 1; a < keys.size(); ++a)
            for (size_t b = 0; b < a; ++b)
                if (keys[a] == keys[b]) return repeated(a);
        return Status();
    }
    StrIndexMap seen;
    ROWKIT_TRY(seen.reserve(keys.size()));
    for (size_t a = 0; a < keys.size(); ++a) {
        if (seen.contains(keys[a])) return repeated(a);
        ROWKIT_TRY(seen.put(keys[a], a));
    }
    return Status();
}

// Moves the innermost container's children into the arena and replaces
// them on the value stack with the container itself.
Status TreeParser::closeContainer() {
    const Frame f = frames_.back();
    frames_.popBack();
    const size_t count = values_.size() - f.values_start;
    JsonNode node;
    node.count = count;
    if (f.is_object) {
        node.kind = JsonNode::Kind::object;
        std::span<const std::string_view> keys(keys_.data() + f.keys_start, count);
        ROWKIT_TRY(checkRepeatedKeys(f.keys_start, count));
        if (count) {
            size_t bytes;
            if (!checkedMul(count, sizeof(JsonMember), &bytes)) return Error::OutOfMemory;
            auto *members = static_cast<JsonMember *>(arena_.alloc(bytes, alignof(JsonMember)));
            if (!members) return Error::OutOfMemory;
            for (size_t k = 0; k < count; ++k)
                new (members + k) JsonMember{keys[k], values_[f.values_start + k]};
            node.members = members;
        }
        keys_.truncate(f.keys_start);
        key_offsets_.truncate(f.keys_start);
    } else {
        node.kind = JsonNode::Kind::array;
        if (count) {
            size_t bytes;
            if (!checkedMul(count, sizeof(JsonNode), &bytes)) return Error::OutOfMemory;
            auto *items = static_cast<JsonNode *>(arena_.alloc(bytes, alignof(JsonNode)));
            if (!items) return Error::OutOfMemory;
            std::memcpy(static_cast<void *>(items), values_.data() + f.values_start, bytes);
            node.items = items;
        }
    }
    values_.truncate(f.values_start);
    if (!values_.push(node)) return Error::OutOfMemory;
    return Status();
}

Result<JsonNode> TreeParser::run() {
    // Each turn reads one value (opening containers as it meets them), then
    // the separators and closing brackets that follow it.
    for (;;) {
        skipSpace();
        if (atEnd()) return failAtEnd();
        const char c = peek();
        if (c == '[' || c == '{') {
            if (frames_.size() >= kMaxJsonDepth) return fail(pos_, "nesting too deep");
            ++pos_;
            if (!frames_.push(Frame{values_.size(), keys_.size(), c == '{'}))
                return Error::OutOfMemory;
            skipSpace();
            if (!atEnd() && peek() == (c == '{' ? '}' : ']')) {
                ++pos_;
                ROWKIT_TRY(closeContainer());
            } else {
                if (c == '{') ROWKIT_TRY(parseKey());
                continue;
            }
        } else {
            // An empty array was taken care of at its '[': here a ']' follows
            // a comma.
            if (c == ']' && !frames_.empty() && !frames_.back().is_object)
                return fail(pos_, "trailing comma before ']'");
            JsonNode node;
            ROWKIT_TRY(parseScalar(&node));
            if (!values_.push(node)) return Error::OutOfMemory;
        }
        // After a complete value: close what ends here, or go on after a comma.
        for (;;) {
            skipSpace();
            if (frames_.empty()) {
                if (!atEnd()) return fail(pos_, "unexpected text after the value");
                return values_[0];
            }
            if (atEnd()) return failAtEnd();
            const bool is_object = frames_.back().is_object;
            const char d = peek();
            if (d != ',' && d != (is_object ? '}' : ']'))
                return fail(pos_, is_object ? "expected ',' or '}'" : "expected ',' or ']'");
            ++pos_;
            if (d == ',') {
                if (is_object) ROWKIT_TRY(parseKey());
                break;
            }
            ROWKIT_TRY(closeContainer());
        }
    }
}

}  // namespace

Result<JsonTree> parseJsonTree(std::string_view text, JsonSyntaxError *syntax) {
    JsonTree tree;
    TreeParser parser(text, tree.arena_);
    Result<JsonNode> root = parser.run();
    if (!root.ok()) {
        if (syntax && root.error() == Error::InvalidJson) *syntax = parser.syntaxError();
        return root.error();
    }
    tree.root_ = *root;
    return tree;
}

}  // namespace rowkit
