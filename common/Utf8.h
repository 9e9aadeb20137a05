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

/** The character of three or four bytes, or the ill-formed byte, at byte `at` of `s`. */
Char nextLong(std::string_view s, size_t at);

/** The character that starts at byte `at` of `s` (`at` < `s.size()`). ASCII and the two-byte
 *  characters (Cyrillic among them) are read here, inline: the text folds and searches read
 *  every character of the norm base. */
inline Char next(std::string_view s, size_t at) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data()) + at;
    const unsigned b = p[0];
    if (b < 0x80) return {b, 1, true};
    if (b - 0xC2u < 0x1Eu && at + 1 < s.size() && (p[1] ^ 0x80u) < 0x40u)
        return {char32_t((b & 0x1F) << 6 | (p[1] & 0x3F)), 2, true};
    return nextLong(s, at);
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
