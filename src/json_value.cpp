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
    Status checkRepeatedKeys(std::span<const std::string_view> keys);

    std::string_view text_;
    Arena &arena_;
    size_t pos_ = 0;
    Vec<JsonNode> values_;
    Vec<std::string_view> keys_;
    Vec<Frame> frames_;
};

Status TreeParser::parseLiteral(std::string_view word) {
    if (text_.size() - pos_ < word.size() || text_.substr(pos_, word.size()) != word)
        return Error::InvalidJson;
    pos_ += word.size();
    return Status();
}

// A string starting at the opening quote; the result is a slice of the text
// when it has no escapes, else a decoded copy in the arena.
Status TreeParser::parseString(std::string_view *out) {
    const size_t start = ++pos_;
    const auto *bytes = reinterpret_cast<const unsigned char *>(text_.data());
    bool escaped = false;
    // First pass: find the end and check every byte.
    size_t i = start;
    for (;;) {
        if (i >= text_.size()) return Error::InvalidJson;
        const unsigned char b = bytes[i];
        if (b == '"') break;
        if (b < 0x20) return Error::InvalidJson;
        if (b == '\\') {
            escaped = true;
            i += 2;  // the escape letter; \u digits are checked while decoding
            continue;
        }
        if (b >= 0x80) {
            size_t len = utf8SequenceLength(bytes + i, text_.size() - i);
            if (len == 0) return Error::InvalidJson;
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
    if (!decoded.ok())
        return decoded.error() == Error::OutOfMemory ? Error::OutOfMemory : Error::InvalidJson;
    *out = *decoded;
    return Status();
}

Status TreeParser::parseNumber(JsonNode *out) {
    const size_t start = pos_;
    size_t i = pos_;
    const size_t n = text_.size();
    if (i < n && text_[i] == '-') ++i;
    if (i >= n || !isDigit(text_[i])) return Error::InvalidJson;
    if (text_[i] == '0') {
        ++i;
    } else {
        while (i < n && isDigit(text_[i])) ++i;
    }
    bool integral = true;
    if (i < n && text_[i] == '.') {
        integral = false;
        ++i;
        if (i >= n || !isDigit(text_[i])) return Error::InvalidJson;
        while (i < n && isDigit(text_[i])) ++i;
    }
    if (i < n && (text_[i] == 'e' || text_[i] == 'E')) {
        integral = false;
        ++i;
        if (i < n && (text_[i] == '+' || text_[i] == '-')) ++i;
        if (i >= n || !isDigit(text_[i])) return Error::InvalidJson;
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
    if (!v) return Error::InvalidJson;
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
        default: return parseNumber(out);
    }
}

// A key and its colon, with the whitespace around them.
Status TreeParser::parseKey() {
    skipSpace();
    if (atEnd() || peek() != '"') return Error::InvalidJson;
    std::string_view key;
    ROWKIT_TRY(parseString(&key));
    if (!keys_.push(key)) return Error::OutOfMemory;
    skipSpace();
    if (atEnd() || peek() != ':') return Error::InvalidJson;
    ++pos_;
    return Status();
}

Status TreeParser::checkRepeatedKeys(std::span<const std::string_view> keys) {
    if (keys.size() <= kPairwiseKeyCheck) {
        for (size_t a = 1; a < keys.size(); ++a)
            for (size_t b = 0; b < a; ++b)
                if (keys[a] == keys[b]) return Error::InvalidJson;
        return Status();
    }
    StrIndexMap seen;
    ROWKIT_TRY(seen.reserve(keys.size()));
    for (size_t a = 0; a < keys.size(); ++a) {
        if (seen.contains(keys[a])) return Error::InvalidJson;
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
        ROWKIT_TRY(checkRepeatedKeys(keys));
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
        if (atEnd()) return Error::InvalidJson;
        const char c = peek();
        if (c == '[' || c == '{') {
            if (frames_.size() >= kMaxJsonDepth) return Error::InvalidJson;
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
            JsonNode node;
            ROWKIT_TRY(parseScalar(&node));
            if (!values_.push(node)) return Error::OutOfMemory;
        }
        // After a complete value: close what ends here, or go on after a comma.
        for (;;) {
            skipSpace();
            if (frames_.empty()) {
                if (!atEnd()) return Error::InvalidJson;
                return values_[0];
            }
            if (atEnd()) return Error::InvalidJson;
            const bool is_object = frames_.back().is_object;
            const char d = peek();
            ++pos_;
            if (d == ',') {
                if (is_object) ROWKIT_TRY(parseKey());
                break;
            }
            if (d != (is_object ? '}' : ']')) return Error::InvalidJson;
            ROWKIT_TRY(closeContainer());
        }
    }
}

}  // namespace

Result<JsonTree> parseJsonTree(std::string_view text) {
    JsonTree tree;
    TreeParser parser(text, tree.arena_);
    Result<JsonNode> root = parser.run();
    if (!root.ok()) return root.error();
    tree.root_ = *root;
    return tree;
}

}  // namespace rowkit
