#include "normbase/RateSearchIndex.h"

#include "common/Error.h"
#include "common/TextFold.h"
#include "normbase/NormBase.h"
#include "normbase/NormBaseFields.h"
#include "normbase/RateSearchQuery.h"
#include "storage/Warnings.h"

#include <algorithm>
#include <cctype>
#include <functional>
#include <future>
#include <mutex>
#include <limits>
#include <optional>

namespace talvira::normbase {

using storage::RecordLoc;
using storage::TableFile;
using storage::Value;

namespace {

/** An empty link or key field: matches nothing. */
constexpr int64_t kNoId = std::numeric_limits<int64_t>::min();

/** Records read between two givings back of the pages read (a few MB of them). */
constexpr size_t kPagesKept = 4096;

/** The places of a table's records in the order a handle without an index holds them: the
 *  primary key's, or the physical order of an unkeyed table. */
std::vector<RecordLoc> defaultOrder(const TableFile& f) {
    for (const auto& ix : f.indexes())
        if (ix.primary) return f.scan("");
    std::vector<RecordLoc> out;
    for (auto l = f.first(); l; l = f.next(*l)) out.push_back(*l);
    return out;
}

}  // namespace

bool searchLinkValue(const TableFile& f, RecordLoc loc, int field, int64_t& out) {
    if (field < 0) return false;
    const Value v = f.readField(loc, field);
    if (v.isEmpty()) return false;
    out = v.asInteger();
    return true;
}

std::string searchFieldText(const TableFile* f, RecordLoc loc, const char* field) {
    if (!f) return {};
    const int i = f->fieldIndex(field);
    return i < 0 ? std::string() : f->readField(loc, i).asString();
}

const RecordLoc* SearchIndex::unitLoc(int64_t id) const {
    auto it = std::lower_bound(units.begin(), units.end(), id, [](const auto& e, int64_t k) { return e.first < k; });
    return it != units.end() && it->first == id ? &it->second : nullptr;
}

size_t SearchIndex::memoryUsed() const {
    return text.capacity() + begin.capacity() * sizeof(uint32_t) + rates.capacity() * sizeof(Rate) +
           entries.capacity() * sizeof(Entry) + collections.capacity() * sizeof(Collection) +
           units.capacity() * sizeof(units[0]) + forms.memoryUsed();
}

namespace {

std::string pathIfOpen(const storage::TableHandle& t) { return t.active() ? t.tablePath() : std::string(); }

}  // namespace

SearchSources searchSourcesOf(NormBase& nb) {
    return {pathIfOpen(nb.Table7), pathIfOpen(nb.Table6), pathIfOpen(nb.Table2), pathIfOpen(nb.Table1),
            pathIfOpen(nb.Table8), nb.Table6.indexName(), nb.Table2.indexName()};
}

namespace {

/** (ID, place) of every record with an ID, by ID; records of equal ID in physical order. */
std::vector<std::pair<int64_t, RecordLoc>> byId(const TableFile* f) {
    std::vector<std::pair<int64_t, RecordLoc>> out;
    if (!f) return out;
    const int id = f->fieldIndex(fld::ID);
    int64_t v = 0;
    for (auto l = f->first(); l; l = f->next(*l))
        if (searchLinkValue(*f, *l, id, v)) out.emplace_back(v, *l);
    auto byKey = [](const auto& a, const auto& b) { return a.first < b.first; };
    if (!std::is_sorted(out.begin(), out.end(), byKey)) std::stable_sort(out.begin(), out.end(), byKey);
    return out;
}


/** The records of a detail table that the browser lists under a master record: looked up
 *  by the master's ID in the index the detail's handle lists by, in that index's order. */
std::vector<RecordLoc> detailOf(const TableFile& f, const std::string& index, const Value& masterId) {
    if (masterId.isEmpty()) return {};
    return f.lookup(index, {masterId});
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
                                              const std::vector<SearchIndex::Entry>& entries,
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
        if (at % int64_t(kPagesKept) == 0 && stop) throw SearchStopped();
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
        if (stop) throw SearchStopped();
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
            if (stopped()) throw SearchStopped();
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

/** Reads the base and lists what the browser lists, in its order, with the folded code and name
 *  of each rate (the word forms follow: layOutForms). The rates and the names are read at once,
 *  on two threads. */
std::unique_ptr<SearchIndex> listRates(const SearchSources& src, const std::atomic<bool>& stop) {
    using Index = SearchIndex;
    auto ix = std::make_unique<Index>();
    ix->reestr = openReadOnly(src.reestr);
    ix->ogl = openReadOnly(src.ogl);
    ix->rabmat = openReadOnly(src.rabmat);
    ix->names = openReadOnly(src.names);
    ix->unitFile = openReadOnly(src.units);
    if (!ix->reestr || !ix->ogl || !ix->rabmat) {  // the browser lists nothing then
        ix->units = byId(ix->unitFile.get());
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
        if (i % kPagesKept == 0 && stop) throw SearchStopped();
        const ListedRate& lr = listed.rates[i];
        const NamesRead::Name* name = nameOf[i];
        ix->text.append(listed.codes, lr.codeAt, lr.codeLen);
        ix->text += kSearchFieldSeparator;
        if (name) ix->text.append(names.text, name->at, name->len);
        ix->begin.push_back(uint32_t(ix->text.size()));
        ix->rates.push_back({lr.id, lr.loc, name ? name->loc : RecordLoc{}, lr.entry, lr.row, lr.codeLen, name != nullptr});
    }
    for (const TableFile* f : {ix->reestr.get(), ix->rabmat.get(), ix->names.get(), ix->unitFile.get()})
        if (f) f->releasePages();
    return ix;
}

/** Lays out the word forms of the listed rates' names, a stretch of rates at a time under the
 *  progress's lock, so that a query can look at what is laid out between two stretches. */
void layOutForms(SearchIndex& ix, const std::atomic<bool>& stop, SearchProgress* progress) {
    const auto count = uint32_t(ix.rates.size());
    const bool hooked = progress && progress->formsHook;
    const uint32_t stretch = hooked ? 1 : 512;  // a hook sees every rate
    for (uint32_t from = 0; from < count; from += stretch) {
        if (stop) throw SearchStopped();
        {
            std::unique_lock<std::mutex> lock;
            if (progress) lock = std::unique_lock(progress->formsMutex);
            for (uint32_t n = from; n < std::min(count, from + stretch); ++n) ix.forms.addRate(ix.nameText(n));
        }
        if (hooked) progress->formsHook(std::min(count, from + stretch));
    }
    std::unique_lock<std::mutex> lock;
    if (progress) lock = std::unique_lock(progress->formsMutex);
    ix.forms.finish();
}

}  // namespace

void SearchProgress::listed(SearchIndex* ix) {
    std::lock_guard lock(mutex_);
    listed_ = ix;
    cv_.notify_all();
}

void SearchProgress::ended() {
    std::lock_guard lock(mutex_);
    ended_ = true;
    cv_.notify_all();
}

SearchIndex* SearchProgress::waitListed() {
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [&] { return listed_ || ended_; });
    return listed_;
}

std::unique_ptr<SearchIndex> buildSearchIndex(const SearchSources& src, const std::atomic<bool>& stop,
                                              SearchProgress* progress) {
    struct Ended {
        SearchProgress* progress;
        ~Ended() {
            if (progress) progress->ended();
        }
    } ended{progress};
    auto ix = listRates(src, stop);
    if (progress) progress->listed(ix.get());
    layOutForms(*ix, stop, progress);
    return ix;
}

}  // namespace talvira::normbase
