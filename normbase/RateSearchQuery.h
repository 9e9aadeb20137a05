#pragma once
/**
 * The query side of the rate search (RateSearch.h): a query's words made ready, and the scan of
 * the folded text they are looked for in.
 *
 *   RussianStemmer stemmer;
 *   const SearchQuery q = makeSearchQuery("кровля 0.5", false, &stemmer);
 *   if (holds(name.data(), name.data() + name.size(), q.words.front())) ...
 *
 * Caveats: the text scanned is folded (common/TextFold, ё as е); a query's words are folded the
 * same way here.
 */
#include "normbase/WordForms.h"

#include <string>
#include <string_view>
#include <vector>

namespace talvira::normbase {

/** Between a listed rate's folded code and its folded name in the text the queries scan. */
inline constexpr char kSearchFieldSeparator = '\x1F';

/** A query made ready: its folded words, longest first, each with the spellings it is looked
 *  for in and, when word forms apply, its stem. */
struct SearchQuery {
    struct Word {
        std::vector<std::string> spellings;
        std::u32string stem;  // empty: no word forms
    };
    std::vector<Word> words;
    /** Every word has one spelling: the query is its words as typed (folded). */
    bool literal() const;
    /** Some word is looked for by its forms too. */
    bool anyForms() const;
};

/** The query of `text`: by the exact rule alone (`exact`), or with the spellings of a decimal
 *  separator and, given a stemmer, the stems of words that have forms. */
SearchQuery makeSearchQuery(std::string_view text, bool exact, RussianStemmer* stemmer);

/** Where `needle` first occurs in [from, to), or nullptr. */
const char* scanFor(const char* from, const char* to, const std::string& needle);

/** Whether a spelling of `w` occurs in [from, to). */
bool holds(const char* from, const char* to, const SearchQuery::Word& w);

/** Whether every word of `before` lies inside some word of `now`: what `now` finds is then
 *  among what `before` found. */
bool narrows(const std::vector<std::string>& before, const std::vector<std::string>& now);

}  // namespace talvira::normbase
