#pragma once
/**
 * Exact decimal numbers, the one kit for every number that is money or feeds money: amounts in
 * whole kopecks (Money), quantities, coefficients, percentages and indices with seven decimals
 * (Dec7), both held as integers. Texts are read without loss (DecimalText), sums and products
 * are formed exactly (Exact, 128-bit) and rounded half up, away from zero, once, where an amount
 * is stored; every result beyond the range is a talvira::Error, never a wrapped value. Numbers
 * are written locale-free (decimalText) whatever the program's locale.
 *
 *   Dec7 q = Dec7::parse("1,015");                            // point or comma, any locale
 *   Money ot = Money::fromDouble(32.74);                      // a stored field, to the kopeck
 *   Money a = roundMoney(q, ot);                              // r(1.015 × 32.74) = 33.23
 *   Money em = (Exact(q) * (Exact(em1 - otm1) * kEm + Exact(otm1) * kOtm)).money();  // rounded once
 *   std::string s = decimalText(q, kQuantityText);            // "1.015" (up to 7, no trailing zeros)
 *
 * Caveats: a double read from a table is taken at its shortest decimal form ("32.74", not the
 * binary value below it) and then rounded half up to the type's places; nothing is computed
 * in binary floating point. Values beyond about ±9.2·10¹¹ (Dec7) or ±9.2·10¹⁶ kopecks are refused.
 */
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace talvira {

/** Decimal places of a Dec7 (quantities, coefficients, percentages, indices). */
inline constexpr int kDec7Places = 7;
/** Decimal places of Money (kopecks). */
inline constexpr int kMoneyPlaces = 2;

namespace decimal_detail {
/** talvira::Error "Число слишком велико для точного расчёта". */
[[noreturn]] void tooLarge();
/** a + b, a − b and −a, refused (tooLarge) beyond ±(2⁶³ − 1). */
constexpr int64_t add(int64_t a, int64_t b) {
    int64_t r = 0;
    if (__builtin_add_overflow(a, b, &r) || r == INT64_MIN) tooLarge();
    return r;
}
constexpr int64_t sub(int64_t a, int64_t b) {
    int64_t r = 0;
    if (__builtin_sub_overflow(a, b, &r) || r == INT64_MIN) tooLarge();
    return r;
}
}  // namespace decimal_detail

// ---------------------------------------------------------------------------------------------
// Reading
// ---------------------------------------------------------------------------------------------

/** The spellings of a decimal number a reader takes. None takes digit grouping, "nan" or "inf". */
enum class DecimalSyntax {
    /** As a user types it: blanks (space, tab) around, a sign, digits with one '.' or ','
     *  ("52,21", " 1.015 ", "3,", ".5"); no exponent. */
    Typed,
    /** As other programs' files write it: a sign, digits with one '.' or ',', an exponent
     *  ("577.045", "1,5", "1.5e3", "25E-1"); a comma or an exponent makes it unusual(); nothing
     *  around it. */
    Lenient,
    /** XML Schema's xs:decimal, the only form the expertise XML takes: a sign, digits with at
     *  most one '.' ("-100", "895.7", "7.", ".5", "+3"); no comma, no exponent, no blanks. */
    XsDecimal,
};

class Dec7;
class Money;

/** A decimal number as written: sign, digits and a power of ten, nothing lost until scaled. */
class DecimalText {
public:
    /** The number `text` spells in `syntax`; nothing for any other text. */
    static std::optional<DecimalText> parse(std::string_view text, DecimalSyntax syntax);
    /** The shortest decimal text that reads back as `v` ("412.5" for 412.5, never the binary
     *  value's 412.49999…); nothing for an endless value or NaN. */
    static std::optional<DecimalText> fromDouble(double v);

    /** Written with a decimal comma or an exponent. */
    bool unusual() const { return unusual_; }
    /** Below zero ("-0.0" is zero, not below it). */
    bool negative() const { return negative_; }
    /** The value × 10^places, rounded half up away from zero; nothing beyond ±(2⁶³ − 1). */
    std::optional<int64_t> scaled(int places) const;
    /** The value rounded half up to kopecks, to seven decimals; nothing beyond the range. */
    std::optional<Money> money() const;
    std::optional<Dec7> dec7() const;

private:
    bool negative_ = false;
    bool unusual_ = false;
    std::string digits_;  // without leading or trailing zeros; empty for zero
    int64_t exponent_ = 0;
};

/** True when `text` is strictly an xs:decimal (DecimalSyntax::XsDecimal): "-12.50" yes,
 *  "37,93", "1e3", " 1", "", "-" no. */
bool isXsDecimal(std::string_view text);

// ---------------------------------------------------------------------------------------------
// The two kinds of number
// ---------------------------------------------------------------------------------------------

/** A number with exactly seven decimals (quantities, coefficients, percentages, indices). */
class Dec7 {
public:
    static constexpr int64_t kScale = 10'000'000;
    constexpr Dec7() = default;
    static constexpr Dec7 fromUnits(int64_t units) { Dec7 d; d.units_ = units; return d; }
    static constexpr Dec7 fromInt(int64_t whole) { return fromUnits(whole * kScale); }
    /** `text` in `syntax` (by default as typed: '.' or ',' as separator, blanks around, no
     *  exponent, no grouping); more than seven decimals are rounded half up. Nothing for any
     *  other text or a value beyond the range. */
    static std::optional<Dec7> tryParse(std::string_view text, DecimalSyntax syntax = DecimalSyntax::Typed);
    /** tryParse, or talvira::Error naming `what` ("Индекс ОТ: «abc» не число"). */
    static Dec7 parse(std::string_view text, std::string_view what = {});
    /** A stored double at its shortest decimal form, rounded half up to seven decimals. */
    static Dec7 fromDouble(double v);

    constexpr int64_t units() const { return units_; }
    constexpr bool isZero() const { return units_ == 0; }
    /** Plain text with `sep` and the decimals it needs, none when whole ("1.15", "2", "0.675"). */
    std::string text(char sep = '.') const;
    /** The nearest double (for a spreadsheet cell only, never for further computation). */
    double toDouble() const;

    /** Checked: a result beyond the range is talvira::Error. */
    friend constexpr Dec7 operator+(Dec7 a, Dec7 b) { return fromUnits(decimal_detail::add(a.units_, b.units_)); }
    friend constexpr Dec7 operator-(Dec7 a, Dec7 b) { return fromUnits(decimal_detail::sub(a.units_, b.units_)); }
    constexpr Dec7 operator-() const { return fromUnits(decimal_detail::sub(0, units_)); }
    constexpr Dec7& operator+=(Dec7 o) { return *this = *this + o; }
    constexpr Dec7& operator-=(Dec7 o) { return *this = *this - o; }
    friend constexpr bool operator==(Dec7, Dec7) = default;
    friend constexpr auto operator<=>(Dec7 a, Dec7 b) { return a.units_ <=> b.units_; }

private:
    int64_t units_ = 0;
};

/** An amount of money in whole kopecks. */
class Money {
public:
    constexpr Money() = default;
    static constexpr Money fromKopecks(int64_t k) { Money m; m.kopecks_ = k; return m; }
    /** A stored double at its shortest decimal form, rounded half up to kopecks. */
    static Money fromDouble(double v);
    /** `text` in `syntax` (by default as typed: '.' or ','), rounded half up to kopecks;
     *  nothing for other text or a value beyond the range. */
    static std::optional<Money> tryParse(std::string_view text, DecimalSyntax syntax = DecimalSyntax::Typed);

    constexpr int64_t kopecks() const { return kopecks_; }
    constexpr bool isZero() const { return kopecks_ == 0; }
    /** "1709.36", "-0.50", "0.00": always two decimals, '.' unless `sep` says otherwise, no grouping. */
    std::string text(char sep = '.') const;
    /** "1 709,36": two decimals, thousands set apart by `groupSep` (a no-break space by default). */
    std::string grouped(char sep = ',', std::string_view groupSep = "\u00a0") const;
    double toDouble() const;
    /** The amount as a Dec7 (exact). */
    Dec7 toDec7() const;

    /** Checked: a result beyond the range is talvira::Error. */
    friend constexpr Money operator+(Money a, Money b) { return fromKopecks(decimal_detail::add(a.kopecks_, b.kopecks_)); }
    friend constexpr Money operator-(Money a, Money b) { return fromKopecks(decimal_detail::sub(a.kopecks_, b.kopecks_)); }
    constexpr Money operator-() const { return fromKopecks(decimal_detail::sub(0, kopecks_)); }
    constexpr Money& operator+=(Money o) { return *this = *this + o; }
    constexpr Money& operator-=(Money o) { return *this = *this - o; }
    friend constexpr bool operator==(Money, Money) = default;
    friend constexpr auto operator<=>(Money a, Money b) { return a.kopecks_ <=> b.kopecks_; }

private:
    int64_t kopecks_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Exact sums and products, rounded once
// ---------------------------------------------------------------------------------------------

/**
 * An exact intermediate value: sums, differences and products of amounts and decimals kept to
 * all their decimals, rounded once, half up away from zero, when it is taken as Money or Dec7.
 * Operands of different places are aligned exactly; a value beyond 128 bits (or beyond 36
 * decimals) is talvira::Error.
 *
 *   // r(Q × ((ЭМ₁ − ОТМ₁) × K_ЭМ + ОТМ₁ × K_ОТМ)): both parts exact, one rounding
 *   Money em = (Exact(q) * (Exact(em1 - otm1) * kEm + Exact(otm1) * kOtm)).money();
 */
class Exact {
public:
    constexpr Exact() = default;
    // Not explicit: an amount or a decimal is exactly such a value, so formulas read as written.
    Exact(Money m) : units_(m.kopecks()), places_(kMoneyPlaces) {}
    Exact(Dec7 d) : units_(d.units()), places_(kDec7Places) {}
    /** `units` × 10^-places. */
    static Exact fromUnits(int64_t units, int places);

    friend Exact operator+(const Exact& a, const Exact& b);
    friend Exact operator-(const Exact& a, const Exact& b);
    friend Exact operator*(const Exact& a, const Exact& b);
    Exact operator-() const;
    Exact& operator+=(const Exact& o) { return *this = *this + o; }
    /** The value / 100: the part that a value taken as a percentage gives ("p % of m" is
     *  (Exact(m) * p).percent()). */
    Exact percent() const;

    /** × 10^places, rounded half up away from zero; talvira::Error beyond ±(2⁶³ − 1). */
    int64_t rounded(int places) const;
    Money money() const { return Money::fromKopecks(rounded(kMoneyPlaces)); }
    Dec7 dec7() const { return Dec7::fromUnits(rounded(kDec7Places)); }

private:
    __int128 units_ = 0;
    int places_ = 0;
};

/** r(a × m): the exact product rounded half up (away from zero) to kopecks. */
Money roundMoney(Dec7 a, Money m);
/** r(a × b × m), exact, rounded once. */
Money roundMoney(Dec7 a, Dec7 b, Money m);
/** r(m × percent / 100), exact, rounded once. */
Money percentOf(Money m, Dec7 percent);
/** r(m × percent × factor / 100), exact, rounded once (a norm with the capital repair factor). */
Money percentOf(Money m, Dec7 percent, Dec7 factor);
/** The exact product rounded half up to seven decimals. */
Dec7 mul(Dec7 a, Dec7 b);

/** `units` × 10^-from as a count of 10^-to: exact when `to` ≥ `from`, otherwise rounded half up
 *  away from zero ("1.2345" at 4 places → 123 at 2, "-0.005" at 3 → -1 at 2); talvira::Error
 *  beyond ±(2⁶³ − 1). Places 0…36. */
int64_t rescale(int64_t units, int from, int to);

// ---------------------------------------------------------------------------------------------
// Writing
// ---------------------------------------------------------------------------------------------

/** How many decimals a number is written with: at least `least` (zeros added), at most `most`
 *  (rounded half up, away from zero, to that many), the ones between only when not zero. */
struct DecimalDigits {
    int least = 0;
    int most = kDec7Places;
};
/** Money in files: always two decimals ("0.00", "1709.36"). */
inline constexpr DecimalDigits kMoneyText{2, 2};
/** Quantities, consumptions, labour, coefficients: up to seven, no trailing zeros ("65.2", "2"). */
inline constexpr DecimalDigits kQuantityText{0, kDec7Places};

/**
 * The one number text of every file the program writes (workbooks, XML, side files, JSON) and
 * of its reports: locale-free, '-' only below zero (never "-0.00"), the whole part without
 * grouping, then `sep` and the decimals `digits` asks for. `units` × 10^-places, places 0…18.
 *
 *   decimalText(170936, 2, kMoneyText)   // "1709.36"
 *   decimalText(652000000, 7, {0, 7})    // "65.2"
 *   decimalText(83597831800, 7, {2, 2})  // "8359.78"
 */
std::string decimalText(int64_t units, int places, DecimalDigits digits, char sep = '.');
inline std::string decimalText(Money m, DecimalDigits digits = kMoneyText, char sep = '.') {
    return decimalText(m.kopecks(), kMoneyPlaces, digits, sep);
}
inline std::string decimalText(Dec7 d, DecimalDigits digits = kQuantityText, char sep = '.') {
    return decimalText(d.units(), kDec7Places, digits, sep);
}

/** `units` × 10^-places as the nearest double (for a spreadsheet cell or a table's number field,
 *  never for further computation). */
double toDouble(int64_t units, int places);

}  // namespace talvira
