#include "storage/TableHandle.h"

#include "common/Error.h"
#include "common/NumberText.h"
#include "storage/FieldValue.h"
#include "storage/Filter.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <limits>
#include <map>

namespace talvira::storage {

// =======================================================================================
// Private functions
// =======================================================================================

namespace {

bool iequal(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

/** Lower-cases Latin and Cyrillic letters of UTF-8 text, for matching file names. */
std::string foldName(const std::string& s) {
    std::string r;
    r.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) { r += static_cast<char>(std::tolower(c)); continue; }
        if (c == 0xD0 && i + 1 < s.size()) {
            const auto c2 = static_cast<unsigned char>(s[i + 1]);
            if (c2 >= 0x90 && c2 <= 0x9F) { r += '\xD0'; r += static_cast<char>(c2 + 0x20); ++i; continue; }
            if (c2 >= 0xA0 && c2 <= 0xAF) { r += '\xD1'; r += static_cast<char>(c2 - 0x20); ++i; continue; }
            if (c2 == 0x81) { r += "\xD1\x91"; ++i; continue; }
        }
        r += static_cast<char>(c);
    }
    return r;
}

std::string joinPath(const std::string& dir, const std::string& name) {
    if (dir.empty()) return name;
    const char last = dir.back();
    return (last == '/' || last == '\\') ? dir + name : dir + "/" + name;
}

/** The file name of a table: the name as given when it ends in ".DB" (any case), otherwise
 *  the name with ".DB" added. A dot inside the name ("Дом 1.5") is part of the name. */
std::string tableFileName(const std::string& name) {
    if (name.size() >= 3 && iequal(name.substr(name.size() - 3), ".db")) return name;
    return name + ".DB";
}

/** A table name must name a file in the handle's directory: no separator, no NUL, and not
 *  "." or "..", so that a typed name can never reach outside that directory. */
void checkTableName(const std::string& name) {
    const bool bad = name.find('/') != std::string::npos || name.find('\0') != std::string::npos ||
                     name == "." || name == ".." || name == "..DB" || name == "...DB";
    if (bad) throw Error("Недопустимое имя таблицы «" + name + "»: имя не может содержать «/» и не может быть «.» или «..».");
}

std::vector<std::string> splitFields(const std::string& s) {
    std::vector<std::string> out;
    std::string cur;
    for (char c : s) {
        if (c == ';' || c == ',') {
            out.push_back(cur);
            cur.clear();
        } else if (!std::isspace(static_cast<unsigned char>(c))) {
            cur += c;
        }
    }
    out.push_back(cur);
    out.erase(std::remove(out.begin(), out.end(), std::string()), out.end());
    return out;
}

bool compatible(BoundKind k, FieldType t) {
    switch (k) {
    case BoundKind::Integer: return t == FieldType::Long;
    case BoundKind::SmallInt: return t == FieldType::Short;
    case BoundKind::AutoInc: return t == FieldType::AutoInc;
    case BoundKind::Float: return t == FieldType::Number;
    case BoundKind::String: return t == FieldType::Alpha;
    case BoundKind::Memo: return t == FieldType::Memo || t == FieldType::FmtMemo;
    case BoundKind::DateTime: return t == FieldType::Timestamp;
    }
    return false;
}

const char* boundKindName(BoundKind k) {
    switch (k) {
    case BoundKind::Integer: return "целое (Long Integer)";
    case BoundKind::SmallInt: return "короткое целое (Short)";
    case BoundKind::AutoInc: return "автоинкремент";
    case BoundKind::Float: return "числовое (Number)";
    case BoundKind::String: return "алфавитно-цифровое";
    case BoundKind::Memo: return "мемо";
    case BoundKind::DateTime: return "дата-время (Timestamp)";
    }
    return "?";
}

/** An index file too damaged to tell its name may be the one asked for: its message says more
 *  than "no such index". */
void throwSetAsideUnnamed(const TableFile& f) {
    for (const auto& i : f.indexes())
        if (!i.setAside.empty() && i.name.empty()) throw Error(i.setAside);
}

// ---- the Paradox files ----------------------------------------------------------------

class ParadoxFileProvider : public TableFileProvider {
public:
    std::optional<std::string> resolve(const std::string& dir, const std::string& fileName) const override {
        namespace fs = std::filesystem;
        std::error_code ec;
        const std::string direct = joinPath(dir, fileName);
        if (fs::is_regular_file(direct, ec)) return direct;
        const fs::path base = dir.empty() ? fs::path(".") : fs::path(dir);
        const std::string want = foldName(fileName);
        std::optional<std::string> found;
        for (fs::directory_iterator it(base, ec), end; !ec && it != end; it.increment(ec)) {
            const std::string n = it->path().filename().string();
            if (foldName(n) == want && it->is_regular_file(ec)) {
                // Several spellings of one name: take the first in name order, so the choice is stable.
                if (!found || n < *found) found = n;
            }
        }
        if (!found) return std::nullopt;
        return joinPath(dir, *found);
    }
    std::unique_ptr<TableFile> open(const std::string& path, OpenMode mode) override {
        return openParadoxTable(path, mode);
    }
    void create(const std::string& path, const std::vector<FieldDef>& fields) override {
        createParadoxTable(path, fields);
    }
};

ParadoxFileProvider& paradoxProvider() {
    static ParadoxFileProvider p;
    return p;
}

TableFileProvider* g_provider = nullptr;

/** A read-only file, shared with the other handles that have the same table open for
 *  reading (the rate table is read by two handles of the norm base, the name and unit tables
 *  by two each): it is opened and its block chain walked once. A handle that writes opens a
 *  file of its own. */
std::shared_ptr<TableFile> openShared(const std::string& path) {
    static std::map<std::pair<TableFileProvider*, std::string>, std::weak_ptr<TableFile>> open;
    TableFileProvider* provider = &tableFileProvider();
    for (auto it = open.begin(); it != open.end();) it = it->second.expired() ? open.erase(it) : std::next(it);
    auto& slot = open[{provider, path}];
    if (auto shared = slot.lock()) return shared;
    std::shared_ptr<TableFile> fresh = provider->open(path, OpenMode::ReadOnly);
    slot = fresh;
    return fresh;
}

}  // namespace

