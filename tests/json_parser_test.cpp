// The JSON object parser: its lenient grammar and every error, the fast row
// path against the full parse on generated records, nesting on a small
// thread stack, and allocation failures.
#include "json_parser.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "support/small_stack.hpp"

using namespace rowkit;
using namespace rowkit::json;

namespace {

std::string describe(const JsonValue &v) {
    using K = JsonValue::Kind;
    if (v.kind != K::object && v.kind != K::array)
        return v.kind == K::null_value   ? "null"
               : v.kind == K::bool_value ? (v.boolean ? "true" : "false")
               : v.kind == K::number     ? "#" + std::string(v.text)
                                         : "'" + std::string(v.text) + "'";
    const bool obj = v.kind == K::object;
    std::string s = obj ? "{" : "[";
    for (size_t i = 0; i < v.count; ++i)
        s += (i ? "," : "") +
             (obj ? std::string(v.fields[i].key) + (v.fields[i].key_owned ? "~:" : ":") +
                        describe(v.fields[i].value)
                  : describe(v.items[i]));
    return s + (obj ? "}" : "]");
}

// The parse of `text` as {key:value,...}, or "!" + the error's name.
std::string parsed(std::string_view text) {
    auto obj = parseObject(text);
    JsonValue v{};
    if (obj.ok()) {
        v.kind = JsonValue::Kind::object;
        v.fields = obj->fields().data();
        v.count = obj->fields().size();
    }
    return obj.ok() ? describe(v) : std::string("!") + errorName(obj.error());
}

// The texts a full parse places in columns 0..wanted-1 of `header`, or
// nullopt when it refuses the record or repeats a key.
std::optional<std::vector<std::string>> fullTexts(const std::string &rec,
                                                  const std::vector<std::string_view> &header,
                                                  size_t wanted) {
    auto obj = parseObject(rec);
    std::set<std::string_view> seen;
    std::vector<std::string> texts(wanted);
    for (size_t i = 0; obj.ok() && i < obj->fields().size(); ++i) {
        const JsonField &f = obj->fields()[i];
        size_t col =
            static_cast<size_t>(std::find(header.begin(), header.end(), f.key) - header.begin());
        if (!seen.insert(f.key).second ||
            (col < wanted &&
             (f.value.kind == JsonValue::Kind::object || f.value.kind == JsonValue::Kind::array)))
            return std::nullopt;
        if (col < wanted)
            texts[col] = f.value.kind == JsonValue::Kind::bool_value
                             ? (f.value.boolean ? "true" : "false")
                             : std::string(f.value.text);
    }
    return obj.ok() ? std::optional(texts) : std::nullopt;
}

}  // namespace

// Each case is parsed again with each of its allocations failing in turn:
// the result is the same or OutOfMemory, and nothing leaks.
TEST(JsonParser, LenientGrammarErrorsAndAllocationFailures) {
    const std::pair<std::string, std::string> cases[] = {
        {R"(xyz{"a":1 "b":2,,"c" junk :3,} [[[ "rest is not examined)", "{a:#1,b:#2,c:#3}"},
        {"{\"a\":\v1 2\t,\"b\":\n 2 \r,\"c\":}", "{a:#1 2,b:#2,c:#}"},
        {R"({"a":"x:y,z","":""})", "{a:'x:y,z',:''}"},
        {"{}", "{}"},
        {R"({"t":true,"f":false,"n":null,"s":"null","x":-1.5e3,"w":tru})",
         "{t:true,f:false,n:null,s:'null',x:#-1.5e3,w:#tru}"},
        {R"({"a\"b":"\u00e9\n"})", "{a\"b~:'\xc3\xa9\n'}"},
        {R"({"k\n":{"a":[{"b":"\"","c":[[],[2]]}]}})", "{k\n~:{a:[{b:'\"',c:[[],[#2]]}]}}"},
        {R"({"a":{"b":[1,"x",{"c":null}],"d":{}} "e":[],"f":[ ]})",
         "{a:{b:[#1,'x',{c:null}],d:{}},e:[],f:[]}"},
        {R"({"a":[1,,2, true ,null,"a,b",[3,[4]],"\u0041","]",{"k":"}"}]})",
         "{a:[#1,#,#2,true,null,'a,b',[#3,[#4]],'A',']',{k:'}'}]}"},
        {"[1]", "!InvalidJson"}, {"{", "!UnexpectedEnd"}, {R"({"a":"x")", "!UnexpectedEnd"},
        {R"({"a":{"b":1})", "!UnexpectedEnd"}, {R"({"a":[{]})", "!UnexpectedEnd"},
        {R"({"a",1})", "!ExpectedColon"}, {R"({"a":[{"b"}]})", "!ExpectedColon"},
        {R"({"a\":1})", "!MalformedKey"}, {R"({"a":"x})", "!MalformedString"},
        {R"({1:2})", "!ExpectedQuote"}, {R"({"a":]})", "!UnexpectedToken"},
        {R"({"a":x{}})", "!UnexpectedToken"}, {R"({"a\q":1})", "!InvalidEscape"},
        {R"({"a":["\udc00"]})", "!InvalidUnicodeEscape"},
        // A table's worth of structural bytes, strings and bytes after the
        // object included, is too many: {"a":" and "} hold 7 of them.
        {R"({"a":1})" + std::string(kMaxTokens, ':'), "!TooManyTokens"},
        {R"({"a":")" + std::string(kMaxTokens - 7, ',') + "\"}", "!TooManyTokens"},
        {R"({"a":")" + std::string(kMaxTokens - 8, ',') + "\"}",
         "{a:'" + std::string(kMaxTokens - 8, ',') + "'}"},
    };
    for (const auto &[text, want] : cases) {
        EXPECT_EQ(parsed(text), want) << text;
        std::string got;
        for (uint64_t nth = 1; got != want && nth < 100; ++nth) {
            alloc_hook::failAt(nth);
            got = parsed(text);
            alloc_hook::reset();
            ASSERT_TRUE(got == want || got == "!OutOfMemory")
                << text << ": allocation " << nth << " gives " << got;
        }
    }
}


