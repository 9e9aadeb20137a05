#pragma once
/**
 * Single-byte code pages of Paradox tables (866, 1251, 1252, 437, 850) to and from UTF-8, with
 * the guess of the code page from the bytes of a table's text when its header says nothing
 * useful.
 *
 *   std::string s = toUtf8(bytes, 1251);            // "Смета"
 *   std::optional<std::string> b = fromUtf8(s, 866); // nothing if a character has no byte there
 *
 * Caveats: bytes with no character in the code page become U+FFFD; only these five code pages
 * are known, others read as 1251.
 */
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace talvira::storage {

/** True for the code pages this module converts. */
bool isKnownCodePage(int codePage);

/** Text of `bytes` in `codePage` as UTF-8 (unknown code pages are read as 1251). */
std::string toUtf8(std::string_view bytes, int codePage);
/** Appends the UTF-8 text of `bytes` to `out`. */
void appendUtf8(std::string& out, std::string_view bytes, int codePage);

/** Bytes of UTF-8 `text` in `codePage`; nothing when a character has no byte there. `bad`
 *  receives the first such character (as UTF-8) when given. */
std::optional<std::string> fromUtf8(std::string_view text, int codePage, std::string* bad = nullptr);
/** The same into `out`, at most `room` bytes of it: the bytes the whole text takes (above
 *  `room` when it was cut there), nothing (and `bad`) as above. */
std::optional<size_t> fromUtf8Into(std::string_view text, int codePage, char* out, size_t room,
                                   std::string* bad = nullptr);

/** The byte of the upper-case letter of `b` in `codePage` (other bytes unchanged). */
uint8_t upperByte(uint8_t b, int codePage);

/** Tallies the bytes of a table's text to decide its code page. */
class CodePageGuess {
public:
    void add(std::string_view bytes);
    /** True when some byte above 0x7F was seen. */
    bool hasHighBytes() const { return high_ > 0; }
    /** 866 or 1251, whichever the Cyrillic letters fit better. */
    int cyrillic() const;
    /** Whether text with this many high bytes plainly is not Western text. */
    bool looksCyrillic() const;
    /** The code page to read the text in, given what the header says (0: nothing). */
    int decide(int headerCodePage) const;

private:
    uint64_t high_ = 0, ascii_ = 0, s866_ = 0, s1251_ = 0;
};

}  // namespace talvira::storage
