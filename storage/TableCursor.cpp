#include "storage/TableHandleImpl.h"

#include <algorithm>

namespace talvira::storage {

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
    if (d->row + 1 < d->storedCount()) {
        next();
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
    const Record& rec = d->view.recordAt(row);
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
    d->buffer = d->view.recordAt(d->row);
    d->buffer.resize(d->file->fields().size());
    d->original = d->buffer;
    d->setState(State::Edit);
}

void TableHandle::post() {
    d->checkActive();
    if (!d->editing()) return;
    Record rec = d->buffer;
    TableChange change{TableChange::Kind::Posted};
    Record before;
    std::optional<RecordLoc> stored;  // where the record went, when one was written
    if (d->state == State::Insert) {
        d->file->append(rec);
        // The new record is the last in physical order; indexed views find it by its place.
        const uint32_t ord = d->file->recordCount() - 1;
        stored = d->file->locate(ord);
        d->buffer.clear();
        d->original.clear();
        d->state = State::Browse;
        d->reposition(ord, d->view.indexed() ? stored : std::nullopt, d->storedCount());
        change.inserted = true;
    } else if (d->buffer != d->original) {
        const RecordLoc at = d->view.locOf(d->row);
        const uint32_t ord = d->view.indexed() ? 0 : d->view.ordinalOf(d->row);
        stored = d->file->update(at, rec);
        before = std::move(d->original);
        d->buffer.clear();
        d->original.clear();
        d->state = State::Browse;
        d->reposition(ord, stored, d->row);
        change.before = &before;
    } else {
        // Nothing to store: the edit just ends.
        d->buffer.clear();
        d->original.clear();
        d->state = State::Browse;
        d->notify(Impl::Event::State);
        d->notify(Impl::Event::Data);
        d->notify(Impl::Event::Moved);
        return;
    }
    // What the file holds now, as the next reader gets it.
    Record after = d->file->read(*stored);
    after.resize(d->file->fields().size());
    change.row = d->row;
    change.after = &after;
    change.stateChanged = true;
    d->notifyChange(change);
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
    d->removeRow(d->row, d->state == State::Edit, nullptr);
}

void TableHandle::Impl::removeRow(int r, bool wasEdit, const TableObserver* origin) {
    ensureWritable();
    const RecordLoc at = view.locOf(r);
    const uint32_t ord = view.indexed() ? 0 : view.ordinalOf(r);
    const Record removed = wasEdit ? original : storedAt(r);
    file->remove(at);
    buffer.clear();
    original.clear();
    state = State::Browse;
    // The record that followed now takes the removed one's row (or the new last one).
    retake();
    const int n = storedCount();
    row = r;
    if (!view.indexed()) {
        const int found = view.rowOfOrdinal(ord, &row);
        if (found >= 0) row = found;
    }
    if (row >= n) row = n - 1;
    atBof = n == 0;
    atEof = n == 0;
    TableChange change{TableChange::Kind::Deleted, r};
    change.before = &removed;
    change.stateChanged = wasEdit;
    change.origin = origin;
    notifyChange(change);
}

bool TableHandle::modified() const { return d->modified(); }

std::vector<std::string> TableHandle::modifiedFields() const {
    std::vector<std::string> out;
    if (!d->editing()) return out;
    const auto& defs = d->file->fields();
    for (size_t i = 0; i < defs.size() && i < d->buffer.size(); ++i) {
        const bool blank = d->state == State::Insert || i >= d->original.size();
        if (blank ? !d->buffer[i].isEmpty() : !(d->buffer[i] == d->original[i])) out.push_back(defs[i].name);
    }
    return out;
}

// ---- whole records --------------------------------------------------------------------

const std::vector<FieldDef>& TableHandle::tableFields() const {
    static const std::vector<FieldDef> none;
    return d->file ? d->file->fields() : none;
}

int TableHandle::storedCount() const { return d->state == State::Inactive ? 0 : d->storedCount(); }

Record TableHandle::storedRecord(int row) const {
    d->checkActive();
    if (row < 0 || row >= d->storedCount()) d->fail("записи " + std::to_string(row + 1) + " нет.");
    return d->storedAt(row);
}

std::vector<Record> TableHandle::storedRecords() const {
    std::vector<Record> out;
    if (d->state == State::Inactive) return out;
    const int n = d->storedCount();
    out.reserve(size_t(n));
    for (int r = 0; r < n; ++r) out.push_back(d->file->read(d->view.locOf(r)));
    return out;
}

void TableHandle::storeRecord(int row, const Record& rec, const TableObserver* origin) {
    d->checkActive();
    d->checkBrowseMode();
    if (row < 0 || row >= d->storedCount()) d->fail("записи " + std::to_string(row + 1) + " нет.");
    d->ensureWritable();
    const Record before = d->storedAt(row);
    const uint32_t ord = d->view.indexed() ? 0 : d->view.ordinalOf(row);
    const RecordLoc loc = d->file->update(d->view.locOf(row), rec);
    d->reposition(ord, loc, row);
    const Record after = d->storedAt(d->row);
    TableChange change{TableChange::Kind::Posted, d->row};
    change.before = &before;
    change.after = &after;
    change.origin = origin;
    d->notifyChange(change);
}

void TableHandle::insertRecord(int row, const Record& rec, const TableObserver* origin) {
    d->checkActive();
    d->checkBrowseMode();
    if (d->view.indexed() || d->view.filtered()) d->fail("запись ставится на место только в физическом порядке записей.");
    d->ensureWritable();
    const uint32_t ord = uint32_t(std::clamp(row, 0, d->storedCount()));
    Record stored = rec;
    d->file->insert(ord, stored);
    d->reposition(ord, std::nullopt, int(ord));
    TableChange change{TableChange::Kind::Posted, d->row};
    change.inserted = true;
    change.after = &stored;
    change.origin = origin;
    d->notifyChange(change);
}

void TableHandle::appendRecords(const std::vector<Record>& records, const TableObserver* origin) {
    d->checkActive();
    d->checkBrowseMode();
    if (records.empty()) return;
    d->ensureWritable();
    const int first = d->storedCount();
    std::vector<Record> stored;
    stored.reserve(records.size());
    // What was stored is told also when a later record fails.
    auto tell = [&] {
        if (stored.empty()) return;
        d->reposition(d->file->recordCount() - 1, d->view.indexed() ? d->file->last() : std::nullopt, d->storedCount());
        TableChange change{TableChange::Kind::Appended, first, int(stored.size())};
        change.appended = &stored;
        change.origin = origin;
        d->notifyChange(change);
    };
    try {
        for (const Record& r : records) {
            Record copy = r;
            d->file->insert(d->file->recordCount(), copy);
            copy.resize(d->file->fields().size());
            stored.push_back(std::move(copy));
        }
    } catch (...) {
        tell();
        throw;
    }
    tell();
}

void TableHandle::removeRecord(int row, const TableObserver* origin) {
    d->checkActive();
    d->checkBrowseMode();
    if (row < 0 || row >= d->storedCount()) d->fail("записи " + std::to_string(row + 1) + " нет.");
    d->removeRow(row, false, origin);
}

void TableHandle::releaseWriting() {
    if (!d->writable || d->editing()) return;
    try {
        d->setFile(openShared(d->path));
        d->writable = false;
    } catch (...) {
        // The table stays held for writing rather than unread.
    }
}

// ---- display --------------------------------------------------------------------------

void TableHandle::disableControls() { ++d->disabled; }

void TableHandle::enableControls() {
    if (d->disabled == 0) return;
    if (--d->disabled > 0) return;
    const bool active = d->pendingActive, state = d->pendingState;
    d->pendingMoved = d->pendingData = d->pendingState = d->pendingActive = false;
    const bool change = d->pendingChange;
    d->pendingChange = false;
    if (active) d->notify(Impl::Event::Active);
    if (change && d->state != State::Inactive) {
        // The writes meanwhile as one replacement, which tells the rest too.
        TableChange whole;
        whole.stateChanged = state;
        d->notifyChange(whole);
        return;
    }
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
    b.loc = d->view.locOf(d->row);
    return b;
}

void TableHandle::gotoBookmark(const Bookmark& b) {
    d->checkActive();
    if (b.row < 0) return;
    d->checkBrowseMode();
    const int n = d->storedCount();
    int target = -1;
    if (d->view.indexed()) {
        if (b.row < n && b.loc && d->view.locOf(b.row) == *b.loc) target = b.row;
        else if (b.loc) target = d->view.rowOfPlace(*b.loc);
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
