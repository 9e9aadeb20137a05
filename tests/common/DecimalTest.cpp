// Exact decimal numbers: how texts and stored doubles become decimals (as typed, as other
// programs' files write them, as xs:decimal), how sums and products round (half up, away from
// zero, once), what is refused as too large, how numbers are written.
#include "common/Decimal.h"

#include "common/Error.h"

#include <gtest/gtest.h>

#include <clocale>
#include <functional>
#include <limits>
#include <optional>

namespace talvira::test {
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

TEST(Decimal, FilesNumbersReadExactlyWithTheUnusualOnesMarked) {
    const struct {
        const char* text;
        int places;
        std::optional<int64_t> scaled;  // nothing: not a number, or beyond 64 bits
        bool unusual;
    } rows[] = {
        {"577.045", 2, 57705, false},  // a binary double holds 577.04499…
        {"577.044999", 2, 57704, false},
        {"-0.005", 2, -1, false},      // away from zero
        {"-0.0049", 2, 0, false},
        {"1154.09", 2, 115409, false},
        {"0.37", 7, 3700000, false},
        {"0.00000005", 7, 1, false},
        {"0.00000004", 7, 0, false},
        {"12.", 2, 1200, false},
        {".25", 2, 25, false},
        {"+3", 0, 3, false},
        {"000120.500", 1, 1205, false},
        {"1,5", 7, 15000000, true},   // a decimal comma
        {"1.5e3", 2, 150000, true},   // an exponent
        {"25E-1", 0, 3, true},
        {"1e-400", 2, 0, true},
        {"9223372036854775807", 0, INT64_MAX, false},
        {"9223372036854775808", 0, std::nullopt, false},
        {"1e30", 2, std::nullopt, true},
        {"", 2, std::nullopt, false},
        {"П", 2, std::nullopt, false},
        {"1.2.3", 2, std::nullopt, false},
        {"1e", 2, std::nullopt, false},
        {"--1", 2, std::nullopt, false},
        {" 1", 2, std::nullopt, false},
        {"1 000", 2, std::nullopt, false},
        {"0x10", 2, std::nullopt, false},
        {"nan", 2, std::nullopt, false},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.text);
        const auto d = DecimalText::parse(r.text, DecimalSyntax::Lenient);
        const std::optional<int64_t> got = d ? d->scaled(r.places) : std::nullopt;
        EXPECT_EQ(got, r.scaled);
        if (d) {
            EXPECT_EQ(d->unusual(), r.unusual);
        }
    }
    // A double's shortest decimal form is what was written before it was stored.
    for (const auto& [wage, kopecks] : {std::pair{412.5, 41250}, {350.55, 35055}, {0.1 + 0.2, 30}, {1e-9, 0}}) {
        SCOPED_TRACE(wage);
        EXPECT_EQ(DecimalText::fromDouble(wage)->scaled(kMoneyPlaces), kopecks);
    }
    EXPECT_FALSE(DecimalText::fromDouble(std::numeric_limits<double>::infinity()));
}