TableFileProvider& tableFileProvider() { return g_provider ? *g_provider : paradoxProvider(); }

TableFileProvider* setTableFileProvider(TableFileProvider* provider) {
    TableFileProvider* prev = g_provider;
    g_provider = provider;
    return prev;
}

// =======================================================================================
// The handle's state
// =======================================================================================

struct TableHandle::Impl {
    /** Follows the master: re-takes the records when its current record changes. */
    struct MasterLink : TableObserver {
        Impl* detail = nullptr;
        void recordMoved(TableHandle&) override { detail->masterChanged(true); }
        void dataChanged(TableHandle&) override { detail->masterChanged(false); }
        void activeChanged(TableHandle&) override { detail->masterChanged(true); }
    };

    TableHandle* self = nullptr;
    std::string objectName;

    // ---- set-up
    std::string dir, tableName, indexName, indexFieldNames, masterFieldsText;
    TableHandle* master = nullptr;
    std::vector<std::string> masterFields;
    bool readOnly = false;
    std::vector<BoundField> bound;
    std::vector<FieldDef> defs;
    std::vector<IndexInfo> indexDefs;
    std::string filterText;
    Filter filterParsed;  // parsed, not bound
    bool filtered = false;

    MasterLink link;
    std::vector<Impl*> details;
    std::vector<TableObserver*> observers;

    // ---- open table
    std::shared_ptr<TableFile> file;  // read-only files are shared by the handles on one table
    bool writable = false;
    std::string path;
    std::vector<FieldDef> fields;  // the handle's field list
    std::vector<int> cols;         // handle field -> file column
    std::vector<bool> fieldRO;
    bool indexed = false;          // the view follows an index (else physical order)
    std::string lookupIndex;       // index name passed to lookup / scan
    Filter activeFilter;           // bound to the file's fields; empty when not filtering

    // ---- view
    std::vector<RecordLoc> locs;   // indexed view
    std::vector<uint32_t> ords;    // physical view under a filter
    bool filterPhysical = false;   // physical view with a filter: rows are ords
    std::vector<Value> lastKey;    // link values the view was taken with
    bool lastKeyValid = false;
    int row = -1;
    bool atEof = true, atBof = true;
    State state = State::Inactive;
    Record buffer, original;       // edit buffer over the file's fields
    int rowBeforeInsert = -1;

    // ---- display
    int disabled = 0;
    bool pendingMoved = false, pendingData = false, pendingState = false, pendingActive = false;

    // ---- record cache (direct-mapped) and the last physical place found
    struct CacheEntry { bool valid = false; RecordLoc loc; Record rec; };
    mutable std::array<CacheEntry, 64> cache;
    mutable bool seqValid = false;
    mutable uint32_t seqOrd = 0;
    mutable RecordLoc seqLoc;

    // ------------------------------------------------------------------ helpers
    std::string label() const {
        if (!path.empty()) return path;
        if (!tableName.empty()) return joinPath(dir, tableFileName(tableName));
        return objectName;
    }
    [[noreturn]] void fail(const std::string& what) const { throw Error("Таблица «" + label() + "»: " + what); }
    void checkActive() const {
        if (state == State::Inactive) throw Error("Таблица «" + label() + "» закрыта.");
    }

    int storedCount() const {
        if (!file) return 0;
        if (indexed) return static_cast<int>(locs.size());
        if (filterPhysical) return static_cast<int>(ords.size());
        return static_cast<int>(file->recordCount());
    }
    int visibleCount() const { return storedCount() + (state == State::Insert ? 1 : 0); }

