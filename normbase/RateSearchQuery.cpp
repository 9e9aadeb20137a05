#include "normbase/RateSearchQuery.h"

#include "common/TextFold.h"
#include "normbase/RateSearch.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace talvira::normbase {

namespace {

bool isBlank(std::string_view s, size_t i, size_t& len) {
    if (s[i] == ' ' || s[i] == '\t') return len = 1, true;
    if (s[i] == '\xC2' && i + 1 < s.size() && s[i + 1] == '\xA0') return len = 2, true;  // U+00A0
    return false;
}

}  // namespace

std::vector<std::string> searchWords(std::string_view q) {
    std::vector<std::string> words;
    size_t start = 0, i = 0, len = 0;
    while (i < q.size()) {
        if (isBlank(q, i, len)) {
            if (i > start) words.emplace_back(q.substr(start, i - start));
            i += len;
            start = i;
        } else {
            ++i;
        }
    }
    if (i > start) words.emplace_back(q.substr(start, i - start));
    return words;
}

bool SearchQuery::literal() const {
    return std::all_of(words.begin(), words.end(), [](const Word& w) { return w.spellings.size() == 1; });
}

bool SearchQuery::anyForms() const {
    return std::any_of(words.begin(), words.end(), [](const Word& w) { return !w.stem.empty(); });
}

/** Where `needle` first occurs in [from, to), or nullptr. Two bytes of the needle are looked
 *  for sixteen places at a time, and only where both sit is the whole needle compared. The two
 *  are taken away from the lead bytes of Cyrillic letters (D0, D1), of which half of a Russian
 *  text is made. */
const char* scanFor(const char* from, const char* to, const std::string& needle) {
    const size_t n = needle.size();
    if (n == 0) return from;
    if (size_t(to - from) < n) return nullptr;
    if (n == 1) return static_cast<const char*>(std::memchr(from, needle[0], size_t(to - from)));
#if defined(__SSE2__)
    auto common = [&](size_t i) { return needle[i] == '\xD0' || needle[i] == '\xD1'; };
    size_t a = 0, b = n - 1;
    while (a + 1 < n && common(a)) ++a;
    while (b > a + 1 && common(b)) --b;
    if (a >= b) a = 0, b = n - 1;
    const __m128i wantA = _mm_set1_epi8(needle[a]), wantB = _mm_set1_epi8(needle[b]);
    const char* last = to - n;  // the last place the needle can start
    const char* p = from;
    for (; p + 15 <= last; p += 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + a));
        const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + b));
        unsigned mask = unsigned(_mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(x, wantA), _mm_cmpeq_epi8(y, wantB))));
        while (mask) {
            const int i = __builtin_ctz(mask);
            if (std::memcmp(p + i, needle.data(), n) == 0) return p + i;
            mask &= mask - 1;
        }
    }
    for (; p <= last; ++p)
        if (p[a] == needle[a] && p[b] == needle[b] && std::memcmp(p, needle.data(), n) == 0) return p;
    return nullptr;
#else
    return static_cast<const char*>(::memmem(from, size_t(to - from), needle.data(), n));
#endif
}

namespace {

/** The spellings a folded word is looked for in: itself and, when a decimal point or comma
 *  stands between digits in it, the same with the other separator there. */
std::vector<std::string> spellingsOf(const std::string& word) {
    auto digit = [&](size_t i) { return i < word.size() && word[i] >= '0' && word[i] <= '9'; };
    std::vector<size_t> seps;
    for (size_t i = 1; i + 1 < word.size(); ++i)
        if ((word[i] == '.' || word[i] == ',') && digit(i - 1) && digit(i + 1)) seps.push_back(i);
    std::vector<std::string> out{word};
    constexpr size_t kMixed = 3;  // beyond it, every separator one way or the other
    const size_t combos = seps.size() <= kMixed ? size_t(1) << seps.size() : 0;
    for (size_t m = 0; m < combos; ++m) {
        std::string v = word;
        for (size_t k = 0; k < seps.size(); ++k) v[seps[k]] = (m >> k) & 1 ? '.' : ',';
        out.push_back(std::move(v));
    }
    if (seps.size() > kMixed)
        for (char sep : {',', '.'}) {
            std::string v = word;
            for (size_t i : seps) v[i] = sep;
            out.push_back(std::move(v));
        }
    std::sort(out.begin() + 1, out.end());
    out.erase(std::unique(out.begin() + 1, out.end()), out.end());
    out.erase(std::remove(out.begin() + 1, out.end(), word), out.end());
    return out;
}

}  // namespace

SearchQuery makeSearchQuery(std::string_view text, bool exact, RussianStemmer* stemmer) {
    SearchQuery q;
    for (const std::string& w : searchWords(text)) {
        SearchQuery::Word word;
        std::string folded = foldCase(w, Yo::AsE);
        if (!exact && stemmer && formsApply(folded)) word.stem = (*stemmer)(folded);
        word.spellings = exact ? std::vector<std::string>{std::move(folded)} : spellingsOf(folded);
        q.words.push_back(std::move(word));
    }
    // The longest word drives the scan over the whole text: it is found least often.
    std::stable_sort(q.words.begin(), q.words.end(),
                     [](const auto& a, const auto& b) { return a.spellings[0].size() > b.spellings[0].size(); });
    return q;
}

/** Whether every word of `before` lies inside some word of `now`: what `now` finds is then
 *  among what `before` found. */
bool narrows(const std::vector<std::string>& before, const std::vector<std::string>& now) {
    if (before.empty()) return false;
    for (const auto& w : before)
        if (std::none_of(now.begin(), now.end(), [&](const std::string& n) { return n.find(w) != std::string::npos; }))
            return false;
    return true;
}

/** Whether a spelling of `w` occurs in [from, to). */
bool holds(const char* from, const char* to, const SearchQuery::Word& w) {
    return std::any_of(w.spellings.begin(), w.spellings.end(), [&](const std::string& s) { return scanFor(from, to, s); });
}

size_t findSearchText(std::string_view text, std::string_view needle) {
    const std::string n(needle);
    const char* hit = scanFor(text.data(), text.data() + text.size(), n);
    return hit ? size_t(hit - text.data()) : std::string_view::npos;
}

}  // namespace talvira::normbase
