// Row checks: the text predicates on tables of texts, the order and kinds of
// the errors a row gets, the keep limit and tally, and the report built over
// a whole input.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "alloc.hpp"
#include "validate.hpp"

using namespace rowkit;

namespace {

struct Got {
    std::string column;  // "-" for field-count errors
    std::string name;
    std::string value;
    std::string kind;
    bool operator==(const Got &) const = default;
};

std::ostream &operator<<(std::ostream &os, const Got &g) {
    return os << "{" << g.column << "," << g.name << "," << g.value << "," << g.kind << "}";
}

using RowErrors = std::vector<std::vector<Got>>;

// The kept errors of every row of `csv` under `schema`.
RowErrors errorsOf(const std::string &csv, const std::string &schema) {
    auto v = Validator::fromBytesJson(csv, Format::csv, schema);
    EXPECT_TRUE(v.ok()) << schema;
    RowErrors out;
    if (!v.ok()) return out;
    for (;;) {
        auto r = v->next();
        EXPECT_TRUE(r.ok());
        if (!r.ok() || !r->has_value()) break;
        EXPECT_EQ((*r)->number, out.size() + 1);
        std::vector<Got> row;
        for (const RowError &e : (*r)->errors) {
            EXPECT_EQ(e.row, (*r)->number);
            row.push_back({e.column ? std::to_string(*e.column) : "-", std::string(e.column_name),
                           std::string(e.value), std::string(errorKindName(e.kind))});
        }
        out.push_back(row);
    }
    return out;
}

}  // namespace

TEST(ValidateText, IntegerAndBlank) {
    for (const char *yes : {"0", "42", " 42 ", "\t-7", "+3", "007", "123456789012345678901234567890"})
        EXPECT_TRUE(isInteger(yes)) << yes;
    for (const char *no : {"", " ", "+", "-", "4 2", "1.0", "1e3", "--1", "+-1", "0x10", "1_0", "١",
                           "12\n", "\n12"})
        EXPECT_FALSE(isInteger(no)) << no;
    for (const char *yes : {"", " ", "\t", "\r\n", " \t\r\n "}) EXPECT_TRUE(isBlank(yes)) << yes;
    for (const char *no : {"a", " . ", "\v", "\f"}) EXPECT_FALSE(isBlank(no));
    EXPECT_FALSE(isBlank(std::string_view("\0", 1)));
}

TEST(ValidateText, NumericBooleanAndType) {
    EXPECT_EQ(numeric(" 2.5\t"), 2.5);
    EXPECT_EQ(numeric("0x10"), 16.0);
    for (const char *no : {"", "inf", "nan", "1e999", "abc", "1 2", "\n1"}) EXPECT_FALSE(numeric(no)) << no;
    for (const char *yes : {"true", "FALSE", " True ", "fAlSe"}) EXPECT_TRUE(isBoolean(yes)) << yes;
    for (const char *no : {"1", "yes", "t", "truth", "", "true\n"}) EXPECT_FALSE(isBoolean(no)) << no;
    std::optional<double> n;
    EXPECT_TRUE(matchesType(ColumnType::floating, " 1e3 ", &n));
    EXPECT_EQ(n, 1000.0);
    EXPECT_FALSE(matchesType(ColumnType::floating, "x", &n));
    EXPECT_TRUE(matchesType(ColumnType::any, "\xff"));
    EXPECT_TRUE(matchesType(ColumnType::string, ""));
    EXPECT_TRUE(matchesType(ColumnType::integer, "-1"));
    // Integer columns read their number while checking the digits; it is the
    // number numeric() reads, at every length.
    uint64_t seed = 12345;
    for (int i = 0; i < 5000; ++i) {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        std::string digits = std::to_string(seed >> (seed % 40));
        if (i % 3 == 0) digits += std::to_string(seed);  // 20 digits and more
        std::string text = (i % 4 == 0 ? "-" : i % 4 == 1 ? "+" : " ") + digits + (i % 2 ? "" : "\t");
        std::optional<double> got;
        ASSERT_TRUE(matchesType(ColumnType::integer, text, &got)) << text;
        EXPECT_EQ(got, numeric(text)) << text;
    }
    EXPECT_TRUE(matchesType(ColumnType::integer, "1" + std::string(400, '0'), &n));
    EXPECT_FALSE(n.has_value());
    EXPECT_FALSE(matchesType(ColumnType::integer, "1.5"));
    EXPECT_TRUE(matchesType(ColumnType::boolean, "TRUE"));
    EXPECT_TRUE(matchesType(ColumnType::datetime, "2024-01-01"));
}

