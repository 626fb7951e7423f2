// Schema parsing: rule keys and value kinds, column resolution, one_of texts
// and their index, error precedence and allocation failures.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "alloc.hpp"
#include "schema.hpp"

using rowkit::ColumnType;
using rowkit::Error;
using rowkit::OwnedStr;
using rowkit::Schema;

namespace {

std::vector<OwnedStr> makeHeader(const std::vector<std::string> &names) {
    std::vector<OwnedStr> out;
    for (const auto &n : names) {
        OwnedStr s;
        EXPECT_TRUE(OwnedStr::copy(n, &s));
        out.push_back(std::move(s));
    }
    return out;
}

const std::vector<OwnedStr> &header() {
    static const std::vector<OwnedStr> h = makeHeader({"id", "name", "age", "tag", "id"});
    return h;
}

rowkit::Result<Schema> parse(const std::string &text) {
    return rowkit::parseSchema(std::span<const OwnedStr>(header().data(), header().size()), text);
}

Error errorOf(const std::string &text) {
    auto s = parse(text);
    EXPECT_FALSE(s.ok()) << text;
    return s.ok() ? Error::Unexpected : s.error();
}

std::vector<std::string> oneOf(const std::string &list) {
    auto s = parse("{\"tag\":{\"one_of\":" + list + "}}");
    EXPECT_TRUE(s.ok()) << list;
    std::vector<std::string> out;
    if (s.ok())
        for (auto v : s->rules()[0].one_of) out.emplace_back(v);
    return out;
}

std::string plain(double d) {
    char buf[rowkit::kPlainDoubleMax];
    return std::string(buf, rowkit::formatPlainDouble(d, buf));
}

}  // namespace

TEST(Schema, RulesInTextOrderWithEveryKey) {
    auto s = parse(R"({"age": {"type": "integer", "required": true, "min": 1, "max": 2.5,
                               "min_len": 0, "max_len": 3, "one_of": [1, 2.5, "x"]},
                       "id": {}, "name": {"type": "string", "required": false}})");
    ASSERT_TRUE(s.ok());
    EXPECT_EQ(s->n_columns, 5u);
    auto rules = s->rules();
    ASSERT_EQ(rules.size(), 3u);
    const auto &age = rules[0];
    EXPECT_EQ(age.column, 2u);
    EXPECT_EQ(age.name, "age");
    EXPECT_EQ(age.type, ColumnType::integer);
    EXPECT_TRUE(age.required);
    EXPECT_EQ(age.min, 1.0);
    EXPECT_EQ(age.max, 2.5);
    EXPECT_EQ(age.min_len, 0u);
    EXPECT_EQ(age.max_len, 3u);
    ASSERT_EQ(age.one_of.size(), 3u);
    EXPECT_EQ(age.one_of[0], "1");
    EXPECT_EQ(age.one_of[1], "2.5");
    EXPECT_EQ(age.one_of[2], "x");
    EXPECT_FALSE(age.one_of_index.has_value());
    // Repeated header names bind to the first; defaults stay unset.
    EXPECT_EQ(rules[1].column, 0u);
    EXPECT_EQ(rules[1].type, ColumnType::any);
    EXPECT_FALSE(rules[1].required);
    EXPECT_FALSE(rules[1].min || rules[1].max || rules[1].min_len || rules[1].max_len);
    EXPECT_EQ(rules[2].type, ColumnType::string);

    auto empty = parse("{}");
    ASSERT_TRUE(empty.ok());
    EXPECT_TRUE(empty->rules().empty());
    EXPECT_EQ(empty->n_columns, 5u);
    // Crossed bounds are kept as written.
    auto crossed = parse(R"({"age":{"min":5,"max":1,"min_len":4,"max_len":2}})");
    ASSERT_TRUE(crossed.ok());
    EXPECT_EQ(crossed->rules()[0].min, 5.0);
}

