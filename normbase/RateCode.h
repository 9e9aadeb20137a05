#pragma once
/**
 * A rate's code as official documents write it: the book's prefix, then the number
 * ("ГЭСНмр01-01-002-05", "ФЕР08-01-001-01"); codes of bases written elsewhere may carry no
 * prefix ("08-02-001-01", "91.05.13-021"). Books numbered alike share numbers, so a number
 * alone may name a rate of several books.
 *
 *   bareCode("ГЭСНмр01-01-002-05") == "01-01-002-05";
 *   bareCode("91.05.13-021") == "91.05.13-021";  // no prefix
 */
#include <string_view>

namespace talvira::normbase {

/** The code without its book's prefix: the letters (Cyrillic or Latin) before the first digit
 *  dropped, with one blank or hyphen after them. A code that does not begin with letters
 *  followed by a digit is returned as it is. */
std::string_view bareCode(std::string_view code);

/** Whether `code` carries a book's prefix (bareCode(code) differs from it). */
inline bool hasBookPrefix(std::string_view code) { return bareCode(code).size() != code.size(); }

}  // namespace talvira::normbase
