#include "normbase/RateSearch.h"

#include "common/Error.h"
#include "normbase/NormBase.h"
#include "normbase/NormBaseFields.h"

#include <algorithm>
#include <array>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <limits>

namespace talvira::normbase {

using storage::RecordLoc;
using storage::TableFile;
using storage::Value;

// ---------------------------------------------------------------------------------------------
// Folding
// ---------------------------------------------------------------------------------------------

namespace {

/** The lower-case letter of a code point below U+0800 (itself when it has none); ё → е. */
uint32_t lowerLetter(uint32_t c) {
    if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
    if (c >= 0x100 && c <= 0x17F) {  // Latin Extended-A: mostly pairs upper, lower
        if (c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
        if (c == 0x178) return 0xFF;
        const bool oddUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        return (c % 2 == (oddUpper ? 1u : 0u)) ? c + 1 : c;
    }
    if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 32;  // Greek capitals
    if (c >= 0x400 && c <= 0x40F) c += 80;                       // Ѐ .. Џ (Ё among them)
    else if (c >= 0x410 && c <= 0x42F) c += 32;                  // А .. Я
    else if ((c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF) || (c >= 0x4D0 && c <= 0x52F))
        return c % 2 == 0 ? c + 1 : c;
    else if (c == 0x4C0) return 0x4CF;
    else if (c >= 0x4C1 && c <= 0x4CE) return c % 2 == 1 ? c + 1 : c;
    return c == 0x451 ? 0x435 : c;  // ё → е
}

bool isBlank(std::string_view s, size_t i, size_t& len) {
    if (s[i] == ' ' || s[i] == '\t') return len = 1, true;
    if (s[i] == '\xC2' && i + 1 < s.size() && s[i + 1] == '\xA0') return len = 2, true;  // U+00A0
    return false;
}

}  // namespace

namespace {

/** Folded UTF-8 of U+0400 .. U+047F (lead bytes D0 and D1), two bytes each. */
const char (*cyrillicFolded())[2] {
    static const auto table = [] {
        std::array<char[2], 128> t{};
        for (uint32_t i = 0; i < 128; ++i) {
            const uint32_t c = lowerLetter(0x400 + i);  // stays in U+0400 .. U+047F
            t[i][0] = char(0xC0 | (c >> 6));
            t[i][1] = char(0x80 | (c & 0x3F));
        }
        return t;
    }();
    return table.data();
}

}  // namespace

static void appendFolded(std::string& out, std::string_view s) {
    const size_t at = out.size();
    out.resize(at + s.size());  // folding never makes the text longer
    char* o = out.data() + at;
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const auto* end = p + s.size();
    while (p < end) {
        const unsigned char b = *p;
        if (b < 0x80) {
            *o++ = char(unsigned(b - 'A') < 26u ? b + 32 : b);
            ++p;
            continue;
        }
        if (p + 1 < end && (p[1] & 0xC0) == 0x80) {
            const unsigned char t = p[1];
            // Cyrillic (U+0400 .. U+047F) at first hand, through a table.
            if (b == 0xD0 || b == 0xD1) {
                const char* pair = cyrillicFolded()[(b - 0xD0) * 64 + (t - 0x80)];
                o[0] = pair[0], o[1] = pair[1];
                o += 2, p += 2;
                continue;
            }
            // Every other two-byte sequence: through the code point. Longer ones carry no
            // letter that folds here and are copied below.
            if ((b & 0xE0) == 0xC0) {
                const uint32_t c = lowerLetter((uint32_t(b & 0x1F) << 6) | (t & 0x3F));
                if (c < 0x80) {
                    *o++ = char(c);
                } else {
                    *o++ = char(0xC0 | (c >> 6));
                    *o++ = char(0x80 | (c & 0x3F));
                }
                p += 2;
                continue;
            }
        }
        *o++ = char(b);
        ++p;
    }
    out.resize(size_t(o - out.data()));
}

std::string foldSearchText(std::string_view s) {
    std::string out;
    appendFolded(out, s);
    return out;
}

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

// ---------------------------------------------------------------------------------------------
// The index
// ---------------------------------------------------------------------------------------------

struct RateSearch::Index {
    struct Collection {
        int64_t id;
        RecordLoc loc;
        int row;
    };
    struct Entry {
        int64_t id;
        RecordLoc loc;
        uint32_t collection;
        int row;  // in Table6's view of its collection
    };
    struct Rate {
        int64_t id;
        RecordLoc loc;
        RecordLoc nameLoc;
        uint32_t entry;
        int row;  // in Table2's view of its entry
        uint32_t codeLen;
        bool hasName;
    };
    std::vector<Collection> collections;
    std::vector<Entry> entries;
    std::vector<Rate> rates;
    std::vector<std::pair<int64_t, RecordLoc>> units;  // by ID, for the rows shown
    // Listed rate n: folded code at text[begin[n]], a 0x1F, its folded name up to begin[n + 1].
    std::string text;
    std::vector<uint32_t> begin;
    // The last query's folded words and what it found, for narrowing as the user types.
    std::vector<std::string> lastWords;
    std::vector<uint32_t> lastFound;
};

namespace {

constexpr char kFieldSeparator = '\x1F';
/** An empty link or key field: matches nothing. */
constexpr int64_t kNoId = std::numeric_limits<int64_t>::min();

/** The places of a table's records in the order a handle without an index holds them: the
 *  primary key's, or the physical order of an unkeyed table. */
std::vector<RecordLoc> defaultOrder(const TableFile& f) {
    for (const auto& ix : f.indexes())
        if (ix.primary) return f.scan("");
    std::vector<RecordLoc> out;
    for (auto l = f.first(); l; l = f.next(*l)) out.push_back(*l);
    return out;
}

/** A field read as a link value; nothing when the field is missing or empty. */
bool linkValue(const TableFile& f, RecordLoc loc, int field, int64_t& out) {
    if (field < 0) return false;
    const Value v = f.readField(loc, field);
    if (v.isEmpty()) return false;
    out = v.asInteger();
    return true;
}

std::string textOf(const TableFile* f, RecordLoc loc, const char* field) {
    if (!f) return {};
    const int i = f->fieldIndex(field);
    return i < 0 ? std::string() : f->readField(loc, i).asString();
}

/** (ID, place) of every record with an ID, by ID; records of equal ID in physical order. */
std::vector<std::pair<int64_t, RecordLoc>> byId(const TableFile* f) {
    std::vector<std::pair<int64_t, RecordLoc>> out;
    if (!f) return out;
    const int id = f->fieldIndex(fld::ID);
    int64_t v = 0;
    for (auto l = f->first(); l; l = f->next(*l))
        if (linkValue(*f, *l, id, v)) out.emplace_back(v, *l);
    auto byKey = [](const auto& a, const auto& b) { return a.first < b.first; };
    if (!std::is_sorted(out.begin(), out.end(), byKey)) std::stable_sort(out.begin(), out.end(), byKey);
    return out;
}

const RecordLoc* findById(const std::vector<std::pair<int64_t, RecordLoc>>& v, int64_t id) {
    auto it = std::lower_bound(v.begin(), v.end(), id, [](const auto& e, int64_t k) { return e.first < k; });
    return it != v.end() && it->first == id ? &it->second : nullptr;
}

/** Detail records of a table grouped by a link field: (link, ID, place) sorted by link, then
 *  ID (the table's key), then physical order. */
struct Linked {
    int64_t link, id, extra;  // extra: the value of `extraField`, kNoId when empty
    RecordLoc loc;
};
std::vector<Linked> linkedRecords(const TableFile& f, const char* linkField, const char* extraField) {
    std::vector<Linked> out;
    const int link = f.fieldIndex(linkField), id = f.fieldIndex(fld::ID);
    const int extra = extraField ? f.fieldIndex(extraField) : -1;
    out.reserve(f.recordCount());
    for (auto l = f.first(); l; l = f.next(*l)) {
        Linked r{0, 0, kNoId, *l};
        if (!linkValue(f, *l, link, r.link)) continue;
        if (!linkValue(f, *l, id, r.id)) r.id = kNoId;
        if (!linkValue(f, *l, extra, r.extra)) r.extra = kNoId;
        out.push_back(r);
    }
    auto order = [](const Linked& a, const Linked& b) { return a.link != b.link ? a.link < b.link : a.id < b.id; };
    if (!std::is_sorted(out.begin(), out.end(), order)) std::stable_sort(out.begin(), out.end(), order);
    return out;
}

std::pair<std::vector<Linked>::const_iterator, std::vector<Linked>::const_iterator> linkedTo(
    const std::vector<Linked>& v, int64_t key) {
    auto lo = std::lower_bound(v.begin(), v.end(), key, [](const Linked& e, int64_t k) { return e.link < k; });
    auto hi = std::upper_bound(lo, v.end(), key, [](int64_t k, const Linked& e) { return k < e.link; });
    return {lo, hi};
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


}  // namespace

size_t findSearchText(std::string_view text, std::string_view needle) {
    const std::string n(needle);
    const char* hit = scanFor(text.data(), text.data() + text.size(), n);
    return hit ? size_t(hit - text.data()) : std::string_view::npos;
}

RateSearch::RateSearch(NormBase& base) : base_(base) {}
RateSearch::~RateSearch() = default;

bool RateSearch::prepared() const { return ix_ != nullptr; }
void RateSearch::reset() { ix_.reset(); }

void RateSearch::prepare() {
    if (ix_) return;
    auto ix = std::make_unique<Index>();
    ix->begin.push_back(0);
    // The whole base is read through files of its own, closed when done: pages read only for
    // this do not stay mapped into the program.
    auto reopen = [](storage::TableHandle& t) -> std::unique_ptr<TableFile> {
        if (!t.file()) return nullptr;
        return storage::tableFileProvider().open(t.tablePath(), storage::OpenMode::ReadOnly);
    };
    const auto reestr = reopen(base_.Table7), ogl = reopen(base_.Table6), rabmat = reopen(base_.Table2);
    const auto names = reopen(base_.Table1), units = reopen(base_.Table8);
    ix->units = byId(units.get());
    if (!reestr || !ogl || !rabmat) {  // the browser lists nothing then
        ix_ = std::move(ix);
        return;
    }

    // Collections in Table7's order; then each collection's entries by ID, as Table6 lists them.
    const int reestrId = reestr->fieldIndex(fld::ID);
    int row = 0;
    for (RecordLoc l : defaultOrder(*reestr)) {
        int64_t id = 0;
        const bool hasId = linkValue(*reestr, l, reestrId, id);
        ix->collections.push_back({hasId ? id : kNoId, l, row++});
    }
    const auto entries = linkedRecords(*ogl, fld::IDREESTR, nullptr);
    for (uint32_t c = 0; c < ix->collections.size(); ++c) {
        if (ix->collections[c].id == kNoId) continue;
        auto [lo, hi] = linkedTo(entries, ix->collections[c].id);
        int r = 0;
        for (auto it = lo; it != hi; ++it) ix->entries.push_back({it->id, it->loc, c, r++});
    }

    // The rates of each entry by ID, as Table2 lists them, with their folded code and name.
    const auto nameIds = byId(names.get());
    const int nameField = names ? names->fieldIndex(fld::NAME) : -1;
    const int tabField = rabmat->fieldIndex(fld::TAB);
    const auto rates = linkedRecords(*rabmat, fld::IDOGL, fld::IDNAME);
    ix->rates.reserve(rates.size());
    ix->begin.reserve(rates.size() + 1);
    ix->text.reserve(rates.size() * 160);
    for (uint32_t e = 0; e < ix->entries.size(); ++e) {
        if (ix->entries[e].id == kNoId) continue;
        auto [lo, hi] = linkedTo(rates, ix->entries[e].id);
        int r = 0;
        for (auto it = lo; it != hi; ++it) {
            Index::Rate rate{it->id, it->loc, {}, e, r++, 0, false};
            const size_t codeAt = ix->text.size();
            if (tabField >= 0) {
                const Value code = rabmat->readField(it->loc, tabField);
                if (const std::string* t = code.text()) appendFolded(ix->text, *t);
                else appendFolded(ix->text, code.asString());
            }
            rate.codeLen = uint32_t(ix->text.size() - codeAt);
            ix->text += kFieldSeparator;
            if (nameField >= 0 && it->extra != kNoId) {
                if (const RecordLoc* nl = findById(nameIds, it->extra)) {
                    rate.nameLoc = *nl;
                    rate.hasName = true;
                    const Value name = names->readField(*nl, nameField);
                    if (const std::string* t = name.text()) appendFolded(ix->text, *t);
                    else appendFolded(ix->text, name.asString());
                }
            }
            if (ix->text.size() >= std::numeric_limits<uint32_t>::max())
                throw Error("Названия расценок не умещаются в памяти для поиска.");
            ix->begin.push_back(uint32_t(ix->text.size()));
            ix->rates.push_back(rate);
        }
    }
    ix->text.shrink_to_fit();
    ix_ = std::move(ix);
}

uint32_t RateSearch::listedCount() {
    prepare();
    return uint32_t(ix_->rates.size());
}

namespace {

/** Whether every word of `before` lies inside some word of `now`: what `now` finds is then
 *  among what `before` found. */
bool narrows(const std::vector<std::string>& before, const std::vector<std::string>& now) {
    if (before.empty()) return false;
    for (const auto& w : before)
        if (std::none_of(now.begin(), now.end(), [&](const std::string& n) { return n.find(w) != std::string::npos; }))
            return false;
    return true;
}

}  // namespace

bool RateSearch::matches(uint32_t n, const std::vector<std::string>& words, size_t from) const {
    const char* b = ix_->text.data() + ix_->begin[n];
    const char* codeEnd = b + ix_->rates[n].codeLen;
    const char* e = ix_->text.data() + ix_->begin[n + 1];
    for (size_t w = from; w < words.size(); ++w)
        if (!scanFor(b, codeEnd, words[w]) && !scanFor(codeEnd + 1, e, words[w])) return false;
    return true;
}

std::vector<uint32_t> RateSearch::find(std::string_view query) {
    std::vector<std::string> words = searchWords(query);
    if (words.empty()) return {};
    prepare();
    for (auto& w : words) w = foldSearchText(w);
    // The longest word drives the scan over the whole text: it is found least often.
    std::stable_sort(words.begin(), words.end(), [](const auto& a, const auto& b) { return a.size() > b.size(); });
    std::vector<uint32_t> out;

    // Typing on: when the query only narrows the one before, its rates are looked at alone.
    if (narrows(ix_->lastWords, words) && ix_->lastFound.size() < ix_->rates.size() / 8) {
        for (uint32_t n : ix_->lastFound)
            if (matches(n, words, 0)) out.push_back(n);
        ix_->lastWords = words;
        ix_->lastFound = out;
        return out;
    }

    const std::string& driver = words.front();
    const char* text = ix_->text.data();
    const char* end = text + ix_->text.size();
    const auto& begin = ix_->begin;
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
        const char* codeEnd = text + begin[n] + ix_->rates[n].codeLen;
        const char* e = text + begin[n + 1];
        const char* hitEnd = hit + driver.size();
        // A hit counts only inside the code or inside the name, not across either end.
        if (!(hitEnd <= codeEnd || (hit > codeEnd && hitEnd <= e))) {
            from = hit + 1;
            continue;
        }
        if (matches(uint32_t(n), words, 1)) out.push_back(uint32_t(n));
        from = e;
    }
    ix_->lastWords = words;
    ix_->lastFound = out;
    return out;
}

int64_t RateSearch::rateId(uint32_t n) const { return ix_->rates.at(n).id; }

RateSearch::Place RateSearch::place(uint32_t n) const {
    const auto& r = ix_->rates.at(n);
    const auto& e = ix_->entries[r.entry];
    return {ix_->collections[e.collection].row, e.row, r.row};
}

RateSearchRow RateSearch::row(uint32_t n) const {
    const auto& r = ix_->rates.at(n);
    const auto& e = ix_->entries[r.entry];
    const TableFile* rabmat = base_.Table2.file();
    RateSearchRow out;
    out.id = r.id;
    out.code = textOf(rabmat, r.loc, fld::TAB);
    if (r.hasName) {
        out.firstLine = textOf(base_.Table1.file(), r.nameLoc, fld::NAME);
        const size_t br = out.firstLine.find_first_of("\r\n");
        if (br != std::string::npos) out.firstLine.resize(br);
    }
    if (rabmat) {
        int64_t unit = 0;
        if (linkValue(*rabmat, r.loc, rabmat->fieldIndex(fld::IDEDIZM), unit))
            if (const RecordLoc* ul = findById(ix_->units, unit)) out.unit = textOf(base_.Table8.file(), *ul, fld::NAME);
    }
    out.collection = textOf(base_.Table7.file(), ix_->collections[e.collection].loc, fld::NAME);
    out.entry = textOf(base_.Table6.file(), e.loc, fld::NAME);
    return out;
}

namespace {

/** Moves `t` to row `row` when that row holds `id`, else to the first row that does. */
void moveToRecord(storage::TableHandle& t, int row, int64_t id) {
    const int field = t.fieldIndex(fld::ID);
    auto holds = [&](int r) {
        const Value v = t.valueAt(r, field);
        return !v.isEmpty() && v.asInteger() == id;
    };
    if (field < 0) throw Error("Таблица «" + t.tableName() + "»: нет поля «ID».");
    if (row < 0 || row >= t.recordCount() || !holds(row)) {
        row = -1;
        for (int r = 0, n = t.recordCount(); r < n && row < 0; ++r)
            if (holds(r)) row = r;
        if (row < 0)
            throw Error("Таблица «" + t.tableName() + "»: запись с ID " + std::to_string(id) + " не найдена.");
    }
    t.moveTo(row);
}

}  // namespace

void RateSearch::goTo(uint32_t n) {
    const auto& r = ix_->rates.at(n);
    const auto& e = ix_->entries[r.entry];
    const auto& c = ix_->collections[e.collection];
    moveToRecord(base_.Table7, c.row, c.id);
    moveToRecord(base_.Table6, e.row, e.id);
    moveToRecord(base_.Table2, r.row, r.id);
}

size_t RateSearch::memoryUsed() const {
    if (!ix_) return 0;
    return ix_->text.capacity() + ix_->begin.capacity() * sizeof(uint32_t) +
           ix_->rates.capacity() * sizeof(Index::Rate) + ix_->entries.capacity() * sizeof(Index::Entry) +
           ix_->collections.capacity() * sizeof(Index::Collection) +
           ix_->units.capacity() * sizeof(ix_->units[0]) + ix_->lastFound.capacity() * sizeof(uint32_t);
}

}  // namespace talvira::normbase
