#pragma once
/**
 * Numbers of the official files read exactly from their decimal text, and the one rounding the
 * import applies to money: half up (away from zero), in integers, never through binary
 * doubles. Quantities are kept with seven decimals, money in kopecks, as the estimate keeps
 * them.
 *
 *   auto n = DecimalText::parse("577.045");
 *   int64_t k = *n->scaled(2);                                  // 57705 kopecks
 *   int64_t r = roundHalfUp(__int128(1015000) * 3274, 7);       // 1.015 × 32.74 = 33.2311 → 3323
 *
 * Caveats: scaled() gives nothing for a value beyond the 64-bit range at the places asked.
 */
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace talvira::normimport {

/** Decimal places of a quantity. */
inline constexpr int kQuantityPlaces = 7;
/** Decimal places of money (kopecks). */
inline constexpr int kMoneyPlaces = 2;

/** A number as written: sign, digits and a power of ten, nothing lost. */
class DecimalText {
public:
    /** "12", "-0.5", "+3.", ".25"; also "1,5" (a decimal comma) and "1.5e3" (an exponent), both
     *  marked unusual. Nothing for anything else (blanks included). */
    static std::optional<DecimalText> parse(std::string_view s);
    /** The shortest decimal text that reads back as `v` ("412.5" for 412.5); nothing for an
     *  endless value. */
    static std::optional<DecimalText> fromDouble(double v);

    /** Written with a decimal comma or an exponent. */
    bool unusual() const { return unusual_; }
    /** The value × 10^places, rounded half up away from zero; nothing beyond 64 bits. */
    std::optional<int64_t> scaled(int places) const;

private:
    bool negative_ = false;
    bool unusual_ = false;
    std::string digits_;  // without leading zeros; empty for zero
    int64_t exponent_ = 0;
};

/** `v` / 10^places rounded half up, away from zero (places 0..30). */
int64_t roundHalfUp(__int128 v, int places);

/** `units` with `places` decimals as the nearest double (exact for what a table stores). */
double toDouble(int64_t units, int places);

}  // namespace talvira::normimport
