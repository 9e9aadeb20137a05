#include "normbase/import/ExactNumber.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace talvira::normimport {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

__int128 power10(int n) {
    __int128 p = 1;
    for (int i = 0; i < n; ++i) p *= 10;
    return p;
}

}  // namespace

std::optional<DecimalText> DecimalText::parse(std::string_view s) {
    DecimalText d;
    size_t i = 0;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) d.negative_ = s[i++] == '-';
    std::string digits;
    int64_t fraction = 0;
    bool any = false, point = false;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        if (isDigit(c)) {
            any = true;
            if (!digits.empty() || c != '0') digits += c;
            if (point) ++fraction;
        } else if ((c == '.' || c == ',') && !point) {
            point = true;
            d.unusual_ = d.unusual_ || c == ',';
        } else {
            break;
        }
        if (fraction > 100000) return std::nullopt;  // no file writes such a number
    }
    if (!any) return std::nullopt;
    int64_t exponent = 0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        d.unusual_ = true;
        ++i;
        bool minus = false;
        if (i < s.size() && (s[i] == '-' || s[i] == '+')) minus = s[i++] == '-';
        if (i == s.size()) return std::nullopt;
        for (; i < s.size() && isDigit(s[i]); ++i) {
            exponent = exponent * 10 + (s[i] - '0');
            if (exponent > 100000) return std::nullopt;
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
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
    if (ec != std::errc()) return std::nullopt;
    auto d = parse(std::string_view(buf, size_t(end - buf)));
    if (d) d->unusual_ = false;
    return d;
}

std::optional<int64_t> DecimalText::scaled(int places) const {
    if (digits_.empty()) return 0;
    const int64_t shift = exponent_ + places;  // value × 10^places = digits × 10^shift
    const int64_t len = int64_t(digits_.size());
    if (len + shift > 19) return std::nullopt;  // beyond 64 bits whatever the digits
    if (len + shift < 0) return 0;              // below half a unit
    const int64_t whole = std::min(len, len + shift);
    __int128 v = 0;
    for (int64_t k = 0; k < whole; ++k) v = v * 10 + (digits_[size_t(k)] - '0');
    for (int64_t k = 0; k < shift; ++k) v *= 10;
    if (whole < len && digits_[size_t(whole)] >= '5') ++v;  // half up, away from zero
    if (v > std::numeric_limits<int64_t>::max()) return std::nullopt;
    return negative_ ? -int64_t(v) : int64_t(v);
}

int64_t roundHalfUp(__int128 v, int places) {
    const __int128 p = power10(places);
    const bool negative = v < 0;
    __int128 m = negative ? -v : v;
    __int128 q = m / p;
    if ((m % p) * 2 >= p) ++q;
    return negative ? -int64_t(q) : int64_t(q);
}

double toDouble(int64_t units, int places) {
    // One correctly rounded division of two exact doubles: the nearest double to the decimal
    // (units below 2^53, as every stored amount and quantity is).
    return double(units) / double(power10(places));
}

}  // namespace talvira::normimport
