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

const std::string kTooBig = "Число слишком велико для расчёта сметы";

i128 pow10(int n) {
    i128 p = 1;
    for (int i = 0; i < n; ++i) p *= 10;
    return p;
}

/** n / d rounded half up, away from zero (d > 0). */
i128 divRound(i128 n, i128 d) {
    i128 q = n / d;
    const i128 r = n % d;
    const i128 twice = (r < 0 ? -r : r) * 2;
    if (twice >= d) q += n < 0 ? -1 : 1;
    return q;
}

int64_t narrow(i128 v) {
    if (v > kMax64 || v < -kMax64) throw Error(kTooBig);
    return static_cast<int64_t>(v);
}

i128 mulChecked(i128 a, i128 b) {
    i128 out = 0;
    if (__builtin_mul_overflow(a, b, &out)) throw Error(kTooBig);
    return out;
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

/**
 * A decimal number (sign, digits, one '.' or ',', digits, and with `exponent` an E part) as a
 * count of 10^-places, rounded half up once. Nothing when the text is no such number or the
 * count does not fit in 64 bits.
 */
std::optional<int64_t> scaled(std::string_view text, int places, bool exponent) {
    text = trimmed(text);
    bool negative = false;
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    std::string digits;  // significant digits, leading zeros dropped
    int fraction = 0;    // how many of the digits read stood after the separator
    bool any = false, point = false;
    size_t i = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            any = true;
            if (!(digits.empty() && c == '0')) digits += c;
            if (point) ++fraction;
        } else if ((c == '.' || c == ',') && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (!any) return std::nullopt;
    int exp10 = 0;
    if (i < text.size()) {
        if (!exponent || (text[i] != 'e' && text[i] != 'E')) return std::nullopt;
        const std::string_view e = text.substr(i + 1);
        const char* begin = e.data() + (!e.empty() && e[0] == '+' ? 1 : 0);
        const auto [end, ec] = std::from_chars(begin, e.data() + e.size(), exp10);
        if (ec != std::errc() || end != e.data() + e.size() || begin == end) return std::nullopt;
    }
    if (digits.empty()) return 0;
    // value = digits × 10^shift in units of 10^-places
    const long shift = long(exp10) - fraction + places;
    const long kept = long(digits.size()) + (shift < 0 ? shift : 0);  // digits left of the unit
    if (kept < 0) return 0;                                          // below a tenth of a unit
    if (kept + (shift > 0 ? shift : 0) > 19) return std::nullopt;    // beyond 64 bits
    i128 n = 0;
    for (long k = 0; k < kept; ++k) n = n * 10 + (digits[size_t(k)] - '0');
    if (shift < 0) {
        if (size_t(kept) < digits.size() && digits[size_t(kept)] >= '5') ++n;  // half up
    } else {
        n *= pow10(int(shift));
    }
    if (n > kMax64) return std::nullopt;
    return negative ? -int64_t(n) : int64_t(n);
}

/** The shortest decimal text that reads back as `v` ("32.74", "1e-07"). */
std::string shortest(double v, const char* what) {
    if (!std::isfinite(v)) throw Error(std::string("Не число в поле ") + what);
    std::array<char, 64> buf{};
    const auto r = std::to_chars(buf.data(), buf.data() + buf.size(), v);
    return std::string(buf.data(), r.ptr);
}

/** units at `places` decimals as plain text with exactly `keep` decimals or, keep < 0, the
 *  decimals it needs. */
std::string fixedText(int64_t units, int places, int keep, char sep) {
    const bool negative = units < 0;
    uint64_t u = negative ? uint64_t(0) - uint64_t(units) : uint64_t(units);
    const uint64_t scale = uint64_t(pow10(places));
    std::string whole = std::to_string(u / scale);
    std::string frac = std::to_string(u % scale);
    frac.insert(0, size_t(places) - frac.size(), '0');
    if (keep < 0) {
        while (!frac.empty() && frac.back() == '0') frac.pop_back();
    } else {
        frac.resize(size_t(keep), '0');
    }
    std::string out = negative && (u != 0) ? "-" : "";
    out += whole;
    if (!frac.empty()) out += sep + frac;
    return out;
}

double nearestDouble(const std::string& text) {
    double d = 0;
    std::from_chars(text.data(), text.data() + text.size(), d);
    return d;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Dec7
// ---------------------------------------------------------------------------------------------

std::optional<Dec7> Dec7::tryParse(std::string_view text) {
    const std::optional<int64_t> u = scaled(text, 7, false);
    if (!u) return std::nullopt;
    return fromUnits(*u);
}

Dec7 Dec7::parse(std::string_view text, std::string_view what) {
    if (const std::optional<Dec7> d = tryParse(text)) return *d;
    const std::string shown = "«" + std::string(text) + "» не число";
    throw Error(what.empty() ? shown : std::string(what) + ": " + shown);
}

Dec7 Dec7::fromDouble(double v) {
    const std::optional<int64_t> u = scaled(shortest(v, "количества"), 7, true);
    if (!u) throw Error(kTooBig);
    return fromUnits(*u);
}

std::string Dec7::text(char sep) const { return fixedText(units_, 7, -1, sep); }

double Dec7::toDouble() const { return nearestDouble(text('.')); }

// ---------------------------------------------------------------------------------------------
// Money
// ---------------------------------------------------------------------------------------------

Money Money::fromDouble(double v) {
    const std::optional<int64_t> k = scaled(shortest(v, "стоимости"), 2, true);
    if (!k) throw Error(kTooBig);
    return fromKopecks(*k);
}

std::optional<Money> Money::tryParse(std::string_view text) {
    const std::optional<int64_t> k = scaled(text, 2, false);
    if (!k) return std::nullopt;
    return fromKopecks(*k);
}

std::string Money::text(char sep) const { return fixedText(kopecks_, 2, 2, sep); }

std::string Money::grouped(char sep, std::string_view groupSep) const {
    std::string t = text(sep);
    const size_t first = t[0] == '-' ? 1 : 0;
    const size_t digits = t.find(sep) - first;
    for (size_t at = first + digits; at > first + 3; at -= 3) t.insert(at - 3, groupSep);
    return t;
}

double Money::toDouble() const { return nearestDouble(text('.')); }

Dec7 Money::toDec7() const { return Dec7::fromUnits(narrow(mulChecked(kopecks_, 100'000))); }

// ---------------------------------------------------------------------------------------------
// Products
// ---------------------------------------------------------------------------------------------

Money roundMoney(Dec7 a, Money m) {
    return Money::fromKopecks(narrow(divRound(mulChecked(a.units(), m.kopecks()), Dec7::kScale)));
}

Money roundMoney(Dec7 a, Dec7 b, Money m) {
    const i128 p = mulChecked(mulChecked(a.units(), b.units()), m.kopecks());
    return Money::fromKopecks(narrow(divRound(p, i128(Dec7::kScale) * Dec7::kScale)));
}

Money percentOf(Money m, Dec7 percent) {
    return Money::fromKopecks(narrow(divRound(mulChecked(m.kopecks(), percent.units()), i128(Dec7::kScale) * 100)));
}

Money percentOf(Money m, Dec7 percent, Dec7 factor) {
    const i128 p = mulChecked(mulChecked(m.kopecks(), percent.units()), factor.units());
    return Money::fromKopecks(narrow(divRound(p, i128(Dec7::kScale) * Dec7::kScale * 100)));
}

Dec7 mul(Dec7 a, Dec7 b) {
    return Dec7::fromUnits(narrow(divRound(mulChecked(a.units(), b.units()), Dec7::kScale)));
}

}  // namespace talvira
