#include "storage/TableHandleImpl.h"

#include "storage/FileNames.h"

#include <exception>

namespace talvira::storage {

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
        d->view.setFilter(std::move(bound));
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
    d->view.setFilter(std::move(bound));
    d->retake();
    d->toFirst();
    d->notify(Impl::Event::Moved);
    d->notify(Impl::Event::Data);
}
bool TableHandle::filtered() const { return d->filtered; }

// ---- life -----------------------------------------------------------------------------

void TableHandle::Impl::attach() {
    try {
        setFile(openShared(path));
        writable = false;
        const TableFile& f = *file;

        // Field list: the bound fields in their order, checked by name and type; else all.
        fields.clear();
        cols.clear();
        fieldRO.clear();
        if (!bound.empty()) {
            for (const auto& b : bound) {
                const int c = f.fieldIndex(b.name);
                if (c < 0) fail("нет поля «" + b.name + "».");
                const FieldDef& def = f.fields()[size_t(c)];
                if (!compatible(b.kind, def.type))
                    fail(std::string("поле «") + b.name + "» имеет тип «" + fieldTypeName(def.type) +
                            "», а должно быть типа «" + boundKindName(b.kind) + "».");
                fields.push_back(def);
                cols.push_back(c);
                fieldRO.push_back(b.readOnly || def.type == FieldType::AutoInc);
            }
        } else {
            fields = f.fields();
            for (size_t i = 0; i < fields.size(); ++i) {
                cols.push_back(int(i));
                fieldRO.push_back(fields[i].type == FieldType::AutoInc);
            }
        }

        // The order of the view.
        const IndexInfo* ix = nullptr;
        if (!indexName.empty()) {
            for (const auto& i : f.indexes())
                if (!i.name.empty() && sameName(i.name, indexName) && (!ix || !ix->setAside.empty())) ix = &i;
            if (!ix) throwSetAsideUnnamed(f);
            if (!ix) fail("нет индекса «" + indexName + "».");
        } else if (!indexFieldNames.empty()) {
            const auto want = splitFields(indexFieldNames);
            auto sameFields = [&](const IndexInfo& i) {
                if (i.fields.size() != want.size()) return false;
                for (size_t k = 0; k < want.size(); ++k)
                    if (!sameName(i.fields[k], want[k])) return false;
                return true;
            };
            for (const auto& i : f.indexes())
                if (sameFields(i) && (!ix || !ix->setAside.empty() || (i.primary && !ix->primary))) ix = &i;
            if (!ix) throwSetAsideUnnamed(f);
            if (!ix) fail("нет индекса по полям «" + indexFieldNames + "».");
        } else if (master) {
            fail("для связи с главной таблицей нужен индекс.");
        } else {
            for (const auto& i : f.indexes())
                if (i.primary) { ix = &i; break; }
        }
        if (ix && !ix->setAside.empty()) throw Error(ix->setAside);  // the index file set aside at opening
        if (ix && master && masterFields.size() > ix->fields.size())
            fail("связь с главной таблицей задаёт больше полей, чем есть в индексе.");
        view.setOrder(ix != nullptr, ix && !ix->primary ? ix->name : std::string());
        if (master && masterFields.empty()) fail("не заданы поля связи с главной таблицей.");
        if (master && master->active())
            for (const auto& mf : masterFields)
                if (master->fieldIndex(mf) < 0)
                    throw Error("Таблица «" + master->d->label() + "»: нет поля «" + mf +
                                "», по которому с ней связана таблица «" + label() + "».");

        Filter bf;
        if (filtered) {
            bf = filterParsed;
            bf.bind(f.fields(), label());
        }
        view.setFilter(std::move(bf));
        state = State::Browse;
        buffer.clear();
        original.clear();
        retake();
        toFirst();
    } catch (...) {
        setFile(nullptr);
        view.clear();
        state = State::Inactive;
        row = -1;
        path.clear();
        throw;
    }
}

void TableHandle::open() {
    if (d->state != State::Inactive) return;
    if (d->tableName.empty())
        throw Error("Не задано имя таблицы" + (d->objectName.empty() ? std::string() : " (" + d->objectName + ")") + ".");
    checkTableName(d->tableName);
    const std::string fn = tableFileName(d->tableName);
    auto found = tableFileProvider().resolve(d->dir, fn);
    if (!found) throw Error("Таблица «" + joinPath(d->dir, fn) + "» не найдена.");
    d->path = *found;
    d->attach();
    d->notify(Impl::Event::Active);
    d->notify(Impl::Event::State);
    d->notify(Impl::Event::Moved);
}

void TableHandle::close() {
    if (d->state == State::Inactive) return;
    d->state = State::Inactive;
    d->buffer.clear();
    d->original.clear();
    d->setFile(nullptr);
    d->view.clear();
    d->writable = false;
    d->path.clear();
    d->row = -1;
    d->atBof = d->atEof = true;
    d->lastKeyValid = false;
    d->notify(Impl::Event::State);
    d->notify(Impl::Event::Active);
}

void TableHandle::replaceRecords(const std::vector<FieldDef>& fieldsGiven, const std::vector<Record>& records,
                                 const TableObserver* origin) {
    d->checkActive();
    const std::vector<FieldDef> fields = fieldsGiven;  // may be the open file's, let go below
    if (d->readOnly) throw Error("Таблица «" + d->label() + "» открыта только для чтения.");
    const bool wasEditing = d->editing();
    const std::string path = d->path;
    // The files are let go while the table is replaced; the handle then reads the new one,
    // or the old one again when the replacement was refused.
    d->buffer.clear();
    d->original.clear();
    d->state = State::Browse;
    d->setFile(nullptr);
    d->writable = false;
    std::exception_ptr refused;
    try {
        tableFileProvider().replace(path, fields, records);
    } catch (...) {
        refused = std::current_exception();
    }
    d->path = path;
    try {
        d->attach();
    } catch (...) {
        // Neither table opens any more: the handle can only close.
        d->notify(Impl::Event::State);
        d->notify(Impl::Event::Active);
        if (refused) std::rethrow_exception(refused);
        throw;
    }
    if (refused) {
        if (wasEditing) d->notify(Impl::Event::State);
        d->notify(Impl::Event::Moved);
        std::rethrow_exception(refused);
    }
    TableChange whole;
    whole.stateChanged = wasEditing;
    whole.origin = origin;
    d->notifyChange(whole);
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

}  // namespace talvira::storage