    void clearCache() const {
        for (auto& e : cache) e.valid = false;
        seqValid = false;
    }

    RecordLoc locOfRow(int r) const {
        if (indexed) return locs[size_t(r)];
        const uint32_t ord = filterPhysical ? ords[size_t(r)] : uint32_t(r);
        if (seqValid && ord == seqOrd) return seqLoc;
        std::optional<RecordLoc> loc;
        if (seqValid && ord == seqOrd + 1) loc = file->next(seqLoc);
        else if (seqValid && ord + 1 == seqOrd) loc = file->prior(seqLoc);
        if (!loc) loc = file->locate(ord);
        if (!loc) fail("запись " + std::to_string(ord + 1) + " не найдена.");
        seqValid = true;
        seqOrd = ord;
        seqLoc = *loc;
        return *loc;
    }

    const Record& recordAt(int r) const {
        const RecordLoc loc = locOfRow(r);
        auto& e = cache[(size_t(loc.block) * 131u + loc.slot) % cache.size()];
        if (!e.valid || !(e.loc == loc)) {
            e.rec = file->read(loc);
            e.loc = loc;
            e.valid = true;
        }
        return e.rec;
    }

    bool editing() const { return state == State::Edit || state == State::Insert; }
    bool hasCurrent() const { return state == State::Insert || (row >= 0 && row < storedCount()); }

    Value fileValue(int handleField) const {
        const int c = cols[size_t(handleField)];
        if (editing()) return c < int(buffer.size()) ? buffer[size_t(c)] : Value();
        if (row < 0 || row >= storedCount()) return Value();
        const Record& rec = recordAt(row);
        return c < int(rec.size()) ? rec[size_t(c)] : Value();
    }

    int fieldIndexOf(std::string_view name) const {
        for (size_t i = 0; i < fields.size(); ++i)
            if (iequal(fields[i].name, name)) return static_cast<int>(i);
        return -1;
    }
    int requireField(std::string_view name) const {
        const int i = fieldIndexOf(name);
        if (i < 0) fail("нет поля «" + std::string(name) + "».");
        return i;
    }

    // ------------------------------------------------------------------ notifications
    enum class Event { Moved, Data, State, Active };

    void notify(Event e) {
        if (disabled > 0) {
            (e == Event::Moved ? pendingMoved : e == Event::Data ? pendingData : e == Event::State ? pendingState
                                                                                                   : pendingActive) = true;
            return;
        }
        const auto copy = observers;
        for (TableObserver* o : copy) {
            if (std::find(observers.begin(), observers.end(), o) == observers.end()) continue;
            switch (e) {
            case Event::Moved: o->recordMoved(*self); break;
            case Event::Data: o->dataChanged(*self); break;
            case Event::State: o->stateChanged(*self); break;
            case Event::Active: o->activeChanged(*self); break;
            }
        }
    }

    void setState(State s) {
        if (state == s) return;
        state = s;
        notify(Event::State);
    }

    // ------------------------------------------------------------------ view
    /** The link values from the master's current record; nothing when there is none. */
    std::optional<std::vector<Value>> masterKey() const {
        if (!master || !master->active()) return std::nullopt;
        const Impl& m = *master->d;
        if (!m.hasCurrent()) return std::nullopt;
        std::vector<Value> key;
        for (const auto& f : masterFields) {
            const int i = m.fieldIndexOf(f);
            if (i < 0) return std::nullopt;
            Value v = m.fileValue(i);
            if (v.isEmpty()) return std::nullopt;  // an empty link value matches no record
            key.push_back(std::move(v));
        }
        return key;
    }

    bool visible(RecordLoc loc) const {
        return activeFilter.matches([&](int c) { return file->readField(loc, c); });
    }

    /** Takes the records of the view anew (master link, index, filter). No notification. */
    void retake() {
        clearCache();
        locs.clear();
        ords.clear();
        filterPhysical = false;
        if (master) {
            auto key = masterKey();
            lastKey = key ? *key : std::vector<Value>{};
            lastKeyValid = true;
            if (key) locs = file->lookup(lookupIndex, *key);
        } else if (indexed) {
            locs = file->scan(lookupIndex);
        }
        if (activeFilter.empty()) return;
        if (indexed) {
            std::vector<RecordLoc> kept;
            for (const auto& l : locs)
                if (visible(l)) kept.push_back(l);
            locs = std::move(kept);
        } else {
            filterPhysical = true;
            uint32_t ord = 0;
            for (auto l = file->first(); l; l = file->next(*l), ++ord)
                if (visible(*l)) ords.push_back(ord);
        }
    }

    void toFirst() {
        const int n = storedCount();
        row = n > 0 ? 0 : -1;
        atBof = true;
        atEof = n == 0;
    }

    /** Stores or drops the edit in progress before the cursor moves: a changed record is
     *  posted, an unchanged one (a blank new record included) is dropped. */
    void checkBrowseMode() {
        if (!editing()) return;
        if (modified()) self->post();
        else self->cancel();
    }

