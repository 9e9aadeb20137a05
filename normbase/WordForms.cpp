#include "normbase/WordForms.h"

#include "common/Error.h"
#include "common/Utf8.h"

#include <libstemmer.h>

#include <algorithm>
#include <limits>

namespace talvira::normbase {

namespace {

constexpr uint32_t kNoStem = std::numeric_limits<uint32_t>::max();
constexpr size_t kShortestStem = 3;

/** A small Cyrillic letter (а .. я, ё), as folded text has them. */
bool smallCyrillic(char32_t c) { return (c >= 0x430 && c <= 0x44F) || c == 0x451; }

std::u32string decode(std::string_view word) {
    std::u32string out;
    for (size_t i = 0; i < word.size();) {
        const utf8::Char c = utf8::next(word, i);
        if (smallCyrillic(c.code)) {
            out += c.code;
            i += c.size;
        } else {
            out += char32_t(static_cast<unsigned char>(word[i++]));  // the stemmer gives back only what it was given
        }
    }
    return out;
}

/** Whether the index takes a word of a name: three letters or more. */
bool indexed(std::string_view word) { return word.size() >= 2 * kShortestStem; }

}  // namespace

std::vector<std::string_view> cyrillicWords(std::string_view s) {
    std::vector<std::string_view> out;
    size_t start = std::string_view::npos;
    for (size_t i = 0; i < s.size();) {
        const utf8::Char c = utf8::next(s, i);
        if (!smallCyrillic(c.code) && start != std::string_view::npos) {
            out.push_back(s.substr(start, i - start));
            start = std::string_view::npos;
        } else if (smallCyrillic(c.code) && start == std::string_view::npos) {
            start = i;
        }
        i += c.size;
    }
    if (start != std::string_view::npos) out.push_back(s.substr(start));
    return out;
}

bool formsApply(std::string_view w) {
    const auto words = cyrillicWords(w);
    return words.size() == 1 && words[0].size() == w.size() && w.size() >= 8;  // two bytes a letter
}

bool nearStems(std::u32string_view a, std::u32string_view b) {
    if (a.size() > b.size()) std::swap(a, b);
    if (a.size() < kShortestStem) return false;
    if (a.size() == b.size()) return a == b;
    if (b.size() != a.size() + 1) return false;
    size_t k = 0;  // b[k] is the letter put in
    while (k < a.size() && a[k] == b[k]) ++k;
    if (a.substr(k) != b.substr(k + 1)) return false;
    // Put into a run of equal letters, it may as well stand at the run's start.
    size_t from = k;
    while (from > 0 && b[from - 1] == b[k]) --from;
    return std::max<size_t>(from, 1) <= std::min(k, a.size() - 1);
}

RussianStemmer::RussianStemmer() : stemmer_(sb_stemmer_new("russian", "UTF_8")) {
    if (!stemmer_) throw Error("Не удалось подготовить поиск по формам слов: нет русского стеммера.");
}

RussianStemmer::~RussianStemmer() { sb_stemmer_delete(stemmer_); }

std::u32string RussianStemmer::operator()(std::string_view word) {
    const sb_symbol* s = sb_stemmer_stem(stemmer_, reinterpret_cast<const sb_symbol*>(word.data()), int(word.size()));
    if (!s) throw Error("Не хватает памяти для поиска по формам слов.");
    return decode(std::string_view(reinterpret_cast<const char*>(s), size_t(sb_stemmer_length(stemmer_))));
}

uint32_t WordFormIndex::stemOfWord(std::string_view word) {
    Adding& a = *adding_;
    if (auto known = a.wordStem.find(word); known != a.wordStem.end()) return known->second;
    auto it = a.wordStem.emplace(std::string(word), kNoStem).first;
    std::u32string stem = a.stemmer(word);
    if (stem.size() < kShortestStem) return kNoStem;
    auto [st, newStem] = a.stemId.try_emplace(stem, uint32_t(stemCount()));
    if (newStem) {
        stemChars_ += stem;
        stemBegin_.push_back(uint32_t(stemChars_.size()));
    }
    return it->second = st->second;
}

void WordFormIndex::addRate(std::string_view foldedName) {
    Adding& a = *adding_;
    const size_t from = a.rateStems.size();
    for (std::string_view w : cyrillicWords(foldedName)) {
        if (!indexed(w)) continue;
        const uint32_t s = stemOfWord(w);
        if (s != kNoStem && std::find(a.rateStems.begin() + ptrdiff_t(from), a.rateStems.end(), s) == a.rateStems.end())
            a.rateStems.push_back(s);
    }
    a.rateBegin.push_back(uint32_t(a.rateStems.size()));
}

void WordFormIndex::finish() {
    if (!adding_) return;
    Adding& a = *adding_;
    a.wordStem = {};
    a.stemId = {};
    // Counted, then laid out: each stem's rates in the order the rates were added.
    postBegin_.assign(stemCount() + 1, 0);
    for (uint32_t s : a.rateStems) ++postBegin_[s + 1];
    for (size_t s = 1; s < postBegin_.size(); ++s) postBegin_[s] += postBegin_[s - 1];
    post_.resize(a.rateStems.size());
    std::vector<uint32_t> fill(postBegin_.begin(), postBegin_.end() - 1);
    for (uint32_t n = 0; n + 1 < a.rateBegin.size(); ++n)
        for (uint32_t i = a.rateBegin[n]; i < a.rateBegin[n + 1]; ++i) post_[fill[a.rateStems[i]]++] = n;
    stemChars_.shrink_to_fit();
    stemBegin_.shrink_to_fit();
    adding_.reset();
}

std::vector<uint32_t> WordFormIndex::ratesAddedWith(const std::vector<uint32_t>& stems) const {
    std::vector<uint32_t> out;
    if (!adding_ || stems.empty()) return out;
    const Adding& a = *adding_;
    for (uint32_t n = 0; n + 1 < a.rateBegin.size(); ++n)
        for (uint32_t i = a.rateBegin[n]; i < a.rateBegin[n + 1]; ++i)
            if (std::find(stems.begin(), stems.end(), a.rateStems[i]) != stems.end()) {
                out.push_back(n);
                break;
            }
    return out;
}

FormsPass::FormsPass(std::u32string stem) : stem_(std::move(stem)) {
    if (!stem_.empty()) utf8::append(first_, stem_.front());
}

namespace {

/** Whether the two bytes at `s[i]` are a small Cyrillic letter (а .. я, ё; two bytes each). */
bool smallCyrillicAt(std::string_view s, size_t i) {
    if (i + 1 >= s.size()) return false;
    const auto a = static_cast<unsigned char>(s[i]), b = static_cast<unsigned char>(s[i + 1]);
    return (a == 0xD0 && b >= 0xB0 && b <= 0xBF) || (a == 0xD1 && ((b >= 0x80 && b <= 0x8F) || b == 0x91));
}

}  // namespace

bool FormsPass::holds(std::string_view name) {
    if (first_.size() != 2) return false;  // the stem of a word of small Cyrillic letters
    // Only the words that begin with the stem's first letter: near stems share it (nearStems),
    // and a stem is its word's beginning. The letter is looked for as bytes; a word is what
    // cyrillicWords() takes for one, a run of small Cyrillic letters.
    // Its second byte is looked for: the first (D0, D1) begins half of a Russian text.
    for (size_t second = name.find(first_[1], 1); second != std::string_view::npos; second = name.find(first_[1], second + 1)) {
        const size_t at = second - 1;
        if (name[at] != first_[0]) continue;
        if (at >= 2 && smallCyrillicAt(name, at - 2)) continue;  // inside a word
        size_t end = at;
        while (smallCyrillicAt(name, end)) end += 2;
        const std::string_view w = name.substr(at, end - at);
        if (!indexed(w)) continue;
        auto it = near_.find(w);
        if (it == near_.end()) {
            const std::u32string stem = stemmer_(w);
            it = near_.emplace(std::string(w), stem.size() >= kShortestStem && nearStems(stem_, stem)).first;
        }
        if (it->second) return true;
    }
    return false;
}

std::vector<uint32_t> WordFormIndex::stemsNear(std::u32string_view stem) const {
    std::vector<uint32_t> out;
    const std::u32string_view all(stemChars_);
    for (uint32_t s = 0; s + 1 < stemBegin_.size(); ++s) {
        const uint32_t len = stemBegin_[s + 1] - stemBegin_[s];
        if (len + 1 < stem.size() || len > stem.size() + 1) continue;
        if (nearStems(stem, all.substr(stemBegin_[s], len))) out.push_back(s);
    }
    return out;
}

std::pair<const uint32_t*, const uint32_t*> WordFormIndex::ratesOf(uint32_t s) const {
    return {post_.data() + postBegin_[s], post_.data() + postBegin_[s + 1]};
}

size_t WordFormIndex::memoryUsed() const {
    return stemChars_.capacity() * sizeof(char32_t) + (stemBegin_.capacity() + postBegin_.capacity() + post_.capacity()) * sizeof(uint32_t);
}

}  // namespace talvira::normbase
