#include "normbase/RateCode.h"

namespace talvira::normbase {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isLatin(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

/** Bytes of the Cyrillic letter at `s[i]` in UTF-8 (U+0400..U+04FF), 0 when none is there. */
size_t cyrillicAt(std::string_view s, size_t i) {
    const auto lead = static_cast<unsigned char>(s[i]);
    if ((lead == 0xD0 || lead == 0xD1 || lead == 0xD2 || lead == 0xD3) && i + 1 < s.size() &&
        (static_cast<unsigned char>(s[i + 1]) & 0xC0) == 0x80)
        return 2;
    return 0;
}

}  // namespace

std::string_view bareCode(std::string_view code) {
    size_t i = 0;
    while (i < code.size()) {
        if (isLatin(code[i])) ++i;
        else if (const size_t n = cyrillicAt(code, i)) i += n;
        else break;
    }
    if (i == 0 || i == code.size()) return code;
    size_t number = i;
    if (code[number] == ' ' || code[number] == '-') ++number;
    if (number >= code.size() || !isDigit(code[number])) return code;
    return code.substr(number);
}

}  // namespace talvira::normbase
