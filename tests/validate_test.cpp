// Row checks: the text predicates, the order and kinds of the errors a row
// gets, reader errors and the report JSON. (The allocation-free steady state
// is checked through the public interface.)
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "alloc.hpp"
#include "validate.hpp"

using namespace rowkit;

// The kept errors of every row of `csv` under `schema`, a string per row:
// "kind@column=value" joined by ';', field-count errors with no column.
static std::vector<std::string> errorsOf(const std::string &csv, const std::string &schema) {
    auto v = Validator::fromBytesJson(csv, Format::csv, schema);
    std::vector<std::string> out;
    while (v.ok()) {
        auto r = v->next();
        if (!r.ok() || !r->has_value()) break;
        std::string &row = out.emplace_back();
        for (const RowError &e : (*r)->errors)
            row += (row.empty() ? "" : ";") + std::string(errorKindName(e.kind)) +
                   (e.column ? "@" + std::to_string(*e.column) + "=" + std::string(e.value) : "");
    }
    return out;
}

// Each predicate with the texts it takes and those it refuses.
TEST(ValidateText, Predicates) {
    struct Case { bool (*check)(std::string_view); std::vector<std::string> yes, no; };
    const Case cases[] = {
        {isInteger,
         {" 42 ", "\t-7", "+3", "007", "123456789012345678901234567890"},
         {"", " ", "+", "4 2", "1.0", "1e3", "--1", "0x10", "12\n"}},
        {isBlank, {"", " \t\r\n "}, {" . ", "\v", std::string("\0", 1)}},
        {isBoolean, {"true", "FALSE", " True ", "fAlSe"}, {"1", "yes", "truth", "", "true\n"}},
        {isDatetime,
         {"2024-02-29", "2000-02-29", "0001-01-01", "2024-02-29 13:45:60.123456789Z",
          "1999-12-31T23:59:59+05:30", "9999-12-31T00:00z", "2024-06-30T00:00-23:59",
          "\t2024-01-01T10:00 "},
         {"2023-02-29", "1900-02-29", "0000-01-01", "2024-1-01", "2024-13-10", "2024-04-31",
          "2024-01-01t10:00", "2024-01-01T24:00", "2024-01-01T10:00:61", "2024-01-01T10:00:00.Z",
          "2024-01-01T10:00+0530", "2024-01-01T10:00+24:00", "2024-01-01T",
          "2024-01-01T10:00:00+05:30Z", "2024-01-01\r"}}};
    for (const Case &c : cases) {
        for (const std::string &t : c.yes) EXPECT_TRUE(c.check(t)) << testing::PrintToString(t);
        for (const std::string &t : c.no) EXPECT_FALSE(c.check(t)) << testing::PrintToString(t);
    }
}

// The digits are accumulated while checked when they are few; at every
// length the number is the one numeric() gives.
TEST(ValidateText, IntegerColumnsReadTheNumberNumericReads) {
    EXPECT_EQ(numeric(" 2.5\t"), 2.5);
    EXPECT_EQ(numeric("0x10"), 16.0);
    for (const char *none : {"", "1 2", "\n1"}) EXPECT_EQ(numeric(none), std::nullopt) << none;
    uint64_t seed = 12345;
    for (int i = 0; i < 3000; ++i) {
        // Up to 40 digits, signed or padded.
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        const char *sign = i % 4 == 0 ? "-" : i % 4 == 1 ? "+" : " ";
        const std::string text = sign + std::to_string(seed >> (seed % 40)) +
                                 (i % 3 ? "" : std::to_string(seed >> (seed % 64))) +
                                 (i % 2 ? "" : "\t");
        std::optional<double> got;
        ASSERT_TRUE(matchesType(ColumnType::integer, text, &got)) << text;
        EXPECT_EQ(got, numeric(text)) << text;
    }
}

// Not UTF-8, so counted in bytes: a bad byte, overlong forms, an encoded
// surrogate, beyond U+10FFFF, cut off, a stray continuation.
TEST(ValidateText, LengthInCodePointsOrBytes) {
    const std::pair<std::string_view, size_t> cases[] = {
        {"h\xc3\xa9llo", 5}, {"\xe2\x82\xac\xf0\x9f\x98\x80", 2}, {"\xf4\x8f\xbf\xbf", 1},
        {std::string_view("a\0b", 3), 3}, {"abcdefghijklmnop\xc3\xa9qrstuvwxyz", 27},
        {"a\xffz", 3}, {"\xc0\xaf", 2}, {"\xe0\x9f\xbf", 3}, {"\xf0\x80\x80\xaf", 4},
        {"\xed\xa0\x80", 3}, {"\xf4\x90\x80\x80", 4}, {"\xc3", 1}, {"abcdefgh\x80", 9}};
    for (auto [text, n] : cases)
        EXPECT_EQ(textLength(text), n) << testing::PrintToString(std::string(text));
}

