#include "schema.hpp"

#include <charconv>
#include <cstring>

#include "json_value.hpp"
#include "numeric.hpp"

namespace rowkit {

namespace {

constexpr std::string_view kTypeNames[] = {"any", "integer", "float", "boolean", "datetime", "string"};

bool sameBytes(std::string_view a, std::string_view b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size()) == 0);
}

// What a value is, as the details say it ("got a string").
std::string_view kindName(const JsonNode &v) {
    switch (v.kind) {
        case JsonNode::Kind::null_value: return "null";
        case JsonNode::Kind::boolean: return "a boolean";
        case JsonNode::Kind::integer: return "an integer";
        case JsonNode::Kind::floating: return "a float";
        case JsonNode::Kind::integer_text: return "an integer beyond 64 bits";
        case JsonNode::Kind::string: return "a string";
        case JsonNode::Kind::array: return "an array";
        case JsonNode::Kind::object: return "an object";
    }
    return "a value";
}

// Says what is wrong with one rule of one column, in *detail when there is
// one: column "age": rule "min" must be a number, got a string.
class RuleComplaint {
public:
    RuleComplaint(ErrorDetail *detail, std::string_view column)
        : detail_(detail), column_(column) {}

    // The start of every detail about this column, or null when nobody
    // asked for one.
    ErrorDetail *column() const {
        if (detail_) detail_->add("column ").quoted(column_).add(": ");
        return detail_;
    }
    Error rule(std::string_view key, std::string_view must, const JsonNode *got = nullptr) const {
        if (ErrorDetail *d = column()) {
            d->add("rule ").quoted(key).add(" ").add(must);
            if (got) d->add(", got ").add(kindName(*got));
        }
        return Error::BadSchema;
    }

private:
    ErrorDetail *detail_;
    std::string_view column_;
};

Result<double> boundValue(const JsonNode &v, std::string_view key, const RuleComplaint &complain) {
    switch (v.kind) {
        case JsonNode::Kind::integer: return static_cast<double>(v.integer);
        case JsonNode::Kind::floating: return v.floating;
        case JsonNode::Kind::integer_text: {
            // A bound beyond binary64 cannot be compared with anything.
            std::optional<double> d = parseNumeric(v.text);
            if (!d) return complain.rule(key, "is beyond the range of a float");
            return *d;
        }
        default: return complain.rule(key, "must be a number", &v);
    }
}

Result<size_t> lengthValue(const JsonNode &v, std::string_view key, const RuleComplaint &complain) {
    if (v.kind == JsonNode::Kind::integer && v.integer >= 0) return static_cast<size_t>(v.integer);
    // A non-negative integer too long for 64 bits bounds nothing a text can
    // reach; it is still an integer, so it stands for the largest length.
    if (v.kind == JsonNode::Kind::integer_text && !v.text.starts_with('-')) return SIZE_MAX;
    if (v.kind == JsonNode::Kind::integer || v.kind == JsonNode::Kind::integer_text)
        return complain.rule(key, "must not be negative");
    return complain.rule(key, "must be a non-negative integer", &v);
}

// The allowed text an element of a one_of list stands for, copied into
// `strings`. BadSchema for other kinds, without a detail.
Result<std::string_view> oneOfText(const JsonNode &v, Arena &strings) {
    char buf[kPlainDoubleMax];
    std::string_view text;
    switch (v.kind) {
        case JsonNode::Kind::string: text = v.text; break;
        case JsonNode::Kind::integer: {
            auto r = std::to_chars(buf, buf + sizeof buf, v.integer);
            text = std::string_view(buf, static_cast<size_t>(r.ptr - buf));
            break;
        }
        case JsonNode::Kind::floating: text = std::string_view(buf, formatPlainDouble(v.floating, buf)); break;
        default: return Error::BadSchema;
    }
    std::string_view copy;
    if (!strings.dup(text, &copy)) return Error::OutOfMemory;
    return copy;
}

