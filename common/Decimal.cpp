#include "common/Decimal.h"

#include "common/Error.h"

#include <array>
#include <charconv>
#include <cmath>
#include <limits>

namespace talvira {

namespace {

using i128 = __int128;

constexpr int64_t kMax64 = std::numeric_limits<int64_t>::max();
// 10^38 still fits in 128 bits; two decimals of room are kept for percent().
constexpr int kMostPlaces = 36;
// No file writes a number with more digits after the point or a larger exponent.
constexpr int64_t kMostFraction = 100'000;

i128 pow10(int n) {
    i128 p = 1;
    for (int i = 0; i < n; ++i) p *= 10;
    return p;
}

void checkPlaces(int places) {
    if (places < 0 || places > kMostPlaces) decimal_detail::tooLarge();
}

/** n / d rounded half up, away from zero (d > 0). */
i128 divRound(i128 n, i128 d) {
    i128 q = n / d;
    const i128 r = n % d;
    if ((r < 0 ? -r : r) * 2 >= d) q += n < 0 ? -1 : 1;
    return q;
}

int64_t narrow(i128 v) {
    if (v > kMax64 || v < -kMax64) decimal_detail::tooLarge();
    return static_cast<int64_t>(v);
}

i128 mulChecked(i128 a, i128 b) {
    i128 out = 0;
    if (__builtin_mul_overflow(a, b, &out)) decimal_detail::tooLarge();
    return out;
}

i128 addChecked(i128 a, i128 b) {
    i128 out = 0;
    if (__builtin_add_overflow(a, b, &out)) decimal_detail::tooLarge();
    return out;
}

/** `units` at `from` places as a count at `to` places: exact upwards, rounded once downwards. */
i128 rescaled(i128 units, int from, int to) {
    return to >= from ? mulChecked(units, pow10(to - from)) : divRound(units, pow10(from - to));
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

/** A stored double's shortest decimal form at `places`; talvira::Error for NaN, an endless
 *  value or one beyond the range. */
int64_t scaledDouble(double v, int places, const char* what) {
    const std::optional<DecimalText> d = DecimalText::fromDouble(v);
    if (!d) throw Error(std::string("Не число в поле ") + what);
    const std::optional<int64_t> u = d->scaled(places);
    if (!u) decimal_detail::tooLarge();
    return *u;
}

}  // namespace

void decimal_detail::tooLarge() { throw Error("Число слишком велико для точного расчёта"); }

// ---------------------------------------------------------------------------------------------
// Reading
// ---------------------------------------------------------------------------------------------

std::optional<DecimalText> DecimalText::parse(std::string_view s, DecimalSyntax syntax) {
    if (syntax == DecimalSyntax::Typed) s = trimmed(s);
    DecimalText d;
    size_t i = 0;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) d.negative_ = s[i++] == '-';
    std::string digits;
    int64_t fraction = 0;  // digits read after the separator
    bool any = false, point = false;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        if (isDigit(c)) {
            any = true;
            if (!digits.empty() || c != '0') digits += c;
            if (point && ++fraction > kMostFraction) return std::nullopt;
        } else if (!point && (c == '.' || (c == ',' && syntax != DecimalSyntax::XsDecimal))) {
            point = true;
            d.unusual_ = c == ',';
        } else {
            break;
        }
    }
    if (!any) return std::nullopt;
    int64_t exponent = 0;
    if (syntax == DecimalSyntax::Lenient && i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        d.unusual_ = true;
        ++i;
        bool minus = false;
        if (i < s.size() && (s[i] == '-' || s[i] == '+')) minus = s[i++] == '-';
        if (i == s.size()) return std::nullopt;
        for (; i < s.size() && isDigit(s[i]); ++i) {
            exponent = exponent * 10 + (s[i] - '0');
            if (exponent > kMostFraction) return std::nullopt;
        }
        if (minus) exponent = -exponent;
    }
    if (i != s.size()) return std::nullopt;
    d.exponent_ = exponent - fraction;
    // Trailing zeros go into the exponent, so that the digits stay short.
    while (!digits.empty() && digits.back() == '0') {
        digits.pop_back();
        ++d.exponent_;
    }
    d.digits_ = std::move(digits);
    if (d.digits_.empty()) d.negative_ = false;
    return d;
}