    bool modified() const {
        if (state == State::Edit) return buffer != original;
        if (state == State::Insert)
            return std::any_of(buffer.begin(), buffer.end(), [](const Value& v) { return !v.isEmpty(); });
        return false;
    }

    void masterChanged(bool force) {
        if (state == State::Inactive) return;
        if (!force) {
            auto key = masterKey();
            const std::vector<Value> k = key ? *key : std::vector<Value>{};
            if (lastKeyValid && k == lastKey) return;
        }
        if (editing()) {
            // The edit belongs to the record that is leaving the view: store or drop it as a
            // move would. A failure here must not stop the master's move, so the edit is then
            // dropped rather than left pointing at a record the view no longer holds.
            try {
                checkBrowseMode();
            } catch (...) {
                state = State::Browse;
                buffer.clear();
                original.clear();
            }
        }
        retake();
        toFirst();
        notify(Event::Moved);
        notify(Event::Data);
    }

    /** After a write: the view taken anew, the cursor on the record at `ord` (physical
     *  views) or `loc` (indexed views), or on the nearest row when it is no longer visible. */
    void reposition(std::optional<uint32_t> ord, std::optional<RecordLoc> loc, int fallbackRow) {
        retake();
        const int n = storedCount();
        int r = -1;
        if (indexed && loc) {
            for (size_t i = 0; i < locs.size(); ++i)
                if (locs[i] == *loc) { r = int(i); break; }
        } else if (!indexed && ord) {
            if (filterPhysical) {
                auto it = std::lower_bound(ords.begin(), ords.end(), *ord);
                if (it != ords.end() && *it == *ord) r = int(it - ords.begin());
                else fallbackRow = int(it - ords.begin());
            } else if (int(*ord) < n) {
                r = int(*ord);
            }
        }
        if (r < 0) r = std::min(fallbackRow, n - 1);
        if (n == 0) r = -1;
        if (r < 0 && n > 0) r = 0;
        row = r;
        atBof = false;
        atEof = n == 0;
    }

    uint32_t ordinalOfRow(int r) const {
        return filterPhysical ? ords[size_t(r)] : uint32_t(r);
    }

    /** Reopens the file for writing the first time the handle writes. Opening read-only
     *  first lets several handles read one table (the rate table is read by two). */
    void ensureWritable() {
        if (readOnly) throw Error("Таблица «" + label() + "» открыта только для чтения.");
        if (writable) return;
        clearCache();
        file.reset();
        try {
            file = tableFileProvider().open(path, OpenMode::ReadWrite);
        } catch (...) {
            try {
                file = openShared(path);
            } catch (...) {
                // The table went away under us: the handle can only close.
                state = State::Inactive;
                locs.clear();
                ords.clear();
                row = -1;
                notify(Event::State);
                notify(Event::Active);
            }
            throw;
        }
        writable = true;
    }

    /** A value made fit for field `f` (storage/FieldValue.h), or talvira::Error naming the table. */
    Value conform(const Value& v, const FieldDef& f) const {
        try {
            return coerceToField(v, f);
        } catch (const FieldValueError& e) {
            fail("поле «" + f.name + "»: " + e.what() + ".");
        }
    }
};

// =======================================================================================
// Public interface
// =======================================================================================

TableHandle::TableHandle() : TableHandle(std::string()) {}

TableHandle::TableHandle(std::string objectName) : d(std::make_unique<Impl>()) {
    d->self = this;
    d->objectName = std::move(objectName);
    d->link.detail = d.get();
}

TableHandle::~TableHandle() {
    if (d->master) {
        auto& md = d->master->d->details;
        md.erase(std::remove(md.begin(), md.end(), d.get()), md.end());
        d->master->removeObserver(&d->link);
    }
    for (Impl* det : d->details) det->master = nullptr;
}

// ---- set-up ---------------------------------------------------------------------------

void TableHandle::setDatabaseName(std::string dir) { d->dir = std::move(dir); }
const std::string& TableHandle::databaseName() const { return d->dir; }
void TableHandle::setTableName(std::string name) { d->tableName = std::move(name); }
const std::string& TableHandle::tableName() const { return d->tableName; }
void TableHandle::setIndexName(std::string index) {
    d->indexName = std::move(index);
    d->indexFieldNames.clear();
}
void TableHandle::setIndexFieldNames(std::string fields) {
    d->indexFieldNames = std::move(fields);
    d->indexName.clear();
}
const std::string& TableHandle::indexName() const { return d->indexName; }
const std::string& TableHandle::indexFieldNames() const { return d->indexFieldNames; }