Status parseRule(const JsonNode &rule_node, Rule &rule, Arena &strings,
                 const RuleComplaint &complain) {
    for (const JsonMember &m : rule_node.objectMembers()) {
        const JsonNode &v = m.value;
        if (m.key == "type") {
            if (v.kind != JsonNode::Kind::string)
                return complain.rule(m.key, "must be a string", &v);
            std::optional<ColumnType> t = parseColumnType(v.text);
            if (!t) {
                if (ErrorDetail *d = complain.column())
                    d->add("unknown type ").quoted(v.text).add(
                        ", expected any, integer, float, boolean, datetime or string");
                return Error::BadSchema;
            }
            rule.type = *t;
        } else if (m.key == "required") {
            if (v.kind != JsonNode::Kind::boolean)
                return complain.rule(m.key, "must be true or false", &v);
            rule.required = v.boolean;
        } else if (m.key == "min" || m.key == "max") {
            Result<double> d = boundValue(v, m.key, complain);
            if (!d.ok()) return d.error();
            (m.key == "min" ? rule.min : rule.max) = *d;
        } else if (m.key == "min_len" || m.key == "max_len") {
            Result<size_t> n = lengthValue(v, m.key, complain);
            if (!n.ok()) return n.error();
            (m.key == "min_len" ? rule.min_len : rule.max_len) = *n;
        } else if (m.key == "one_of") {
            if (v.kind != JsonNode::Kind::array)
                return complain.rule(m.key, "must be an array", &v);
            if (v.count == 0) {
                rule.one_of = {};
                continue;
            }
            size_t bytes;
            if (!checkedMul(v.count, sizeof(std::string_view), &bytes)) return Error::OutOfMemory;
            auto *list = static_cast<std::string_view *>(strings.alloc(bytes, alignof(std::string_view)));
            if (!list) return Error::OutOfMemory;
            for (size_t i = 0; i < v.count; ++i) {
                Result<std::string_view> t = oneOfText(v.items[i], strings);
                if (!t.ok()) {
                    if (t.error() == Error::BadSchema) {
                        if (ErrorDetail *d = complain.column()) {
                            d->add("rule \"one_of\" item ").number(i);
                            if (v.items[i].kind == JsonNode::Kind::integer_text)
                                d->add(" is an integer beyond 64 bits");
                            else
                                d->add(" must be a string or a number, got ")
                                    .add(kindName(v.items[i]));
                        }
                    }
                    return t.error();
                }
                new (list + i) std::string_view(*t);
            }
            rule.one_of = std::span<const std::string_view>(list, v.count);
        } else {
            if (ErrorDetail *d = complain.column()) d->add("unknown rule key ").quoted(m.key);
            return Error::BadSchema;
        }
    }
    if (rule.one_of.size() >= kOneOfIndexMin) {
        StrIndexMap index;
        if (!index.reserve(rule.one_of.size()).ok()) return Error::OutOfMemory;
        for (size_t i = 0; i < rule.one_of.size(); ++i)
            if (!index.put(rule.one_of[i], i).ok()) return Error::OutOfMemory;
        rule.one_of_index = std::move(index);
    }
    return Status();
}

}  // namespace

std::optional<ColumnType> parseColumnType(std::string_view name) {
    for (size_t i = 0; i < std::size(kTypeNames); ++i)
        if (name == kTypeNames[i]) return static_cast<ColumnType>(i);
    return std::nullopt;
}

bool Rule::allows(std::string_view text) const {
    if (one_of_index) return one_of_index->contains(text);
    for (std::string_view v : one_of)
        if (sameBytes(v, text)) return true;
    return false;
}

