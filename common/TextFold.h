#pragma once
/**
 * The one letter-case fold of the program, over UTF-8 text: Latin, Latin-1, Latin Extended-A,
 * Greek and Cyrillic capitals made small. Names of files, fields and indexes compare with it
 * as it is; the rate search also takes ё as е (Yo::AsE), as an estimator reads them.
 *
 *   if (foldCase(a) == foldCase(b)) ...;               // "RABMAT.DB" and "rabmat.db"
 *   std::string t = foldCase("Ёмкость", Yo::AsE);     // "емкость"
 *
 * Caveats: every letter keeps its length in bytes, so a folded text is as long as the text;
 * bytes that are not valid UTF-8 are kept as they are; letters beyond U+07FF (none of which
 * the norm bases use) are not folded.
 */
#include <string>
#include <string_view>

namespace talvira {

/** What happens to ё and Ё: kept as ё (names), or read as е (searching). */
enum class Yo { Kept, AsE };

/** `utf8` with its capitals made small, appended to `out`. */
void appendFolded(std::string& out, std::string_view utf8, Yo yo = Yo::Kept);
/** `utf8` with its capitals made small. */
std::string foldCase(std::string_view utf8, Yo yo = Yo::Kept);
/** The two texts are equal when letter case is ignored. */
bool equalFolded(std::string_view a, std::string_view b);

}  // namespace talvira