void TableHandle::setMasterSource(TableHandle* master, std::string masterFields) {
    if (master == this) throw Error("Таблица «" + d->label() + "» не может быть главной для самой себя.");
    for (TableHandle* m = master; m; m = m->d->master)
        if (m == this) throw Error("Таблица «" + d->label() + "»: связь главная-подчинённая замыкается в кольцо.");
    if (d->master) {
        auto& md = d->master->d->details;
        md.erase(std::remove(md.begin(), md.end(), d.get()), md.end());
        d->master->removeObserver(&d->link);
    }
    d->master = master;
    d->masterFieldsText = std::move(masterFields);
    d->masterFields = splitFields(d->masterFieldsText);
    d->lastKeyValid = false;
    if (master) {
        master->d->details.push_back(d.get());
        master->addObserver(&d->link);
    }
}
TableHandle* TableHandle::masterSource() const { return d->master; }
const std::string& TableHandle::masterFields() const { return d->masterFieldsText; }

void TableHandle::setReadOnly(bool ro) { d->readOnly = ro; }
bool TableHandle::readOnly() const { return d->readOnly; }
void TableHandle::setBoundFields(std::vector<BoundField> fields) { d->bound = std::move(fields); }
const std::vector<BoundField>& TableHandle::boundFields() const { return d->bound; }
void TableHandle::setFieldDefs(std::vector<FieldDef> defs) { d->defs = std::move(defs); }
const std::vector<FieldDef>& TableHandle::fieldDefs() const { return d->defs; }
void TableHandle::setIndexDefs(std::vector<IndexInfo> defs) { d->indexDefs = std::move(defs); }
const std::vector<IndexInfo>& TableHandle::indexDefs() const { return d->indexDefs; }
const std::string& TableHandle::objectName() const { return d->objectName; }

std::string TableHandle::tablePath() const {
    if (d->file) return d->path;
    if (d->tableName.empty()) return std::string();
    const std::string fn = tableFileName(d->tableName);
    if (auto found = tableFileProvider().resolve(d->dir, fn)) return *found;
    return joinPath(d->dir, fn);
}

// ---- filter ---------------------------------------------------------------------------

void TableHandle::setFilter(std::string expr) {
    Filter parsed = Filter::parse(expr, d->label());
    if (d->state != State::Inactive && d->filtered) {
        Filter bound = parsed;
        bound.bind(d->file->fields(), d->label());
        d->checkBrowseMode();
        d->filterParsed = std::move(parsed);
        d->filterText = std::move(expr);
        d->activeFilter = std::move(bound);
        d->retake();
        d->toFirst();
        d->notify(Impl::Event::Moved);
        d->notify(Impl::Event::Data);
        return;
    }
    d->filterParsed = std::move(parsed);
    d->filterText = std::move(expr);
}
const std::string& TableHandle::filter() const { return d->filterText; }

void TableHandle::setFiltered(bool on) {
    if (d->state == State::Inactive) {
        d->filtered = on;
        return;
    }
    Filter bound;
    if (on) {
        bound = d->filterParsed;
        bound.bind(d->file->fields(), d->label());
    }
    d->checkBrowseMode();
    d->filtered = on;
    d->activeFilter = std::move(bound);
    d->retake();
    d->toFirst();
    d->notify(Impl::Event::Moved);
    d->notify(Impl::Event::Data);
}
bool TableHandle::filtered() const { return d->filtered; }

// ---- life -----------------------------------------------------------------------------