namespace {

// schema is not valid JSON: expected ':' at byte 14 (line 1, column 15)
void describeSyntaxError(ErrorDetail &d, std::string_view text, const JsonSyntaxError &e) {
    uint64_t line = 1;
    size_t line_start = 0;
    for (size_t i = 0; i < e.offset && i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++line;
            line_start = i + 1;
        }
    }
    d.add("schema is not valid JSON: ").add(e.reason).add(" at byte ").number(e.offset);
    d.add(" (line ").number(line).add(", column ").number(e.offset - line_start + 1).add(")");
}

}  // namespace

Result<Schema> parseSchema(std::span<const OwnedStr> header, std::string_view schema_json,
                           ErrorDetail *detail) {
    // Every failure of the reader but running out of memory means the text
    // is not a usable schema.
    JsonSyntaxError syntax;
    Result<JsonTree> tree = parseJsonTree(schema_json, &syntax);
    if (!tree.ok()) {
        if (tree.error() == Error::OutOfMemory) return Error::OutOfMemory;
        if (detail) describeSyntaxError(*detail, schema_json, syntax);
        return Error::BadSchema;
    }
    const JsonNode &root = tree->root();
    if (root.kind != JsonNode::Kind::object) {
        if (detail)
            detail->add("the schema must be an object of column rules, got ").add(kindName(root));
        return Error::BadSchema;
    }
    Schema schema;
    schema.n_columns = header.size();
    if (!schema.rules_.reserve(root.count)) return Error::OutOfMemory;
    for (const JsonMember &m : root.objectMembers()) {
        std::optional<size_t> column;
        for (size_t i = 0; i < header.size(); ++i) {
            if (sameBytes(header[i].view(), m.key)) {
                column = i;
                break;
            }
        }
        if (!column) {
            if (detail) detail->add("column ").quoted(m.key).add(" is not in the header");
            return Error::UnknownColumn;
        }
        const RuleComplaint complain(detail, m.key);
        if (m.value.kind != JsonNode::Kind::object) {
            if (ErrorDetail *d = complain.column())
                d->add("rules must be an object, got ").add(kindName(m.value));
            return Error::BadSchema;
        }
        Rule rule;
        rule.column = *column;
        if (!schema.strings_.dup(m.key, &rule.name)) return Error::OutOfMemory;
        ROWKIT_TRY(parseRule(m.value, rule, schema.strings_, complain));
        (void)schema.rules_.push(std::move(rule));  // reserved above
    }
    return schema;
}

size_t formatPlainDouble(double value, char *out) {
    // The shortest round-trip digits come from to_chars in scientific form,
    // "d.ddde±x"; they are then placed around the decimal point by hand.
    char sci[64];
    auto r = std::to_chars(sci, sci + sizeof sci, value, std::chars_format::scientific);
    const char *p = sci;
    const char *end = r.ptr;
    size_t n = 0;
    if (*p == '-') {
        out[n++] = '-';
        ++p;
    }
    char digits[32];
    size_t nd = 0;
    while (p < end && *p != 'e') {
        if (*p != '.') digits[nd++] = *p;
        ++p;
    }
    int exp10 = 0;
    if (p < end) {
        ++p;  // 'e'
        bool neg = *p == '-';
        ++p;  // the sign is always written
        std::from_chars(p, end, exp10);
        if (neg) exp10 = -exp10;
    }
    // value = d1.d2...dn × 10^exp10
    if (exp10 < 0) {
        out[n++] = '0';
        out[n++] = '.';
        for (int z = -1; z > exp10; --z) out[n++] = '0';
        std::memcpy(out + n, digits, nd);
        return n + nd;
    }
    const size_t int_digits = static_cast<size_t>(exp10) + 1;
    if (int_digits >= nd) {
        std::memcpy(out + n, digits, nd);
        n += nd;
        for (size_t z = nd; z < int_digits; ++z) out[n++] = '0';
        return n;
    }
    std::memcpy(out + n, digits, int_digits);
    n += int_digits;
    out[n++] = '.';
    std::memcpy(out + n, digits + int_digits, nd - int_digits);
    return n + nd - int_digits;
}

}  // namespace rowkit