std::optional<DecimalText> DecimalText::fromDouble(double v) {
    if (!std::isfinite(v)) return std::nullopt;
    std::array<char, 64> buf{};
    const auto [end, ec] = std::to_chars(buf.data(), buf.data() + buf.size(), v);
    if (ec != std::errc()) return std::nullopt;
    std::optional<DecimalText> d = parse(std::string_view(buf.data(), size_t(end - buf.data())), DecimalSyntax::Lenient);
    if (d) d->unusual_ = false;
    return d;
}

std::optional<int64_t> DecimalText::scaled(int places) const {
    if (digits_.empty()) return 0;
    const int64_t shift = exponent_ + places;  // value × 10^places = digits × 10^shift
    const int64_t len = int64_t(digits_.size());
    if (len + shift > 19) return std::nullopt;  // beyond 64 bits whatever the digits
    if (len + shift < 0) return 0;              // below a tenth of a unit
    const int64_t whole = std::min(len, len + shift);
    i128 v = 0;
    for (int64_t k = 0; k < whole; ++k) v = v * 10 + (digits_[size_t(k)] - '0');
    for (int64_t k = 0; k < shift; ++k) v *= 10;
    if (whole < len && digits_[size_t(whole)] >= '5') ++v;  // half up, away from zero
    if (v > kMax64) return std::nullopt;
    return negative_ ? -int64_t(v) : int64_t(v);
}

std::optional<Money> DecimalText::money() const {
    const std::optional<int64_t> k = scaled(kMoneyPlaces);
    return k ? std::optional(Money::fromKopecks(*k)) : std::nullopt;
}

std::optional<Dec7> DecimalText::dec7() const {
    const std::optional<int64_t> u = scaled(kDec7Places);
    return u ? std::optional(Dec7::fromUnits(*u)) : std::nullopt;
}

bool isXsDecimal(std::string_view text) { return DecimalText::parse(text, DecimalSyntax::XsDecimal).has_value(); }

// ---------------------------------------------------------------------------------------------
// Dec7 and Money
// ---------------------------------------------------------------------------------------------

std::optional<Dec7> Dec7::tryParse(std::string_view text, DecimalSyntax syntax) {
    const std::optional<DecimalText> d = DecimalText::parse(text, syntax);
    return d ? d->dec7() : std::nullopt;
}

Dec7 Dec7::parse(std::string_view text, std::string_view what) {
    if (const std::optional<Dec7> d = tryParse(text)) return *d;
    const std::string shown = "«" + std::string(text) + "» не число";
    throw Error(what.empty() ? shown : std::string(what) + ": " + shown);
}

Dec7 Dec7::fromDouble(double v) { return fromUnits(scaledDouble(v, kDec7Places, "количества")); }

std::string Dec7::text(char sep) const { return decimalText(*this, kQuantityText, sep); }

double Dec7::toDouble() const { return talvira::toDouble(units_, kDec7Places); }

Money Money::fromDouble(double v) { return fromKopecks(scaledDouble(v, kMoneyPlaces, "стоимости")); }

std::optional<Money> Money::tryParse(std::string_view text, DecimalSyntax syntax) {
    const std::optional<DecimalText> d = DecimalText::parse(text, syntax);
    return d ? d->money() : std::nullopt;
}

std::string Money::text(char sep) const { return decimalText(*this, kMoneyText, sep); }

std::string Money::grouped(char sep, std::string_view groupSep) const {
    std::string t = text(sep);
    const size_t first = t[0] == '-' ? 1 : 0;
    const size_t digits = t.find(sep) - first;
    for (size_t at = first + digits; at > first + 3; at -= 3) t.insert(at - 3, groupSep);
    return t;
}

