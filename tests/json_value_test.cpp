// The strict JSON reader: grammar corners, numbers, strings and escapes,
// repeated keys, nesting bounds, allocation failures and the public
// conformance files.
#include <gtest/gtest.h>

#include <dirent.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "alloc.hpp"
#include "json_value.hpp"

using rowkit::JsonNode;
using rowkit::parseJsonTree;
using Kind = rowkit::JsonNode::Kind;

namespace {

bool accepts(const std::string &text) { return parseJsonTree(text).ok(); }

}  // namespace

TEST(JsonValue, BuildsTheTreeInTextOrder) {
    std::string text = " {\"b\": [1, -2.5, true, null, \"x\"], \"a\": {}, \"\": []} \r\n";
    auto tree = parseJsonTree(text);
    ASSERT_TRUE(tree.ok());
    const JsonNode &root = tree->root();
    ASSERT_EQ(root.kind, Kind::object);
    auto members = root.objectMembers();
    ASSERT_EQ(members.size(), 3u);
    EXPECT_EQ(members[0].key, "b");
    EXPECT_EQ(members[1].key, "a");
    EXPECT_EQ(members[2].key, "");
    auto items = members[0].value.arrayItems();
    ASSERT_EQ(items.size(), 5u);
    EXPECT_EQ(items[0].kind, Kind::integer);
    EXPECT_EQ(items[0].integer, 1);
    EXPECT_EQ(items[1].kind, Kind::floating);
    EXPECT_EQ(items[1].floating, -2.5);
    EXPECT_EQ(items[2].kind, Kind::boolean);
    EXPECT_TRUE(items[2].boolean);
    EXPECT_EQ(items[3].kind, Kind::null_value);
    EXPECT_EQ(items[4].text, "x");
    EXPECT_EQ(members[1].value.kind, Kind::object);
    EXPECT_EQ(members[1].value.count, 0u);
    EXPECT_EQ(members[2].value.kind, Kind::array);
}

TEST(JsonValue, NumbersKeepIntegersAndLongLiterals) {
    auto one = [](const std::string &text) {
        auto tree = parseJsonTree(text);
        EXPECT_TRUE(tree.ok()) << text;
        return tree.ok() ? tree->root() : JsonNode();
    };
    EXPECT_EQ(one("9223372036854775807").integer, INT64_MAX);
    EXPECT_EQ(one("-9223372036854775808").integer, INT64_MIN);
    const std::string long_literal = "-92233720368547758090";
    auto big = parseJsonTree(long_literal);
    ASSERT_TRUE(big.ok());
    EXPECT_EQ(big->root().kind, Kind::integer_text);
    EXPECT_EQ(big->root().text, long_literal);
    EXPECT_EQ(one("9223372036854775808").kind, Kind::integer_text);
    EXPECT_EQ(one("-0").kind, Kind::integer);
    EXPECT_EQ(one("3.0").kind, Kind::floating);
    EXPECT_EQ(one("1E2").floating, 100.0);
    EXPECT_EQ(one("1e-400").floating, 0.0);  // underflow rounds to zero
    EXPECT_EQ(one("0.1").floating, 0.1);
    for (const char *bad : {"01", "-", "+1", "1.", ".5", "1e", "1e+", "0x1", "1_0", "Infinity", "NaN",
                            "-01", "1.e3", "1e400", "-1e400", "2."})
        EXPECT_FALSE(accepts(bad)) << bad;
}

TEST(JsonValue, StringsAreCheckedAndDecoded) {
    auto str = [](const std::string &text) {
        auto tree = parseJsonTree(text);
        EXPECT_TRUE(tree.ok()) << text;
        return tree.ok() ? std::string(tree->root().text) : std::string("<error>");
    };
    EXPECT_EQ(str(R"("a\"b\\c\/d\b\f\n\r\t")"), "a\"b\\c/d\b\f\n\r\t");
    EXPECT_EQ(str(R"("\u0041\u00e9\u20AC")"), "A\xc3\xa9\xe2\x82\xac");
    EXPECT_EQ(str(R"("\ud834\udd1e")"), "\xf0\x9d\x84\x9e");
    EXPECT_EQ(str(R"("x\u0000y")"), std::string("x\0y", 3));
    EXPECT_EQ(str("\"h\xc3\xa9llo\""), "h\xc3\xa9llo");
    for (const char *bad : {"\"abc", "\"a\tb\"", "\"\\x\"", "\"\\u12\"", "\"\\u12G4\"",
                            "\"\\ud834\"", "\"\\udd1e\"", "\"\\ud834\\u0041\"", "\"\\ud834x\"",
                            "\"\xff\"", "\"\xc0\xaf\"", "\"\xed\xa0\x80\"", "\"\xf4\x90\x80\x80\"",
                            "\"\xe2\x82\"", "'a'", "\"a\\"})
        EXPECT_FALSE(accepts(bad)) << bad;
}