// Records built from pieces that sit on either side of every rule the fast
// path applies. Whenever it accepts one, the record cut after its last wanted
// value must parse fully to the same texts, and so must the whole record
// whenever the full parse accepts it (the fast path does not read past the
// wanted keys, so a broken or repeated key after them is not seen). Most
// plain records must take the fast path. Records too long for it are in the
// reader's tests.
TEST(JsonParser, FastRowAgreesWithTheFullParse) {
    const std::vector<std::string_view> header = {"a", "b", "c", "d"};
    const std::vector<std::string> values = {"1", "-2.5e3", "1 2", "", "null", "true", "false",
                                             "nul", "1]", "]", ":", "[1,2]", R"({"x":1})",
                                             R"("str")", R"("s,t:r}{[")", R"("q\"q")",
                                             R"("\u00e9")", R"("")", "1\v", "\x01",
                                             std::string("\"n\0l\"", 5), "x\"y", "\"null\"", " 7 ",
                                             "\t8", "{", "1}", "\"\xff\xfe\""},
                                   separators = {",",   ", ", ",,",  " ", "\t,",
                                                 "\n,", "",   ",\v", "x,"},
                                   colons = {":", ": ", ":\t", ":\v", " : ", "\n:", "x:"},
                                   ends = {"}", " }",  "\t}", ",}",       R"(,"z":[1]})",
                                           "",  "}\n", "} x", ",\"z\":1", "\v}"},
                                   prefixes = {"", "", "", " ", "\t", "x"};
    std::mt19937 rng(2024);
    auto pick = [&](const std::vector<std::string> &v) -> const std::string & {
        return v[rng() % v.size()];
    };
    size_t accepted = 0, whole = 0;
    for (int round = 0; round < 40000; ++round) {
        // cuts: where each field's key starts (its separator excluded), then the end.
        std::vector<size_t> order = {0, 1, 2, 3}, cuts;
        if (rng() % 4 == 0) std::shuffle(order.begin(), order.end(), rng);
        size_t n_fields = rng() % 5, wanted = rng() % 5;
        std::string rec = pick(prefixes) + "{";
        for (size_t f = 0; f < n_fields; ++f) {
            if (f) rec += rng() % 3 ? "," : pick(separators);
            cuts.push_back(rec.size());
            std::string key = rng() % 20 == 0   ? "z"
                              : rng() % 40 == 0 ? "\\u0061"
                                                : std::string(header[order[f]]);
            rec += "\"" + key + "\"" + (rng() % 3 ? ":" : pick(colons)) +
                   (rng() % 3 ? values[rng() % 3] : pick(values));
        }
        cuts.push_back(rec.size());
        rec += rng() % 3 ? "}" : pick(ends);
        std::vector<std::string_view> out(4);  // (a fast row wider than the record fails cuts.at)
        if (!tryFastRow(rec, header, wanted, out.data())) continue;
        std::vector<std::string> got(out.begin(), out.begin() + static_cast<long>(wanted));
        std::string head = rec.substr(0, wanted ? cuts.at(wanted) : rec.find('{') + 1) + "}";
        auto cut = fullTexts(head, header, wanted), all = fullTexts(rec, header, wanted);
        ASSERT_TRUE(cut.has_value()) << "fast path accepted what the full parse refuses: " << head;
        EXPECT_EQ(got, *cut) << rec;
        if (all) {
            EXPECT_EQ(got, *all) << rec;
        }
        ++accepted, whole += all.has_value();
    }
    EXPECT_GT(accepted, 3000u);
    EXPECT_GT(whole, accepted / 2);
}

TEST(JsonParser, NestingIsBoundedAndNeverExhaustsASmallStack) {
    ASSERT_TRUE(rowkit_test::runOnStack(rowkit_test::kSmallStack, [] {
        // d + 1 objects, each the value of the last.
        auto objects = [](size_t d) {
            std::string s;
            for (size_t i = 0; i <= d; ++i)
                s += R"({"a":)";
            return s + "1" + std::string(d + 1, '}');
        };
        // Far past the token table: refused before any nesting is parsed.
        EXPECT_EQ(parsed(objects(10000)), "!TooManyTokens");
        // Within the table, the depth bound, by objects and by arrays.
        for (size_t d : {kMaxDepth, kMaxDepth + 1}) {
            std::string want = d == kMaxDepth ? "{a:" : "!InvalidJson";
            EXPECT_EQ(parsed(objects(d)).substr(0, want.size()), want) << d;
            EXPECT_EQ(parsed(R"({"a":)" + std::string(d, '[') + std::string(d, ']') + "}")
                          .substr(0, want.size()),
                      want)
                << d;
        }
        // The byte-level matcher has no depth limit and no recursion.
        EXPECT_EQ(findMatchingClose(std::string(10000, '[') + std::string(10000, ']'), 1),
                  std::optional<size_t>(19998));
        EXPECT_EQ(findMatchingClose(std::string(10000, '{'), 0), std::nullopt);
        EXPECT_EQ(findMatchingClose(R"({"}":"\"}"})", 0), std::optional<size_t>(10));
    }));
}
