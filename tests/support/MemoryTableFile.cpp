#include "tests/support/MemoryTableFile.h"

#include "common/Error.h"

#include <algorithm>
#include <cctype>
#include <numeric>

namespace talvira::test {

using storage::FieldDef;
using storage::FieldType;
using storage::IndexInfo;
using storage::OpenMode;
using storage::Record;
using storage::RecordLoc;
using storage::Value;

namespace {

bool iequal(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string joinPath(const std::string& dir, const std::string& name) {
    if (dir.empty()) return name;
    const char last = dir.back();
    return (last == '/' || last == '\\') ? dir + name : dir + "/" + name;
}

// Index order of two values: empty first, then numbers, then date-times, then texts.
int rank(const Value& v) {
    switch (v.kind()) {
    case Value::Kind::Empty: return 0;
    case Value::Kind::Integer:
    case Value::Kind::Float: return 1;
    case Value::Kind::DateTime: return 2;
    default: return 3;
    }
}

std::string upper(const std::string& s) {
    std::string r = s;
    for (auto& c : r) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return r;
}

int compareKey(const Value& a, const Value& b, bool caseInsensitive) {
    const int ra = rank(a), rb = rank(b);
    if (ra != rb) return ra < rb ? -1 : 1;
    switch (ra) {
    case 0: return 0;
    case 1: {
        if (a.kind() == Value::Kind::Integer && b.kind() == Value::Kind::Integer) {
            const auto x = a.asInteger(), y = b.asInteger();
            return x < y ? -1 : (x > y ? 1 : 0);
        }
        const double x = a.asFloat(), y = b.asFloat();
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    case 2: {
        const auto* x = a.asDateTime();
        const auto* y = b.asDateTime();
        if (x->days != y->days) return x->days < y->days ? -1 : 1;
        return x->msOfDay < y->msOfDay ? -1 : (x->msOfDay > y->msOfDay ? 1 : 0);
    }
    default: {
        const int c = caseInsensitive ? upper(*a.text()).compare(upper(*b.text())) : a.text()->compare(*b.text());
        return c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    }
}

}  // namespace

IndexInfo primaryIndex(std::vector<std::string> fields) {
    IndexInfo ix;
    ix.fields = std::move(fields);
    ix.primary = true;
    ix.unique = true;
    ix.file = "memory.PX";
    return ix;
}

IndexInfo secondaryIndex(std::string name, std::vector<std::string> fields, bool caseInsensitive) {
    IndexInfo ix;
    ix.name = std::move(name);
    ix.fields = std::move(fields);
    ix.caseInsensitive = caseInsensitive;
    ix.file = "memory." + ix.name;
    return ix;
}

// ---------------------------------------------------------------------------------------
// MemoryTableFile
// ---------------------------------------------------------------------------------------

MemoryTableFile::MemoryTableFile(std::shared_ptr<MemoryTableData> data, OpenMode mode)
    : data_(std::move(data)), mode_(mode) {
    ++(mode_ == OpenMode::ReadWrite ? data_->writers : data_->readers);
}

MemoryTableFile::~MemoryTableFile() {
    --(mode_ == OpenMode::ReadWrite ? data_->writers : data_->readers);
}

const storage::TableInfo& MemoryTableFile::info() const {
    data_->info.recordCount = static_cast<uint32_t>(data_->records.size());
    data_->info.autoIncrement = data_->lastAutoInc;
    return data_->info;
}
const std::vector<FieldDef>& MemoryTableFile::fields() const { return data_->fields; }

int MemoryTableFile::fieldIndex(std::string_view name) const {
    for (size_t i = 0; i < data_->fields.size(); ++i)
        if (iequal(data_->fields[i].name, name)) return static_cast<int>(i);
    return -1;
}

uint32_t MemoryTableFile::recordCount() const { return static_cast<uint32_t>(data_->records.size()); }
const std::vector<IndexInfo>& MemoryTableFile::indexes() const { return data_->indexes; }

RecordLoc MemoryTableFile::locOf(size_t ordinal) const {
    return RecordLoc{static_cast<uint32_t>(ordinal / data_->recordsPerBlock + 1),
                     static_cast<uint32_t>(ordinal % data_->recordsPerBlock)};
}

size_t MemoryTableFile::ordinalChecked(RecordLoc loc) const {
    if (loc.block == 0 || loc.slot >= data_->recordsPerBlock)
        throw Error("Таблица «" + data_->info.path + "»: неверное место записи.");
    const size_t ord = size_t(loc.block - 1) * data_->recordsPerBlock + loc.slot;
    if (ord >= data_->records.size()) throw Error("Таблица «" + data_->info.path + "»: неверное место записи.");
    return ord;
}

std::optional<RecordLoc> MemoryTableFile::first() const { return locate(0); }
std::optional<RecordLoc> MemoryTableFile::last() const {
    if (data_->records.empty()) return std::nullopt;
    return locOf(data_->records.size() - 1);
}
std::optional<RecordLoc> MemoryTableFile::next(RecordLoc loc) const { return locate(uint32_t(ordinalChecked(loc) + 1)); }
std::optional<RecordLoc> MemoryTableFile::prior(RecordLoc loc) const {
    const size_t o = ordinalChecked(loc);
    if (o == 0) return std::nullopt;
    return locOf(o - 1);
}
std::optional<RecordLoc> MemoryTableFile::locate(uint32_t ordinal) const {
    if (ordinal >= data_->records.size()) return std::nullopt;
    return locOf(ordinal);
}
uint32_t MemoryTableFile::ordinalOf(RecordLoc loc) const { return uint32_t(ordinalChecked(loc)); }

Record MemoryTableFile::read(RecordLoc loc) const {
    ++data_->reads;
    return data_->records[ordinalChecked(loc)];
}

Value MemoryTableFile::readField(RecordLoc loc, int field) const {
    ++data_->reads;
    const Record& r = data_->records[ordinalChecked(loc)];
    if (field < 0 || size_t(field) >= r.size()) return Value();
    return r[size_t(field)];
}

const IndexInfo& MemoryTableFile::findIndex(std::string_view name) const {
    for (const auto& ix : data_->indexes) {
        if (ix.primary && (name.empty() || iequal(ix.name, name))) return ix;
        if (!ix.primary && !name.empty() && iequal(ix.name, name)) return ix;
    }
    throw Error("Таблица «" + data_->info.path + "»: нет индекса «" + std::string(name) + "».");
}

std::vector<size_t> MemoryTableFile::ordered(const IndexInfo& ix) const {
    std::vector<int> cols;
    for (const auto& f : ix.fields) cols.push_back(fieldIndex(f));
    std::vector<int> pk;
    for (const auto& other : data_->indexes)
        if (other.primary)
            for (const auto& f : other.fields) pk.push_back(fieldIndex(f));
    std::vector<size_t> ord(data_->records.size());
    std::iota(ord.begin(), ord.end(), size_t(0));
    const auto& recs = data_->records;
    std::stable_sort(ord.begin(), ord.end(), [&](size_t a, size_t b) {
        for (int c : cols) {
            const int r = compareKey(recs[a][size_t(c)], recs[b][size_t(c)], ix.caseInsensitive);
            if (r) return r < 0;
        }
        for (int c : pk) {
            const int r = compareKey(recs[a][size_t(c)], recs[b][size_t(c)], false);
            if (r) return r < 0;
        }
        return false;
    });
    return ord;
}

std::vector<RecordLoc> MemoryTableFile::lookup(std::string_view index, const std::vector<Value>& key) const {
    ++data_->lookups;
    const IndexInfo& ix = findIndex(index);
    if (key.size() > ix.fields.size())
        throw Error("Таблица «" + data_->info.path + "»: ключ длиннее индекса.");
    std::vector<int> cols;
    for (size_t i = 0; i < key.size(); ++i) cols.push_back(fieldIndex(ix.fields[i]));
    std::vector<RecordLoc> out;
    for (size_t o : ordered(ix)) {
        bool eq = true;
        for (size_t i = 0; i < key.size() && eq; ++i)
            eq = compareKey(data_->records[o][size_t(cols[i])], key[i], ix.caseInsensitive) == 0;
        if (eq) out.push_back(locOf(o));
    }
    return out;
}

std::vector<RecordLoc> MemoryTableFile::scan(std::string_view index) const {
    const IndexInfo& ix = findIndex(index);
    std::vector<RecordLoc> out;
    for (size_t o : ordered(ix)) out.push_back(locOf(o));
    return out;
}

void MemoryTableFile::checkWritable() const {
    if (mode_ != OpenMode::ReadWrite)
        throw Error("Таблица «" + data_->info.path + "» открыта только для чтения.");
    if (data_->failWrites) throw Error("Таблица «" + data_->info.path + "»: ошибка записи (нет места на диске).");
}

RecordLoc MemoryTableFile::append(Record& rec) {
    checkWritable();
    rec.resize(data_->fields.size());
    for (size_t i = 0; i < data_->fields.size(); ++i)
        if (data_->fields[i].type == FieldType::AutoInc) rec[i] = Value::integer(++data_->lastAutoInc);
    data_->records.push_back(rec);
    ++data_->writes;
    return locOf(data_->records.size() - 1);
}

RecordLoc MemoryTableFile::update(RecordLoc loc, const Record& rec) {
    checkWritable();
    const size_t o = ordinalChecked(loc);
    Record r = rec;
    r.resize(data_->fields.size());
    for (size_t i = 0; i < data_->fields.size(); ++i)
        if (data_->fields[i].type == FieldType::AutoInc) r[i] = data_->records[o][i];
    data_->records[o] = std::move(r);
    ++data_->writes;
    return loc;
}

std::optional<RecordLoc> MemoryTableFile::remove(RecordLoc loc) {
    checkWritable();
    const size_t o = ordinalChecked(loc);
    data_->records.erase(data_->records.begin() + std::ptrdiff_t(o));
    ++data_->writes;
    return locate(uint32_t(o));
}

RecordLoc MemoryTableFile::insert(uint32_t ordinal, Record& rec) {
    checkWritable();
    rec.resize(data_->fields.size());
    for (size_t i = 0; i < data_->fields.size(); ++i)
        if (data_->fields[i].type == FieldType::AutoInc) {
            if (rec[i].isEmpty()) rec[i] = Value::integer(++data_->lastAutoInc);
            data_->lastAutoInc = std::max(data_->lastAutoInc, rec[i].asInteger());
        }
    const size_t at = std::min<size_t>(ordinal, data_->records.size());
    data_->records.insert(data_->records.begin() + std::ptrdiff_t(at), rec);
    ++data_->writes;
    return locOf(at);
}

// ---------------------------------------------------------------------------------------
// MemoryTables
// ---------------------------------------------------------------------------------------

MemoryTables::MemoryTables() {
    fallback_ = &storage::tableFileProvider();
    previous_ = storage::setTableFileProvider(this);
}

MemoryTables::~MemoryTables() { storage::setTableFileProvider(previous_); }

MemoryTableData& MemoryTables::add(const std::string& path, std::vector<FieldDef> fields,
                                   std::vector<IndexInfo> indexes, std::vector<Record> records) {
    auto d = std::make_shared<MemoryTableData>();
    d->info.path = path;
    d->info.version = 12;
    d->info.codePage = 1251;
    d->fields = std::move(fields);
    d->indexes = std::move(indexes);
    for (auto& r : records) {
        r.resize(d->fields.size());
        for (size_t i = 0; i < d->fields.size(); ++i)
            if (d->fields[i].type == FieldType::AutoInc && r[i].kind() == Value::Kind::Integer)
                d->lastAutoInc = std::max(d->lastAutoInc, r[i].asInteger());
    }
    d->records = std::move(records);
    for (const auto& ix : d->indexes)
        if (ix.primary) d->info.keyFields = int(ix.fields.size());
    auto& slot = tables_[foldCase(path)];
    slot = d;
    return *slot;
}

MemoryTableData* MemoryTables::find(const std::string& path) {
    auto it = tables_.find(foldCase(path));
    return it == tables_.end() ? nullptr : it->second.get();
}

void MemoryTables::erase(const std::string& path) { tables_.erase(foldCase(path)); }

std::optional<std::string> MemoryTables::resolve(const std::string& dir, const std::string& fileName) const {
    auto it = tables_.find(foldCase(joinPath(dir, fileName)));
    if (it == tables_.end()) return fallback_->resolve(dir, fileName);
    return it->second->info.path;
}

std::unique_ptr<storage::TableFile> MemoryTables::open(const std::string& path, OpenMode mode) {
    auto it = tables_.find(foldCase(path));
    if (it == tables_.end()) return fallback_->open(path, mode);
    const auto& d = *it->second;
    if (d.writers > 0 || (mode == OpenMode::ReadWrite && d.readers > 0))
        throw Error("Таблица «" + path + "» занята другой программой.");
    return std::make_unique<MemoryTableFile>(it->second, mode);
}

void MemoryTables::create(const std::string& path, const std::vector<FieldDef>& fields) {
    if (!dirs_.empty()) {
        const auto slash = path.find_last_of("/\\");
        const std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash);
        bool known = false;
        for (const auto& d : dirs_) known = known || foldCase(d) == foldCase(dir);
        if (!known) throw Error("Не удаётся создать таблицу «" + path + "»: папка не найдена.");
    }
    if (auto* existing = find(path); existing && (existing->writers > 0 || existing->readers > 0))
        throw Error("Таблица «" + path + "» занята другой программой.");
    add(path, fields);
}

}  // namespace talvira::test
