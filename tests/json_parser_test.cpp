// The JSON object parser: its lenient grammar and every error, the fast row
// path against the full parse on generated records, nesting on a small
// thread stack, and allocation failures.
#include "json_parser.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "support/small_stack.hpp"

using namespace rowkit;
using namespace rowkit::json;

namespace {

std::string describe(const JsonValue &v) {
    switch (v.kind) {
        case JsonValue::Kind::null_value: return "null";
        case JsonValue::Kind::bool_value: return v.boolean ? "true" : "false";
        case JsonValue::Kind::number: return "#" + std::string(v.text);
        case JsonValue::Kind::string: return "'" + std::string(v.text) + "'";
        case JsonValue::Kind::object: {
            std::string s = "{";
            for (size_t i = 0; i < v.count; ++i) {
                if (i) s += ",";
                s += std::string(v.fields[i].key) + ":" + describe(v.fields[i].value);
            }
            return s + "}";
        }
        case JsonValue::Kind::array: {
            std::string s = "[";
            for (size_t i = 0; i < v.count; ++i) {
                if (i) s += ",";
                s += describe(v.items[i]);
            }
            return s + "]";
        }
    }
    return "?";
}

// The parse of `text` as {key:value,...}, or "!" + the error's name.
std::string parsed(std::string_view text) {
    auto obj = parseObject(text);
    if (!obj.ok()) return std::string("!") + errorName(obj.error());
    JsonValue v;
    v.kind = JsonValue::Kind::object;
    v.fields = obj->fields().data();
    v.count = obj->fields().size();
    return describe(v);
}

// The fast path's texts joined with '|', or "-" when it gives up.
std::string fast(std::string_view line, std::vector<std::string_view> header, size_t wanted) {
    std::vector<std::string_view> out(wanted + 1, "unset");
    if (!tryFastRow(line, header, wanted, out.data())) return "-";
    std::string s;
    for (size_t j = 0; j < wanted; ++j) s += (j ? "|" : "") + std::string(out[j]);
    EXPECT_EQ(out[wanted], "unset");
    return s;
}


std::string repeat(std::string_view s, size_t n) {
    std::string out;
    for (size_t i = 0; i < n; ++i) out += s;
    return out;
}

}  // namespace

TEST(JsonParser, LenientGrammar) {
    EXPECT_EQ(parsed(R"({"a":1 "b":2})"), "{a:#1,b:#2}");
    EXPECT_EQ(parsed(R"({"a":1,,"b":2,})"), "{a:#1,b:#2}");
    EXPECT_EQ(parsed(R"({"a": 1 2})"), "{a:#1 2}");
    EXPECT_EQ(parsed(R"({"a":})"), "{a:#}");
    EXPECT_EQ(parsed("{\"a\":\v1\t,\"b\":\n 2 \r}"), "{a:#1,b:#2}");
    EXPECT_EQ(parsed(R"({"a":"x:y,z"})"), "{a:'x:y,z'}");
    EXPECT_EQ(parsed(R"(xyz{"a":1})"), "{a:#1}");
    EXPECT_EQ(parsed(R"({"a":1} [[[ "rest is not examined)"), "{a:#1}");
    EXPECT_EQ(parsed(R"({"t":true,"f":false,"n":null,"s":"null","x":-1.5e3,"w":tru})"),
              "{t:true,f:false,n:null,s:'null',x:#-1.5e3,w:#tru}");
    EXPECT_EQ(parsed(R"({"a" junk :1})"), "{a:#1}");
    EXPECT_EQ(parsed(R"({})"), "{}");
    EXPECT_EQ(parsed(R"({"":""})"), "{:''}");
    // Keys and strings are decoded only when they hold a backslash.
    auto obj = parseObject(R"({"a\"b":"\u00e9\n","c":"d"})");
    ASSERT_TRUE(obj.ok());
    ASSERT_EQ(obj->fields().size(), 2u);
    EXPECT_EQ(obj->fields()[0].key, "a\"b");
    EXPECT_TRUE(obj->fields()[0].key_owned);
    EXPECT_EQ(obj->fields()[0].value.text, "\xc3\xa9\n");
    EXPECT_FALSE(obj->fields()[1].key_owned);
    // Nested objects and arrays.
    EXPECT_EQ(parsed(R"({"a":{"b":[1,"x",{"c":null}],"d":{}},"e":[],"f":[ ]})"),
              "{a:{b:[#1,'x',{c:null}],d:{}},e:[],f:[]}");
    EXPECT_EQ(parsed(R"({"a":[1,,2, true ,null,"a,b",[3,[4]],"\u0041","]",{"k":"}"}]})"),
              "{a:[#1,#,#2,true,null,'a,b',[#3,[#4]],'A',']',{k:'}'}]}");
    EXPECT_EQ(parsed(R"({"a":{"b":1} "c":2})"), "{a:{b:#1},c:#2}");
}