TEST(ValidateText, Datetime) {
    for (const char *yes :
         {"2024-02-29", "2000-02-29", "2024-02-29T13:45", "2024-02-29 13:45:60.123456789Z",
          "1999-12-31T23:59:59+05:30", " 2023-01-31 ", "0001-01-01", "9999-12-31T00:00z",
          "2024-06-30T00:00:00", "2024-06-30T00:00:00.5", "2024-06-30T00:00-23:59",
          "2024-06-30T00:00:00.1+00:00"})
        EXPECT_TRUE(isDatetime(yes)) << yes;
    for (const char *no :
         {"2023-02-29", "1900-02-29", "0000-01-01", "2024-1-01", "2024-01-1", "2024/01/01",
          "2024-00-10", "2024-13-10", "2024-04-31", "2024-01-00", "2024-01-01T1:00", "2024-01-01t10:00",
          "2024-01-01T10:00+0530", "2024-01-01T10:00:00.", "2024-01-01T10:00:5", "2024-01-01T24:00",
          "2024-01-01T10:60", "2024-01-01T10:00:61", "2024-01-01T10:00+24:00", "2024-01-01T10:00+05:60",
          "2024-01-01T10:00:00.Z", "2024-01-01T10:00:00.x", "2024-01-01T", "2024-01-01T10",
          "2024-01-01T10:00ZZ", "2024-01-01T10:00 Z", "2024-01-01X10:00", "2024-01-01  x", "", "20240101",
          "2024-01-01T10:00\n", "2024-01-01T10:00:00+05:30Z", "2024-01-01T10:00Q", "２０２４-01-01"})
        EXPECT_FALSE(isDatetime(no)) << no;
    // Blanks around the text are trimmed, CR and LF are not.
    EXPECT_TRUE(isDatetime("\t2024-01-01T10:00 "));
    EXPECT_FALSE(isDatetime("2024-01-01\r"));
}

TEST(ValidateText, LengthInCodePointsOrBytes) {
    EXPECT_EQ(textLength(""), 0u);
    EXPECT_EQ(textLength("h\xc3\xa9llo"), 5u);
    EXPECT_EQ(textLength("\xe2\x82\xac\xf0\x9f\x98\x80"), 2u);     // 3- and 4-byte forms
    EXPECT_EQ(textLength("\xf4\x8f\xbf\xbf"), 1u);                 // U+10FFFF
    EXPECT_EQ(textLength("\xef\xbf\xbf"), 1u);                     // U+FFFF
    EXPECT_EQ(textLength("a\xffz"), 3u);                           // invalid byte: bytes
    EXPECT_EQ(textLength("\xc0\xaf"), 2u);                         // overlong '/'
    EXPECT_EQ(textLength("\xe0\x80\xaf"), 3u);                     // overlong, 3 bytes
    EXPECT_EQ(textLength("\xf0\x80\x80\xaf"), 4u);                 // overlong, 4 bytes
    EXPECT_EQ(textLength("\xed\xa0\x80"), 3u);                     // encoded surrogate U+D800
    EXPECT_EQ(textLength("\xed\xbf\xbf"), 3u);                     // encoded surrogate U+DFFF
    EXPECT_EQ(textLength("\xf4\x90\x80\x80"), 4u);                 // above U+10FFFF
    EXPECT_EQ(textLength("\xf8\x88\x80\x80\x80"), 5u);             // 5-byte form
    EXPECT_EQ(textLength("\xc3"), 1u);                             // cut off
    EXPECT_EQ(textLength("abcdefgh\x80"), 9u);                     // stray continuation
    EXPECT_EQ(textLength("abcdefghijklmnop\xc3\xa9qrstuvwxyz"), 27u);  // across the ASCII fast path
    EXPECT_EQ(textLength(std::string_view("a\0b", 3)), 3u);
}

