#include "storage/TableHandleImpl.h"

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
