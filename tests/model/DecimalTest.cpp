// Exact decimal money: how texts and stored doubles become decimals, how products round (half
// up, away from zero, once), how amounts are written.
#include "common/Decimal.h"

#include "common/Error.h"

#include <gtest/gtest.h>

#include <optional>

namespace talvira::model {
namespace {

TEST(Decimal, TextsAsTheUserTypesThem) {
    struct Case {
        const char* text;
        std::optional<int64_t> units;  // of 10⁻⁷; nothing: refused
    };
    const Case cases[] = {
        {"52.21", 522'100'000},        {"52,21", 522'100'000},       {" 1,015 ", 10'150'000},
        {"-0,5", -5'000'000},          {"+2", 20'000'000},           {"0", 0},
        {".5", 5'000'000},             {"3,", 30'000'000},           {"0.00000005", 1},   // half up at the 7th
        {"0.00000004", 0},             {"-0.00000005", -1},          {"1.23456789", 12'345'679},
        {"922337203685", 9'223'372'036'850'000'000},
        {"", std::nullopt},            {" ", std::nullopt},          {"abc", std::nullopt},
        {"1e3", std::nullopt},         {"1 000", std::nullopt},      {"1,2,3", std::nullopt},
        {"1.2.3", std::nullopt},       {"-", std::nullopt},          {",", std::nullopt},
        {"922337203686", std::nullopt},  // beyond 64 bits of 10⁻⁷
    };
    for (const Case& c : cases) {
        const std::optional<Dec7> d = Dec7::tryParse(c.text);
        ASSERT_EQ(d.has_value(), c.units.has_value()) << c.text;
        if (d) {
            EXPECT_EQ(d->units(), *c.units) << c.text;
        }
    }
    EXPECT_EQ(Money::tryParse("1709,355")->kopecks(), 170936);
    EXPECT_EQ(Money::tryParse("-0,005")->kopecks(), -1);
    EXPECT_FALSE(Money::tryParse("12 руб").has_value());
    try {
        Dec7::parse("abc", "Индекс ОТ");
        FAIL();
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Индекс ОТ: «abc» не число");
    }
}

TEST(Decimal, StoredDoublesAtTheirShortestDecimalForm) {
    // The binary value of 2.345 lies below it, of 1.015 below it, of 0.585 below it: read as the
    // decimals the table was given, they round up.
    struct Case {
        double value;
        int64_t kopecks;
    };
    const Case money[] = {{32.74, 3274}, {2.345, 235}, {1.015, 102}, {0.585, 59}, {-2.345, -235},
                          {0.125, 13},   {0, 0},       {1e-9, 0},    {258.39, 25839}, {1e15, 100'000'000'000'000'000}};
    for (const Case& c : money) EXPECT_EQ(Money::fromDouble(c.value).kopecks(), c.kopecks) << c.value;
    EXPECT_EQ(Dec7::fromDouble(1e-7).units(), 1);
    EXPECT_EQ(Dec7::fromDouble(0.15).units(), 1'500'000);
    EXPECT_EQ(Dec7::fromDouble(1.23456785).units(), 12'345'679);
    EXPECT_THROW(Dec7::fromDouble(1e12), Error);
    EXPECT_THROW(Money::fromDouble(1e18), Error);
    EXPECT_THROW(Money::fromDouble(0.0 / 0.0), Error);
}

TEST(Decimal, ProductsRoundOnceHalfUpAwayFromZero) {
    const Dec7 one = Dec7::fromInt(1);
    struct Case {
        const char* name;
        Money got, want;
    };
    const Case cases[] = {
        {"ОТ_cur of the worked position", roundMoney(Dec7::parse("52.21"), Money::fromKopecks(3274)),
         Money::fromKopecks(170936)},
        {"a half kopeck goes up", roundMoney(Dec7::parse("1.015"), Money::fromKopecks(100)), Money::fromKopecks(102)},
        {"below half goes down", roundMoney(Dec7::parse("1.0149999"), Money::fromKopecks(100)), Money::fromKopecks(101)},
        {"a negative half goes away from zero", roundMoney(Dec7::parse("1.015"), Money::fromKopecks(-100)),
         Money::fromKopecks(-102)},
        {"three factors, one rounding", roundMoney(Dec7::parse("2.5"), Dec7::parse("1.15"), Money::fromKopecks(10000)),
         Money::fromKopecks(28750)},
        // 0.3 × 0.5 × 0.03 = 0.0045 -> 0.00; rounded after 0.5 × 0.03 it would be 0.3 × 0.02 -> 0.01
        {"once, not twice", roundMoney(Dec7::parse("0.3"), Dec7::parse("0.5"), Money::fromKopecks(3)), Money()},
        {"НР 110 %", percentOf(Money::fromKopecks(3448), Dec7::parse("110")), Money::fromKopecks(3793)},
        {"СП 65 % of 0.90", percentOf(Money::fromKopecks(90), Dec7::parse("65")), Money::fromKopecks(59)},
        {"НР 112 % × 0.9", percentOf(Money::fromKopecks(10000), Dec7::parse("112"), Dec7::parse("0.9")),
         Money::fromKopecks(10080)},
        {"1 is neutral", roundMoney(one, Money::fromKopecks(12345)), Money::fromKopecks(12345)},
    };
    for (const Case& c : cases) EXPECT_EQ(c.got, c.want) << c.name;
    EXPECT_EQ(mul(Dec7::parse("1.2"), Dec7::parse("1.25")), Dec7::parse("1.5"));
    EXPECT_EQ(mul(Dec7::parse("0.0000005"), Dec7::parse("0.1")), Dec7::fromUnits(1));  // 0.00000005 -> up
    EXPECT_THROW(roundMoney(Dec7::parse("900000000000"), Money::fromKopecks(INT64_MAX / 2)), Error);
}

TEST(Decimal, WrittenWithTheDecimalsTheyNeed) {
    struct Case {
        std::string got;
        const char* want;
    };
    const Case cases[] = {
        {Money::fromKopecks(170936).text(), "1709.36"},
        {Money::fromKopecks(-50).text(), "-0.50"},
        {Money::fromKopecks(0).text(), "0.00"},
        {Money::fromKopecks(5).text(','), "0,05"},
        {Money::fromKopecks(965435452).grouped(), "9\u00a0654\u00a0354,52"},
        {Money::fromKopecks(-100000).grouped(',', " "), "-1 000,00"},
        {Money::fromKopecks(99999).grouped(',', " "), "999,99"},
        {Dec7::parse("1.15").text(), "1.15"},
        {Dec7::parse("2").text(), "2"},
        {Dec7::parse("-0.675").text(','), "-0,675"},
        {Dec7::fromUnits(1).text(), "0.0000001"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.got, c.want);
    EXPECT_EQ(Money::fromKopecks(3274).toDouble(), 32.74);
    EXPECT_EQ(Dec7::parse("52.21").toDouble(), 52.21);
    EXPECT_EQ(Money::fromKopecks(3274).toDec7(), Dec7::parse("32.74"));
}

}  // namespace
}  // namespace talvira::model
