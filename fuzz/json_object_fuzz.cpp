// The JSON object parser over arbitrary text: every value of a parsed object
// is walked (the sanitizers see any slice outside the text or the arena),
// the reusable-storage parse must agree with the owning one, and the record
// shortcut, given the object's own keys as the header, must either refuse or
// give exactly the texts the full parse renders.
#include <string>
#include <vector>

#include "fuzz_input.hpp"
#include "json_parser.hpp"

namespace {

using rowkit::json::JsonField;
using rowkit::json::JsonValue;

// Reads every byte of every text below `v` and returns the nesting depth.
size_t walk(const JsonValue &v, size_t *bytes) {
    size_t depth = 0;
    for (char c : v.text) *bytes += static_cast<unsigned char>(c) & 1;
    if (v.kind == JsonValue::Kind::object) {
        for (size_t i = 0; i < v.count; ++i) {
            for (char c : v.fields[i].key) *bytes += static_cast<unsigned char>(c) & 1;
            depth = std::max(depth, walk(v.fields[i].value, bytes));
        }
        return depth + 1;
    }
    if (v.kind == JsonValue::Kind::array) {
        for (size_t i = 0; i < v.count; ++i) depth = std::max(depth, walk(v.items[i], bytes));
        return depth + 1;
    }
    FUZZ_CHECK(v.count == 0);
    return 0;
}

bool sameValue(const JsonValue &a, const JsonValue &b) {
    if (a.kind != b.kind || a.boolean != b.boolean || a.text != b.text || a.count != b.count)
        return false;
    for (size_t i = 0; i < a.count; ++i) {
        if (a.kind == JsonValue::Kind::object) {
            if (a.fields[i].key != b.fields[i].key || !sameValue(a.fields[i].value, b.fields[i].value))
                return false;
        } else if (!sameValue(a.items[i], b.items[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    rowkit_fuzz::ParamReader in(data, size);
    const uint8_t wanted_byte = in.byte();
    const std::string text(in.rest());  // its own block, so reads past it are caught

    auto object = rowkit::json::parseObject(text);

    // The reusable-storage form over the same text, twice through the same
    // storage: the same result each time.
    rowkit::Vec<JsonField> fields;
    rowkit::Arena arena;
    std::vector<rowkit::json::Token> tokens(rowkit::json::kMaxTokens);
    for (int round = 0; round < 2; ++round) {
        arena.reset();
        rowkit::Status st = rowkit::json::parseObjectReuse(text, fields, arena, tokens.data());
        FUZZ_CHECK(st.ok() == object.ok());
        if (!st.ok()) {
            FUZZ_CHECK(st.error() == object.error());
            continue;
        }
        FUZZ_CHECK(fields.size() == object->fields().size());
        for (size_t i = 0; i < fields.size(); ++i) {
            FUZZ_CHECK(fields[i].key == object->fields()[i].key);
            FUZZ_CHECK(sameValue(fields[i].value, object->fields()[i].value));
        }
    }
    if (!object.ok()) return 0;

    std::vector<std::string_view> keys;
    size_t bytes = 0;
    for (const JsonField &f : object->fields()) {
        for (char c : f.key) bytes += static_cast<unsigned char>(c) & 1;
        FUZZ_CHECK(walk(f.value, &bytes) < rowkit::json::kMaxDepth);
        keys.push_back(f.key);
    }
    if (keys.empty()) return 0;
    // The shortcut keeps the first of repeated keys where the full parse
    // keeps the last; compare only objects whose keys are all different.
    for (size_t i = 0; i < keys.size(); ++i)
        for (size_t j = i + 1; j < keys.size(); ++j)
            if (keys[i] == keys[j]) return 0;
    const size_t wanted = 1 + wanted_byte % keys.size();
    std::vector<std::string_view> out(wanted);
    if (!rowkit::json::tryFastRow(text, keys, wanted, out.data())) return 0;
    for (size_t i = 0; i < wanted; ++i) {
        const JsonValue &v = object->fields()[i].value;
        switch (v.kind) {
            case JsonValue::Kind::null_value: FUZZ_CHECK(out[i].empty()); break;
            case JsonValue::Kind::bool_value: FUZZ_CHECK(out[i] == (v.boolean ? "true" : "false")); break;
            case JsonValue::Kind::number:
            case JsonValue::Kind::string: FUZZ_CHECK(out[i] == v.text); break;
            case JsonValue::Kind::object:
            case JsonValue::Kind::array: FUZZ_CHECK(!"the shortcut took a nested value"); break;
        }
    }
    return 0;
}
