#include "common/Error.h"
#include "common/NumberText.h"

#include <gtest/gtest.h>

using namespace talvira;

TEST(ParseFloat, AcceptsTheUsersNotation) {
    struct Row { const char* text; char sep; long double expected; };
    const Row rows[] = {
        {"2,18", ',', 2.18L},   {"  118 ", ',', 118.0L}, {"-1,5", ',', -1.5L}, {"+3", '.', 3.0L},
        {"1e3", ',', 1000.0L},  {"1,5E-2", ',', 0.015L}, {",5", ',', 0.5L},    {"5,", ',', 5.0L},
        {"2.18", '.', 2.18L},
    };
    for (const Row& r : rows) {
        auto v = parseFloat(r.text, r.sep);
        ASSERT_TRUE(v.has_value()) << r.text;
        EXPECT_EQ(*v, r.expected) << r.text;
    }
}

TEST(ParseFloat, RefusesWhatIsNotANumber) {
    struct Row { const char* text; char sep; };
    const Row rows[] = {{"", ','},      {"   ", ','},  {"2.18", ','}, {"2,18", '.'}, {"abc", ','},
                        {"1 000", ','}, {"1e", ','},   {"-", ','},    {",", ','},    {"1e99999", ','},
                        {"1,2,3", ','}, {"0x10", '.'}};
    for (const Row& r : rows) EXPECT_FALSE(parseFloat(r.text, r.sep).has_value()) << r.text;
}

TEST(ParseFloat, ErrorMessageQuotesTheText) {
    try {
        strToFloat("2.18", ',');
        FAIL();
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "'2.18' is not a valid floating point value");
    }
    EXPECT_THROW(strToFloat("", ','), Error);
}

TEST(FormatGeneral, FifteenSignificantDigits) {
    struct Row { double v; char sep; const char* expected; };
    const Row rows[] = {
        {0, ',', "0"},           {1234.5, ',', "1234,5"},    {-0.25, ',', "-0,25"},
        {1234.5, '.', "1234.5"}, {0.1 + 0.2, ',', "0,3"},    {100, ',', "100"},
        {1e15, ',', "1E15"},     {123456789012345.0, ',', "123456789012345"},
        {0.00001, ',', "0,00001"}, {0.0000015, ',', "1,5E-6"}, {2.18, ',', "2,18"},
    };
    for (const Row& r : rows) EXPECT_EQ(formatGeneral(r.v, r.sep), r.expected) << r.v;
}

TEST(DecimalSeparatorOf, RussianWritesAComma) {
    EXPECT_EQ(decimalSeparatorOf("ru_RU"), ',');
    EXPECT_EQ(decimalSeparatorOf("ru_RU.UTF-8"), ',');
    EXPECT_EQ(decimalSeparatorOf("en_US.UTF-8"), '.');
    EXPECT_EQ(decimalSeparatorOf("C"), '.');
}
