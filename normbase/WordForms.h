#pragma once
/**
 * Russian word forms for the rate search: a query word of four letters or more also finds the
 * words of the names that share its stem (Snowball's Russian stemmer), one letter more or less
 * inside the stem allowed, so that "кровля" finds "кровли" and "кровель", "ремонт" finds
 * "ремонта".
 *
 *   WordFormIndex forms;                          // built once, with the rest of the search
 *   forms.addRate(foldedName);  ...  forms.finish();
 *   RussianStemmer stem;
 *   for (uint32_t s : forms.stemsNear(stem(u8"кровля")))  use(forms.ratesOf(s));
 *
 * Caveats: texts are folded (common/TextFold, ё as е) before they come here; only Cyrillic
 * letters make words (digits, Latin letters and signs part them). A stemmer is not shared
 * between threads: each thread makes its own.
 */
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct sb_stemmer;

namespace talvira::normbase {

/** The Cyrillic words of a folded text, in order (views into it). */
std::vector<std::string_view> cyrillicWords(std::string_view folded);

/** Whether word forms apply to a folded query word: four Cyrillic letters or more, nothing else. */
bool formsApply(std::string_view foldedWord);

/** Two stems are forms of one word: equal, or the longer is the shorter with one letter put in
 *  somewhere after its first letter and before its last (кровл ~ кровел); both of three letters
 *  or more. */
bool nearStems(std::u32string_view a, std::u32string_view b);

/** Snowball's Russian stemmer over folded UTF-8 words. */
class RussianStemmer {
public:
    RussianStemmer();
    ~RussianStemmer();
    RussianStemmer(const RussianStemmer&) = delete;
    RussianStemmer& operator=(const RussianStemmer&) = delete;
    /** The stem of a folded word, as code points. */
    std::u32string operator()(std::string_view foldedWord);

private:
    sb_stemmer* stemmer_ = nullptr;
};

/** The stems of the words of every listed rate's name and, for each stem, the rates whose names
 *  hold it, in listing order. */
class WordFormIndex {
public:
    /** Adds the words of the next listed rate's folded name (rates come in listing order). */
    void addRate(std::string_view foldedName);
    /** Ends the adding: the lists are laid out and what only the adding needed is dropped. */
    void finish();

    /** Whether finish() has laid the lists out. */
    bool finished() const { return !adding_; }
    /** Rates added so far (before finish()). */
    uint32_t ratesAdded() const { return adding_ ? uint32_t(adding_->rateBegin.size() - 1) : 0; }
    /** Before finish(): the rates added so far whose names hold one of `stems`, ascending. */
    std::vector<uint32_t> ratesAddedWith(const std::vector<uint32_t>& stems) const;

    /** The stems near `stem` (nearStems). */
    std::vector<uint32_t> stemsNear(std::u32string_view stem) const;
    /** The rates whose names hold stem `s`, ascending. */
    std::pair<const uint32_t*, const uint32_t*> ratesOf(uint32_t s) const;

    size_t stemCount() const { return stemBegin_.empty() ? 0 : stemBegin_.size() - 1; }
    size_t memoryUsed() const;

private:
    uint32_t stemOfWord(std::string_view word);

    std::u32string stemChars_;         // stem s is stemChars_[stemBegin_[s] .. stemBegin_[s + 1])
    std::vector<uint32_t> stemBegin_{0};
    std::vector<uint32_t> postBegin_;  // the rates of stem s: post_[postBegin_[s] .. postBegin_[s + 1])
    std::vector<uint32_t> post_;

    // While adding: each word's stem (or none), each stem's number, the stems of each rate.
    struct TextHash {
        using is_transparent = void;
        size_t operator()(std::string_view s) const { return std::hash<std::string_view>()(s); }
    };
    struct Adding {
        RussianStemmer stemmer;
        std::unordered_map<std::string, uint32_t, TextHash, std::equal_to<>> wordStem;
        std::unordered_map<std::u32string, uint32_t> stemId;
        std::vector<uint32_t> rateStems, rateBegin{0};
    };
    std::unique_ptr<Adding> adding_ = std::make_unique<Adding>();
};

/** Whether a folded name holds a form of one query word, the way a WordFormIndex would find it:
 *  for names no index holds yet. Each word met is stemmed once. */
class FormsPass {
public:
    explicit FormsPass(std::u32string stem);
    bool holds(std::string_view foldedName);

private:
    struct TextHash {
        using is_transparent = void;
        size_t operator()(std::string_view s) const { return std::hash<std::string_view>()(s); }
    };
    std::u32string stem_;
    std::string first_;  // the stem's first letter, UTF-8: a word's stem keeps its first letter
    RussianStemmer stemmer_;
    std::unordered_map<std::string, bool, TextHash, std::equal_to<>> near_;  // by word: its stem is near stem_
};

}  // namespace talvira::normbase
