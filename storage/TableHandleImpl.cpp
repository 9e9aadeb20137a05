#include "storage/TableHandleImpl.h"

#include "storage/FieldValue.h"
#include "storage/FileNames.h"

#include <algorithm>
#include <cctype>

namespace talvira::storage {

// ==== helpers of the handle's sources ==========================================================

std::string joinPath(const std::string& dir, const std::string& name) {
    if (dir.empty()) return name;
    const char last = dir.back();
    return (last == '/' || last == '\\') ? dir + name : dir + "/" + name;
}

std::string tableFileName(const std::string& name) {
    if (name.size() >= 3 && sameName(name.substr(name.size() - 3), ".db")) return name;
    return name + ".DB";
}

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

void throwSetAsideUnnamed(const TableFile& f) {
    for (const auto& i : f.indexes())
        if (!i.setAside.empty() && i.name.empty()) throw Error(i.setAside);
}

// ==== the state ================================================================================

void TableHandle::Impl::MasterLink::recordMoved(TableHandle&) { detail->masterChanged(true); }
void TableHandle::Impl::MasterLink::dataChanged(TableHandle&) { detail->masterChanged(false); }
void TableHandle::Impl::MasterLink::activeChanged(TableHandle&) { detail->masterChanged(true); }

std::string TableHandle::Impl::label() const {
    if (!path.empty()) return path;
    if (!tableName.empty()) return joinPath(dir, tableFileName(tableName));
    return objectName;
}

void TableHandle::Impl::fail(const std::string& what) const { throw Error("Таблица «" + label() + "»: " + what); }

void TableHandle::Impl::checkActive() const {
    if (state == State::Inactive) throw Error("Таблица «" + label() + "» закрыта.");
}

void TableHandle::Impl::setFile(std::shared_ptr<TableFile> f) {
    file = std::move(f);
    view.setFile(file.get());
}

Value TableHandle::Impl::fileValue(int handleField) const {
    const int c = cols[size_t(handleField)];
    if (editing()) return c < int(buffer.size()) ? buffer[size_t(c)] : Value();
    if (row < 0 || row >= storedCount()) return Value();
    const Record& rec = view.recordAt(row);
    return c < int(rec.size()) ? rec[size_t(c)] : Value();
}

int TableHandle::Impl::fieldIndexOf(std::string_view name) const {
    for (size_t i = 0; i < fields.size(); ++i)
        if (sameName(fields[i].name, name)) return static_cast<int>(i);
    return -1;
}

int TableHandle::Impl::requireField(std::string_view name) const {
    const int i = fieldIndexOf(name);
    if (i < 0) fail("нет поля «" + std::string(name) + "».");
    return i;
}

Record TableHandle::Impl::storedAt(int r) const {
    Record rec = view.recordAt(r);
    rec.resize(file->fields().size());
    return rec;
}

Value TableHandle::Impl::conform(const Value& v, const FieldDef& f) const {
    try {
        return coerceToField(v, f);
    } catch (const FieldValueError& e) {
        fail("поле «" + f.name + "»: " + e.what() + ".");
    }
}

// ---- notices -----------------------------------------------------------------------------------

void TableHandle::Impl::notify(Event e) {
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

void TableHandle::Impl::notifyChange(TableChange c) {
    if (disabled > 0) {
        pendingChange = true;
        pendingState = pendingState || c.stateChanged;
        return;
    }
    c.current = row;
    const auto copy = observers;
    for (TableObserver* o : copy)
        if (std::find(observers.begin(), observers.end(), o) != observers.end()) o->tableChanged(*self, c);
}

void TableHandle::Impl::setState(State s) {
    if (state == s) return;
    state = s;
    notify(Event::State);
}

// ---- rows and cursor ---------------------------------------------------------------------------

std::optional<std::vector<Value>> TableHandle::Impl::masterKey() const {
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

void TableHandle::Impl::retake() {
    if (!master) {
        view.takeAll();
        return;
    }
    const auto key = masterKey();
    lastKey = key ? *key : std::vector<Value>{};
    lastKeyValid = true;
    view.takeKey(key);
}

void TableHandle::Impl::toFirst() {
    const int n = storedCount();
    row = n > 0 ? 0 : -1;
    atBof = true;
    atEof = n == 0;
}

void TableHandle::Impl::checkBrowseMode() {
    if (!editing()) return;
    if (modified()) self->post();
    else self->cancel();
}

bool TableHandle::Impl::modified() const {
    if (state == State::Edit) return buffer != original;
    if (state == State::Insert)
        return std::any_of(buffer.begin(), buffer.end(), [](const Value& v) { return !v.isEmpty(); });
    return false;
}

void TableHandle::Impl::masterChanged(bool force) {
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

void TableHandle::Impl::reposition(std::optional<uint32_t> ord, std::optional<RecordLoc> loc, int fallbackRow) {
    retake();
    const int n = storedCount();
    int r = -1;
    if (view.indexed() && loc) r = view.rowOfPlace(*loc);
    else if (!view.indexed() && ord) r = view.rowOfOrdinal(*ord, &fallbackRow);
    if (r < 0) r = std::min(fallbackRow, n - 1);
    if (n == 0) r = -1;
    if (r < 0 && n > 0) r = 0;
    row = r;
    atBof = false;
    atEof = n == 0;
}

void TableHandle::Impl::ensureWritable() {
    if (readOnly) throw Error("Таблица «" + label() + "» открыта только для чтения.");
    if (writable) return;
    setFile(nullptr);
    try {
        setFile(tableFileProvider().open(path, OpenMode::ReadWrite));
    } catch (...) {
        try {
            setFile(openShared(path));
        } catch (...) {
            // The table went away under us: the handle can only close.
            state = State::Inactive;
            view.clear();
            row = -1;
            notify(Event::State);
            notify(Event::Active);
        }
        throw;
    }
    writable = true;
}

}  // namespace talvira::storage