TEST(JsonParser, Errors) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "!InvalidJson"},
        {"abc", "!InvalidJson"},
        {"[1]", "!InvalidJson"},
        {"}{", "!InvalidJson"},
        {"{", "!UnexpectedEnd"},
        {R"({"a":1)", "!UnexpectedEnd"},
        {R"({"a":"x")", "!UnexpectedEnd"},
        {R"({"a":)", "!UnexpectedEnd"},
        {R"({"a":{"b":1})", "!UnexpectedEnd"},
        {R"({"a":[1,2})", "!UnexpectedEnd"},
        {R"({"a":{"b"})", "!ExpectedColon"},
        {R"({"a",1})", "!ExpectedColon"},
        {R"({"a")", "!ExpectedColon"},
        {R"({"a)", "!MalformedKey"},
        {R"({"a\":1})", "!MalformedKey"},
        {R"({"a":"x})", "!MalformedString"},
        {R"({1:2})", "!ExpectedQuote"},
        {R"({"a":1:2})", "!UnexpectedToken"},
        {R"({"a":]})", "!UnexpectedToken"},
        {R"({"a"::1})", "!UnexpectedToken"},
        {R"({"a":1]})", "!UnexpectedToken"},
        {R"({"a":x{}})", "!UnexpectedToken"},
        {R"({"a":"\x"})", "!InvalidEscape"},
        {R"({"a\q":1})", "!InvalidEscape"},
        {R"({"a":"\u12"})", "!InvalidUnicodeEscape"},
        {R"({"a":"\ud800"})", "!InvalidUnicodeEscape"},
        {R"({"a":["\udc00"]})", "!InvalidUnicodeEscape"},
        {R"({"a":[{"b"}]})", "!ExpectedColon"},
        {R"({"a":[{]})", "!UnexpectedEnd"},
    };
    for (const auto &[text, want] : cases) EXPECT_EQ(parsed(text), want) << text;
    // A table's worth of structural bytes, inside a string or after the
    // object, is too many.
    EXPECT_EQ(parsed(R"({"a":")" + std::string(kMaxTokens, ',') + "\"}"), "!TooManyTokens");
    EXPECT_EQ(parsed(R"({"a":1})" + std::string(kMaxTokens, ':')), "!TooManyTokens");
    // {"a":" and "} hold 7 structural bytes: one comma fewer fits.
    EXPECT_EQ(parsed(R"({"a":")" + std::string(kMaxTokens - 7, ',') + "\"}"), "!TooManyTokens");
    EXPECT_EQ(parsed(R"({"a":")" + std::string(kMaxTokens - 8, ',') + "\"}"),
              "{a:'" + std::string(kMaxTokens - 8, ',') + "'}");
}

TEST(JsonParser, FastRowCases) {
    const std::vector<std::string_view> ab = {"a", "b"};
    EXPECT_EQ(fast(R"({"a":1,"b":"x"})", ab, 2), "1|x");
    EXPECT_EQ(fast(R"({"b":"x","a":1})", ab, 2), "-");
    EXPECT_EQ(fast(R"({"a":"x\"y","b":1})", ab, 2), "-");
    EXPECT_EQ(fast(R"({"a":1,"b":2,"c":[1]})", ab, 2), "1|2");
    EXPECT_EQ(fast(R"({"a":1,"b":2,"c":[1]})", ab, 1), "1");
    EXPECT_EQ(fast(R"({"a":1,"b":2,"c":3)", ab, 2), "-");
    EXPECT_EQ(fast(R"({"a":1})", ab, 2), "-");
    EXPECT_EQ(fast(R"({"a":1,"b":2)", ab, 2), "-");
    // An unquoted null is empty text; a quoted one stays.
    EXPECT_EQ(fast(R"({"a":null,"b":"null"})", ab, 2), "|null");
    EXPECT_EQ(fast(R"({"a":true,"b":-0.50})", ab, 2), "true|-0.50");
    // Unquoted values end at any JSON whitespace, as the full parse trims.
    EXPECT_EQ(fast("{\"a\":1\t,\"b\":2\r}", ab, 2), "1|2");
    EXPECT_EQ(fast("{\n  \"a\": 1,\n  \"b\": \"x\"\n}", ab, 2), "1|x");
    EXPECT_EQ(fast(R"(  {"a":1 "b":2})", ab, 2), "1|2");
    EXPECT_EQ(fast(R"({"a":1,"b":2} x)", ab, 2), "1|2");  // bytes after the object are not read
    // Bytes the full parse reads differently make it give up.
    for (const char *odd : {R"({"a":],"b":1})", R"({"a"::1,"b":1})", R"({"a":1],"b":1})",
                            R"({"a":[1],"b":1})", R"({"a":{},"b":1})", R"({"a":,"b":1})",
                            R"({"a":1"x","b":1})", "{\"a\":\v1,\"b\":1}", "{\"a\":1\v,\"b\":1}",
                            R"(x{"a":1,"b":2})", R"({"a\u0061":1,"b":2})", ""})
        EXPECT_EQ(fast(odd, ab, 2), "-") << odd;
    EXPECT_EQ(fast("{}", {}, 0), "");
    EXPECT_EQ(fast(R"({"x":1})", {}, 0), "-");
    // Long records are left to the full parse, which bounds their tokens.
    std::string long_record = R"({"a":")" + std::string(kMaxTokens, 'x') + R"(","b":1})";
    EXPECT_EQ(fast(long_record, ab, 2), "-");
}

