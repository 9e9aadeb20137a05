#include "common/NumberText.h"

#include "common/Error.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace talvira {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::optional<long double> parseFloat(std::string_view text, char sep) {
    size_t b = 0, e = text.size();
    while (b < e && isBlank(text[b])) ++b;
    while (e > b && isBlank(text[e - 1])) --e;
    std::string_view t = text.substr(b, e - b);
    if (t.empty()) return std::nullopt;

    // Validate the shape first, then hand a normalised copy to the C library.
    std::string norm;
    norm.reserve(t.size());
    size_t i = 0;
    bool negative = false;
    if (t[i] == '+' || t[i] == '-') {
        negative = t[i] == '-';
        ++i;
    }
    size_t intDigits = 0, fracDigits = 0;
    while (i < t.size() && isDigit(t[i])) {
        norm += t[i++];
        ++intDigits;
    }
    if (i < t.size() && t[i] == sep) {
        norm += '.';
        ++i;
        while (i < t.size() && isDigit(t[i])) {
            norm += t[i++];
            ++fracDigits;
        }
    }
    if (intDigits + fracDigits == 0) return std::nullopt;
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        norm += 'e';
        ++i;
        if (i < t.size() && (t[i] == '+' || t[i] == '-')) norm += t[i++];
        size_t expDigits = 0;
        while (i < t.size() && isDigit(t[i])) {
            norm += t[i++];
            ++expDigits;
        }
        if (expDigits == 0) return std::nullopt;
    }
    if (i != t.size()) return std::nullopt;

    long double value = 0;
    auto [ptr, ec] = std::from_chars(norm.data(), norm.data() + norm.size(), value);
    if (ec != std::errc() || ptr != norm.data() + norm.size()) {
        // Overflow gives an error; underflow to zero or a denormal is still a number.
        if (ec == std::errc::result_out_of_range) {
            value = std::strtold(norm.c_str(), nullptr);
            if (std::isinf(value)) return std::nullopt;
        } else {
            return std::nullopt;
        }
    }
    return negative ? -value : value;
}

std::string notAFloatMessage(std::string_view text) {
    return "'" + std::string(text) + "' is not a valid floating point value";
}

long double strToFloat(std::string_view text, char sep) {
    if (auto v = parseFloat(text, sep)) return *v;
    throw Error(notAFloatMessage(text));
}

std::string formatGeneral(double value, char sep, int precision) {
    if (std::isnan(value)) return "NAN";
    if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
    if (value == 0) return "0";
    if (precision < 1) precision = 1;
    if (precision > 17) precision = 17;

    // %.*e gives exactly `precision` significant digits, correctly rounded.
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*e", precision - 1, value);
    std::string s(buf);
    bool negative = s[0] == '-';
    if (negative) s.erase(0, 1);
    size_t ePos = s.find('e');
    int exponent = std::atoi(s.c_str() + ePos + 1);
    std::string digits;
    for (size_t k = 0; k < ePos; ++k)
        if (isDigit(s[k])) digits += s[k];
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

    std::string out = negative ? "-" : "";
    if (exponent >= precision || std::fabs(value) < 0.00001) {
        out += digits[0];
        if (digits.size() > 1) {
            out += sep;
            out += digits.substr(1);
        }
        out += 'E';
        out += std::to_string(exponent);
        return out;
    }
    if (exponent < 0) {
        out += '0';
        out += sep;
        out += std::string(static_cast<size_t>(-exponent - 1), '0');
        out += digits;
        return out;
    }
    size_t intLen = static_cast<size_t>(exponent) + 1;
    if (digits.size() <= intLen) {
        out += digits + std::string(intLen - digits.size(), '0');
    } else {
        out += digits.substr(0, intLen);
        out += sep;
        out += digits.substr(intLen);
    }
    return out;
}

char decimalSeparatorOf(std::string_view localeName) {
    std::string name(localeName);
    if (name.empty()) {
        for (const char* var : {"LC_ALL", "LC_NUMERIC", "LANG"}) {
            const char* v = std::getenv(var);
            if (v && *v) {
                name = v;
                break;
            }
        }
    }
    std::string lang = name.substr(0, name.find_first_of("_.@"));
    // Languages whose standard notation writes a decimal comma (CLDR).
    static const char* const commaLanguages[] = {
        "ru", "uk", "be", "kk", "de", "fr", "es", "it", "pt", "nl", "pl", "cs", "sk", "sl", "hr",
        "sr", "bg", "ro", "hu", "fi", "sv", "nb", "nn", "no", "da", "tr", "el", "lt", "lv", "et",
        "az", "ka", "hy", "uz", "ky", "tg", "mn", "id", "vi", "ca", "gl", "eu", "is", "fo", "mk", "sq"};
    for (const char* l : commaLanguages)
        if (lang == l) return ',';
    return '.';
}

}  // namespace talvira