void TableHandle::open() {
    if (d->state != State::Inactive) return;
    if (d->tableName.empty())
        throw Error("Не задано имя таблицы" + (d->objectName.empty() ? std::string() : " (" + d->objectName + ")") + ".");
    checkTableName(d->tableName);
    const std::string fn = tableFileName(d->tableName);
    auto found = tableFileProvider().resolve(d->dir, fn);
    if (!found) throw Error("Таблица «" + joinPath(d->dir, fn) + "» не найдена.");
    d->path = *found;
    try {
        d->file = openShared(d->path);
        d->writable = false;
        const TableFile& f = *d->file;

        // Field list: the bound fields in their order, checked by name and type; else all.
        d->fields.clear();
        d->cols.clear();
        d->fieldRO.clear();
        if (!d->bound.empty()) {
            for (const auto& b : d->bound) {
                const int c = f.fieldIndex(b.name);
                if (c < 0) d->fail("нет поля «" + b.name + "».");
                const FieldDef& def = f.fields()[size_t(c)];
                if (!compatible(b.kind, def.type))
                    d->fail(std::string("поле «") + b.name + "» имеет тип «" + fieldTypeName(def.type) +
                            "», а должно быть типа «" + boundKindName(b.kind) + "».");
                d->fields.push_back(def);
                d->cols.push_back(c);
                d->fieldRO.push_back(b.readOnly || def.type == FieldType::AutoInc);
            }
        } else {
            d->fields = f.fields();
            for (size_t i = 0; i < d->fields.size(); ++i) {
                d->cols.push_back(int(i));
                d->fieldRO.push_back(d->fields[i].type == FieldType::AutoInc);
            }
        }

        // The order of the view.
        d->indexed = false;
        d->lookupIndex.clear();
        const IndexInfo* ix = nullptr;
        if (!d->indexName.empty()) {
            for (const auto& i : f.indexes())
                if (!i.name.empty() && iequal(i.name, d->indexName) && (!ix || !ix->setAside.empty())) ix = &i;
            if (!ix) throwSetAsideUnnamed(f);
            if (!ix) d->fail("нет индекса «" + d->indexName + "».");
        } else if (!d->indexFieldNames.empty()) {
            const auto want = splitFields(d->indexFieldNames);
            auto sameFields = [&](const IndexInfo& i) {
                if (i.fields.size() != want.size()) return false;
                for (size_t k = 0; k < want.size(); ++k)
                    if (!iequal(i.fields[k], want[k])) return false;
                return true;
            };
            for (const auto& i : f.indexes())
                if (sameFields(i) && (!ix || !ix->setAside.empty() || (i.primary && !ix->primary))) ix = &i;
            if (!ix) throwSetAsideUnnamed(f);
            if (!ix) d->fail("нет индекса по полям «" + d->indexFieldNames + "».");
        } else if (d->master) {
            d->fail("для связи с главной таблицей нужен индекс.");
        } else {
            for (const auto& i : f.indexes())
                if (i.primary) { ix = &i; break; }
        }
        if (ix && !ix->setAside.empty()) throw Error(ix->setAside);  // the index file set aside at opening
        if (ix) {
            d->indexed = true;
            d->lookupIndex = ix->primary ? std::string() : ix->name;
            if (d->master && d->masterFields.size() > ix->fields.size())
                d->fail("связь с главной таблицей задаёт больше полей, чем есть в индексе.");
        }
        if (d->master && d->masterFields.empty()) d->fail("не заданы поля связи с главной таблицей.");
        if (d->master && d->master->active())
            for (const auto& mf : d->masterFields)
                if (d->master->fieldIndex(mf) < 0)
                    throw Error("Таблица «" + d->master->d->label() + "»: нет поля «" + mf +
                                "», по которому с ней связана таблица «" + d->label() + "».");

        d->activeFilter = Filter();
        if (d->filtered) {
            Filter bound = d->filterParsed;
            bound.bind(f.fields(), d->label());
            d->activeFilter = std::move(bound);
        }
        d->state = State::Browse;
        d->buffer.clear();
        d->original.clear();
        d->retake();
        d->toFirst();
    } catch (...) {
        d->file.reset();
        d->state = State::Inactive;
        d->locs.clear();
        d->ords.clear();
        d->row = -1;
        d->path.clear();
        throw;
    }
    d->notify(Impl::Event::Active);
    d->notify(Impl::Event::State);
    d->notify(Impl::Event::Moved);
}

void TableHandle::close() {
    if (d->state == State::Inactive) return;
    d->state = State::Inactive;
    d->buffer.clear();
    d->original.clear();
    d->file.reset();
    d->writable = false;
    d->path.clear();
    d->locs.clear();
    d->ords.clear();
    d->row = -1;
    d->atBof = d->atEof = true;
    d->lastKeyValid = false;
    d->clearCache();
    d->notify(Impl::Event::State);
    d->notify(Impl::Event::Active);
}

bool TableHandle::active() const { return d->state != State::Inactive; }
TableHandle::State TableHandle::state() const { return d->state; }

void TableHandle::createTable() {
    if (d->state != State::Inactive)
        throw Error("Таблица «" + d->label() + "» открыта: её нельзя создать заново, пока она не закрыта.");
    if (d->tableName.empty()) throw Error("Не задано имя создаваемой таблицы.");
    if (d->defs.empty()) throw Error("Таблица «" + d->label() + "»: не заданы поля создаваемой таблицы.");
    checkTableName(d->tableName);
    const std::string fn = tableFileName(d->tableName);
    // An existing table of this name in another letter case is replaced, not doubled.
    const auto existing = tableFileProvider().resolve(d->dir, fn);
    tableFileProvider().create(existing ? *existing : joinPath(d->dir, fn), d->defs);
}

// ---- cursor ---------------------------------------------------------------------------

void TableHandle::first() {
    d->checkActive();
    d->checkBrowseMode();
    d->toFirst();
    d->notify(Impl::Event::Moved);
}

void TableHandle::last() {
    d->checkActive();
    d->checkBrowseMode();
    const int n = d->storedCount();
    d->row = n - 1;
    d->atBof = n == 0;
    d->atEof = n == 0;
    d->notify(Impl::Event::Moved);
}

void TableHandle::next() {
    d->checkActive();
    d->checkBrowseMode();
    const int n = d->storedCount();
    if (d->row + 1 < n) {
        ++d->row;
        d->atBof = d->atEof = false;
        d->notify(Impl::Event::Moved);
    } else {
        d->atEof = true;
        if (n > 0) d->atBof = false;
    }
}