// The field count first, then the rules; too few fields skip the missing
// columns silently; blanks pass every rule but required; an integer beyond
// binary64 is no number. A string column with a bound: no number is bad_type,
// and the length and set checks still run. Crossed bounds raise both; an
// empty one_of allows anything. Floats compare by value, sets by exact text.
TEST(Validate, ChecksInOrderWithEveryKind) {
    const std::string huge = "1" + std::string(400, '0');
    const std::string csv = "id,age,status,code\n1,42,open,ab\n2, 42 ,open\nx,5,closed,abc,extra\n"
                            ",,,\n3,abc,OPEN,a\n4," + huge + ",open,\t\n";
    EXPECT_EQ(errorsOf(csv, R"({"id": {"type": "integer", "required": true},
                                "age": {"type": "integer", "min": 10, "max": 99},
                                "status": {"one_of": ["open", "closed"]},
                                "code": {"min_len": 2, "max_len": 2}})"),
              (std::vector<std::string>{
                  "", "too_few_fields", "too_many_fields;bad_type@0=x;below_min@1=5;too_long@3=abc",
                  "missing_required@0=", "bad_type@1=abc;not_in_set@2=OPEN;too_short@3=a",
                  "bad_type@1=" + huge}));
    EXPECT_EQ(errorsOf("a,b,c\nabc,3,2.0\n open,\"\t\",2\n",
                       R"({"a": {"type": "string", "min": 0, "max_len": 2, "one_of": ["open"]},
                           "b": {"min": 5, "max": 1, "one_of": []},
                           "c": {"type": "float", "max": 1.75, "one_of": [2.0, 1.5]}})"),
              (std::vector<std::string>{
                  "bad_type@0=abc;too_long@0=abc;not_in_set@0=abc;below_min@1=3;above_max@1=3;"
                  "above_max@2=2.0;not_in_set@2=2.0",
                  "bad_type@0= open;too_long@0= open;not_in_set@0= open;above_max@2=2"}));
}

// A reader error counts no row, and a started validator gives no report.
TEST(Validate, ReaderErrorsCountNoRowAndReportsNeedAnUnreadValidator) {
    auto v = Validator::fromBytesJson("a\n1\n\"open\n", Format::csv, R"({"a":{}})");
    ASSERT_TRUE(v.ok());
    ASSERT_TRUE(v->next().ok());
    EXPECT_EQ(v->next().error(), Error::UnterminatedQuote);
    EXPECT_EQ(v->rowNumber(), 1u);
    EXPECT_EQ(v->rowsValid() + v->rowsInvalid(), 1u);
    EXPECT_EQ(v->report(10).error(), Error::ValidatorAlreadyStarted);
}

// Counts too large for any file, a column name that needs escaping, and
// every allocation failing in turn.
TEST(ValidateReport, JsonWithLargeCountsAwkwardNamesAndAllocationFailures) {
    Report r;
    std::tie(r.rows_total, r.rows_valid, r.rows_invalid, r.errors_total, r.truncated) =
        std::make_tuple(18446744073709551615ull, 1, 2, 12, true);
    r.counts[static_cast<size_t>(ErrorKind::not_in_set)] = 10;
    r.counts[static_cast<size_t>(ErrorKind::too_few_fields)] = 2;
    ASSERT_TRUE(r.errors.push(RowError{9, size_t{0}, "n\"m", "\xfe", ErrorKind::not_in_set}));
    ASSERT_TRUE(r.errors.push(RowError{7, std::nullopt, "", "", ErrorKind::too_few_fields}));
    bool done = false;
    for (uint64_t nth = 1; nth < 20 && !done; ++nth) {
        ByteBuf out;
        alloc_hook::failAt(nth);
        Status s = writeReportJson(out, r);
        alloc_hook::reset();
        ASSERT_TRUE((done = s.ok()) || s.error() == Error::OutOfMemory) << nth;
        if (!done) continue;
        EXPECT_EQ(view(out),
                  R"({"rows_total":18446744073709551615,"rows_valid":1,"rows_invalid":2,)"
                  R"("errors_total":12,"truncated":true,)"
                  R"("counts":{"too_few_fields":2,"not_in_set":10},)"
                  R"("errors":[{"row":9,"column":0,"column_name":"n\"m","rule":"not_in_set",)"
                  R"("value":[254]},)"
                  R"({"row":7,"column":null,"column_name":"","rule":"too_few_fields",)"
                  R"("value":""}]})");
    }
    EXPECT_TRUE(done);
}