TEST(Validate, ChecksInOrderWithEveryKind) {
    const std::string csv =
        "id,age,status,code\n"
        "1,42,open,ab\n"          // valid
        "2, 42 ,open\n"           // too few; code skipped silently
        "x,5,closed,abc,extra\n"  // too many, then id bad_type, age below_min, code too_long
        ",,,\n"                   // id missing_required; blanks pass the rest
        "3,abc,OPEN,a\n"          // age bad_type; status not_in_set; code too_short
        "4,1" + std::string(400, '0') + ",open,\t\n";  // an integer beyond binary64 is no number
    const std::string schema = R"({"id": {"type": "integer", "required": true},
        "age": {"type": "integer", "min": 10, "max": 99},
        "status": {"one_of": ["open", "closed"]},
        "code": {"min_len": 2, "max_len": 2}})";
    RowErrors got = errorsOf(csv, schema);
    ASSERT_EQ(got.size(), 6u);
    EXPECT_TRUE(got[0].empty());
    EXPECT_EQ(got[1], (std::vector<Got>{{"-", "", "", "too_few_fields"}}));
    EXPECT_EQ(got[2], (std::vector<Got>{{"-", "", "", "too_many_fields"},
                                        {"0", "id", "x", "bad_type"},
                                        {"1", "age", "5", "below_min"},
                                        {"3", "code", "abc", "too_long"}}));
    EXPECT_EQ(got[3], (std::vector<Got>{{"0", "id", "", "missing_required"}}));
    EXPECT_EQ(got[4], (std::vector<Got>{{"1", "age", "abc", "bad_type"},
                                        {"2", "status", "OPEN", "not_in_set"},
                                        {"3", "code", "a", "too_short"}}));
    EXPECT_EQ(got[5], (std::vector<Got>{{"1", "age", "1" + std::string(400, '0'), "bad_type"}}));
}

TEST(Validate, RangeLengthAndSetChecksFollowTheType) {
    const std::string csv =
        "a,b,c\n"
        "abc,3,2.0\n"
        " open,\"\t\",2\n"
        "hello,x,1.5\n";
    // A string column with a bound: no number is bad_type, and the length and
    // set checks still run. Crossed bounds raise both. Floats compare by value
    // through the type check, set membership by exact text.
    const std::string schema = R"({"a": {"type": "string", "min": 0, "max_len": 2, "one_of": ["open"]},
        "b": {"min": 5, "max": 1},
        "c": {"type": "float", "max": 1.75, "one_of": [2.0, 1.5]}})";
    RowErrors got = errorsOf(csv, schema);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0], (std::vector<Got>{{"0", "a", "abc", "bad_type"},
                                        {"0", "a", "abc", "too_long"},
                                        {"0", "a", "abc", "not_in_set"},
                                        {"1", "b", "3", "below_min"},
                                        {"1", "b", "3", "above_max"},
                                        {"2", "c", "2.0", "above_max"},
                                        {"2", "c", "2.0", "not_in_set"}}));
    EXPECT_EQ(got[1], (std::vector<Got>{{"0", "a", " open", "bad_type"},
                                        {"0", "a", " open", "too_long"},
                                        {"0", "a", " open", "not_in_set"},
                                        {"2", "c", "2", "above_max"}}));
    EXPECT_EQ(got[2], (std::vector<Got>{{"0", "a", "hello", "bad_type"},
                                        {"0", "a", "hello", "too_long"},
                                        {"0", "a", "hello", "not_in_set"},
                                        {"1", "b", "x", "bad_type"}}));
    // An empty schema checks only the field count.
    RowErrors count_only = errorsOf("a,b\n1\n1,2\n1,2,3\n", "{}");
    EXPECT_EQ(count_only, (RowErrors{{{"-", "", "", "too_few_fields"}}, {}, {{"-", "", "", "too_many_fields"}}}));
}