void TableHandle::prior() {
    d->checkActive();
    d->checkBrowseMode();
    if (d->row > 0) {
        --d->row;
        d->atBof = d->atEof = false;
        d->notify(Impl::Event::Moved);
    } else {
        d->atBof = true;
        if (d->storedCount() > 0) d->atEof = false;
    }
}

bool TableHandle::eof() const { return d->state == State::Inactive || (d->state != State::Insert && d->atEof); }
bool TableHandle::bof() const { return d->state == State::Inactive || (d->state != State::Insert && d->atBof); }

bool TableHandle::findNext() {
    d->checkActive();
    d->checkBrowseMode();
    const int n = d->storedCount();
    if (d->row + 1 < n) {
        ++d->row;
        d->atBof = d->atEof = false;
        d->notify(Impl::Event::Moved);
        return true;
    }
    d->atEof = true;
    return false;
}

bool TableHandle::isEmpty() const { return d->state == State::Inactive || d->visibleCount() == 0; }

int TableHandle::recordCount() const { return d->state == State::Inactive ? 0 : d->visibleCount(); }

int TableHandle::recNo() const {
    if (d->state == State::Inactive) return -1;
    if (d->state == State::Insert) return d->storedCount();
    return d->row;
}

void TableHandle::moveTo(int row) {
    d->checkActive();
    if (d->state == State::Insert && row >= d->storedCount()) return;  // already on the new record
    if (d->state == State::Edit && row == d->row) return;
    d->checkBrowseMode();
    const int n = d->storedCount();
    if (n == 0) return;
    row = std::clamp(row, 0, n - 1);
    d->atBof = d->atEof = false;
    if (row == d->row) return;
    d->row = row;
    d->notify(Impl::Event::Moved);
}

// ---- fields ---------------------------------------------------------------------------

int TableHandle::fieldCount() const { return int(d->fields.size()); }

const FieldDef& TableHandle::field(int i) const {
    if (i < 0 || i >= int(d->fields.size()))
        throw Error("Таблица «" + d->label() + "»: нет поля номер " + std::to_string(i) + ".");
    return d->fields[size_t(i)];
}

int TableHandle::fieldIndex(std::string_view name) const { return d->fieldIndexOf(name); }

Value TableHandle::fieldValue(std::string_view name) const {
    d->checkActive();
    return d->fileValue(d->requireField(name));
}

Value TableHandle::fieldValue(int i) const {
    d->checkActive();
    field(i);
    return d->fileValue(i);
}

Value TableHandle::valueAt(int row, int i) const {
    if (d->state == State::Inactive) return Value();
    field(i);
    const int c = d->cols[size_t(i)];
    const bool onEdited = (d->state == State::Insert && row == d->storedCount()) ||
                          (d->state == State::Edit && row == d->row);
    if (onEdited) return c < int(d->buffer.size()) ? d->buffer[size_t(c)] : Value();
    if (row < 0 || row >= d->storedCount()) return Value();
    const Record& rec = d->recordAt(row);
    return c < int(rec.size()) ? rec[size_t(c)] : Value();
}

void TableHandle::setFieldValue(std::string_view name, Value v) {
    d->checkActive();
    setFieldValue(d->requireField(name), std::move(v));
}

void TableHandle::setFieldValue(int i, Value v) {
    d->checkActive();
    const FieldDef& f = field(i);
    if (!d->editing()) d->fail("запись не в режиме правки или добавления; поле «" + f.name + "» не записано.");
    if (d->fieldRO[size_t(i)]) d->fail("поле «" + f.name + "» только для чтения.");
    d->buffer[size_t(d->cols[size_t(i)])] = d->conform(v, f);
    d->notify(Impl::Event::Data);
}

// ---- editing --------------------------------------------------------------------------

void TableHandle::append() {
    d->checkActive();
    d->checkBrowseMode();
    d->ensureWritable();
    d->rowBeforeInsert = d->row;
    d->buffer.assign(d->file->fields().size(), Value());
    d->original = d->buffer;
    d->setState(State::Insert);
    d->notify(Impl::Event::Data);
    d->notify(Impl::Event::Moved);
}

void TableHandle::insert() { append(); }

void TableHandle::edit() {
    d->checkActive();
    if (d->editing()) return;
    if (d->storedCount() == 0) {
        append();
        return;
    }
    d->ensureWritable();
    if (d->row < 0) d->row = 0;
    d->buffer = d->recordAt(d->row);
    d->buffer.resize(d->file->fields().size());
    d->original = d->buffer;
    d->setState(State::Edit);
}

