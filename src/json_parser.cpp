#include "json_parser.hpp"

#include <algorithm>
#include <cstring>

namespace rowkit::json {

namespace {

// The whitespace trimmed from scalar texts.
inline bool isTrimmedSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// The whitespace the fast row path steps over between tokens.
inline bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && isTrimmedSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && isTrimmedSpace(s.back())) s.remove_suffix(1);
    return s;
}

// A growable array inside an arena: growing copies into a block twice the
// size and abandons the old one, which the arena reclaims when it is reset.
template <class T>
class ArenaList {
public:
    explicit ArenaList(Arena &arena) : arena_(arena) {}
    [[nodiscard]] bool push(const T &v) {
        if (len_ == cap_) {
            size_t cap = cap_ ? cap_ * 2 : 4;
            size_t bytes;
            if (!checkedMul(cap, sizeof(T), &bytes)) return false;
            T *p = static_cast<T *>(arena_.alloc(bytes, alignof(T)));
            if (!p) return false;
            if (len_) std::memcpy(static_cast<void *>(p), data_, len_ * sizeof(T));
            data_ = p;
            cap_ = cap;
        }
        data_[len_++] = v;
        return true;
    }
    const T *data() const { return data_; }
    size_t size() const { return len_; }

private:
    Arena &arena_;
    T *data_ = nullptr;
    size_t len_ = 0;
    size_t cap_ = 0;
};

// The top-level field list: the caller's reused vector.
struct VecSink {
    Vec<JsonField> &fields;
    [[nodiscard]] bool push(const JsonField &f) { return fields.push(f); }
};

// One level of the parse: a text (cut after the closing byte of the value
// being parsed, for nested levels), the tokens that lie in it, and the
// nesting depth. Nested levels are parsed by child parsers over the same
// token table.
class Parser {
public:
    Parser(std::string_view text, const Token *tokens, size_t n_tokens, Arena &arena, size_t depth)
        : text_(text), tokens_(tokens), n_(n_tokens), arena_(arena), depth_(depth) {}

    // Parses the fields of the object whose '{' is token `open` into `sink`.
    template <class Sink>
    Status parseObjectBody(size_t open, Sink &sink) {
        size_t i = open + 1;
        for (;;) {
            if (i >= n_) return Error::UnexpectedEnd;
            const Token &t = tokens_[i];
            switch (t.type) {
                case TokenType::quote: {
                    JsonField f;
                    ROWKIT_TRY(parseKey(&i, &f));
                    ROWKIT_TRY(parseValueAfterColon(&i, &f.value));
                    if (!sink.push(f)) return Error::OutOfMemory;
                    break;
                }
                case TokenType::comma: ++i; break;
                case TokenType::close_brace: return Status();
                default: return Error::ExpectedQuote;
            }
        }
    }

private:
    // A key at the quote token *i, then its colon: *i ends on the token
    // after the colon.
    Status parseKey(size_t *i, JsonField *f) {
        size_t start = tokens_[*i].pos + 1;
        std::optional<size_t> end = findStringEndFromTokens(text_, tokens_, n_, *i, start);
        if (!end) return Error::MalformedKey;
        ROWKIT_TRY(stringText(text_.substr(start, *end - start), &f->key, &f->key_owned));
        if (!advanceTokenIndex(tokens_, n_, i, *end) || tokens_[*i].type != TokenType::colon)
            return Error::ExpectedColon;
        ++*i;
        return Status();
    }

