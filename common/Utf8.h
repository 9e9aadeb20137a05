#pragma once
/**
 * The one UTF-8 reader of the program: whether a text is well formed, its characters one by
 * one, how many there are, and the text cut after a number of them. Everything the program
 * keeps is UTF-8 (Qt's texts, the tables' text as read, the import's XML); files from outside
 * are checked with `valid` before they are trusted.
 *
 *   for (size_t i = 0; i < s.size();) { const utf8::Char c = utf8::next(s, i); ...; i += c.size; }
 *   std::string shown = std::string(utf8::cut(name, 40));   // at most 40 characters, never half a letter
 *
 * Caveats: well formed means RFC 3629 (no overlong forms, no surrogates, nothing above
 * U+10FFFF); a byte that begins no well-formed character is read as one character U+FFFD,
 * one byte long, so every byte of any text is stepped over exactly once.
 */
#include <cstddef>
#include <string>
#include <string_view>

namespace talvira::utf8 {

/** What a character that is not well formed reads as. */
inline constexpr char32_t kReplacement = 0xFFFD;

/** One character of UTF-8 text: its code point and its length in bytes (1 to 4). */
struct Char {
    char32_t code;
    unsigned size;
    bool valid;
};

/** The character that starts at byte `at` of `s` (`at` < `s.size()`). */
inline Char next(std::string_view s, size_t at) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data()) + at;
    const size_t left = s.size() - at;
    const unsigned b = p[0];
    if (b < 0x80) return {b, 1, true};
    const auto cont = [&](size_t k, unsigned lo = 0x80, unsigned hi = 0xBF) {
        return k < left && p[k] >= lo && p[k] <= hi;
    };
    if (b >= 0xC2 && b <= 0xDF) {
        if (cont(1)) return {char32_t((b & 0x1F) << 6 | (p[1] & 0x3F)), 2, true};
    } else if (b >= 0xE0 && b <= 0xEF) {
        // E0 would be overlong below A0, ED a surrogate from A0 on
        if (cont(1, b == 0xE0 ? 0xA0 : 0x80, b == 0xED ? 0x9F : 0xBF) && cont(2))
            return {char32_t((b & 0x0F) << 12 | (p[1] & 0x3F) << 6 | (p[2] & 0x3F)), 3, true};
    } else if (b >= 0xF0 && b <= 0xF4) {
        // F0 would be overlong below 90, F4 beyond U+10FFFF from 90 on
        if (cont(1, b == 0xF0 ? 0x90 : 0x80, b == 0xF4 ? 0x8F : 0xBF) && cont(2) && cont(3))
            return {char32_t((b & 0x07) << 18 | (p[1] & 0x3F) << 12 | (p[2] & 0x3F) << 6 | (p[3] & 0x3F)), 4, true};
    }
    return {kReplacement, 1, false};
}

/** Every character of `s` is well formed. */
bool valid(std::string_view s);
/** The number of characters in `s` (each byte that is not well formed counts as one). */
size_t length(std::string_view s);
/** The first `n` characters of `s` (all of it when it is shorter). */
std::string_view cut(std::string_view s, size_t n);
/** `code` (a Unicode scalar value) appended to `out` in UTF-8. */
void append(std::string& out, char32_t code);

}  // namespace talvira::utf8