void TableHandle::post() {
    d->checkActive();
    if (!d->editing()) return;
    Record rec = d->buffer;
    if (d->state == State::Insert) {
        d->file->append(rec);
        // The new record is the last in physical order; indexed views find it by its place.
        const uint32_t ord = d->file->recordCount() - 1;
        std::optional<RecordLoc> loc = d->indexed ? d->file->locate(ord) : std::nullopt;
        d->buffer.clear();
        d->original.clear();
        d->state = State::Browse;
        d->reposition(ord, loc, d->storedCount());
    } else {
        if (d->buffer != d->original) {
            const RecordLoc at = d->locOfRow(d->row);
            const uint32_t ord = d->indexed ? 0 : d->ordinalOfRow(d->row);
            const RecordLoc loc = d->file->update(at, rec);
            d->buffer.clear();
            d->original.clear();
            d->state = State::Browse;
            d->reposition(ord, loc, d->row);
        } else {
            d->buffer.clear();
            d->original.clear();
            d->state = State::Browse;
        }
    }
    d->notify(Impl::Event::State);
    d->notify(Impl::Event::Data);
    d->notify(Impl::Event::Moved);
}

void TableHandle::cancel() {
    if (!d->editing()) return;
    const bool wasInsert = d->state == State::Insert;
    d->buffer.clear();
    d->original.clear();
    d->state = State::Browse;
    if (wasInsert) {
        const int n = d->storedCount();
        d->row = n == 0 ? -1 : std::clamp(d->rowBeforeInsert, 0, n - 1);
        d->atBof = d->atEof = n == 0;
    }
    d->notify(Impl::Event::State);
    d->notify(Impl::Event::Data);
    if (wasInsert) d->notify(Impl::Event::Moved);
}

void TableHandle::remove() {
    d->checkActive();
    if (d->state == State::Insert) {
        cancel();
        return;
    }
    if (d->storedCount() == 0 || d->row < 0)
        throw Error("Таблица «" + d->label() + "» пуста: удалять нечего.");
    d->ensureWritable();
    const int r = d->row;
    const RecordLoc at = d->locOfRow(r);
    const uint32_t ord = d->indexed ? 0 : d->ordinalOfRow(r);
    const bool wasEdit = d->state == State::Edit;
    d->file->remove(at);
    d->buffer.clear();
    d->original.clear();
    d->state = State::Browse;
    // The record that followed now takes the removed one's row (or the new last one).
    d->retake();
    const int n = d->storedCount();
    if (!d->indexed && d->filterPhysical) {
        auto it = std::lower_bound(d->ords.begin(), d->ords.end(), ord);
        d->row = int(it - d->ords.begin());
    } else {
        d->row = r;
    }
    if (d->row >= n) d->row = n - 1;
    d->atBof = n == 0;
    d->atEof = n == 0;
    if (wasEdit) d->notify(Impl::Event::State);
    d->notify(Impl::Event::Data);
    d->notify(Impl::Event::Moved);
}

bool TableHandle::modified() const { return d->modified(); }

// ---- display --------------------------------------------------------------------------

void TableHandle::disableControls() { ++d->disabled; }

void TableHandle::enableControls() {
    if (d->disabled == 0) return;
    if (--d->disabled > 0) return;
    const bool active = d->pendingActive, state = d->pendingState;
    d->pendingMoved = d->pendingData = d->pendingState = d->pendingActive = false;
    if (active) d->notify(Impl::Event::Active);
    if (state) d->notify(Impl::Event::State);
    d->notify(Impl::Event::Moved);
    d->notify(Impl::Event::Data);
}

bool TableHandle::controlsDisabled() const { return d->disabled > 0; }

// ---- positions ------------------------------------------------------------------------

Bookmark TableHandle::bookmark() const {
    Bookmark b;
    if (d->state == State::Inactive || d->row < 0 || d->row >= d->storedCount()) return b;
    b.row = d->row;
    b.loc = d->locOfRow(d->row);
    return b;
}

void TableHandle::gotoBookmark(const Bookmark& b) {
    d->checkActive();
    if (b.row < 0) return;
    d->checkBrowseMode();
    const int n = d->storedCount();
    int target = -1;
    if (d->indexed) {
        if (b.row < n && b.loc && d->locs[size_t(b.row)] == *b.loc) target = b.row;
        else if (b.loc)
            for (int i = 0; i < n; ++i)
                if (d->locs[size_t(i)] == *b.loc) { target = i; break; }
    } else if (b.row < n) {
        target = b.row;
    }
    if (target < 0) throw Error("Таблица «" + d->label() + "»: запомненная запись больше не существует.");
    d->atBof = d->atEof = false;
    if (target == d->row) return;
    d->row = target;
    d->notify(Impl::Event::Moved);
}

// ---- observers ------------------------------------------------------------------------

void TableHandle::addObserver(TableObserver* o) {
    if (o && std::find(d->observers.begin(), d->observers.end(), o) == d->observers.end()) d->observers.push_back(o);
}

void TableHandle::removeObserver(TableObserver* o) {
    d->observers.erase(std::remove(d->observers.begin(), d->observers.end(), o), d->observers.end());
}

TableFile* TableHandle::file() const { return d->file.get(); }

}  // namespace talvira::storage