    // The value after the colon just before token *i; *i ends on the first
    // token the value does not consume.
    Status parseValueAfterColon(size_t *i, JsonValue *out) {
        if (*i >= n_) return Error::UnexpectedEnd;
        const Token &t = tokens_[*i];
        size_t colon_pos = tokens_[*i - 1].pos;
        size_t first = colon_pos + 1;
        while (first < text_.size() && isTrimmedSpace(text_[first])) ++first;
        if (first == t.pos) {
            // The value starts with a structural byte.
            switch (t.type) {
                case TokenType::quote: return parseString(i, out);
                case TokenType::open_brace: return parseNestedObject(i, out);
                case TokenType::open_bracket: return parseArray(i, out);
                case TokenType::close_bracket:
                case TokenType::colon: return Error::UnexpectedToken;
                default: break;  // comma or closing brace: an empty scalar
            }
        }
        // A scalar runs to the next comma, closing brace or quote.
        if (t.type != TokenType::comma && t.type != TokenType::close_brace && t.type != TokenType::quote)
            return Error::UnexpectedToken;
        *out = scalar(trimmed(text_.substr(colon_pos + 1, t.pos - colon_pos - 1)));
        return Status();
    }

    static JsonValue scalar(std::string_view s) {
        JsonValue v;
        if (s == "true" || s == "false") {
            v.kind = JsonValue::Kind::bool_value;
            v.boolean = s[0] == 't';
        } else if (s == "null") {
            v.kind = JsonValue::Kind::null_value;
        } else {
            v.kind = JsonValue::Kind::number;
            v.text = s;
        }
        return v;
    }

    // The text of a string's content: the content itself without a
    // backslash, else its decoded copy in the arena (*decoded is then set).
    Status stringText(std::string_view raw, std::string_view *out, bool *decoded) {
        *out = raw;
        if (!hasJsonEscape(raw)) return Status();
        Result<std::string_view> text = decodeOwnedJsonString(raw, arena_);
        if (!text.ok()) return text.error();
        *out = *text;
        *decoded = true;
        return Status();
    }

    Status stringValue(std::string_view raw, JsonValue *out) {
        out->kind = JsonValue::Kind::string;
        bool decoded = false;
        return stringText(raw, &out->text, &decoded);
    }

    Status parseString(size_t *i, JsonValue *out) {
        size_t start = tokens_[*i].pos + 1;
        std::optional<size_t> end = findStringEndFromTokens(text_, tokens_, n_, *i, start);
        if (!end) return Error::MalformedString;
        ROWKIT_TRY(stringValue(text_.substr(start, *end - start), out));
        advanceTokenIndex(tokens_, n_, i, *end);
        return Status();
    }

    // Index of the first token at or after `from` positioned past `pos`.
    size_t firstTokenAfter(size_t from, size_t pos) const {
        const Token *it = std::upper_bound(tokens_ + from, tokens_ + n_, pos,
                                           [](size_t p, const Token &t) { return p < t.pos; });
        return static_cast<size_t>(it - tokens_);
    }

    // The token index of the structural byte at `pos` (which must be one).
    size_t tokenAt(size_t from, size_t pos) const {
        const Token *it = std::lower_bound(tokens_ + from, tokens_ + n_, pos,
                                           [](const Token &t, size_t p) { return t.pos < p; });
        return static_cast<size_t>(it - tokens_);
    }

    // The object whose '{' is token `open` and whose text is cut at `limit`
    // (exclusive), parsed one level deeper.
    Status objectAt(size_t open, size_t limit, JsonValue *out) {
        if (depth_ >= kMaxDepth) return Error::InvalidJson;
        Parser child(text_.substr(0, limit), tokens_, firstTokenAfter(open, limit - 1), arena_, depth_ + 1);
        ArenaList<JsonField> fields(arena_);
        ROWKIT_TRY(child.parseObjectBody(open, fields));
        out->kind = JsonValue::Kind::object;
        out->fields = fields.data();
        out->count = fields.size();
        return Status();
    }

    Status parseNestedObject(size_t *i, JsonValue *out) {
        std::optional<size_t> close = findMatchingClose(text_, tokens_[*i].pos);
        if (!close) return Error::UnexpectedEnd;
        ROWKIT_TRY(objectAt(*i, *close + 1, out));
        *i = firstTokenAfter(*i, *close);
        return Status();
    }

