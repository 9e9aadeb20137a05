#include "normbase/RateSearch.h"

#include "common/Error.h"
#include "common/TextFold.h"
#include "normbase/NormBase.h"
#include "normbase/RateCode.h"
#include "normbase/RateSearchIndex.h"
#include "normbase/RateSearchQuery.h"
#include "normbase/WordForms.h"
#include "storage/Warnings.h"

#include <algorithm>
#include <atomic>
#include <future>
#include <mutex>

namespace talvira::normbase {

/** Preparation under way on a thread of its own. */
struct RateSearch::Pending {
    std::shared_ptr<std::atomic<bool>> stop = std::make_shared<std::atomic<bool>>(false);
    std::shared_ptr<SearchProgress> progress = std::make_shared<SearchProgress>();
    std::future<std::unique_ptr<SearchIndex>> result;
    bool ready() const { return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }
};

// ---------------------------------------------------------------------------------------------
// Preparing
// ---------------------------------------------------------------------------------------------

RateSearch::RateSearch(NormBase& base) : base_(base) {}
RateSearch::~RateSearch() { reset(); }

bool RateSearch::prepared() const {
    return ix_ || (pending_ && pending_->ready());
}

void RateSearch::reset() {
    if (pending_) {
        *pending_->stop = true;
        try {
            pending_->result.get();
        } catch (...) {  // stopped half-way, or failed: nothing of it is kept
        }
        pending_.reset();
    }
    listed_ = nullptr;
    ix_.reset();
    lastWords_.clear();
    lastFound_.clear();
}

void RateSearch::startPreparing() {
    if (ix_ || pending_) return;
    auto p = std::make_unique<Pending>();
    p->progress->formsHook = formsHook_;
    p->result = std::async(std::launch::async, [src = searchSourcesOf(base_), stop = p->stop, progress = p->progress] {
        // The window has shown what these files warn about when it opened them.
        storage::QuietWarnings quiet;
        return buildSearchIndex(src, *stop, progress.get());
    });
    pending_ = std::move(p);
}

void RateSearch::prepare() {
    if (ix_) return;
    if (pending_) {
        auto p = std::move(pending_);
        listed_ = nullptr;
        ix_ = p->result.get();
        return;
    }
    const std::atomic<bool> never{false};
    ix_ = buildSearchIndex(searchSourcesOf(base_), never);
}

const SearchIndex& RateSearch::listing() {
    if (ix_) return *ix_;
    if (pending_ && !pending_->ready()) {
        if (!listed_) listed_ = pending_->progress->waitListed();
        if (listed_) return *listed_;
    }
    prepare();
    return *ix_;
}

const SearchIndex& RateSearch::index() const { return ix_ ? *ix_ : *listed_; }

void RateSearch::setPreparationHook(std::function<void(uint32_t formsLaidOut)> hook) { formsHook_ = std::move(hook); }

uint32_t RateSearch::listedCount() { return uint32_t(listing().rates.size()); }

// ---------------------------------------------------------------------------------------------
// Queries
// ---------------------------------------------------------------------------------------------

RateSearch::Found RateSearch::find(std::string_view query) {
    if (searchWords(query).empty()) return {};
    const SearchIndex& ix = listing();
    thread_local RussianStemmer stemmer;
    return run(ix, makeSearchQuery(query, false, &stemmer));
}

std::vector<uint32_t> RateSearch::findExact(std::string_view query) {
    if (searchWords(query).empty()) return {};
    const SearchIndex& ix = listing();
    return run(ix, makeSearchQuery(query, true, nullptr)).rates;
}

std::vector<uint32_t> RateSearch::findCode(std::string_view code) {
    const std::string folded = foldCase(code, Yo::AsE);
    const bool bare = !hasBookPrefix(folded);
    std::vector<uint32_t> out;
    for (uint32_t n : findExact(code)) {
        const std::string_view c = foldedCode(n);
        if (c == folded || (bare && hasBookPrefix(c) && bareCode(c) == folded)) out.push_back(n);
    }
    return out;
}

std::optional<uint32_t> RateSearch::rateOfCode(std::string_view code) {
    const auto found = findCode(code);
    if (found.empty()) return std::nullopt;
    std::vector<uint32_t> books;  // the first rate of each code
    for (uint32_t n : found)
        if (std::none_of(books.begin(), books.end(), [&](uint32_t b) { return foldedCode(b) == foldedCode(n); }))
            books.push_back(n);
    if (books.size() > 1) {
        std::string list;
        for (uint32_t n : books) {
            const RateSearchRow r = row(n);
            list += "\n  " + r.code + "  " + r.collection + ": " + r.name;
        }
        throw Error("Шифр «" + std::string(code) + "» есть в " + std::to_string(books.size()) +
                    " сборниках; укажите шифр полностью, с обозначением сборника:" + list);
    }
    return found.front();
}

std::string_view RateSearch::foldedCode(uint32_t n) const {
    const SearchIndex& ix = index();
    return std::string_view(ix.text).substr(ix.begin.at(n), ix.rates.at(n).codeLen);
}

RateSearch::Found RateSearch::run(const SearchIndex& ix, const SearchQuery& q) {
    Found found;
    found.rates = exactMatches(ix, q);
    found.exact = found.rates.size();
    formMatches(ix, q, found);
    return found;
}

std::vector<uint32_t> RateSearch::exactMatches(const SearchIndex& ix, const SearchQuery& q) {
    const char* text = ix.text.data();
    auto holdsAll = [&](uint32_t n, size_t from) {
        const char* b = text + ix.begin[n];
        const char* codeEnd = b + ix.rates[n].codeLen;
        const char* e = text + ix.begin[n + 1];
        for (size_t w = from; w < q.words.size(); ++w)
            if (!holds(b, codeEnd, q.words[w]) && !holds(codeEnd + 1, e, q.words[w])) return false;
        return true;
    };
    std::vector<uint32_t> out;

    // Typing on: when the query only narrows the one before, its rates are looked at alone.
    std::vector<std::string> words;
    if (q.literal())
        for (const auto& w : q.words) words.push_back(w.spellings[0]);
    if (narrows(lastWords_, words) && lastFound_.size() < ix.rates.size() / 8) {
        for (uint32_t n : lastFound_)
            if (holdsAll(n, 0)) out.push_back(n);
        lastWords_ = std::move(words);
        lastFound_ = out;
        return out;
    }

    // Each spelling of the longest word is scanned for over the whole text.
    const char* end = text + ix.text.size();
    const auto& begin = ix.begin;
    for (const std::string& driver : q.words.front().spellings) {
        const char* from = text;
        size_t n = 0;
        while (const char* hit = scanFor(from, end, driver)) {
            const uint32_t pos = uint32_t(hit - text);
            // The rate whose text holds the hit: the last whose text begins at or before it. Hits
            // come in order and mostly a few rates on, so the search gallops forward from the last
            // one and halves only the stretch it overshot (a halving over the whole list would
            // miss the cache at every step).
            if (begin[n + 1] <= pos) {
                size_t lo = n + 1, step = 1;  // begin[lo] <= pos
                while (lo + step < begin.size() - 1 && begin[lo + step] <= pos) lo += step, step *= 2;
                const size_t hi = std::min(lo + step, begin.size() - 1);  // begin[hi] > pos or the end
                n = size_t(std::upper_bound(begin.begin() + ptrdiff_t(lo), begin.begin() + ptrdiff_t(hi), pos) - begin.begin()) - 1;
            }
            const char* codeEnd = text + begin[n] + ix.rates[n].codeLen;
            const char* e = text + begin[n + 1];
            const char* hitEnd = hit + driver.size();
            // A hit counts only inside the code or inside the name, not across either end.
            if (!(hitEnd <= codeEnd || (hit > codeEnd && hitEnd <= e))) {
                from = hit + 1;
                continue;
            }
            if (holdsAll(uint32_t(n), 1)) out.push_back(uint32_t(n));
            from = e;
        }
    }
    if (q.words.front().spellings.size() > 1) {  // several scans: merged into browse order
        std::sort(out.begin(), out.end());
        out.erase(std::unique(out.begin(), out.end()), out.end());
    }
    lastWords_ = std::move(words);
    lastFound_ = out;
    return out;
}

void RateSearch::formMatches(const SearchIndex& ix, const SearchQuery& q, Found& found) const {
    if (!q.anyForms()) return;
    const size_t count = ix.rates.size();
    // For each word with forms, the rates whose names hold one of them.
    std::vector<std::vector<bool>> byForms(q.words.size());
    std::vector<bool> candidate(count);
    bool any = false;
    for (size_t w = 0; w < q.words.size(); ++w) {
        if (q.words[w].stem.empty()) continue;
        byForms[w].resize(count);
        if (&ix == ix_.get()) {
            for (uint32_t s : ix.forms.stemsNear(q.words[w].stem)) {
                auto [lo, hi] = ix.forms.ratesOf(s);
                for (const uint32_t* r = lo; r != hi; ++r) byForms[w][*r] = candidate[*r] = any = true;
            }
        } else {
            for (uint32_t r : formsWhileLaidOut(ix, q.words[w].stem)) byForms[w][r] = candidate[r] = any = true;
        }
    }
    if (!any) return;
    for (uint32_t n : found.rates) candidate[n] = false;  // found exactly already
    const char* text = ix.text.data();
    for (uint32_t n = 0; n < count; ++n) {
        if (!candidate[n]) continue;
        const char* b = text + ix.begin[n];
        const char* codeEnd = b + ix.rates[n].codeLen;
        const char* e = text + ix.begin[n + 1];
        bool all = true;
        for (size_t w = 0; w < q.words.size() && all; ++w)
            all = (!byForms[w].empty() && byForms[w][n]) || holds(b, codeEnd, q.words[w]) || holds(codeEnd + 1, e, q.words[w]);
        if (all) found.rates.push_back(n);
    }
}

std::vector<uint32_t> RateSearch::formsWhileLaidOut(const SearchIndex& ix, const std::u32string& stem) const {
    std::vector<uint32_t> out;
    const auto count = uint32_t(ix.rates.size());
    uint32_t from = count;  // the first rate whose forms are not laid out
    {
        std::lock_guard lock(pending_->progress->formsMutex);
        if (ix.forms.finished()) {
            for (uint32_t s : ix.forms.stemsNear(stem)) {
                auto [lo, hi] = ix.forms.ratesOf(s);
                out.insert(out.end(), lo, hi);
            }
        } else {
            out = ix.forms.ratesAddedWith(ix.forms.stemsNear(stem));
            from = ix.forms.ratesAdded();
        }
    }
    if (from < count) {
        FormsPass pass(stem);
        for (uint32_t n = from; n < count; ++n)
            if (pass.holds(ix.nameText(n))) out.push_back(n);
    }
    return out;
}

size_t RateSearch::memoryUsed() const {
    return ix_ ? ix_->memoryUsed() + lastFound_.capacity() * sizeof(uint32_t) : 0;
}

}  // namespace talvira::normbase
