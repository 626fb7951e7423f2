// Schema parsing: rule keys and value kinds, column resolution, one_of texts
// and their index, error precedence and allocation failures.
#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "alloc.hpp"
#include "schema.hpp"

using namespace rowkit;

static rowkit::Result<Schema> parse(const std::string &text, ErrorDetail *detail = nullptr) {
    static const std::vector<OwnedStr> header = [] {
        std::vector<OwnedStr> out(5);
        const char *names[] = {"id", "name", "age", "tag", "id"};
        for (size_t i = 0; i < out.size(); ++i) EXPECT_TRUE(OwnedStr::copy(names[i], &out[i]));
        return out;
    }();
    return rowkit::parseSchema(std::span<const OwnedStr>(header.data(), header.size()), text,
                               detail);
}

// A rule as text: column, name, type number, then what is set, in order.
static std::string describe(const Rule &r) {
    std::ostringstream out;
    out << r.column << " " << r.name << " " << static_cast<int>(r.type)
        << (r.required ? " required" : "");
    if (r.min) out << " min=" << *r.min;
    if (r.max) out << " max=" << *r.max;
    if (r.min_len) out << " min_len=" << *r.min_len;
    if (r.max_len) out << " max_len=" << *r.max_len;
    if (!r.one_of.empty()) out << " one_of=" << r.one_of.size();
    return out.str();
}

static std::string plain(double d) {
    char buf[rowkit::kPlainDoubleMax];
    return std::string(buf, rowkit::formatPlainDouble(d, buf));
}

// Rules come in text order; a repeated header name binds to its first
// column; keys left out stay unset. A long integer bound converts; a
// positive length too long for 64 bits is still a length.
TEST(Schema, RulesInTextOrderWithEveryKey) {
    auto s = parse(R"({"age": {"type": "integer", "required": true, "min": 1, "max": 2.5,
        "min_len": 0, "max_len": 3, "one_of": [1, "x"]}, "id": {},
        "tag": {"min":-123456789012345678901234567890,"max_len":123456789012345678901234567890}})");
    ASSERT_TRUE(s.ok());
    ASSERT_EQ(s->rules().size(), 3u);
    EXPECT_EQ(describe(s->rules()[0]),
              "2 age 1 required min=1 max=2.5 min_len=0 max_len=3 one_of=2");
    EXPECT_EQ(describe(s->rules()[1]), "0 id 0");
    EXPECT_EQ(s->rules()[2].min, -1.2345678901234568e29);
    EXPECT_EQ(s->rules()[2].max_len, SIZE_MAX);
}

// Names match exactly, keys compare after decoding, and the first offender
// decides between an unknown column and a bad rule; the detail names it.
TEST(Schema, WrongShapesKindsAndColumns) {
    const std::string bad_json = "schema is not valid JSON: ";
    const struct {
        std::string text, detail;
        Error error = Error::BadSchema;
    } cases[] = {
        {"", bad_json + "unexpected end of text at byte 0 (line 1, column 1)"},
        {"[]", "the schema must be an object of column rules, got an array"},
        {R"({"id":1})", R"(column "id": rules must be an object, got an integer)"},
        {R"({"id":null})", R"(column "id": rules must be an object, got null)"},
        {R"({"id":{"type":1}})", R"(column "id": rule "type" must be a string, got an integer)"},
        {R"({"id":{"type":"string "}})",
         R"(column "id": unknown type "string ", expected any, integer, float, boolean, )"
         R"(datetime or string)"},
        {R"({"id":{"required":"yes"}})",
         R"(column "id": rule "required" must be true or false, got a string)"},
        {R"({"id":{"min":"18"}})", R"(column "id": rule "min" must be a number, got a string)"},
        {R"({"id":{"min_len":2.0}})",
         R"(column "id": rule "min_len" must be a non-negative integer, got a float)"},
        {R"({"id":{"min_len":-1}})", R"(column "id": rule "min_len" must not be negative)"},
        {R"({"id":{"max_len":-99999999999999999999999}})",
         R"(column "id": rule "max_len" must not be negative)"},
        {R"({"id":{"one_of":"a"}})",
         R"(column "id": rule "one_of" must be an array, got a string)"},
        {R"({"id":{"one_of":["a",true]}})",
         R"(column "id": rule "one_of" item 1 must be a string or a number, got a boolean)"},
        {R"({"id":{"one_of":[99999999999999999999]}})",
         R"(column "id": rule "one_of" item 0 is an integer beyond 64 bits)"},
        {R"({"id":{"Type":"string"}})", R"(column "id": unknown rule key "Type")"},
        {R"({"id":{"required":true,"required":false}})",
         bad_json + "repeated key at byte 23 (line 1, column 24)"},
        {"{\"id\":{\"min\":1" + std::string(400, '0') + "}}",
         R"(column "id": rule "min" is beyond the range of a float)"},
        {std::string(300, '['), bad_json + "nesting too deep at byte 256 (line 1, column 257)"},
        {"{\n  \"id\": {\"type\": \"integer\",}\n}",
         bad_json + "trailing comma before '}' at byte 29 (line 2, column 28)"},
        {"{\"id\":[1,]}", bad_json + "trailing comma before ']' at byte 9 (line 1, column 10)"},
        {"{\"id\" {}}", bad_json + "expected ':' at byte 6 (line 1, column 7)"},
        {"{\"id\":{}} x",
         bad_json + "unexpected text after the value at byte 10 (line 1, column 11)"},
        {"{\r\n\"a\\u00\":1}",
         bad_json + "invalid escape in a string at byte 3 (line 2, column 1)"},
        {R"({"id":{"pattern":1},"nope":{}})", R"(column "id": unknown rule key "pattern")"},
        {R"({"nope":{},"nope":{}})", bad_json + "repeated key at byte 11 (line 1, column 12)"},
        {R"({"ID":{}})", R"(column "ID" is not in the header)", Error::UnknownColumn},
        {R"({"":{}})", R"(column "" is not in the header)", Error::UnknownColumn},
        {R"({"nope":{"pattern":1}})", R"(column "nope" is not in the header)",
         Error::UnknownColumn},
        {"{\"i\\\"d\\n\":{}}", R"(column "i\"d\n" is not in the header)", Error::UnknownColumn},
    };
    for (const auto &c : cases) {
        ErrorDetail detail;
        auto s = parse(c.text, &detail);
        ASSERT_FALSE(s.ok()) << c.text;
        EXPECT_EQ(s.error(), c.error) << c.text;
        EXPECT_EQ(detail.text(), c.detail) << c.text;
    }
    EXPECT_TRUE(parse(R"({"\u0069d":{}})").ok());
}

