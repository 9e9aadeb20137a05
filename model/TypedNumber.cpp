#include "model/TypedNumber.h"

#include "common/Error.h"

#include <optional>

namespace talvira::model {

namespace {

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

bool digit(char c) { return c >= '0' && c <= '9'; }

/** A number written with an exponent ("1,5e3", "2E-4"), as plain decimal text with a point
 *  ("1500", "0.0002"); nothing when it is not such a number; "!" when its integer part alone
 *  would have more digits than any amount of an estimate (it is then too large, not no number). */
std::optional<std::string> withoutExponent(std::string_view s) {
    size_t at = 0;
    std::string sign;
    if (at < s.size() && (s[at] == '-' || s[at] == '+')) sign = s[at++] == '-' ? "-" : "";
    std::string digits;
    long point = -1;  // digits before the separator
    for (; at < s.size() && (digit(s[at]) || s[at] == '.' || s[at] == ','); ++at) {
        if (digit(s[at])) digits += s[at];
        else if (point >= 0) return std::nullopt;  // two separators
        else point = long(digits.size());
    }
    if (digits.empty()) return std::nullopt;
    if (point < 0) point = long(digits.size());
    long exponent = 0;
    if (at < s.size() && (s[at] == 'e' || s[at] == 'E')) {
        ++at;
        bool negative = false;
        if (at < s.size() && (s[at] == '-' || s[at] == '+')) negative = s[at++] == '-';
        if (at == s.size()) return std::nullopt;
        for (; at < s.size() && digit(s[at]); ++at) exponent = std::min(exponent * 10 + (s[at] - '0'), 100000L);
        if (negative) exponent = -exponent;
    }
    if (at != s.size()) return std::nullopt;
    // Leading zeros say nothing of the size: "000001e12" is 10¹².
    size_t first = 0;
    while (first < digits.size() && digits[first] == '0') ++first;
    if (first == digits.size()) return "0";
    point += exponent;
    point -= long(first);
    digits.erase(0, first);
    if (point > 13) return "!";
    if (point <= 0) return sign + "0." + std::string(size_t(-point), '0') + digits;
    if (size_t(point) >= digits.size()) return sign + digits + std::string(size_t(point) - digits.size(), '0');
    return sign + digits.substr(0, size_t(point)) + "." + digits.substr(size_t(point));
}

}  // namespace

std::string typedNumberFault(std::string_view text, Sign sign, Dec7& out) {
    const std::string_view s = trimmed(text);
    std::optional<Dec7> value = Dec7::tryParse(s);
    if (!value) {
        const std::optional<std::string> plain = withoutExponent(s);
        if (!plain) return "— не число";
        value = *plain == "!" ? std::nullopt : Dec7::tryParse(*plain);
        // Written as a number, yet no exact number of an estimate holds it.
        if (!value) return "— число слишком велико";
    }
    if (sign == Sign::Positive && value->units() <= 0) return "— нужно число больше нуля";
    if (sign == Sign::NotNegative && value->units() < 0) return "— нужно число не меньше нуля";
    out = *value;
    return {};
}

std::string typedFaultMessage(std::string_view what, std::string_view text, std::string_view fault) {
    return std::string(what) + ": «" + std::string(text) + "» " + std::string(fault) + ".";
}

Dec7 typedNumber(std::string_view text, std::string_view what, Sign sign) {
    Dec7 out;
    if (const std::string fault = typedNumberFault(text, sign, out); !fault.empty())
        throw Error(typedFaultMessage(what, text, fault));
    return out;
}

}  // namespace talvira::model
