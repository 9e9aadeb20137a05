#pragma once
/**
 * Exact decimal numbers for an estimate's money: amounts in whole kopecks, quantities,
 * coefficients, percentages and indices with seven decimals, both held as integers. Products are
 * formed exactly (128-bit) and rounded half up, away from zero, once, where an amount is stored.
 *
 *   Dec7 q = Dec7::parse("1,015");                  // point or comma, any locale
 *   Money ot = Money::fromDouble(32.74);            // a stored field, to the kopeck
 *   Money a = roundMoney(q, ot);                    // r(1.015 × 32.74) = 33.23
 *
 * Caveats: a double read from a table is taken at its shortest decimal form ("32.74", not the
 * binary value below it) and then rounded half up to the type's places; nothing is computed
 * in binary floating point. Values beyond about ±9.2·10¹¹ (Dec7) or ±9.2·10¹⁶ kopecks are refused
 * with talvira::Error.
 */
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace talvira {

/** A number with exactly seven decimals (quantities, coefficients, percentages, indices). */
class Dec7 {
public:
    static constexpr int64_t kScale = 10'000'000;
    constexpr Dec7() = default;
    static constexpr Dec7 fromUnits(int64_t units) { Dec7 d; d.units_ = units; return d; }
    static constexpr Dec7 fromInt(int64_t whole) { return fromUnits(whole * kScale); }
    /** A decimal text with '.' or ',' as separator, blanks around it allowed, no exponent, no
     *  grouping; more than seven decimals are rounded half up. Nothing for any other text. */
    static std::optional<Dec7> tryParse(std::string_view text);
    /** tryParse, or talvira::Error naming `what` ("Индекс ОТ: «abc» не число"). */
    static Dec7 parse(std::string_view text, std::string_view what = {});
    /** A stored double at its shortest decimal form, rounded half up to seven decimals. */
    static Dec7 fromDouble(double v);

    constexpr int64_t units() const { return units_; }
    constexpr bool isZero() const { return units_ == 0; }
    /** Plain text with '.' and the decimals it needs, none when whole ("1.15", "2", "0.675"). */
    std::string text(char sep = '.') const;
    /** The nearest double (for a spreadsheet cell only, never for further computation). */
    double toDouble() const;

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
    /** A decimal text ('.' or ','), rounded half up to kopecks; nothing for other text. */
    static std::optional<Money> tryParse(std::string_view text);

    constexpr int64_t kopecks() const { return kopecks_; }
    constexpr bool isZero() const { return kopecks_ == 0; }
    /** "1709.36", "-0.50", "0.00": always two decimals, '.' unless `sep` says otherwise, no grouping. */
    std::string text(char sep = '.') const;
    /** "1 709,36": two decimals, thousands set apart by `groupSep` (a no-break space by default). */
    std::string grouped(char sep = ',', std::string_view groupSep = "\u00a0") const;
    double toDouble() const;
    /** The amount as a Dec7 (exact). */
    Dec7 toDec7() const;

    constexpr Money operator+(Money o) const { return fromKopecks(kopecks_ + o.kopecks_); }
    constexpr Money operator-(Money o) const { return fromKopecks(kopecks_ - o.kopecks_); }
    Money& operator+=(Money o) { kopecks_ += o.kopecks_; return *this; }
    friend constexpr bool operator==(Money, Money) = default;
    friend constexpr auto operator<=>(Money a, Money b) { return a.kopecks_ <=> b.kopecks_; }

private:
    int64_t kopecks_ = 0;
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

}  // namespace talvira