namespace {

// The texts a full parse places in columns 0..wanted-1 of `header`, or
// nullopt when it refuses the record or repeats a key.
std::optional<std::vector<std::string>> fullTexts(const std::string &rec,
                                                  const std::vector<std::string> &header, size_t wanted) {
    auto obj = parseObject(rec);
    if (!obj.ok()) return std::nullopt;
    std::vector<std::string> seen;
    for (const JsonField &f : obj->fields()) seen.emplace_back(f.key);
    std::sort(seen.begin(), seen.end());
    if (std::adjacent_find(seen.begin(), seen.end()) != seen.end()) return std::nullopt;
    std::vector<std::string> texts(wanted);
    for (const JsonField &f : obj->fields()) {
        auto it = std::find(header.begin(), header.end(), std::string(f.key));
        if (it == header.end() || static_cast<size_t>(it - header.begin()) >= wanted) continue;
        const JsonValue &v = f.value;
        if (v.kind == JsonValue::Kind::object || v.kind == JsonValue::Kind::array) return std::nullopt;
        texts[it - header.begin()] = v.kind == JsonValue::Kind::null_value   ? ""
                                     : v.kind == JsonValue::Kind::bool_value ? (v.boolean ? "true" : "false")
                                                                             : std::string(v.text);
    }
    return texts;
}

}  // namespace

// Records built from pieces that sit on either side of every rule the fast
// path applies. Whenever it accepts one, the record cut after its last wanted
// value must parse fully to the same texts, and so must the whole record
// whenever the full parse accepts it (the fast path does not read past the
// wanted keys, so a broken or repeated key after them is not seen).
TEST(JsonParser, FastRowAgreesWithTheFullParse) {
    const std::vector<std::string> keys = {"a", "b", "c", "d"};
    const std::vector<std::string> values = {
        "1", "-2.5e3", "1 2", "", "null", "true", "false", "nul", "1]", "]", ":", "[1,2]",
        R"({"x":1})", R"("str")", R"("s,t:r}{[")", R"("q\"q")", R"("\u00e9")", R"("")", "1\v", "\x01",
        std::string("\"n\0l\"", 5), "x\"y", "\"null\"", " 7 ", "\t8", "{", "1}", "\"\xff\xfe\""};
    const std::vector<std::string> separators = {",", ", ", ",,", " ", "\t,", "\n,", "", ",\v", "x,"};
    const std::vector<std::string> colons = {":", ": ", ":\t", ":\v", " : ", "\n:", "x:"};
    const std::vector<std::string> ends = {"}", " }", "\t}", ",}", R"(,"z":[1]})", "", "}\n", "} x", ",\"z\":1",
                                           "\v}"};
    const std::vector<std::string> prefixes = {"", "", "", " ", "\t", "x"};
    std::mt19937 rng(2024);
    auto pick = [&](const std::vector<std::string> &v) -> const std::string & { return v[rng() % v.size()]; };
    size_t accepted = 0, whole = 0;
    for (int round = 0; round < 60000; ++round) {
        std::vector<size_t> order = {0, 1, 2, 3};
        if (rng() % 4 == 0) std::shuffle(order.begin(), order.end(), rng);
        size_t n_fields = rng() % 5;
        std::string rec = pick(prefixes) + "{";
        // Where each field's key starts, separator before it excluded, and
        // where the fields end.
        std::vector<size_t> cuts;
        for (size_t f = 0; f < n_fields; ++f) {
            if (f) rec += rng() % 3 ? "," : pick(separators);
            cuts.push_back(rec.size());
            std::string key = keys[order[f]];
            if (rng() % 20 == 0) key = "z";
            if (rng() % 40 == 0) key = "\\u0061";
            rec += "\"" + key + "\"" + (rng() % 3 ? ":" : pick(colons));
            rec += rng() % 3 ? values[rng() % 3] : pick(values);
        }
        cuts.push_back(rec.size());
        rec += rng() % 3 ? "}" : pick(ends);
        size_t wanted = rng() % 5;
        std::vector<std::string_view> header(keys.begin(), keys.end());
        std::vector<std::string_view> out(4);
        if (!tryFastRow(rec, header, wanted, out.data())) continue;
        ++accepted;
        std::vector<std::string> got(out.begin(), out.begin() + static_cast<long>(wanted));
        ASSERT_LE(wanted, n_fields) << rec;
        std::string head = rec.substr(0, wanted ? cuts[wanted] : rec.find('{') + 1) + "}";
        auto cut = fullTexts(head, keys, wanted);
        ASSERT_TRUE(cut.has_value()) << "fast path accepted what the full parse refuses: " << head;
        EXPECT_EQ(got, *cut) << rec;
        if (auto all = fullTexts(rec, keys, wanted)) {
            ++whole;
            EXPECT_EQ(got, *all) << rec;
        }
    }
    EXPECT_GT(accepted, 5000u);
    EXPECT_GT(whole, accepted / 2);
}

