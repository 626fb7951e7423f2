// The strict JSON reader: the tree it builds, numbers, strings and escapes,
// repeated keys, nesting bounds, allocation failures and the public
// conformance files.
#include <gtest/gtest.h>

#include <dirent.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "alloc.hpp"
#include "json_value.hpp"

using rowkit::parseJsonTree;
using Kind = rowkit::JsonNode::Kind;

static bool accepts(const std::string &text) { return parseJsonTree(text).ok(); }

// Integers beyond 64 bits keep their literal; floats too small for binary64
// read as zero, those too large are refused.
TEST(JsonValue, BuildsTheTreeInTextOrder) {
    auto tree = parseJsonTree(
        " {\"b\": [true, null, \"x\", -2.5, 1E2, 1e-400, -0, 9223372036854775807,"
        " -9223372036854775808, -92233720368547758090], \"a\": {}} \r\n");
    ASSERT_TRUE(tree.ok());
    auto members = tree->root().objectMembers();
    ASSERT_EQ(members.size(), 2u);
    EXPECT_EQ(members[0].key, "b");
    EXPECT_EQ(members[1].key, "a");
    EXPECT_EQ(members[1].value.kind, Kind::object);
    EXPECT_EQ(members[1].value.count, 0u);
    std::string got;
    for (const auto &v : members[0].value.arrayItems())
        got += v.kind == Kind::boolean      ? std::string(v.boolean ? "T " : "F ")
               : v.kind == Kind::null_value ? std::string("N ")
               : v.kind == Kind::floating   ? "f" + std::to_string(v.floating) + " "
               : v.kind == Kind::integer    ? "i" + std::to_string(v.integer) + " "
               : v.kind == Kind::string     ? "s" + std::string(v.text) + " "
                                            : "t" + std::string(v.text) + " ";
    EXPECT_EQ(got, "T N sx f-2.500000 f100.000000 f0.000000 i0 i9223372036854775807 "
                   "i-9223372036854775808 t-92233720368547758090 ");
    EXPECT_FALSE(accepts("1e400") || accepts("-1e400"));
}

// Surrogate escapes must pair up; bytes must be UTF-8 (no overlong forms,
// encoded surrogates or code points beyond U+10FFFF).
TEST(JsonValue, StringsAreCheckedAndDecoded) {
    auto tree =
        parseJsonTree(R"(["a\"b\\c\/d\b\f\n\r\t", "\u0041\u00e9\u20AC\ud834\udd1e\u0000", "h)"
                      "\xc3\xa9"
                      R"(llo"])");
    ASSERT_TRUE(tree.ok());
    auto items = tree->root().arrayItems();
    EXPECT_EQ(items[0].text, "a\"b\\c/d\b\f\n\r\t");
    EXPECT_EQ(items[2].text, "h\xc3\xa9llo");
    EXPECT_EQ(items[1].text, std::string("A\xc3\xa9\xe2\x82\xac\xf0\x9d\x84\x9e\0", 11));
    // The code points on either side of the surrogate range.
    auto edges = parseJsonTree(R"("\ud7ff\ue000\udbff\udfff\u07ff")");
    ASSERT_TRUE(edges.ok());
    EXPECT_EQ(edges->root().text, "\xed\x9f\xbf\xee\x80\x80\xf4\x8f\xbf\xbf\xdf\xbf");
    for (const char *bad :
         {"\"\\ud834\"", "\"\\udd1e\"", "\"\\udfff\"", "\"\\udbff\"", "\"\\ud834\\u0041\"",
          "\"\\ud834x\"", "\"\\u12\"", "\"a\\", "\"\xff\"", "\"\xc0\xaf\"", "\"\xe0\x80\xaf\"",
          "\"\xe0\x9f\xbf\"", "\"\xf0\x8f\xbf\xbf\"", "\"\xed\xa0\x80\"", "\"\xf4\x90\x80\x80\"",
          "\"\xe2\x82\""})
        EXPECT_FALSE(accepts(bad)) << bad;
}

// A key may not repeat in any object at any depth, compared after decoding;
// long objects take the hashed check. A byte order mark is not whitespace.
// Nesting beyond the bound is an error, not a crash.
TEST(JsonValue, RepeatedKeysByteOrderMarkAndDeepNestingAreRefused) {
    std::string wide = "{\"k0\":0";
    for (int i = 1; i < 100; ++i) wide += ",\"k" + std::to_string(i) + "\":" + std::to_string(i);
    auto nested = [](size_t n) { return std::string(n, '[') + std::string(n, ']'); };
    for (const std::string &bad : std::vector<std::string>{
             R"({"x":[{"k":1,"k":1}]})", R"({"a":1,"\u0061":2})", "\xef\xbb\xbf{}",
             wide + ",\"k57\":0}", nested(rowkit::kMaxJsonDepth + 1), std::string(1000000, '[')})
        EXPECT_FALSE(accepts(bad)) << bad.substr(0, 50);
    EXPECT_TRUE(accepts(R"({"a":{"a":1},"b":{"a":1}})"));
    EXPECT_TRUE(accepts(wide + "}"));
    EXPECT_TRUE(accepts(nested(rowkit::kMaxJsonDepth)));
}

TEST(JsonValue, AllocationFailuresLeaveNothing) {
    std::string text = R"({"a":[1,2,{"b":"c\n"}],"d":"e","f":{"g":[[],[null]]},"w":{"k0":0)";
    for (int i = 1; i < 20; ++i) text += ",\"k" + std::to_string(i) + "\":0";
    bool done = false;
    for (uint64_t nth = 1; nth < 100 && !done; ++nth) {
        rowkit::alloc_hook::failAt(nth);
        auto tree = parseJsonTree(text + "}}");
        rowkit::alloc_hook::reset();
        EXPECT_TRUE((done = tree.ok()) || tree.error() == rowkit::Error::OutOfMemory) << nth;
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
        const bool expected = name[0] == 'y' && name.find("duplicated_key") == std::string::npos;
        EXPECT_TRUE(accepts(std::string(std::istreambuf_iterator<char>(in), {})) == expected ||
                    name[0] == 'i')
            << name;
        ++checked;
    }
    closedir(d);
    EXPECT_GT(checked, 300u);
}