    Status parseArray(size_t *i, JsonValue *out) {
        size_t open = tokens_[*i].pos;
        std::optional<size_t> close = findMatchingClose(text_, open);
        if (!close) return Error::UnexpectedEnd;
        ROWKIT_TRY(arrayAt(open, *close, out));
        *i = firstTokenAfter(*i, *close);
        return Status();
    }

    // The array between text_[open] '[' and text_[close] ']', one level
    // deeper: its content is split at the commas outside strings and
    // outside nested brackets of either kind.
    Status arrayAt(size_t open, size_t close, JsonValue *out) {
        if (depth_ >= kMaxDepth) return Error::InvalidJson;
        Parser child(text_.substr(0, close), tokens_, firstTokenAfter(0, close - 1), arena_, depth_ + 1);
        ArenaList<JsonValue> items(arena_);
        out->kind = JsonValue::Kind::array;
        if (!trimmed(text_.substr(open + 1, close - open - 1)).empty()) {
            size_t piece = open + 1;
            size_t depth = 0;
            bool in_string = false;
            for (size_t k = open + 1; k <= close; ++k) {
                char c = k < close ? text_[k] : ',';
                if (in_string) {
                    if (c == '\\')
                        ++k;
                    else if (c == '"')
                        in_string = false;
                    continue;
                }
                if (c == '"') {
                    in_string = true;
                } else if (c == '[' || c == '{') {
                    ++depth;
                } else if ((c == ']' || c == '}') && depth > 0) {
                    --depth;
                } else if (c == ',' && (depth == 0 || k == close)) {
                    JsonValue v;
                    ROWKIT_TRY(child.arrayElement(piece, k, &v));
                    if (!items.push(v)) return Error::OutOfMemory;
                    piece = k + 1;
                }
            }
        }
        out->items = items.data();
        out->count = items.size();
        return Status();
    }

    // One array element, text_[from, to) before trimming.
    Status arrayElement(size_t from, size_t to, JsonValue *out) {
        while (from < to && isTrimmedSpace(text_[from])) ++from;
        while (to > from && isTrimmedSpace(text_[to - 1])) --to;
        std::string_view s = text_.substr(from, to - from);
        if (s.empty()) {
            *out = scalar(s);
            return Status();
        }
        switch (s[0]) {
            case '{': {
                Parser piece(text_.substr(0, to), tokens_, firstTokenAfter(0, to - 1), arena_, depth_);
                return piece.objectAt(tokenAt(0, from), to, out);
            }
            case '[': {
                Parser piece(text_.substr(0, to), tokens_, firstTokenAfter(0, to - 1), arena_, depth_);
                std::optional<size_t> close = findMatchingClose(piece.text_, from);
                if (!close) return Error::UnexpectedEnd;
                return piece.arrayAt(from, *close, out);
            }
            case '"':
                if (s.size() == 1) return Error::MalformedString;
                return stringValue(s.substr(1, s.size() - 2), out);
            default: *out = scalar(s); return Status();
        }
    }

    std::string_view text_;
    const Token *tokens_;
    size_t n_;
    Arena &arena_;
    size_t depth_;
};

template <class Sink>
Status parseTop(std::string_view text, Token *tokens, Arena &arena, Sink &sink) {
    size_t n = findJsonStructure(text, tokens);
    if (n == kMaxTokens) return Error::TooManyTokens;
    if (n == 0 || tokens[0].type != TokenType::open_brace) return Error::InvalidJson;
    if (n < 2) return Error::UnexpectedEnd;
    Parser p(text, tokens, n, arena, 0);
    return p.parseObjectBody(0, sink);
}

// How the fast row path treats a byte inside an unquoted value.
enum ScalarClass : uint8_t {
    kScalarByte = 0,  // part of the value
    kScalarEnd = 1,   // ends the value: whitespace, ',' or '}'
    kScalarOdd = 2,   // a byte the full parse reads differently: give up
};