TEST(JsonValue, GrammarAndStructure) {
    for (const char *good : {"[]", "{}", "true", " null ", "[[[]]]", "{\"a\":{\"a\":1}}", "[1,[2,{}]]",
                             "\"\"", "{\"a\":1,\"b\":2}", "\t\n\r [ ]"})
        EXPECT_TRUE(accepts(good)) << good;
    for (const char *bad : {"", " ", "[", "]", "{", "[1,]", "[,1]", "{\"a\":1,}", "{\"a\" 1}", "{a:1}",
                            "[1 2]", "[1] x", "[1]]", "{\"a\":1}}", "tru", "nul", "truex", "[}",
                            "{]", "\xef\xbb\xbf{}", "\f[]", "[1,\x0b 2]", "{\"a\":1 \"b\":2}", "{1:2}"})
        EXPECT_FALSE(accepts(bad)) << bad;
    // A key repeated in any object, at any depth; escapes are decoded first.
    EXPECT_FALSE(accepts(R"({"a":1,"a":2})"));
    EXPECT_FALSE(accepts(R"({"x":[{"k":1,"k":1}]})"));
    EXPECT_FALSE(accepts(R"({"a":1,"\u0061":2})"));
    EXPECT_TRUE(accepts(R"({"a":{"a":1},"b":{"a":1}})"));
    // Long objects take the hashed check.
    std::string wide = "{";
    for (int i = 0; i < 100; ++i) wide += (i ? ",\"k" : "\"k") + std::to_string(i) + "\":" + std::to_string(i);
    EXPECT_TRUE(accepts(wide + "}"));
    EXPECT_FALSE(accepts(wide + ",\"k57\":0}"));
}

TEST(JsonValue, DeepNestingIsAnErrorNotACrash) {
    const size_t max = rowkit::kMaxJsonDepth;
    EXPECT_TRUE(accepts(std::string(max, '[') + std::string(max, ']')));
    EXPECT_FALSE(accepts(std::string(max + 1, '[') + std::string(max + 1, ']')));
    EXPECT_FALSE(accepts(std::string(1000000, '[')));
    std::string objects;
    for (size_t i = 0; i < 100000; ++i) objects += "{\"a\":";
    EXPECT_FALSE(accepts(objects));
}

TEST(JsonValue, AllocationFailuresLeaveNothing) {
    std::string text = R"({"a":[1,2,{"b":"c\n"}],"d":"e","f":{"g":[[],[null]]}})";
    bool done = false;
    for (uint64_t nth = 1; nth < 100 && !done; ++nth) {
        rowkit::alloc_hook::reset();
        rowkit::alloc_hook::failAt(nth);
        auto tree = parseJsonTree(text);
        rowkit::alloc_hook::reset();
        if (tree.ok()) {
            done = true;
            EXPECT_EQ(tree->root().count, 3u);
        } else {
            EXPECT_EQ(tree.error(), rowkit::Error::OutOfMemory);
        }
    }
    EXPECT_TRUE(done);
}

// Every y_ file is accepted except those repeating a key; every n_ file is
// refused; i_ files may go either way but must not crash.
TEST(JsonValue, ConformanceFiles) {
    const std::string dir = std::string(ROWKIT_VECTORS_DIR) + "/jsontestsuite";
    DIR *d = opendir(dir.c_str());
    if (!d) GTEST_SKIP() << dir << " is missing";
    std::vector<std::string> names;
    while (dirent *e = readdir(d)) names.push_back(e->d_name);
    closedir(d);
    size_t checked = 0;
    for (const std::string &name : names) {
        if (name.size() < 2 || name[1] != '_') continue;
        std::ifstream in(dir + "/" + name, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        const bool ok = accepts(ss.str());
        ++checked;
        if (name[0] == 'y') {
            const bool repeats_key = name.find("duplicated_key") != std::string::npos;
            EXPECT_EQ(ok, !repeats_key) << name;
        } else if (name[0] == 'n') {
            EXPECT_FALSE(ok) << name;
        }
    }
    EXPECT_GT(checked, 300u);
}
