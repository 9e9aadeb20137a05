#include "normbase/RateSearch.h"

#include "common/Error.h"
#include "common/TextFold.h"
#include "normbase/NormBase.h"
#include "normbase/NormBaseFields.h"
#include "normbase/RateCode.h"
#include "normbase/WordForms.h"
#include "storage/Warnings.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>
#include <functional>
#include <future>
#include <limits>
#include <optional>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace talvira::normbase {

using storage::RecordLoc;
using storage::TableFile;
using storage::Value;

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
    std::vector<uint32_t> begin{0};
    WordFormIndex forms;
    // The files read, kept for the rows shown (their pages given back after the reading).
    std::unique_ptr<TableFile> reestr, ogl, rabmat, names, unitFile;
};

/** A query made ready: its folded words, longest first, each with the spellings it is looked
 *  for in and, when word forms apply, its stem. */
struct RateSearch::Query {
    struct Word {
        std::vector<std::string> spellings;
        std::u32string stem;  // empty: no word forms
    };
    std::vector<Word> words;
    bool literal() const {
        return std::all_of(words.begin(), words.end(), [](const Word& w) { return w.spellings.size() == 1; });
    }
};

/** Preparation under way on a thread of its own. */
struct RateSearch::Pending {
    std::shared_ptr<std::atomic<bool>> stop = std::make_shared<std::atomic<bool>>(false);
    std::future<std::unique_ptr<Index>> result;
};

