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

Result<double> boundValue(const JsonNode &v) {
    switch (v.kind) {
        case JsonNode::Kind::integer: return static_cast<double>(v.integer);
        case JsonNode::Kind::floating: return v.floating;
        case JsonNode::Kind::integer_text: {
            // A bound beyond binary64 cannot be compared with anything.
            std::optional<double> d = parseNumeric(v.text);
            if (!d) return Error::BadSchema;
            return *d;
        }
        default: return Error::BadSchema;
    }
}

Result<size_t> lengthValue(const JsonNode &v) {
    if (v.kind == JsonNode::Kind::integer && v.integer >= 0) return static_cast<size_t>(v.integer);
    // A non-negative integer too long for 64 bits bounds nothing a text can
    // reach; it is still an integer, so it stands for the largest length.
    if (v.kind == JsonNode::Kind::integer_text && !v.text.starts_with('-')) return SIZE_MAX;
    return Error::BadSchema;
}

// The allowed text an element of a one_of list stands for, copied into
// `strings`.
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

Status parseRule(const JsonNode &rule_node, Rule &rule, Arena &strings) {
    if (rule_node.kind != JsonNode::Kind::object) return Error::BadSchema;
    for (const JsonMember &m : rule_node.objectMembers()) {
        const JsonNode &v = m.value;
        if (m.key == "type") {
            if (v.kind != JsonNode::Kind::string) return Error::BadSchema;
            std::optional<ColumnType> t = parseColumnType(v.text);
            if (!t) return Error::BadSchema;
            rule.type = *t;
        } else if (m.key == "required") {
            if (v.kind != JsonNode::Kind::boolean) return Error::BadSchema;
            rule.required = v.boolean;
        } else if (m.key == "min" || m.key == "max") {
            Result<double> d = boundValue(v);
            if (!d.ok()) return d.error();
            (m.key == "min" ? rule.min : rule.max) = *d;
        } else if (m.key == "min_len" || m.key == "max_len") {
            Result<size_t> n = lengthValue(v);
            if (!n.ok()) return n.error();
            (m.key == "min_len" ? rule.min_len : rule.max_len) = *n;
        } else if (m.key == "one_of") {
            if (v.kind != JsonNode::Kind::array) return Error::BadSchema;
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
                if (!t.ok()) return t.error();
                new (list + i) std::string_view(*t);
            }
            rule.one_of = std::span<const std::string_view>(list, v.count);
        } else {
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

Result<Schema> parseSchema(std::span<const OwnedStr> header, std::string_view schema_json) {
    // Every failure of the reader, running out of memory included, means the
    // text is not a usable schema.
    Result<JsonTree> tree = parseJsonTree(schema_json);
    if (!tree.ok()) return tree.error() == Error::OutOfMemory ? Error::OutOfMemory : Error::BadSchema;
    const JsonNode &root = tree->root();
    if (root.kind != JsonNode::Kind::object) return Error::BadSchema;
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
        if (!column) return Error::UnknownColumn;
        if (m.value.kind != JsonNode::Kind::object) return Error::BadSchema;
        Rule rule;
        rule.column = *column;
        if (!schema.strings_.dup(m.key, &rule.name)) return Error::OutOfMemory;
        ROWKIT_TRY(parseRule(m.value, rule, schema.strings_));
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