TEST(Validate, SinkLimitTallyAndCounters) {
    const std::string csv = "a,b\nx,y\n1,2\nz,3\n";
    auto v = Validator::fromBytesJson(csv, Format::csv,
                                      R"({"a":{"type":"integer"},"b":{"type":"integer"}})");
    ASSERT_TRUE(v.ok());
    uint64_t counts[kErrorKindCount] = {};
    auto step = [&](size_t limit, uint64_t *tally) {
        auto r = v->nextWithSink(limit, tally);
        EXPECT_TRUE(r.ok() && r->has_value());
        return r.ok() && r->has_value() ? **r : ValidatedRow();
    };
    ValidatedRow row = step(0, counts);  // nothing kept, all counted
    EXPECT_TRUE(row.errors.empty());
    EXPECT_EQ(counts[static_cast<size_t>(ErrorKind::bad_type)], 2u);
    EXPECT_EQ(v->rowsInvalid(), 1u);
    row = step(1, counts);
    EXPECT_TRUE(row.errors.empty());
    EXPECT_EQ(v->rowsValid(), 1u);
    row = step(1, nullptr);  // one kept, the tally left alone
    ASSERT_EQ(row.errors.size(), 1u);
    EXPECT_EQ(row.errors[0].value, "z");
    EXPECT_EQ(counts[static_cast<size_t>(ErrorKind::bad_type)], 2u);
    EXPECT_EQ(row.row.size(), 2u);
    auto end = v->next();
    ASSERT_TRUE(end.ok());
    EXPECT_FALSE(end->has_value());
    EXPECT_EQ(v->rowNumber(), 3u);
    EXPECT_EQ(v->rowsValid() + v->rowsInvalid(), 3u);
    // A report needs an unread validator.
    auto rep = v->report(10);
    ASSERT_FALSE(rep.ok());
    EXPECT_EQ(rep.error(), Error::ValidatorAlreadyStarted);
}

TEST(Validate, ReaderErrorsPassThroughUncounted) {
    auto v = Validator::fromBytesJson("a\n1\n\"open\n", Format::csv, R"({"a":{}})");
    ASSERT_TRUE(v.ok());
    ASSERT_TRUE(v->next().ok());
    auto r = v->next();
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error(), Error::UnterminatedQuote);
    EXPECT_EQ(v->rowNumber(), 1u);
    EXPECT_EQ(v->rowsValid(), 1u);
    auto bad = Validator::fromBytesJson("a\n1\n", Format::csv, R"({"b":{}})");
    ASSERT_FALSE(bad.ok());
    EXPECT_EQ(bad.error(), Error::UnknownColumn);
}

TEST(Validate, ReportKeepsTheFirstErrorsAndCountsAll) {
    std::string csv = "n,v\n";
    for (int i = 1; i <= 5; ++i) csv += std::to_string(i) + ",bad\n";
    auto v = Validator::fromBytesJson(csv, Format::csv, R"({"n":{"max":0},"v":{"type":"integer"}})");
    ASSERT_TRUE(v.ok());
    auto rep = v->report(3);  // rows 1 and 2 fill three slots: row 2 keeps one of two
    ASSERT_TRUE(rep.ok());
    EXPECT_EQ(rep->rows_total, 5u);
    EXPECT_EQ(rep->rows_invalid, 5u);
    EXPECT_EQ(rep->rows_valid, 0u);
    EXPECT_EQ(rep->errors_total, 10u);
    EXPECT_TRUE(rep->truncated);
    ASSERT_EQ(rep->errors.size(), 3u);
    EXPECT_EQ(rep->errors[2].row, 2u);
    EXPECT_EQ(rep->errors[2].kind, ErrorKind::above_max);
    EXPECT_EQ(rep->counts[static_cast<size_t>(ErrorKind::above_max)], 5u);
    EXPECT_EQ(rep->counts[static_cast<size_t>(ErrorKind::bad_type)], 5u);
}

TEST(Validate, SteadyStateAllocatesNothing) {
    // The first row has the most errors any row can have, so the error list
    // is as large as it gets from then on.
    std::string csv = "a,b,c\n-1,x99,bad\n";
    for (int i = 0; i < 2000; ++i) csv += std::to_string(i) + ",x" + std::to_string(i % 50) + ",2024-01-0" + std::to_string(1 + i % 9) + "\n";
    std::string list = "[";
    for (int i = 0; i < 40; ++i) list += (i ? ",\"x" : "\"x") + std::to_string(i) + "\"";
    auto v = Validator::fromBytesJson(
        csv, Format::csv,
        R"({"a":{"type":"integer","min":5,"max":1500},"b":{"one_of":)" + list + R"(],"max_len":2},"c":{"type":"datetime"}})");
    ASSERT_TRUE(v.ok());
    ASSERT_EQ((*v->next())->errors.size(), 4u);
    alloc_hook::reset();
    size_t errors = 0;
    for (;;) {
        auto r = v->next();
        ASSERT_TRUE(r.ok());
        if (!r->has_value()) break;
        errors += (*r)->errors.size();
    }
    EXPECT_GT(errors, 500u);
    EXPECT_EQ(alloc_hook::count(), 0u);
}