struct ScalarTable {
    uint8_t of[256];
    constexpr ScalarTable() : of() {
        for (uint8_t &c : of) c = kScalarByte;
        for (char c : {' ', '\t', '\n', '\r', '\v', '\f', ',', '}'}) of[static_cast<unsigned char>(c)] = kScalarEnd;
        for (char c : {'"', '[', ']', '{', ':'}) of[static_cast<unsigned char>(c)] = kScalarOdd;
    }
};
constexpr ScalarTable kScalar;

}  // namespace

Result<JsonObject> parseObject(std::string_view text) {
    Token tokens[kMaxTokens];
    JsonObject obj;
    VecSink sink{obj.fields_};
    Status st = parseTop(text, tokens, obj.arena_, sink);
    if (!st.ok()) return st.error();
    return obj;
}

Status parseObjectReuse(std::string_view text, Vec<JsonField> &fields, Arena &arena, Token *tokens) {
    fields.clear();
    VecSink sink{fields};
    Status st = parseTop(text, tokens, arena, sink);
    if (!st.ok()) fields.clear();
    return st;
}

std::optional<size_t> findMatchingClose(std::string_view text, size_t open) {
    const char *p = text.data();
    const size_t n = text.size();
    const char open_byte = p[open];
    const char close_byte = open_byte == '{' ? '}' : ']';
    size_t depth = 0;
    for (size_t i = open; i < n; ++i) {
        char c = p[i];
        if (c == '"') {
            // Jump to the end of the string.
            std::optional<size_t> end = findStringEnd(text, i + 1);
            if (!end) return std::nullopt;
            i = *end;
        } else if (c == open_byte) {
            ++depth;
        } else if (c == close_byte) {
            if (--depth == 0) return i;
        }
    }
    return std::nullopt;
}

bool tryFastRow(std::string_view line, std::span<const std::string_view> header, size_t wanted,
                std::string_view *out) {
    const char *s = line.data();
    const size_t n = line.size();
    if (n == 0 || n >= kMaxTokens) return false;
    size_t p = 0;
    while (p < n && isSpace(s[p])) ++p;
    if (p >= n || s[p] != '{') return false;
    ++p;
    for (size_t j = 0; j < wanted; ++j) {
        while (p < n && (s[p] == ',' || isSpace(s[p]))) ++p;
        if (p >= n || s[p] != '"') return false;
        ++p;
        // The key must be the header name followed by its closing quote. A
        // name holding a quote or backslash can never match a key without
        // escapes, so meeting one fails too.
        const std::string_view key = header[j];
        if (key.size() >= n - p) return false;
        for (size_t i = 0; i < key.size(); ++i) {
            char c = s[p + i];
            if (c != key[i] || c == '"' || c == '\\') return false;
        }
        p += key.size();
        if (s[p] != '"') return false;
        ++p;
        while (p < n && isSpace(s[p])) ++p;
        if (p >= n || s[p] != ':') return false;
        ++p;
        while (p < n && isSpace(s[p])) ++p;
        if (p >= n) return false;
        if (s[p] == '"') {
            ++p;
            size_t k = p + bytes::findEither(s + p, n - p, '"', '\\');
            if (k >= n || s[k] != '"') return false;
            out[j] = std::string_view(s + p, k - p);
            p = k + 1;
            continue;
        }
        size_t start = p;
        while (p < n && kScalar.of[static_cast<unsigned char>(s[p])] == kScalarByte) ++p;
        if (p >= n || p == start || kScalar.of[static_cast<unsigned char>(s[p])] == kScalarOdd)
            return false;
        std::string_view value(s + start, p - start);
        out[j] = value == "null" ? std::string_view() : value;
    }
    while (p < n && isSpace(s[p])) ++p;
    if (p >= n) return false;
    if (s[p] == '}') return true;
    if (s[p] != ',') return false;
    size_t last = n;
    while (last > p && isSpace(s[last - 1])) --last;
    return s[last - 1] == '}';
}

}  // namespace rowkit::json
