#include "common/Utf8.h"

namespace talvira::utf8 {

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
