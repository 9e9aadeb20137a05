#include "common/TextFold.h"

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

using Pairs = std::array<std::array<char, 2>, 128>;

/** Folded UTF-8 of U+0400 .. U+047F (lead bytes D0 and D1), two bytes each: the letters of
 *  Russian text, looked up rather than computed. */
Pairs cyrillicPairs(Yo yo) {
    Pairs t{};
    for (uint32_t i = 0; i < 128; ++i) {
        uint32_t c = lowerLetter(0x400 + i);  // stays in U+0400 .. U+047F
        if (yo == Yo::AsE && c == 0x451) c = 0x435;
        t[i][0] = char(0xC0 | (c >> 6));
        t[i][1] = char(0x80 | (c & 0x3F));
    }
    return t;
}

const Pairs& cyrillicFolded(Yo yo) {
    static const Pairs kept = cyrillicPairs(Yo::Kept), asE = cyrillicPairs(Yo::AsE);
    return yo == Yo::AsE ? asE : kept;
}

}  // namespace

void appendFolded(std::string& out, std::string_view s, Yo yo) {
    const Pairs& cyrillic = cyrillicFolded(yo);
    const size_t at = out.size();
    out.resize(at + s.size());  // folding never changes the length
    char* o = out.data() + at;
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const auto* end = p + s.size();
    while (p < end) {
        const unsigned char b = *p;
        if (b < 0x80) {
            *o++ = char(unsigned(b - 'A') < 26u ? b + 32 : b);
            ++p;
            continue;
        }
        if (p + 1 < end && (b & 0xE0) == 0xC0 && (p[1] & 0xC0) == 0x80) {
            const unsigned char t = p[1];
            if (b == 0xD0 || b == 0xD1) {
                const auto& pair = cyrillic[(b - 0xD0) * 64 + (t - 0x80)];
                o[0] = pair[0], o[1] = pair[1];
            } else {
                const uint32_t c = lowerLetter((uint32_t(b & 0x1F) << 6) | (t & 0x3F));
                o[0] = char(0xC0 | (c >> 6)), o[1] = char(0x80 | (c & 0x3F));
            }
            o += 2, p += 2;
            continue;
        }
        *o++ = char(b);  // longer sequences carry no letter folded here; stray bytes stay
        ++p;
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
