// The schema parser over arbitrary text against a fixed header. Text the
// strict JSON reader refuses is a BadSchema; every rule of an accepted
// schema names a header column and allows each of its one_of texts; every
// floating-point number of the text, written back in the plain form the
// reports use, reads back to the same value.
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_input.hpp"
#include "json_value.hpp"
#include "schema.hpp"

namespace {

using rowkit::JsonNode;

void checkPlainDouble(double value) {
    if (!std::isfinite(value)) return;
    char text[rowkit::kPlainDoubleMax + 1];
    size_t n = rowkit::formatPlainDouble(value, text);
    FUZZ_CHECK(n > 0 && n < rowkit::kPlainDoubleMax);
    text[n] = '\0';
    for (size_t i = 0; i < n; ++i) FUZZ_CHECK(text[i] == '-' || text[i] == '.' || (text[i] >= '0' && text[i] <= '9'));
    char *end = nullptr;
    double back = std::strtod(text, &end);
    FUZZ_CHECK(end == text + n);
    FUZZ_CHECK(back == value);
}

void walk(const JsonNode &node) {
    switch (node.kind) {
        case JsonNode::Kind::floating: checkPlainDouble(node.floating); break;
        case JsonNode::Kind::integer: checkPlainDouble(static_cast<double>(node.integer)); break;
        case JsonNode::Kind::array:
            for (const JsonNode &item : node.arrayItems()) walk(item);
            break;
        case JsonNode::Kind::object:
            for (const rowkit::JsonMember &m : node.objectMembers()) walk(m.value);
            break;
        default: break;
    }
}

struct Header {
    std::vector<rowkit::OwnedStr> names;
    Header() {
        for (std::string_view name : {"id", "name", "score", "when", "flag", "status", "", "id"}) {
            rowkit::OwnedStr s;
            if (!rowkit::OwnedStr::copy(name, &s)) std::abort();
            names.push_back(std::move(s));
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const Header header;
    const std::string text(reinterpret_cast<const char *>(data), size);
    auto tree = rowkit::parseJsonTree(text);
    if (tree.ok()) walk(tree->root());
    else FUZZ_CHECK(tree.error() == rowkit::Error::InvalidJson);

    std::span<const rowkit::OwnedStr> names(header.names.data(), header.names.size());
    auto schema = rowkit::parseSchema(names, text);
    if (!tree.ok()) FUZZ_CHECK(!schema.ok() && schema.error() == rowkit::Error::BadSchema);
    if (!schema.ok()) {
        FUZZ_CHECK(schema.error() == rowkit::Error::BadSchema ||
                   schema.error() == rowkit::Error::UnknownColumn);
        return 0;
    }
    FUZZ_CHECK(tree->root().kind == JsonNode::Kind::object);
    FUZZ_CHECK(schema->rules().size() == tree->root().count);
    FUZZ_CHECK(schema->n_columns == names.size());
    for (const rowkit::Rule &rule : schema->rules()) {
        FUZZ_CHECK(rule.column < names.size());
        FUZZ_CHECK(names[rule.column].view() == rule.name);
        // The first header name equal to the key.
        size_t first = 0;
        while (names[first].view() != rule.name) ++first;
        FUZZ_CHECK(first == rule.column);
        for (std::string_view allowed : rule.one_of) FUZZ_CHECK(rule.allows(allowed));
    }
    return 0;
}
