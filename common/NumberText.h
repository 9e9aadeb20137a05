#pragma once
/**
 * Number text as the user types and reads it: parsing in the user's decimal notation and the
 * general display format of the grids. No locale is read here; callers pass the separator
 * (QLocale::system().decimalPoint() in the program, --locale in the command-line tool).
 *
 *   long double k = talvira::strToFloat("2,18", ',');   // 2.18
 *   std::string s = talvira::formatGeneral(1234.5, ','); // "1234,5"
 */
#include <optional>
#include <string>
#include <string_view>

namespace talvira {

/** Reads a decimal number: blanks around it, an optional sign, digits with at most one
 *  decimal separator `sep`, an optional exponent (E or e, optional sign, digits). No digit
 *  grouping. Empty text, any other character, or a value beyond the extended range gives
 *  nothing. The value is kept in extended precision. */
std::optional<long double> parseFloat(std::string_view text, char sep);

/** parseFloat, or talvira::Error "'<text>' is not a valid floating point value". */
long double strToFloat(std::string_view text, char sep);

/** Message of a text that is not a number: "'<text>' is not a valid floating point value". */
std::string notAFloatMessage(std::string_view text);

/** General format: at most `precision` significant digits, fixed notation while the integer
 *  part has at most `precision` digits and the magnitude is at least 0.00001, otherwise
 *  scientific ("1,5E-6", "1E20"); trailing zeros dropped; `sep` as decimal separator. */
std::string formatGeneral(double value, char sep, int precision = 15);

/** The decimal separator of a locale name such as "ru_RU" or "en_US.UTF-8": ',' for the
 *  languages that write a decimal comma, '.' otherwise. An empty name means the user's
 *  locale from LC_ALL / LC_NUMERIC / LANG. */
char decimalSeparatorOf(std::string_view localeName);

}  // namespace talvira