TEST(Schema, TypeNamesAndBounds) {
    const char *names[] = {"any", "integer", "float", "boolean", "datetime", "string"};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(rowkit::parseColumnType(names[i]), static_cast<ColumnType>(i));
    for (const char *bad : {"Integer", "int", "number", "", "string "}) {
        EXPECT_FALSE(rowkit::parseColumnType(bad).has_value());
        EXPECT_EQ(errorOf(std::string("{\"age\":{\"type\":\"") + bad + "\"}}"), Error::BadSchema);
    }
    // 2 and 2.0 are the same bound; a long integer literal converts.
    auto s = parse(R"({"age":{"min":2,"max":2.0},"id":{"min":-123456789012345678901234567890}})");
    ASSERT_TRUE(s.ok());
    EXPECT_EQ(s->rules()[0].min, s->rules()[0].max);
    EXPECT_EQ(s->rules()[1].min, -1.2345678901234568e29);
    // A positive length too long for 64 bits is still a length.
    auto huge = parse(R"({"age":{"max_len":123456789012345678901234567890}})");
    ASSERT_TRUE(huge.ok());
    EXPECT_EQ(huge->rules()[0].max_len, SIZE_MAX);
}

TEST(Schema, WrongShapesAndKindsAreBadSchema) {
    const std::string deep(300, '[');
    for (const char *bad : {
             "", "nope", "[]", "1", "\"id\"", "null", "{\"id\":1}", "{\"id\":[]}", "{\"id\":null}",
             R"({"id":{"type":1}})", R"({"id":{"required":"yes"}})", R"({"id":{"required":1}})",
             R"({"id":{"min":"1"}})", R"({"id":{"max":true}})", R"({"id":{"min":null}})",
             R"({"id":{"min":[1]}})", R"({"id":{"min_len":2.0}})", R"({"id":{"min_len":-1}})",
             R"({"id":{"max_len":"3"}})", R"({"id":{"max_len":-99999999999999999999999}})",
             R"({"id":{"one_of":"a"}})", R"({"id":{"one_of":[true]}})", R"({"id":{"one_of":[null]}})",
             R"({"id":{"one_of":[[1]]}})", R"({"id":{"one_of":[{}]}})",
             R"({"id":{"one_of":[99999999999999999999]}})", R"({"id":{"pattern":"x"}})",
             R"({"id":{"Type":"string"}})", R"({"id":{"required":true,"required":false}})",
             R"({"id":{},"id":{}})", R"({"id":{"min":1e999}})",
             R"({"id":{"min":1000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000}})",
             "{\"id\":{}} x", deep.c_str()})
        EXPECT_EQ(errorOf(bad), Error::BadSchema) << bad;
}

TEST(Schema, ColumnsResolveExactlyAndTheFirstOffenderDecides) {
    EXPECT_EQ(errorOf(R"({"ID":{}})"), Error::UnknownColumn);
    EXPECT_EQ(errorOf(R"({"id ":{}})"), Error::UnknownColumn);
    EXPECT_EQ(errorOf(R"({"":{}})"), Error::UnknownColumn);
    EXPECT_EQ(errorOf(R"({"nope":{"pattern":1}})"), Error::UnknownColumn);
    EXPECT_EQ(errorOf(R"({"id":{"pattern":1},"nope":{}})"), Error::BadSchema);
    EXPECT_EQ(errorOf(R"({"nope":{},"id":{"pattern":1}})"), Error::UnknownColumn);
    // A text that is not JSON is BadSchema whatever its keys.
    EXPECT_EQ(errorOf(R"({"nope":{},"nope":{}})"), Error::BadSchema);
    // Escaped keys are compared after decoding.
    EXPECT_TRUE(parse(R"({"\u0069d":{}})").ok());
    // An empty header resolves nothing.
    auto none = rowkit::parseSchema(std::span<const OwnedStr>(), R"({"id":{}})");
    ASSERT_FALSE(none.ok());
    EXPECT_EQ(none.error(), Error::UnknownColumn);
    EXPECT_TRUE(rowkit::parseSchema(std::span<const OwnedStr>(), "{}").ok());
}