TEST(Schema, OneOfNumbersStandForTheirPlainText) {
    auto s = parse("{\"tag\":{\"one_of\":[1, -7, 2.0, -0.0, -0.25, 1e21, 1.5e-7, \"\", \"1.0\"]}}");
    ASSERT_TRUE(s.ok());
    EXPECT_EQ(std::vector<std::string>(s->rules()[0].one_of.begin(), s->rules()[0].one_of.end()),
              (std::vector<std::string>{"1", "-7", "2", "-0", "-0.25", "1" + std::string(21, '0'),
                                        "0.00000015", "", "1.0"}));
    EXPECT_EQ(plain(std::numeric_limits<double>::denorm_min()), "0." + std::string(323, '0') + "5");
    for (double d : {0.1, 1.0 / 3, 123456.789, 2.0 / 3e10, 6.02214076e23, 4.35e-300})
        EXPECT_EQ(std::strtod(plain(d).c_str(), nullptr), d) << plain(d);
}

// Up to 31 entries are searched in order, from 32 through a hash set; both
// agree, whatever entries repeat (here the empty text).
TEST(Schema, OneOfListAndIndexAgree) {
    for (int n : {31, 32}) {
        std::string list = "[\"\",\"\"";
        for (int i = 0; i < n - 2; ++i) list += ",\"v" + std::to_string(i) + "\"";
        auto s = parse("{\"tag\":{\"one_of\":" + list + "]}}");
        ASSERT_TRUE(s.ok());
        const auto &rule = s->rules()[0];
        ASSERT_EQ(rule.one_of.size(), static_cast<size_t>(n));
        ASSERT_EQ(rule.one_of_index.has_value(), n >= 32);
        for (int i = -1; i < n - 2; ++i)
            EXPECT_TRUE(rule.allows(i < 0 ? "" : "v" + std::to_string(i))) << i;
        for (const char *no : {"v999", "V1", " v1", "v"}) EXPECT_FALSE(rule.allows(no)) << no;
    }
}

// Every allocation failure, inside the JSON reader too, is OutOfMemory: a
// schema is never called bad for lack of memory.
TEST(Schema, AllocationFailures) {
    std::string text = "{\"age\":{\"type\":\"float\",\"one_of\":[0";
    for (int i = 1; i < 40; ++i) text += "," + std::to_string(i * 1.5);
    (void)parse("{}");  // builds the shared header before any allocation is made to fail
    bool done = false;
    for (uint64_t nth = 1; nth < 100 && !done; ++nth) {
        rowkit::alloc_hook::failAt(nth);
        auto s = parse(text + "]},\"na\\u006de\":{\"min_len\":1}}");
        rowkit::alloc_hook::reset();
        EXPECT_TRUE((done = s.ok()) || s.error() == Error::OutOfMemory) << nth;
    }
    EXPECT_TRUE(done);
}
