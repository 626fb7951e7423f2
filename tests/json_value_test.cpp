// The strict JSON reader: the tree it builds, numbers, strings and escapes,
// repeated keys, nesting bounds, allocation failures and the public
// conformance files.
#include <gtest/gtest.h>

#include <dirent.h>

#include <fstream>
#include <iterator>
#include <string>
#include <utility>

#include "alloc.hpp"
#include "json_value.hpp"

using rowkit::parseJsonTree;
using Kind = rowkit::JsonNode::Kind;

namespace {

bool accepts(const std::string &text) { return parseJsonTree(text).ok(); }

}  // namespace

// Integers beyond 64 bits keep their literal; floats too small for binary64
// read as zero, those too large are refused.
TEST(JsonValue, BuildsTheTreeInTextOrder) {
    auto tree = parseJsonTree(" {\"b\": [true, false, null, \"x\", -2.5, 1E2, 1e-400, -0, 9223372036854775807,"
                              " -9223372036854775808, -92233720368547758090], \"a\": {}} \r\n");
    ASSERT_TRUE(tree.ok());
    auto members = tree->root().objectMembers();
    ASSERT_TRUE(members.size() == 2 && members[0].key == "b" && members[1].key == "a");
    EXPECT_TRUE(members[1].value.kind == Kind::object && members[1].value.count == 0);
    auto n = members[0].value.arrayItems();
    ASSERT_EQ(n.size(), 11u);
    EXPECT_TRUE(n[0].kind == Kind::boolean && n[0].boolean && n[1].kind == Kind::boolean && !n[1].boolean &&
                n[2].kind == Kind::null_value && n[3].kind == Kind::string && n[3].text == "x");
    for (int i : {4, 5, 6}) EXPECT_EQ(n[i].kind, Kind::floating) << i;
    EXPECT_TRUE(n[4].floating == -2.5 && n[5].floating == 100.0 && n[6].floating == 0.0);
    for (int i : {7, 8, 9}) EXPECT_EQ(n[i].kind, Kind::integer) << i;
    EXPECT_TRUE(n[7].integer == 0 && n[8].integer == INT64_MAX && n[9].integer == INT64_MIN);
    EXPECT_TRUE(n[10].kind == Kind::integer_text && n[10].text == "-92233720368547758090");
    EXPECT_FALSE(accepts("1e400") || accepts("-1e400"));
}

TEST(JsonValue, StringsAreCheckedAndDecoded) {
    const std::pair<std::string, std::string> good[] = {
        {R"("a\"b\\c\/d\b\f\n\r\t")", "a\"b\\c/d\b\f\n\r\t"},
        {R"("\u0041\u00e9\u20AC\ud834\udd1e\u0000")", std::string("A\xc3\xa9\xe2\x82\xac\xf0\x9d\x84\x9e\0", 11)},
        {"\"h\xc3\xa9llo\"", "h\xc3\xa9llo"}};
    for (const auto &[text, decoded] : good) {
        auto tree = parseJsonTree(text);
        ASSERT_TRUE(tree.ok()) << text;
        EXPECT_EQ(tree->root().text, decoded);
    }
    // Surrogate escapes must pair up; bytes must be UTF-8 (no overlong forms,
    // encoded surrogates or code points beyond U+10FFFF).
    for (const char *bad : {"\"\\ud834\"", "\"\\udd1e\"", "\"\\ud834\\u0041\"", "\"\\ud834x\"", "\"\\u12\"",
                            "\"a\\", "\"\xff\"", "\"\xc0\xaf\"", "\"\xed\xa0\x80\"", "\"\xf4\x90\x80\x80\"",
                            "\"\xe2\x82\""})
        EXPECT_FALSE(accepts(bad)) << bad;
}

// A key may not repeat in any object at any depth, compared after decoding;
// long objects take the hashed check. A byte order mark is not whitespace.
TEST(JsonValue, RepeatedKeysByteOrderMarkAndDeepNestingAreRefused) {
    for (const char *bad : {R"({"x":[{"k":1,"k":1}]})", R"({"a":1,"\u0061":2})", "\xef\xbb\xbf{}"})
        EXPECT_FALSE(accepts(bad)) << bad;
    EXPECT_TRUE(accepts(R"({"a":{"a":1},"b":{"a":1}})"));
    std::string wide = "{";
    for (int i = 0; i < 100; ++i) wide += (i ? ",\"k" : "\"k") + std::to_string(i) + "\":" + std::to_string(i);
    EXPECT_TRUE(accepts(wide + "}"));
    EXPECT_FALSE(accepts(wide + ",\"k57\":0}"));
    // Nesting beyond the bound is an error, not a crash.
    auto nested = [](size_t n) { return std::string(n, '[') + std::string(n, ']'); };
    EXPECT_TRUE(accepts(nested(rowkit::kMaxJsonDepth)));
    EXPECT_FALSE(accepts(nested(rowkit::kMaxJsonDepth + 1)));
    EXPECT_FALSE(accepts(std::string(1000000, '[')));
}

TEST(JsonValue, AllocationFailuresLeaveNothing) {
    std::string text = R"({"a":[1,2,{"b":"c\n"}],"d":"e","f":{"g":[[],[null]]},"w":{"k0":0)";
    for (int i = 1; i < 20; ++i) text += ",\"k" + std::to_string(i) + "\":0";
    text += "}}";
    bool done = false;
    for (uint64_t nth = 1; nth < 100 && !done; ++nth) {
        rowkit::alloc_hook::reset();
        rowkit::alloc_hook::failAt(nth);
        auto tree = parseJsonTree(text);
        rowkit::alloc_hook::reset();
        done = tree.ok();
        EXPECT_TRUE(done || tree.error() == rowkit::Error::OutOfMemory) << nth;
    }
    EXPECT_TRUE(done);
}

// Every y_ file is accepted except those repeating a key; every n_ file is
// refused; i_ files may go either way but must not crash.
TEST(JsonValue, ConformanceFiles) {
    const std::string dir = std::string(ROWKIT_VECTORS_DIR) + "/jsontestsuite";
    DIR *d = opendir(dir.c_str());
    if (!d) GTEST_SKIP() << dir << " is missing";
    size_t checked = 0;
    while (dirent *e = readdir(d)) {
        const std::string name = e->d_name;
        if (name.size() < 2 || name[1] != '_') continue;
        std::ifstream in(dir + "/" + name, std::ios::binary);
        const bool ok = accepts(std::string(std::istreambuf_iterator<char>(in), {}));
        const bool expected = name[0] == 'y' && name.find("duplicated_key") == std::string::npos;
        EXPECT_TRUE(name[0] == 'i' || ok == expected) << name;
        ++checked;
    }
    closedir(d);
    EXPECT_GT(checked, 300u);
}