TEST(Decimal, OneTextInTheThreeSyntaxes) {
    const struct {
        const char* text;
        bool typed, lenient, xs;  // read in that syntax
    } rows[] = {
        {"-12.50", true, true, true},  {"+3", true, true, true},    {"7.", true, true, true},
        {".5", true, true, true},      {"0", true, true, true},
        {"37,93", true, true, false},  // the comma the expertise schema refuses
        {"1e3", false, true, false},   {"1.5E-2", false, true, false},
        {" 1.5", true, false, false},  {"1.5\t", true, false, false},
        {"", false, false, false},     {"-", false, false, false},  {".", false, false, false},
        {"1 000", false, false, false}, {"1.000,5", false, false, false}, {"inf", false, false, false},
        {"--1", false, false, false},  {"1-", false, false, false},
        {"\u0661", false, false, false},  // ARABIC-INDIC DIGIT ONE
    };
    for (const auto& r : rows) {
        const std::string text = r.text;
        SCOPED_TRACE(text);
        EXPECT_EQ(DecimalText::parse(text, DecimalSyntax::Typed).has_value(), r.typed);
        EXPECT_EQ(DecimalText::parse(text, DecimalSyntax::Lenient).has_value(), r.lenient);
        EXPECT_EQ(DecimalText::parse(text, DecimalSyntax::XsDecimal).has_value(), r.xs);
        EXPECT_EQ(isXsDecimal(text), r.xs);
    }
    EXPECT_EQ(Dec7::tryParse("895.7", DecimalSyntax::XsDecimal), Dec7::fromUnits(8'957'000'000));
    EXPECT_EQ(Money::tryParse("-27.135", DecimalSyntax::XsDecimal), Money::fromKopecks(-2714));
    EXPECT_FALSE(Money::tryParse("37,93", DecimalSyntax::XsDecimal));
}

TEST(Decimal, EveryResultBeyondTheRangeIsRefusedNeverWrapped) {
    const Money most = Money::fromKopecks(INT64_MAX);
    const Dec7 mostD = Dec7::fromUnits(INT64_MAX);
    const struct {
        const char* name;
        std::function<void()> compute;
    } rows[] = {
        {"money sum", [&] { (void)(most + Money::fromKopecks(1)); }},
        {"money difference", [&] { (void)(-most - Money::fromKopecks(2)); }},
        {"money added in place", [&] { Money m = most; m += Money::fromKopecks(1); }},
        {"money taken in place", [&] { Money m = -most; m -= Money::fromKopecks(1); }},
        {"negated lowest money", [] { (void)(-Money::fromKopecks(INT64_MIN)); }},
        {"decimal sum", [&] { (void)(mostD + Dec7::fromUnits(1)); }},
        {"decimal difference", [&] { (void)(-mostD - Dec7::fromUnits(1)); }},
        {"decimal added in place", [&] { Dec7 d = mostD; d += Dec7::fromUnits(1); }},
        {"negated lowest decimal", [] { (void)(-Dec7::fromUnits(INT64_MIN)); }},
        {"product beyond 128 bits", [&] { (void)(Exact(most) * most * most).money(); }},
        {"sum beyond 128 bits",
         [&] {
             const Exact big = Exact(most) * most;
             (void)(big + big + big);
         }},
        {"product beyond 64 bits once rounded", [&] { (void)roundMoney(Dec7::fromInt(2), most); }},
        {"percentage", [&] { (void)percentOf(most, Dec7::fromInt(200)); }},
        {"kopecks as seven decimals", [&] { (void)most.toDec7(); }},
        {"rescaled up", [] { (void)rescale(INT64_MAX / 10 + 1, 0, 1); }},
        {"more than 36 decimals",
         [] {
             const Dec7 u = Dec7::fromUnits(1);
             (void)(Exact(u) * u * u * u * u * u);
         }},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        try {
            r.compute();
            ADD_FAILURE() << "computed";
        } catch (const Error& e) {
            EXPECT_STREQ(e.what(), "Число слишком велико для точного расчёта");
        }
    }
    // Up to the edge everything is computed.
    EXPECT_EQ(most - Money::fromKopecks(1) + Money::fromKopecks(1), most);
    EXPECT_EQ(-most + most, Money());
    EXPECT_EQ(mostD - mostD, Dec7());
    EXPECT_EQ(Dec7::fromUnits(5) - Dec7::fromUnits(7), Dec7::fromUnits(-2));
    EXPECT_EQ((Exact(most) * Dec7::fromUnits(1)).money(), Money::fromKopecks(922'337'203'685));
}

TEST(Decimal, RescaledExactlyUpAndOnceHalfUpDown) {
    const struct {
        int64_t units;
        int from, to;
        int64_t want;
    } rows[] = {
        {12345, 4, 2, 123},        {12350, 4, 2, 124},  {-5, 3, 2, -1},  {-4, 3, 2, 0},  {15, 1, 0, 2},
        {-15, 1, 0, -2},           {3274, 2, 7, 327'400'000},            {7, 0, 18, 7'000'000'000'000'000'000},
        {INT64_MAX, 0, 0, INT64_MAX}, {INT64_MAX, 18, 0, 9},              {5, 36, 0, 0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::to_string(r.units) + " at " + std::to_string(r.from) + " → " + std::to_string(r.to));
        EXPECT_EQ(rescale(r.units, r.from, r.to), r.want);
    }
}

TEST(Decimal, SumsOfProductsRoundOnce) {
    const Money k1 = Money::fromKopecks(1);
    const Dec7 half = Dec7::parse("0.5"), one = Dec7::fromInt(1);
    struct Case {
        const char* name;
        Money got, want;
    };
    // r(Q × ((ЭМ₁ − ОТМ₁) × K_ЭМ + ОТМ₁ × K_ОТМ)), the machines of a position.
    auto machines = [](Dec7 q, Money em1, Money otm1, Dec7 kEm, Dec7 kOtm) {
        return (Exact(q) * (Exact(em1 - otm1) * kEm + Exact(otm1) * kOtm)).money();
    };
    const Case cases[] = {
        // 0.005 + 0.005: rounded apart each part would give 0.01 + 0.01
        {"two half kopecks are one kopeck", machines(one, k1 + k1, k1, half, half), k1},
        {"one coefficient for both parts", machines(Dec7::parse("2.5"), Money::fromKopecks(1000), Money::fromKopecks(300),
                                                    Dec7::parse("1.15"), Dec7::parse("1.15")),
         roundMoney(Dec7::parse("2.5"), Dec7::parse("1.15"), Money::fromKopecks(1000))},
        // −0.5 × 40.20 × 1.35 = −27.135: a returned amount rounds away from zero
        {"negative, away from zero", (Exact(Dec7::parse("-0.5")) * Money::fromKopecks(4020) * Dec7::parse("1.35")).money(),
         Money::fromKopecks(-2714)},
        {"a difference of products", (Exact(Money::fromKopecks(1000)) * half - Exact(k1) * half).money(),
         Money::fromKopecks(500)},  // 5.00 − 0.005 = 4.995
        {"a percentage of a sum", (Exact(Money::fromKopecks(3)) * Dec7::fromInt(50) + Exact(k1) * Dec7::fromInt(50))
                                      .percent()
                                      .money(),
         Money::fromKopecks(2)},
    };
    for (const Case& c : cases) EXPECT_EQ(c.got, c.want) << c.name;
    // Labour: Q × per unit × K to seven decimals, once.
    EXPECT_EQ((Exact(Dec7::parse("0.3")) * Dec7::parse("0.5") * Dec7::parse("0.0000003")).dec7(), Dec7::fromUnits(0));
    EXPECT_EQ((Exact(Dec7::parse("3")) * Dec7::parse("0.5") * Dec7::parse("0.0000003")).dec7(), Dec7::fromUnits(5));
    EXPECT_EQ(Exact::fromUnits(-25, 3).rounded(2), -3);
}

TEST(Decimal, OneNumberTextForEveryFileWhateverTheLocale) {
    const struct {
        int64_t units;
        int places;
        DecimalDigits digits;
        char sep;
        const char* want;
    } rows[] = {
        {170936, 2, kMoneyText, '.', "1709.36"},
        {0, 2, kMoneyText, '.', "0.00"},
        {-50, 2, kMoneyText, '.', "-0.50"},
        {652'000'000, 7, kQuantityText, '.', "65.2"},
        {68'696'008'200, 7, kQuantityText, '.', "6869.60082"},
        {20'000'000, 7, kQuantityText, '.', "2"},
        {83'597'831'800, 7, {2, 2}, '.', "8359.78"},   // labour to a file's two decimals
        {83'597'850'000, 7, {2, 2}, '.', "8359.79"},   // half up
        {-40'000, 7, {2, 2}, '.', "0.00"},             // rounds to zero: no minus
        {-50'000, 7, {2, 2}, '.', "-0.01"},            // away from zero
        {41250, 2, {0, 2}, ',', "412,5"},
        {30000, 2, {0, 2}, ',', "300"},
        {5, 0, {2, 2}, '.', "5.00"},
        {12'345'678, 7, {1, 3}, '.', "1.235"},
        {10'000'000, 7, {1, 3}, '.', "1.0"},
        {INT64_MAX, 2, kMoneyText, '.', "92233720368547758.07"},
        {INT64_MIN, 0, kQuantityText, '.', "-9223372036854775808"},
    };
    for (const char* locale : {"C.UTF-8", "ru_RU.UTF-8"}) {
        // A missing locale leaves the current one.
        std::setlocale(LC_ALL, locale);
        for (const auto& r : rows) {
            SCOPED_TRACE(std::string(locale) + ": " + r.want);
            EXPECT_EQ(decimalText(r.units, r.places, r.digits, r.sep), r.want);
        }
        EXPECT_EQ(decimalText(Money::fromKopecks(3274)), "32.74");
        EXPECT_EQ(decimalText(Dec7::parse("1,015")), "1.015");
        EXPECT_EQ(Money::fromDouble(32.74).kopecks(), 3274);
        EXPECT_EQ(toDouble(3274, 2), 32.74);
        EXPECT_EQ(toDouble(INT64_MAX, 2), 92233720368547758.07);  // through the text
        EXPECT_EQ(toDouble(1, 30), 1e-30);
        EXPECT_EQ(toDouble(3274, 5), 0.03274);
    }
    std::setlocale(LC_ALL, "C");
}

}  // namespace
}  // namespace talvira::test
