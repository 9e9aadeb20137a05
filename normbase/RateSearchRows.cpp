// The rows a query's results show, and the walk of the browser to a rate (RateSearch.h).
#include "normbase/RateSearch.h"

#include "common/Error.h"
#include "common/TextFold.h"
#include "normbase/NormBase.h"
#include "normbase/NormBaseFields.h"
#include "normbase/RateSearchIndex.h"
#include "normbase/RateSearchQuery.h"

#include <algorithm>

namespace talvira::normbase {

using storage::RecordLoc;
using storage::TableFile;
using storage::Value;

int64_t RateSearch::rateId(uint32_t n) const { return index().rates.at(n).id; }

RateSearch::Place RateSearch::place(uint32_t n) const {
    const SearchIndex& ix = index();
    const auto& r = ix.rates.at(n);
    const auto& e = ix.entries[r.entry];
    return {ix.collections[e.collection].row, e.row, r.row};
}

namespace {

/** Where a word of the query first occurs in a name: the line (0-based) and the byte in it,
 *  of the name's own text; none: npos. */
struct Hit {
    size_t line = 0;
    size_t at = std::string_view::npos;
};

std::vector<std::string_view> nameLines(const std::string& name) {
    std::vector<std::string_view> lines;
    for (size_t at = 0;;) {
        const size_t br = name.find_first_of("\r\n", at);
        lines.push_back(std::string_view(name).substr(at, br == std::string::npos ? br : br - at));
        if (br == std::string::npos) break;
        at = name.find_first_not_of("\r\n", br);
        if (at == std::string::npos) break;
    }
    return lines;
}

size_t codePoints(std::string_view s) {
    return size_t(std::count_if(s.begin(), s.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

/** The byte of `s` where its code point `n` begins (the size when it has fewer). */
size_t byteOfCodePoint(std::string_view s, size_t n) {
    for (size_t i = 0; i < s.size(); ++i)
        if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80 && n-- == 0) return i;
    return s.size();
}

/** The first line of a name that holds a spelling or a form of a word of the query, and the
 *  earliest such place in it. */
Hit firstHit(const std::vector<std::string_view>& lines, const SearchQuery& q, RussianStemmer& stemmer) {
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string folded = foldCase(lines[i], Yo::AsE);
        const char* b = folded.data();
        const char* e = b + folded.size();
        const char* best = nullptr;
        for (const auto& w : q.words) {
            for (const std::string& sp : w.spellings)
                if (const char* p = scanFor(b, e, sp); p && (!best || p < best)) best = p;
            if (w.stem.empty()) continue;
            for (std::string_view word : cyrillicWords(folded))
                if (nearStems(w.stem, stemmer(word)) && (!best || word.data() < best)) best = word.data();
        }
        // Folding keeps the letters' count: the place is found again by counting them.
        if (best) return {i, byteOfCodePoint(lines[i], codePoints(std::string_view(b, size_t(best - b))))};
    }
    return {};
}

/** Letters of a name's first line that a result row surely shows. */
constexpr size_t kNameShown = 40;
/** Letters kept before a hit in an excerpt, so that the word before it is read too. */
constexpr size_t kBeforeHit = 16;

/** A line from a little before `at`, starting at a word: "…" in front when cut. */
std::string excerptFrom(std::string_view line, size_t at) {
    const size_t before = codePoints(line.substr(0, at));
    if (before <= kBeforeHit) return std::string(line);
    size_t start = byteOfCodePoint(line, before - kBeforeHit);
    // On to the start of the next word, when that does not pass the hit.
    const size_t blank = line.find(' ', start);
    if (start > 0 && line[start - 1] != ' ' && blank != std::string_view::npos && blank + 1 <= at) start = blank + 1;
    return "\xE2\x80\xA6" + std::string(line.substr(start));  // …
}

}  // namespace

RateSearchRow RateSearch::row(uint32_t n, std::string_view query) const {
    const SearchIndex& ix = index();
    const auto& r = ix.rates.at(n);
    const auto& e = ix.entries[r.entry];
    const TableFile* rabmat = ix.rabmat.get();
    RateSearchRow out;
    out.id = r.id;
    out.code = searchFieldText(rabmat, r.loc, fld::TAB);
    if (r.hasName) {
        const std::string name = searchFieldText(ix.names.get(), r.nameLoc, fld::NAME);
        thread_local RussianStemmer stemmer;
        const auto lines = nameLines(name);
        out.name = std::string(lines.front());
        const Hit hit = firstHit(lines, makeSearchQuery(query, false, &stemmer), stemmer);
        out.line = std::string(lines[hit.line]);
        if (hit.at != std::string_view::npos && (hit.line > 0 || codePoints(out.line.substr(0, hit.at)) >= kNameShown))
            out.excerpt = excerptFrom(lines[hit.line], hit.at);
    }
    if (rabmat) {
        int64_t unit = 0;
        if (searchLinkValue(*rabmat, r.loc, rabmat->fieldIndex(fld::IDEDIZM), unit))
            if (const RecordLoc* ul = ix.unitLoc(unit)) out.unit = searchFieldText(ix.unitFile.get(), *ul, fld::NAME);
    }
    out.collection = searchFieldText(ix.reestr.get(), ix.collections[e.collection].loc, fld::NAME);
    out.entry = searchFieldText(ix.ogl.get(), e.loc, fld::NAME);
    return out;
}

namespace {

/** Moves `t` to row `row` when that row holds `id`, else to the first row that does. */
void moveToRecord(storage::TableHandle& t, int row, int64_t id) {
    const int field = t.fieldIndex(fld::ID);
    auto holdsId = [&](int r) {
        const Value v = t.valueAt(r, field);
        return !v.isEmpty() && v.asInteger() == id;
    };
    if (field < 0) throw Error("Таблица «" + t.tableName() + "»: нет поля «ID».");
    if (row < 0 || row >= t.recordCount() || !holdsId(row)) {
        row = -1;
        for (int r = 0, n = t.recordCount(); r < n && row < 0; ++r)
            if (holdsId(r)) row = r;
        if (row < 0)
            throw Error("Таблица «" + t.tableName() + "»: запись с ID " + std::to_string(id) + " не найдена.");
    }
    t.moveTo(row);
}

}  // namespace

void RateSearch::goTo(uint32_t n) {
    const SearchIndex& ix = index();
    const auto& r = ix.rates.at(n);
    const auto& e = ix.entries[r.entry];
    const auto& c = ix.collections[e.collection];
    moveToRecord(base_.Table7, c.row, c.id);
    moveToRecord(base_.Table6, e.row, e.id);
    moveToRecord(base_.Table2, r.row, r.id);
}

}  // namespace talvira::normbase
