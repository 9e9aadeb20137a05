#pragma once
/**
 * The inside of a table handle, private to storage/: the handle's state (the view over an
 * index or the physical order with its master key and filter, the row cache, the edit buffer)
 * and the helpers its sources share. TableHandle.cpp holds set-up, filter, open and close;
 * TableCursor.cpp moves, fields, edits, positions and observers; TableRegistry.cpp the
 * providers and the files shared by read-only handles.
 *
 *   d->retake(); d->toFirst(); d->notify(Impl::Event::Moved);
 */
#include "storage/TableHandle.h"

#include "common/Error.h"
#include "common/NumberText.h"
#include "storage/FieldValue.h"
#include "storage/FileNames.h"
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


inline std::string joinPath(const std::string& dir, const std::string& name) {
    if (dir.empty()) return name;
    const char last = dir.back();
    return (last == '/' || last == '\\') ? dir + name : dir + "/" + name;
}

/** The file name of a table: the name as given when it ends in ".DB" (any case), otherwise
 *  the name with ".DB" added. A dot inside the name ("Дом 1.5") is part of the name. */
inline std::string tableFileName(const std::string& name) {
    if (name.size() >= 3 && sameName(name.substr(name.size() - 3), ".db")) return name;
    return name + ".DB";
}

/** A table name must name a file in the handle's directory: no separator, no NUL, and not
 *  "." or "..", so that a typed name can never reach outside that directory. */
inline void checkTableName(const std::string& name) {
    const bool bad = name.find('/') != std::string::npos || name.find('\0') != std::string::npos ||
                     name == "." || name == ".." || name == "..DB" || name == "...DB";
    if (bad) throw Error("Недопустимое имя таблицы «" + name + "»: имя не может содержать «/» и не может быть «.» или «..».");
}

inline std::vector<std::string> splitFields(const std::string& s) {
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

inline bool compatible(BoundKind k, FieldType t) {
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

inline const char* boundKindName(BoundKind k) {
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
inline void throwSetAsideUnnamed(const TableFile& f) {
    for (const auto& i : f.indexes())
        if (!i.setAside.empty() && i.name.empty()) throw Error(i.setAside);
}

/** The read-only file of `path`, shared by every handle that reads it (TableRegistry.cpp). */
std::shared_ptr<TableFile> openShared(const std::string& path);

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
    bool pendingMoved = false, pendingData = false, pendingState = false, pendingActive = false, pendingChange = false;

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
            if (sameName(fields[i].name, name)) return static_cast<int>(i);
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

    /** Tells the observers what a write changed; while the display is suspended the changes
     *  are told as one Replaced at its end. */
    void notifyChange(const TableChange& c) {
        if (disabled > 0) {
            pendingChange = true;
            return;
        }
        const auto copy = observers;
        for (TableObserver* o : copy)
            if (std::find(observers.begin(), observers.end(), o) != observers.end()) o->tableChanged(*self, c);
    }

    /** The stored record at `row` of the view, whole. */
    Record storedAt(int r) const {
        Record rec = recordAt(r);
        rec.resize(file->fields().size());
        return rec;
    }

    /** Sets up the field list and the view over the file at `path` (no notification); on
     *  failure the handle is left closed. TableHandle.cpp. */
    void attach();

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

}  // namespace talvira::storage
