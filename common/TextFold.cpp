#include "common/TextFold.h"

#include "common/Utf8.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace talvira {

namespace {

/** The small letter of a code point below U+0800 (itself when it has none). */
uint32_t lowerLetter(uint32_t c) {
    if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
    if (c >= 0x100 && c <= 0x17F) {  // Latin Extended-A: mostly pairs capital, small
        if (c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
        if (c == 0x178) return 0xFF;
        const bool oddCapital = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        return (c % 2 == (oddCapital ? 1u : 0u)) ? c + 1 : c;
    }
    if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 32;  // Greek capitals
    if (c >= 0x400 && c <= 0x40F) return c + 80;                 // Ѐ .. Џ (Ё among them)
    if (c >= 0x410 && c <= 0x42F) return c + 32;                 // А .. Я
    if ((c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF) || (c >= 0x4D0 && c <= 0x52F))
        return c % 2 == 0 ? c + 1 : c;
    if (c == 0x4C0) return 0x4CF;
    if (c >= 0x4C1 && c <= 0x4CE) return c % 2 == 1 ? c + 1 : c;
    return c;
}

/** Folded UTF-8 of every two-byte character, U+0080 .. U+07FF: the letters of Russian text
 *  (and the other scripts folded here) looked up rather than computed. */
using Pairs = std::array<std::array<char, 2>, 0x800 - 0x80>;

Pairs twoBytePairs(Yo yo) {
    Pairs t{};
    for (char32_t c = 0x80; c < 0x800; ++c) {
        char32_t small = lowerLetter(c);  // stays below U+0800, two bytes like the capital
        if (yo == Yo::AsE && small == 0x451) small = 0x435;
        std::string bytes;
        utf8::append(bytes, small);
        t[c - 0x80] = {bytes[0], bytes[1]};
    }
    return t;
}

const Pairs& twoByteFolded(Yo yo) {
    static const Pairs kept = twoBytePairs(Yo::Kept), asE = twoBytePairs(Yo::AsE);
    return yo == Yo::AsE ? asE : kept;
}

}  // namespace

void appendFolded(std::string& out, std::string_view s, Yo yo) {
    const Pairs& folded = twoByteFolded(yo);
    const size_t at = out.size();
    out.resize(at + s.size());  // folding never changes the length
    char* o = out.data() + at;
    for (size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        if (b < 0x80) {
            *o++ = char(unsigned(b - 'A') < 26u ? b + 32 : b);
            ++i;
            continue;
        }
        const utf8::Char c = utf8::next(s, i);
        if (c.size == 2) {
            const auto& pair = folded[c.code - 0x80];
            o[0] = pair[0], o[1] = pair[1];
        } else {  // longer characters carry no letter folded here; stray bytes stay
            std::copy_n(s.data() + i, c.size, o);
        }
        o += c.size, i += c.size;
    }
}

std::string foldCase(std::string_view s, Yo yo) {
    std::string out;
    appendFolded(out, s, yo);
    return out;
}

bool equalFolded(std::string_view a, std::string_view b) {
    return a.size() == b.size() && (a == b || foldCase(a) == foldCase(b));
}

}  // namespace talvira