namespace {

constexpr char kFieldSeparator = '\x1F';
/** An empty link or key field: matches nothing. */
constexpr int64_t kNoId = std::numeric_limits<int64_t>::min();

/** Records read between two givings back of the pages read (a few MB of them). */
constexpr size_t kPagesKept = 4096;

/** Thrown inside the preparation when it is to stop. */
struct Stopped {};

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

/** The records of a detail table that the browser lists under a master record: looked up
 *  by the master's ID in the index the detail's handle lists by, in that index's order. */
std::vector<RecordLoc> detailOf(const TableFile& f, const std::string& index, const Value& masterId) {
    if (masterId.isEmpty()) return {};
    return f.lookup(index, {masterId});
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

/** Where the files of the handles are, taken on the thread that owns the handles. */
struct Sources {
    std::string reestr, ogl, rabmat, names, units;
    std::string oglIndex, rabmatIndex;
};

std::string pathIfOpen(const storage::TableHandle& t) { return t.active() ? t.tablePath() : std::string(); }

Sources sourcesOf(NormBase& nb) {
    return {pathIfOpen(nb.Table7), pathIfOpen(nb.Table6), pathIfOpen(nb.Table2), pathIfOpen(nb.Table1),
            pathIfOpen(nb.Table8), nb.Table6.indexName(), nb.Table2.indexName()};
}

std::unique_ptr<TableFile> openReadOnly(const std::string& path) {
    if (path.empty()) return nullptr;
    return storage::tableFileProvider().open(path, storage::OpenMode::ReadOnly);
}

/** The folded text of a field value (ё as е) appended to `out`. */
void appendValue(std::string& out, const Value& v) {
    if (const std::string* t = v.text()) appendFolded(out, *t, Yo::AsE);
    else appendFolded(out, v.asString(), Yo::AsE);
}

/** A listed rate before its name is put beside its code: its place, its entry and its row there,
 *  its code in the codes read (RatesRead). */
struct ListedRate {
    RecordLoc loc;
    uint32_t entry;
    int row;
    int64_t key;  // the order of rates of one entry: the primary key (ID), or the physical order
    int64_t id = kNoId, nameId = kNoId;
    uint32_t codeAt = 0, codeLen = 0;
};

/** The listed rates in browse order and their folded codes, one after another. */
struct RatesRead {
    std::vector<ListedRate> rates;
    std::string codes;
};

/** Field numbers of what the index keeps of a rate. */
struct RateFields {
    int id, name, tab;
    explicit RateFields(const TableFile& rabmat)
        : id(rabmat.fieldIndex(fld::ID)), name(rabmat.fieldIndex(fld::IDNAME)), tab(rabmat.fieldIndex(fld::TAB)) {}
};

/** A link field's value read through `field`; nothing when the field is missing or empty. */
bool linkOf(const TableFile::FieldReader& field, int i, int64_t& out) {
    if (i < 0) return false;
    const Value v = field(i);
    if (v.isEmpty()) return false;
    out = v.asInteger();
    return true;
}

/** What the index keeps of a rate, read with its place; its code appended to `codes`. */
void readRate(const TableFile::FieldReader& field, const RateFields& f, ListedRate& r, std::string& codes) {
    linkOf(field, f.id, r.id);
    linkOf(field, f.name, r.nameId);
    r.codeAt = uint32_t(codes.size());
    if (f.tab >= 0) appendValue(codes, field(f.tab));
    r.codeLen = uint32_t(codes.size() - r.codeAt);
}

bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

/** The rates of the entries as the rates' handle lists them (by the single integer field of
 *  index `index`, ties in primary-key order), found by one pass over the table in its physical
 *  order: a table whose rates lie in another order than the browser's (as other software
 *  writes them) is then read front to back, not block by block all over the file. Nothing when
 *  the index is not of that kind (then the look-ups through the index do it). */
std::optional<RatesRead> ratesInPhysicalOrder(const TableFile& rabmat, const std::string& index,
                                              const std::vector<RateSearch::Index::Entry>& entries,
                                              const std::atomic<bool>& stop) {
    const storage::IndexInfo* info = nullptr;
    for (const auto& ix : rabmat.indexes())
        if (!ix.primary && sameName(ix.name, index)) info = &ix;
    if (!info || !info->setAside.empty() || info->fields.size() != 1) return std::nullopt;
    const int field = rabmat.fieldIndex(info->fields.front());
    if (field < 0) return std::nullopt;
    const auto type = rabmat.fields()[size_t(field)].type;
    if (type != storage::FieldType::Long && type != storage::FieldType::Short && type != storage::FieldType::AutoInc)
        return std::nullopt;
    const bool keyedById = rabmat.info().keyFields == 1 && sameName(rabmat.fields().front().name, fld::ID);
    const RateFields fields(rabmat);
    // The entries by ID (an ID given twice lists its rates under both).
    std::vector<std::pair<int64_t, uint32_t>> byEntryId;
    for (uint32_t e = 0; e < entries.size(); ++e)
        if (entries[e].id != kNoId) byEntryId.emplace_back(entries[e].id, e);
    std::sort(byEntryId.begin(), byEntryId.end());
    RatesRead out;
    auto& rates = out.rates;
    rates.reserve(rabmat.recordCount());  // at most every record, without the copies of growing
    int64_t ordinal = 0;
    rabmat.scanRecords([&](RecordLoc loc, const TableFile::FieldReader& read) {
        const int64_t at = ordinal++;
        if (at % int64_t(kPagesKept) == 0 && stop) throw Stopped();
        int64_t v = 0;
        if (!linkOf(read, field, v)) return;
        auto it = std::lower_bound(byEntryId.begin(), byEntryId.end(), std::pair<int64_t, uint32_t>(v, 0));
        if (it == byEntryId.end() || it->first != v) return;
        ListedRate rate{loc, it->second, 0, at};
        readRate(read, fields, rate, out.codes);
        if (keyedById) rate.key = rate.id;
        for (; it != byEntryId.end() && it->first == v; ++it) {
            rates.push_back(rate);
            rates.back().entry = it->second;
        }
    });
    // A total order (the place breaks what ties remain), so no buffer of a stable sort is needed.
    std::sort(rates.begin(), rates.end(), [](const ListedRate& a, const ListedRate& b) {
        if (a.entry != b.entry) return a.entry < b.entry;
        if (a.key != b.key) return a.key < b.key;
        return a.loc.block != b.loc.block ? a.loc.block < b.loc.block : a.loc.slot < b.loc.slot;
    });
    for (size_t i = 0; i < rates.size(); ++i)
        rates[i].row = i > 0 && rates[i - 1].entry == rates[i].entry ? rates[i - 1].row + 1 : 0;
    return out;
}

/** The same through the index, entry by entry. */
RatesRead ratesByLookup(const TableFile& rabmat, const std::string& index, const std::vector<Value>& entryIds,
                        const std::atomic<bool>& stop) {
    const RateFields fields(rabmat);
    RatesRead out;
    for (uint32_t e = 0; e < entryIds.size(); ++e) {
        if (stop) throw Stopped();
        int r = 0;
        for (RecordLoc loc : detailOf(rabmat, index, entryIds[e])) {
            out.rates.push_back({loc, e, r++, 0});
            readRate([&](int i) { return rabmat.readField(loc, i); }, fields, out.rates.back(), out.codes);
            if (out.rates.size() % kPagesKept == 0) rabmat.releasePages();
        }
    }
    return out;
}

/** The folded names of the name table, read in its physical order (as its records and their
 *  memos lie in the files), by ID. */
struct NamesRead {
    struct Name {
        int64_t id;
        RecordLoc loc;
        uint32_t at, len;  // in text; at == kUnreadable: len is the number of the failure
    };
    static constexpr uint32_t kUnreadable = std::numeric_limits<uint32_t>::max();
    std::vector<Name> byId;  // records of equal ID in physical order
    std::string text;
    std::vector<std::string> failures;  // why a name could not be read

    /** The name with ID `id` (the first of equal IDs), nullptr when none. */
    const Name* find(int64_t id) const {
        auto it = std::lower_bound(byId.begin(), byId.end(), id, [](const Name& n, int64_t k) { return n.id < k; });
        return it != byId.end() && it->id == id ? &*it : nullptr;
    }
};

NamesRead readNames(const TableFile* names, const std::function<bool()>& stopped) {
    NamesRead out;
    const int idField = names ? names->fieldIndex(fld::ID) : -1, nameField = names ? names->fieldIndex(fld::NAME) : -1;
    if (idField < 0 || nameField < 0) return out;
    out.byId.reserve(names->recordCount());
    size_t count = 0;
    names->scanRecords([&](RecordLoc loc, const TableFile::FieldReader& read) {
        if (++count % kPagesKept == 0) {
            if (stopped()) throw Stopped();
            names->releasePages();  // of the memos
        }
        int64_t id = 0;
        if (!linkOf(read, idField, id)) return;
        const auto at = out.text.size();
        try {
            appendValue(out.text, read(nameField));
        } catch (const Error& e) {  // counts only when a listed rate has this name
            out.text.resize(at);
            out.byId.push_back({id, loc, NamesRead::kUnreadable, uint32_t(out.failures.size())});
            out.failures.push_back(e.what());
            return;
        }
        if (out.text.size() >= std::numeric_limits<uint32_t>::max())
            throw Error("Названия расценок не умещаются в памяти для поиска.");
        out.byId.push_back({id, loc, uint32_t(at), uint32_t(out.text.size() - at)});
    });
    names->releasePages();
    auto byKey = [](const NamesRead::Name& a, const NamesRead::Name& b) { return a.id < b.id; };
    if (!std::is_sorted(out.byId.begin(), out.byId.end(), byKey)) std::stable_sort(out.byId.begin(), out.byId.end(), byKey);
    return out;
}

/** Reads the base and builds the index: what the browser lists, in its order, with the folded
 *  code and name of each rate and the stems of the names' words. The rates and the names are
 *  read at once, on two threads. */
std::unique_ptr<RateSearch::Index> buildIndex(const Sources& src, const std::atomic<bool>& stop) {
    using Index = RateSearch::Index;
    auto ix = std::make_unique<Index>();
    ix->reestr = openReadOnly(src.reestr);
    ix->ogl = openReadOnly(src.ogl);
    ix->rabmat = openReadOnly(src.rabmat);
    ix->names = openReadOnly(src.names);
    ix->unitFile = openReadOnly(src.units);
    if (!ix->reestr || !ix->ogl || !ix->rabmat) {  // the browser lists nothing then
        ix->units = byId(ix->unitFile.get());
        ix->forms.finish();
        return ix;
    }
    // The names on a thread of their own, while the rates are read here; it is waited for
    // before anything it reads is let go, and told to stop when this one fails.
    std::atomic<bool> failed{false};
    auto namesRead = std::async(std::launch::async, [names = ix->names.get(), &stop, &failed] {
        storage::QuietWarnings quiet;
        return readNames(names, [&] { return stop || failed; });
    });
    struct StopOnFailure {
        std::atomic<bool>& failed;
        std::future<NamesRead>& names;
        ~StopOnFailure() {
            failed = true;
            if (names.valid()) names.wait();
        }
    } stopOnFailure{failed, namesRead};
    ix->units = byId(ix->unitFile.get());
    const TableFile& reestr = *ix->reestr;
    const TableFile& rabmat = *ix->rabmat;

    // Collections in Table7's order; each collection's entries as Table6 lists them.
    const int reestrId = reestr.fieldIndex(fld::ID), oglId = ix->ogl->fieldIndex(fld::ID);
    std::vector<Value> entryIds;
    int row = 0;
    for (RecordLoc l : defaultOrder(reestr)) {
        const Value id = reestrId < 0 ? Value() : reestr.readField(l, reestrId);
        const auto c = uint32_t(ix->collections.size());
        ix->collections.push_back({id.isEmpty() ? kNoId : id.asInteger(), l, row++});
        int r = 0;
        for (RecordLoc e : detailOf(*ix->ogl, src.oglIndex, id)) {
            entryIds.push_back(oglId < 0 ? Value() : ix->ogl->readField(e, oglId));
            ix->entries.push_back({entryIds.back().isEmpty() ? kNoId : entryIds.back().asInteger(), e, c, r++});
        }
    }
    ix->ogl->releasePages();

    // The rates of each entry as Table2 lists them, with their folded codes; then their names.
    auto inOrder = ratesInPhysicalOrder(rabmat, src.rabmatIndex, ix->entries, stop);
    RatesRead listed = inOrder ? std::move(*inOrder) : ratesByLookup(rabmat, src.rabmatIndex, entryIds, stop);
    rabmat.releasePages();
    NamesRead names = namesRead.get();
    std::vector<const NamesRead::Name*> nameOf(listed.rates.size());
    size_t size = 0;
    for (size_t i = 0; i < listed.rates.size(); ++i) {
        const ListedRate& lr = listed.rates[i];
        nameOf[i] = lr.nameId == kNoId ? nullptr : names.find(lr.nameId);
        if (nameOf[i] && nameOf[i]->at == NamesRead::kUnreadable) throw Error(names.failures[nameOf[i]->len]);
        size += lr.codeLen + 1 + (nameOf[i] ? nameOf[i]->len : 0);
    }
    if (size >= std::numeric_limits<uint32_t>::max()) throw Error("Названия расценок не умещаются в памяти для поиска.");
    ix->text.reserve(size);
    ix->rates.reserve(listed.rates.size());
    ix->begin.reserve(listed.rates.size() + 1);
    for (size_t i = 0; i < listed.rates.size(); ++i) {
        if (i % kPagesKept == 0 && stop) throw Stopped();
        const ListedRate& lr = listed.rates[i];
        const NamesRead::Name* name = nameOf[i];
        ix->text.append(listed.codes, lr.codeAt, lr.codeLen);
        ix->text += kFieldSeparator;
        if (name) ix->text.append(names.text, name->at, name->len);
        ix->forms.addRate(std::string_view(ix->text).substr(ix->text.size() - (name ? name->len : 0)));
        ix->begin.push_back(uint32_t(ix->text.size()));
        ix->rates.push_back({lr.id, lr.loc, name ? name->loc : RecordLoc{}, lr.entry, lr.row, lr.codeLen, name != nullptr});
    }
    names = NamesRead();  // before the word forms are laid out: the peak of the preparation
    listed = RatesRead();
    ix->forms.finish();
    for (const TableFile* f : {ix->reestr.get(), ix->rabmat.get(), ix->names.get(), ix->unitFile.get()})
        if (f) f->releasePages();
    return ix;
}

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

RateSearch::Query makeQuery(std::string_view text, bool exact, RussianStemmer* stemmer) {
    RateSearch::Query q;
    for (const std::string& w : searchWords(text)) {
        RateSearch::Query::Word word;
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
bool holds(const char* from, const char* to, const RateSearch::Query::Word& w) {
    return std::any_of(w.spellings.begin(), w.spellings.end(), [&](const std::string& s) { return scanFor(from, to, s); });
}

}  // namespace

size_t findSearchText(std::string_view text, std::string_view needle) {
    const std::string n(needle);
    const char* hit = scanFor(text.data(), text.data() + text.size(), n);
    return hit ? size_t(hit - text.data()) : std::string_view::npos;
}

// ---------------------------------------------------------------------------------------------
// Preparing
// ---------------------------------------------------------------------------------------------

RateSearch::RateSearch(NormBase& base) : base_(base) {}
RateSearch::~RateSearch() { reset(); }

bool RateSearch::prepared() const {
    return ix_ || (pending_ && pending_->result.wait_for(std::chrono::seconds(0)) == std::future_status::ready);
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
    ix_.reset();
    lastWords_.clear();
    lastFound_.clear();
}

void RateSearch::startPreparing() {
    if (ix_ || pending_) return;
    auto p = std::make_unique<Pending>();
    p->result = std::async(std::launch::async, [src = sourcesOf(base_), stop = p->stop] {
        // The window has shown what these files warn about when it opened them.
        storage::QuietWarnings quiet;
        return buildIndex(src, *stop);
    });
    pending_ = std::move(p);
}

void RateSearch::prepare() {
    if (ix_) return;
    if (pending_) {
        auto p = std::move(pending_);
        ix_ = p->result.get();
        return;
    }
    const std::atomic<bool> never{false};
    ix_ = buildIndex(sourcesOf(base_), never);
}

uint32_t RateSearch::listedCount() {
    prepare();
    return uint32_t(ix_->rates.size());
}

// ---------------------------------------------------------------------------------------------
// Queries
// ---------------------------------------------------------------------------------------------

RateSearch::Found RateSearch::find(std::string_view query) {
    if (searchWords(query).empty()) return {};
    prepare();
    thread_local RussianStemmer stemmer;
    return run(makeQuery(query, false, &stemmer));
}

std::vector<uint32_t> RateSearch::findExact(std::string_view query) {
    if (searchWords(query).empty()) return {};
    prepare();
    return run(makeQuery(query, true, nullptr)).rates;
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
    return std::string_view(ix_->text).substr(ix_->begin.at(n), ix_->rates.at(n).codeLen);
}

RateSearch::Found RateSearch::run(const Query& q) {
    Found found;
    found.rates = exactMatches(q);
    found.exact = found.rates.size();
    formMatches(q, found);
    return found;
}

std::vector<uint32_t> RateSearch::exactMatches(const Query& q) {
    const char* text = ix_->text.data();
    auto holdsAll = [&](uint32_t n, size_t from) {
        const char* b = text + ix_->begin[n];
        const char* codeEnd = b + ix_->rates[n].codeLen;
        const char* e = text + ix_->begin[n + 1];
        for (size_t w = from; w < q.words.size(); ++w)
            if (!holds(b, codeEnd, q.words[w]) && !holds(codeEnd + 1, e, q.words[w])) return false;
        return true;
    };
    std::vector<uint32_t> out;

    // Typing on: when the query only narrows the one before, its rates are looked at alone.
    std::vector<std::string> words;
    if (q.literal())
        for (const auto& w : q.words) words.push_back(w.spellings[0]);
    if (narrows(lastWords_, words) && lastFound_.size() < ix_->rates.size() / 8) {
        for (uint32_t n : lastFound_)
            if (holdsAll(n, 0)) out.push_back(n);
        lastWords_ = std::move(words);
        lastFound_ = out;
        return out;
    }

    // Each spelling of the longest word is scanned for over the whole text.
    const char* end = text + ix_->text.size();
    const auto& begin = ix_->begin;
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
            const char* codeEnd = text + begin[n] + ix_->rates[n].codeLen;
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

void RateSearch::formMatches(const Query& q, Found& found) const {
    if (std::all_of(q.words.begin(), q.words.end(), [](const Query::Word& w) { return w.stem.empty(); })) return;
    const size_t count = ix_->rates.size();
    // For each word with forms, the rates whose names hold one of them.
    std::vector<std::vector<bool>> byForms(q.words.size());
    std::vector<bool> candidate(count);
    bool any = false;
    for (size_t w = 0; w < q.words.size(); ++w) {
        if (q.words[w].stem.empty()) continue;
        byForms[w].resize(count);
        for (uint32_t s : ix_->forms.stemsNear(q.words[w].stem)) {
            auto [lo, hi] = ix_->forms.ratesOf(s);
            for (const uint32_t* r = lo; r != hi; ++r) byForms[w][*r] = candidate[*r] = any = true;
        }
    }
    if (!any) return;
    for (uint32_t n : found.rates) candidate[n] = false;  // found exactly already
    const char* text = ix_->text.data();
    for (uint32_t n = 0; n < count; ++n) {
        if (!candidate[n]) continue;
        const char* b = text + ix_->begin[n];
        const char* codeEnd = b + ix_->rates[n].codeLen;
        const char* e = text + ix_->begin[n + 1];
        bool all = true;
        for (size_t w = 0; w < q.words.size() && all; ++w)
            all = (!byForms[w].empty() && byForms[w][n]) || holds(b, codeEnd, q.words[w]) || holds(codeEnd + 1, e, q.words[w]);
        if (all) found.rates.push_back(n);
    }
}

// ---------------------------------------------------------------------------------------------
// Rows and the walk
// ---------------------------------------------------------------------------------------------

int64_t RateSearch::rateId(uint32_t n) const { return ix_->rates.at(n).id; }

RateSearch::Place RateSearch::place(uint32_t n) const {
    const auto& r = ix_->rates.at(n);
    const auto& e = ix_->entries[r.entry];
    return {ix_->collections[e.collection].row, e.row, r.row};
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
Hit firstHit(const std::vector<std::string_view>& lines, const RateSearch::Query& q, RussianStemmer& stemmer) {
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
    const auto& r = ix_->rates.at(n);
    const auto& e = ix_->entries[r.entry];
    const TableFile* rabmat = ix_->rabmat.get();
    RateSearchRow out;
    out.id = r.id;
    out.code = textOf(rabmat, r.loc, fld::TAB);
    if (r.hasName) {
        const std::string name = textOf(ix_->names.get(), r.nameLoc, fld::NAME);
        thread_local RussianStemmer stemmer;
        const auto lines = nameLines(name);
        out.name = std::string(lines.front());
        const Hit hit = firstHit(lines, makeQuery(query, false, &stemmer), stemmer);
        out.line = std::string(lines[hit.line]);
        if (hit.at != std::string_view::npos && (hit.line > 0 || codePoints(out.line.substr(0, hit.at)) >= kNameShown))
            out.excerpt = excerptFrom(lines[hit.line], hit.at);
    }
    if (rabmat) {
        int64_t unit = 0;
        if (linkValue(*rabmat, r.loc, rabmat->fieldIndex(fld::IDEDIZM), unit))
            if (const RecordLoc* ul = findById(ix_->units, unit)) out.unit = textOf(ix_->unitFile.get(), *ul, fld::NAME);
    }
    out.collection = textOf(ix_->reestr.get(), ix_->collections[e.collection].loc, fld::NAME);
    out.entry = textOf(ix_->ogl.get(), e.loc, fld::NAME);
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
           ix_->collections.capacity() * sizeof(Index::Collection) + ix_->units.capacity() * sizeof(ix_->units[0]) +
           ix_->forms.memoryUsed() + lastFound_.capacity() * sizeof(uint32_t);
}

}  // namespace talvira::normbase