TEST(JsonParser, NestingIsBoundedAndNeverExhaustsASmallStack) {
    ASSERT_TRUE(rowkit_test::runOnStack(rowkit_test::kSmallStack, [] {
        const size_t deep = 10000;
        // Far past the token table: refused before any nesting is parsed.
        EXPECT_EQ(parsed(repeat(R"({"a":)", deep) + "1" + std::string(deep, '}')), "!TooManyTokens");
        EXPECT_EQ(parsed(R"({"a":)" + std::string(deep, '[') + std::string(deep, ']') + "}"), "!TooManyTokens");
        EXPECT_EQ(parsed(R"({"a":)" + std::string(deep, '[')), "!TooManyTokens");
        // Within the table but past the depth bound.
        EXPECT_EQ(parsed(repeat(R"({"a":)", 700) + "1" + std::string(700, '}')), "!InvalidJson");
        EXPECT_EQ(parsed(R"({"a":)" + std::string(1500, '[') + std::string(1500, ']') + "}"), "!InvalidJson");
        EXPECT_EQ(parsed(R"({"a":)" + repeat("[{\"b\":", 400) + "1" + repeat("}]", 400) + "}"), "!InvalidJson");
        // The bound itself.
        EXPECT_TRUE(parseObject(repeat(R"({"a":)", kMaxDepth + 1) + "1" + std::string(kMaxDepth + 1, '}')).ok());
        EXPECT_EQ(parsed(repeat(R"({"a":)", kMaxDepth + 2) + "1" + std::string(kMaxDepth + 2, '}')), "!InvalidJson");
        EXPECT_TRUE(parseObject(R"({"a":)" + std::string(kMaxDepth, '[') + std::string(kMaxDepth, ']') + "}").ok());
        // The byte-level matcher has no depth limit and no recursion.
        std::string brackets = std::string(deep, '[') + std::string(deep, ']');
        EXPECT_EQ(findMatchingClose(brackets, 0), std::optional<size_t>(2 * deep - 1));
        EXPECT_EQ(findMatchingClose(brackets, 1), std::optional<size_t>(2 * deep - 2));
        EXPECT_EQ(findMatchingClose(std::string(deep, '{'), 0), std::nullopt);
        EXPECT_EQ(findMatchingClose(R"({"}":"\"}"})", 0), std::optional<size_t>(10));
    }));
}

TEST(JsonParser, AllocationFailuresLeakNothing) {
    const std::string text = R"({"k\n":"v\t","n":{"a":[1,"\u00e9",{"b":"\"","c":[[],[2]]}]},"s":"x"})";
    const std::string want = parsed(text);
    ASSERT_EQ(want.substr(0, 4), "{k\n:");
    bool succeeded = false;
    for (uint64_t nth = 1; nth < 100 && !succeeded; ++nth) {
        alloc_hook::reset();
        alloc_hook::failAt(nth);
        std::string got = parsed(text);
        alloc_hook::reset();
        if (got == want)
            succeeded = true;
        else
            EXPECT_EQ(got, "!OutOfMemory") << "allocation " << nth;
    }
    EXPECT_TRUE(succeeded);
}