TEST(Schema, OneOfTextsAndIndex) {
    EXPECT_EQ(oneOf("[1, -7, 2.0, 0.5, -0.25, 1e21, 1.5e-7, \"\", \"1.0\"]"),
              (std::vector<std::string>{"1", "-7", "2", "0.5", "-0.25", "1" + std::string(21, '0'),
                                        "0.00000015", "", "1.0"}));
    EXPECT_TRUE(oneOf("[]").empty());
    EXPECT_EQ(plain(0.1), "0.1");
    EXPECT_EQ(plain(123456.789), "123456.789");
    EXPECT_EQ(plain(-0.0), "-0");
    EXPECT_EQ(plain(1e-5), "0.00001");
    EXPECT_EQ(plain(9007199254740993.0), "9007199254740992");
    EXPECT_EQ(plain(std::numeric_limits<double>::max()).size(), 309u);
    std::string tiny = plain(std::numeric_limits<double>::denorm_min());
    EXPECT_EQ(tiny, "0." + std::string(323, '0') + "5");
    // Every plain text reads back to the same value.
    for (double d : {0.1, 1.0 / 3, 2.0 / 3e10, 6.02214076e23, 1e300, 4.35e-300, 123.456e-5})
        EXPECT_EQ(std::strtod(plain(d).c_str(), nullptr), d) << plain(d);

    // 31 entries are searched in order, 32 get a hash set; both agree.
    auto listOf = [](int n) {
        std::string list = "[";
        for (int i = 0; i < n; ++i) list += (i ? ",\"v" : "\"v") + std::to_string(i) + "\"";
        return list + "]";
    };
    for (int n : {31, 32, 200}) {
        auto s = parse("{\"tag\":{\"one_of\":" + listOf(n) + "}}");
        ASSERT_TRUE(s.ok());
        const auto &rule = s->rules()[0];
        EXPECT_EQ(rule.one_of_index.has_value(), n >= 32);
        for (int i = 0; i < n; ++i) EXPECT_TRUE(rule.allows("v" + std::to_string(i)));
        EXPECT_FALSE(rule.allows("v" + std::to_string(n)));
        EXPECT_FALSE(rule.allows("V1"));
        EXPECT_FALSE(rule.allows(" v1"));
        EXPECT_FALSE(rule.allows(""));
    }
    // Equal entries collapse in the index; the list keeps them.
    std::string dup = "[";
    for (int i = 0; i < 40; ++i) dup += (i ? ",\"" : "\"") + std::string(i % 2 ? "a" : "") + "\"";
    auto s = parse("{\"tag\":{\"one_of\":" + dup + "]}}");
    ASSERT_TRUE(s.ok());
    EXPECT_EQ(s->rules()[0].one_of.size(), 40u);
    EXPECT_EQ(s->rules()[0].one_of_index->size(), 2u);
    EXPECT_TRUE(s->rules()[0].allows(""));
}

TEST(Schema, AllocationFailures) {
    std::string list = "[";
    for (int i = 0; i < 40; ++i) list += (i ? "," : "") + std::to_string(i * 1.5);
    std::string text = "{\"age\":{\"type\":\"float\",\"one_of\":" + list + "]},\"na\\u006de\":{\"min_len\":1}}";
    ASSERT_TRUE(parse(text).ok());
    bool done = false;
    for (uint64_t nth = 1; nth < 100 && !done; ++nth) {
        rowkit::alloc_hook::reset();
        rowkit::alloc_hook::failAt(nth);
        auto s = parse(text);
        rowkit::alloc_hook::reset();
        if (s.ok()) {
            done = true;
            EXPECT_EQ(s->rules().size(), 2u);
        } else {
            // Failures inside the reader make the text unusable; later ones
            // are reported as such.
            EXPECT_TRUE(s.error() == Error::BadSchema || s.error() == Error::OutOfMemory);
        }
    }
    EXPECT_TRUE(done);
}
