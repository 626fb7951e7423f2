// The one-call validation outcome over arbitrary CSV or JSON records text
// with one of a few fixed schemas, through the public interface. Each input
// is answered in both modes, and the two answers must agree: a failure is a
// "validate failed: " message and comes back the same in both modes, "true"
// goes with "[]", "false" with a non-empty array (or with a reading error
// the early stop never reached). The full answer is strict JSON: an array of
// rows, each with its values and at least one error naming a schema column
// and a known rule.
#include <cstring>
#include <string>
#include <string_view>

#include "fuzz_input.hpp"
#include "json_value.hpp"
#include "rowkit.h"

namespace {

using rowkit::JsonMember;
using rowkit::JsonNode;

const char *const kSchemas[] = {
    R"({"id":{"type":"integer","required":true,"min":1},"name":{"type":"string","required":true,"min_len":2,"max_len":40},"age":{"type":"integer","min":0,"max":130},"city":{"required":true},"email":{"required":true,"max_len":64}})",
    R"({"a":{"type":"integer","min":0},"b":{"type":"string","max_len":3,"required":true}})",
    R"({"b":{"one_of":["x","y",1.5,-2]},"a":{"type":"float","min":-1e3,"max":1e3}})",
    R"({"a":{"type":"datetime"},"b":{"type":"boolean","required":true}})",
};
constexpr size_t kSchemaCount = sizeof kSchemas / sizeof kSchemas[0];

const char *const kRules[] = {"too_few_fields", "too_many_fields", "missing_required",
                              "bad_type",       "below_min",       "above_max",
                              "too_short",      "too_long",        "not_in_set"};

// The answer of one call: the text, or "!" and the message.
std::string answer(std::string_view text, size_t schema, int format, int full) {
    char *got = rowkit_validate_outcome(reinterpret_cast<const uint8_t *>(text.data()), text.size(),
                                        kSchemas[schema], format, full);
    const char *message = rowkit_last_error();
    if (!got) {
        FUZZ_CHECK(message && std::strncmp(message, "validate failed: ", 17) == 0);
        return std::string("!") + message;
    }
    FUZZ_CHECK(message == nullptr);
    std::string out = got;
    rowkit_outcome_free(got);
    return out;
}

const JsonNode *member(const JsonNode &object, std::string_view key) {
    for (const JsonMember &m : object.objectMembers())
        if (m.key == key) return &m.value;
    return nullptr;
}

bool knownRule(std::string_view rule) {
    for (const char *r : kRules)
        if (rule == r) return true;
    return false;
}

// Checks the shape of a full answer and returns its number of rows.
size_t checkRows(const std::string &text, size_t schema) {
    rowkit::Result<rowkit::JsonTree> tree = rowkit::parseJsonTree(text);
    FUZZ_CHECK(tree.ok());
    const JsonNode &root = tree->root();
    FUZZ_CHECK(root.kind == JsonNode::Kind::array);
    for (const JsonNode &row : root.arrayItems()) {
        FUZZ_CHECK(row.kind == JsonNode::Kind::object && row.count == 2);
        const JsonNode *values = member(row, "values");
        const JsonNode *errors = member(row, "errors");
        FUZZ_CHECK(values && values->kind == JsonNode::Kind::array);
        for (const JsonNode &v : values->arrayItems()) FUZZ_CHECK(v.kind == JsonNode::Kind::string);
        FUZZ_CHECK(errors && errors->kind == JsonNode::Kind::array && errors->count > 0);
        for (const JsonNode &e : errors->arrayItems()) {
            FUZZ_CHECK(e.kind == JsonNode::Kind::object && member(e, "row") == nullptr);
            const JsonNode *rule = member(e, "rule");
            FUZZ_CHECK(rule && rule->kind == JsonNode::Kind::string && knownRule(rule->text));
            const JsonNode *column = member(e, "column");
            const JsonNode *name = member(e, "column_name");
            FUZZ_CHECK(column && name && member(e, "value") && e.count == 4);
            if (rule->text == "too_few_fields" || rule->text == "too_many_fields") {
                FUZZ_CHECK(column->kind == JsonNode::Kind::null_value ||
                           (column->kind == JsonNode::Kind::integer && column->integer >= 0));
                continue;
            }
            // Every other rule belongs to a column the schema names.
            FUZZ_CHECK(column->kind == JsonNode::Kind::integer && column->integer >= 0);
            FUZZ_CHECK(name && name->kind == JsonNode::Kind::string);
            const std::string quoted = "\"" + std::string(name->text) + "\":{";
            FUZZ_CHECK(std::strstr(kSchemas[schema], quoted.c_str()) != nullptr);
        }
    }
    return root.count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    rowkit_fuzz::ParamReader in(data, size);
    const uint8_t params = in.byte();
    const int format = params & 1 ? 2 : 1;
    const size_t schema = (params >> 1) % kSchemaCount;
    const std::string_view text = in.rest();

    const std::string first = answer(text, schema, format, 0);
    const std::string all = answer(text, schema, format, 1);
    if (first[0] == '!') {
        // The early stop reads the same rows up to the failure.
        FUZZ_CHECK(all == first);
        return 0;
    }
    FUZZ_CHECK(first == "true" || first == "false");
    if (all[0] == '!') {
        // Only rows past the first invalid one can fail a full answer.
        FUZZ_CHECK(first == "false");
        return 0;
    }
    const size_t invalid = checkRows(all, schema);
    FUZZ_CHECK((invalid == 0) == (first == "true"));
    return 0;
}