double Money::toDouble() const { return talvira::toDouble(kopecks_, kMoneyPlaces); }

Dec7 Money::toDec7() const { return Dec7::fromUnits(rescale(kopecks_, kMoneyPlaces, kDec7Places)); }

// ---------------------------------------------------------------------------------------------
// Exact
// ---------------------------------------------------------------------------------------------

Exact Exact::fromUnits(int64_t units, int places) {
    checkPlaces(places);
    Exact e;
    e.units_ = units;
    e.places_ = places;
    return e;
}

Exact operator+(const Exact& a, const Exact& b) {
    Exact out;
    out.places_ = std::max(a.places_, b.places_);
    out.units_ = addChecked(rescaled(a.units_, a.places_, out.places_), rescaled(b.units_, b.places_, out.places_));
    return out;
}

Exact operator-(const Exact& a, const Exact& b) { return a + (-b); }

Exact operator*(const Exact& a, const Exact& b) {
    Exact out;
    out.places_ = a.places_ + b.places_;
    checkPlaces(out.places_);
    out.units_ = mulChecked(a.units_, b.units_);
    return out;
}

Exact Exact::operator-() const {
    Exact out = *this;
    out.units_ = mulChecked(units_, -1);
    return out;
}

Exact Exact::percent() const {
    Exact out = *this;
    out.places_ += 2;
    checkPlaces(out.places_);
    return out;
}

int64_t Exact::rounded(int places) const {
    checkPlaces(places);
    return narrow(rescaled(units_, places_, places));
}

Money roundMoney(Dec7 a, Money m) { return (Exact(a) * m).money(); }

Money roundMoney(Dec7 a, Dec7 b, Money m) { return (Exact(a) * b * m).money(); }

Money percentOf(Money m, Dec7 percent) { return (Exact(m) * percent).percent().money(); }

Money percentOf(Money m, Dec7 percent, Dec7 factor) { return (Exact(m) * percent * factor).percent().money(); }

Dec7 mul(Dec7 a, Dec7 b) { return (Exact(a) * b).dec7(); }

int64_t rescale(int64_t units, int from, int to) {
    checkPlaces(from);
    checkPlaces(to);
    return narrow(rescaled(units, from, to));
}

// ---------------------------------------------------------------------------------------------
// Writing
// ---------------------------------------------------------------------------------------------

std::string decimalText(int64_t units, int places, DecimalDigits digits, char sep) {
    if (places < 0 || places > 18 || digits.least < 0 || digits.least > digits.most)
        throw Error("Внутренняя ошибка: недопустимое число знаков после запятой");
    const int shown = std::min(places, digits.most);
    const int64_t u = shown < places ? rescale(units, places, shown) : units;
    const uint64_t magnitude = u < 0 ? uint64_t(0) - uint64_t(u) : uint64_t(u);
    const uint64_t scale = uint64_t(pow10(shown));
    std::string frac;
    if (shown > 0) {
        frac = std::to_string(magnitude % scale);
        frac.insert(0, size_t(shown) - frac.size(), '0');
    }
    while (frac.size() > size_t(digits.least) && frac.back() == '0') frac.pop_back();
    if (frac.size() < size_t(digits.least)) frac.append(size_t(digits.least) - frac.size(), '0');
    std::string out = u < 0 ? "-" : "";
    out += std::to_string(magnitude / scale);
    if (!frac.empty()) (out += sep) += frac;
    return out;
}

double toDouble(int64_t units, int places) {
    checkPlaces(places);
    // Below 2⁵³ and 10²² both operands are exact doubles, so one division is correctly rounded:
    // the nearest double to the decimal. Anything else goes through the decimal text.
    constexpr int64_t kExact = int64_t(1) << 53;
    if (units > -kExact && units < kExact && places <= 22)
        return static_cast<double>(units) / static_cast<double>(pow10(places));
    const std::string text = std::to_string(units) + "e-" + std::to_string(places);
    double d = 0;
    std::from_chars(text.data(), text.data() + text.size(), d);
    return d;
}

}  // namespace talvira
