#include "common/Utf8.h"

namespace talvira::utf8 {

Char nextLong(std::string_view s, size_t at) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data()) + at;
    const size_t left = s.size() - at;
    const unsigned b = p[0];
    const auto cont = [&](size_t k, unsigned lo = 0x80, unsigned hi = 0xBF) {
        return k < left && p[k] >= lo && p[k] <= hi;
    };
    if (b >= 0xE0 && b <= 0xEF) {
        // E0 would be overlong below A0, ED a surrogate from A0 on
        if (cont(1, b == 0xE0 ? 0xA0 : 0x80, b == 0xED ? 0x9F : 0xBF) && cont(2))
            return {char32_t((b & 0x0F) << 12 | (p[1] & 0x3F) << 6 | (p[2] & 0x3F)), 3, true};
    } else if (b >= 0xF0 && b <= 0xF4) {
        // F0 would be overlong below 90, F4 beyond U+10FFFF from 90 on
        if (cont(1, b == 0xF0 ? 0x90 : 0x80, b == 0xF4 ? 0x8F : 0xBF) && cont(2) && cont(3))
            return {char32_t((b & 0x07) << 18 | (p[1] & 0x3F) << 12 | (p[2] & 0x3F) << 6 | (p[3] & 0x3F)), 4, true};
    }
    return {kReplacement, 1, false};  // C0, C1 (overlong), F5 .. FF, a lone continuation, a cut sequence
}

bool valid(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        const Char c = next(s, i);
        if (!c.valid) return false;
        i += c.size;
    }
    return true;
}

size_t length(std::string_view s) {
    size_t n = 0;
    for (size_t i = 0; i < s.size(); ++n) i += next(s, i).size;
    return n;
}

std::string_view cut(std::string_view s, size_t n) {
    size_t i = 0;
    for (; i < s.size() && n > 0; --n) i += next(s, i).size;
    return s.substr(0, i);
}

void append(std::string& out, char32_t code) {
    if (code < 0x80) {
        out += char(code);
    } else if (code < 0x800) {
        out += char(0xC0 | (code >> 6));
        out += char(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += char(0xE0 | (code >> 12));
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    } else {
        out += char(0xF0 | (code >> 18));
        out += char(0x80 | ((code >> 12) & 0x3F));
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    }
}

}  // namespace talvira::utf8
