#include "storage/ParadoxTable.h"

#include "common/Error.h"
#include "common/NumberText.h"
#include "storage/CodePage.h"
#include "storage/FieldValue.h"
#include "storage/FileNames.h"
#include "storage/Warnings.h"
#include "storage/ValueAccess.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

namespace talvira::storage {

namespace fs = std::filesystem;

// ==== private helpers ==========================================================================

namespace {

bool isBlob(FieldType t) {
    return t == FieldType::Memo || t == FieldType::FmtMemo || t == FieldType::Blob || t == FieldType::Ole ||
           t == FieldType::Graphic;
}
bool isTextBlob(FieldType t) { return t == FieldType::Memo; }  // formatted memos are binary

/** Where one field of a key sits in a record of some file (.DB or .X) or in an encoded key. */
struct Slot {
    int offset = 0;
    int bytes = 0;
    FieldType type = FieldType::Alpha;
};
using Layout = std::vector<Slot>;

Layout packed(const Layout& l) {
    Layout r = l;
    int off = 0;
    for (auto& s : r) {
        s.offset = off;
        off += s.bytes;
    }
    return r;
}

struct Collation {
    int codePage = 1251;
    bool asciiOrder = true;
    bool caseInsensitive = false;
    const std::vector<bool>* desc = nullptr;
};

int compareAlpha(const uint8_t* a, const uint8_t* b, int n, const Collation& c) {
    if (!c.caseInsensitive && c.asciiOrder) return std::memcmp(a, b, static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        uint8_t x = upperByte(a[i], c.codePage), y = upperByte(b[i], c.codePage);
        if (x != y) return x < y ? -1 : 1;
    }
    if (c.caseInsensitive) return 0;
    return std::memcmp(a, b, static_cast<size_t>(n));
}

/** Compares the first `n` key fields of two records. */
int compareFields(const uint8_t* a, const Layout& la, const uint8_t* b, const Layout& lb, size_t n, const Collation& c) {
    for (size_t i = 0; i < n; ++i) {
        const uint8_t* x = a + la[i].offset;
        const uint8_t* y = b + lb[i].offset;
        int r = la[i].type == FieldType::Alpha ? compareAlpha(x, y, la[i].bytes, c)
                                               : std::memcmp(x, y, static_cast<size_t>(la[i].bytes));
        if (r != 0) {
            r = r < 0 ? -1 : 1;
            if (c.desc && i < c.desc->size() && (*c.desc)[i]) r = -r;
            return r;
        }
    }
    return 0;
}

/** Records [first, end) of a sorted chain whose key equals the key (binary search). */
template <class RecAt, class Cmp>
std::vector<RecordLoc> equalRange(const BlockChain& c, RecAt recAt, Cmp cmp) {
    uint64_t lo = 0, hi = c.total();
    while (lo < hi) {
        uint64_t mid = lo + (hi - lo) / 2;
        if (cmp(recAt(*c.locate(mid))) < 0) lo = mid + 1;
        else hi = mid;
    }
    std::vector<RecordLoc> out;
    for (auto l = c.locate(lo); l && cmp(recAt(*l)) == 0; l = c.next(*l)) out.push_back(*l);
    return out;
}

int64_t daysOf(const Value& v) {
    if (const DateTime* t = v.asDateTime()) return t->days;
    return v.asInteger();
}

}  // namespace

// ==== secondary indexes ========================================================================

struct ParadoxTable::Secondary {
    IndexInfo info;
    ParadoxHeader h;
    std::vector<int> dbFields;
    std::vector<bool> desc;
    bool incremental = false;
    Layout xLayout;   // index fields in the X record
    Layout dbLayout;  // the same fields in the table's record
    int pkOffset = 0, pkBytes = 0, hintOffset = 0;
    Layout pkLayout, pkPacked;  // the table's key fields in its records and packed as in the X record
    mutable std::unique_ptr<RawFile> file;
    mutable BlockChain chain;
    mutable bool checked = false;
    mutable bool inMemory = false;
    mutable std::vector<RecordLoc> order;
    mutable bool orderBuilt = false;
};

// ==== opening ==================================================================================

ParadoxTable::ParadoxTable(const std::string& path, OpenMode mode, int codePage) : path_(path) {
    readWrite_ = mode == OpenMode::ReadWrite;
    db_ = RawFile(path, readWrite_);
    h_ = parseParadoxHeader(db_, "Файл таблицы");
    if (h_.fileType != 0 && h_.fileType != 2)
        throw Error("Файл «" + path + "» не является таблицей Paradox (это файл индекса)");
    if (codePage != 0 && !isKnownCodePage(codePage))
        throw Error("Кодовая страница " + std::to_string(codePage) + " не поддерживается");
    guessCodePage(codePage);

    for (int i = 0; i < h_.numFields; ++i) {
        const RawField& rf = h_.fields[static_cast<size_t>(i)];
        FieldDef d;
        d.name = toUtf8(h_.rawNames[static_cast<size_t>(i)], info_.codePage);
        d.type = rf.type;
        if (rf.type == FieldType::Alpha || rf.type == FieldType::Bytes) d.size = rf.sizeByte;
        else if (isBlob(rf.type)) d.size = rf.bytes - 10;
        else if (rf.type == FieldType::BCD) d.size = rf.sizeByte;
        if (rf.type == FieldType::AutoInc && autoIncField_ < 0) autoIncField_ = i;
        if (isBlob(rf.type)) hasBlobFields_ = true;
        fields_.push_back(std::move(d));
    }
    asciiOrder_ = h_.sortOrderId.empty() ? h_.sortOrder == 0 : foldCase(h_.sortOrderId) == "ascii";

    info_.path = path;
    info_.version = h_.version;
    info_.recordCount = h_.numRecords > 0 ? static_cast<uint32_t>(h_.numRecords) : 0;
    info_.blockSize = h_.blockSize;
    info_.recordSize = static_cast<uint32_t>(h_.recordSize);
    info_.keyFields = h_.keyFields;
    info_.autoIncrement = h_.autoInc;

    if (hasBlobFields_) {
        std::string mb = findCompanion(path, ".MB");
        if (mb.empty()) {
            warn("Файл мемо-полей таблицы «" + path +
                           "» не найден: мемо-поля показаны только частью, хранящейся в записи");
        } else {
            mb_ = MemoFile(mb, readWrite_ && db_.writable());
            info_.hasMemoFile = true;
        }
    }
    findIndexes();
    // A writer holds the table alone; indexed tables are never written here, so their readers
    // (and the cursors of a second copy of the program) only share it.
    lock_ = std::make_unique<TableLock>(path, db_.fd(), readWrite_ && db_.writable() && !hasIndexFiles_);
}

ParadoxTable::~ParadoxTable() = default;

void ParadoxTable::corrupt(const std::string& why) const {
    throw Error("Файл таблицы «" + path_ + "» повреждён: " + why);
}

void ParadoxTable::guessCodePage(int forced) {
    info_.headerCodePage = h_.codePage;
    if (forced) {
        info_.codePage = forced;
        return;
    }
    CodePageGuess g;
    for (const auto& n : h_.rawNames) g.add(n);
    // A sample of the text from the first blocks of the chain; a broken chain only ends the sample.
    const uint64_t hs = static_cast<uint64_t>(h_.headerSize);
    uint32_t b = h_.firstBlock;
    int blocks = 0, records = 0;
    while (b != 0 && blocks < 16 && records < 1000) {
        ++blocks;
        const uint8_t* p = db_.at(hs + uint64_t(b - 1) * h_.blockSize, 6);
        if (!p) break;
        int16_t add = static_cast<int16_t>(le16(p + 4));
        int count = add >= 0 && add % h_.recordSize == 0 ? add / h_.recordSize + 1 : 0;
        const uint8_t* recs = db_.at(hs + uint64_t(b - 1) * h_.blockSize + 6, uint64_t(count) * h_.recordSize);
        if (!recs) break;
        for (int r = 0; r < count; ++r, ++records) {
            const uint8_t* rec = recs + r * h_.recordSize;
            for (const RawField& f : h_.fields) {
                const char* s = reinterpret_cast<const char*>(rec + f.offset);
                if (f.type == FieldType::Alpha) {
                    g.add(std::string_view(s, strnlen(s, static_cast<size_t>(f.bytes))));
                } else if (isTextBlob(f.type)) {
                    const int leader = f.bytes - 10;
                    uint32_t len = le32(rec + f.offset + leader + 4);
                    g.add(std::string_view(s, std::min<uint32_t>(len, static_cast<uint32_t>(leader))));
                }
            }
        }
        b = le16(p);
    }
    info_.codePage = g.decide(h_.codePage);
}

void ParadoxTable::findIndexes() {
    if (h_.keyFields > 0) {
        IndexInfo pi;
        pi.primary = true;
        pi.unique = true;
        for (int i = 0; i < h_.keyFields; ++i) pi.fields.push_back(fields_[static_cast<size_t>(i)].name);
        pi.file = findCompanion(path_, ".PX");
        if (!pi.file.empty()) hasIndexFiles_ = true;
        indexes_.push_back(std::move(pi));
    }
    fs::path p(path_);
    fs::path dir = p.parent_path().empty() ? fs::path(".") : p.parent_path();
    const std::string stem = foldCase(p.stem().string()) + ".";
    std::vector<std::string> found;
    std::error_code ec;
    for (auto it = fs::directory_iterator(dir, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::string name = it->path().filename().string();
        std::string ln = foldCase(name);
        if (ln.size() != stem.size() + 3 || ln.compare(0, stem.size(), stem) != 0) continue;
        std::string ext = ln.substr(stem.size());
        auto hex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
        bool xnn = ext[0] == 'x' && hex(ext[1]) && hex(ext[2]);
        bool xgn = ext[0] == 'x' && ext[1] == 'g' && hex(ext[2]);
        if (xnn || xgn) found.push_back(it->path().string());
    }
    std::sort(found.begin(), found.end());
    for (const std::string& xp : found) {
        try {
            auto s = readSecondary(xp);
            hasIndexFiles_ = true;
            indexes_.push_back(s->info);
            secondary_.push_back(std::move(s));
        } catch (const Error& e) {
            // The table works without it; only asking for this index fails, with this message.
            IndexInfo aside = setAsideInfo(xp);
            aside.setAside = e.what();
            hasIndexFiles_ = true;
            warn("Таблица «" + path_ + "» открыта без индекса «" + xp + "»: " + e.what());
            setAside_.push_back(std::move(aside));
        }
    }
    indexes_.insert(indexes_.end(), setAside_.begin(), setAside_.end());
}

IndexInfo ParadoxTable::setAsideInfo(const std::string& xp) const {
    // What can be told of an index whose file cannot be used: its name and fields from its
    // header when that reads, else a single-field .Xnn is named after field nn.
    IndexInfo info;
    info.file = xp;
    try {
        RawFile xf(xp, false, "Файл индекса");
        ParadoxHeader xh = parseParadoxHeader(xf, "Файл индекса");
        const int tail = h_.keyFields > 0 ? h_.keyFields + 1 : 3;
        const bool composite = xh.fileType == 6 || xh.fileType == 8;
        for (int i = 0; i < xh.numFields - tail && i < static_cast<int>(xh.rawNames.size()); ++i)
            info.fields.push_back(toUtf8(xh.rawNames[static_cast<size_t>(i)], info_.codePage));
        if (composite) info.name = toUtf8(xh.indexName, info_.codePage);
        else if (!info.fields.empty()) info.name = info.fields.front();
        if (!info.name.empty()) return info;
    } catch (const Error&) {
    }
    const std::string ext = foldCase(fs::path(xp).extension().string());
    if (ext.size() == 4 && ext[1] == 'x' && ext[2] != 'g') {
        const int n = std::stoi(ext.substr(2), nullptr, 16) - 1;
        if (n >= 0 && n < h_.numFields) {
            info.name = fields_[static_cast<size_t>(n)].name;
            info.fields = {info.name};
        }
    }
    return info;
}

int ParadoxTable::matchIndexField(const ParadoxHeader& xh, int i, const std::function<Error(const std::string&)>& bad) const {
    // By the name the index header carries (letter case ignored), then type and size; the
    // field number only where there is no name to go by, or to choose between equal names.
    // (BDE has been seen writing composite indexes whose numbers are one lower than their names.)
    const RawField& xf = xh.fields[static_cast<size_t>(i)];
    const int byNumber = (xh.fieldNumbers[static_cast<size_t>(i)] & 0x7FFF) - 1;
    auto fits = [&](int db) {
        const RawField& df = h_.fields[static_cast<size_t>(db)];
        return df.type == xf.type && df.bytes == xf.bytes;
    };
    const std::string name = xh.hasNames && i < static_cast<int>(xh.rawNames.size())
                                 ? toUtf8(xh.rawNames[static_cast<size_t>(i)], info_.codePage)
                                 : std::string();
    std::vector<int> named;
    if (!name.empty())
        for (int db = 0; db < h_.numFields; ++db)
            if (sameName(fields_[static_cast<size_t>(db)].name, name)) named.push_back(db);
    if (!named.empty()) {
        int db = named.front();
        if (std::find(named.begin(), named.end(), byNumber) != named.end()) db = byNumber;
        if (!fits(db)) throw bad("тип поля «" + fields_[static_cast<size_t>(db)].name + "» другой");
        return db;
    }
    if (byNumber < 0 || byNumber >= h_.numFields) throw bad("поле индекса вне таблицы");
    if (!fits(byNumber)) throw bad("тип поля «" + fields_[static_cast<size_t>(byNumber)].name + "» другой");
    return byNumber;
}

std::unique_ptr<ParadoxTable::Secondary> ParadoxTable::readSecondary(const std::string& xp) const {
    auto s = std::make_unique<Secondary>();
    RawFile xf(xp, false, "Файл индекса");
    s->h = parseParadoxHeader(xf, "Файл индекса");
    const ParadoxHeader& xh = s->h;
    auto bad = [&](const std::string& why) {
        return Error("Файл индекса «" + xp + "» не соответствует таблице «" + path_ + "»: " + why);
    };
    if (xh.fileType != 3 && xh.fileType != 5 && xh.fileType != 6 && xh.fileType != 8)
        throw Error("Файл индекса «" + xp + "» повреждён: это не вторичный индекс");
    const bool composite = xh.fileType == 6 || xh.fileType == 8;
    s->incremental = xh.fileType == 5 || xh.fileType == 8;
    const int tail = h_.keyFields > 0 ? h_.keyFields + 1 : 3;
    const int nIdx = xh.numFields - tail;
    if (nIdx < 1 || static_cast<int>(xh.fieldNumbers.size()) < nIdx) throw bad("неверное число полей");
    bool anyDesc = false;
    for (int i = 0; i < nIdx; ++i) {
        const int db = matchIndexField(xh, i, bad);
        const RawField& xf2 = xh.fields[static_cast<size_t>(i)];
        const RawField& df = h_.fields[static_cast<size_t>(db)];
        if (std::find(s->dbFields.begin(), s->dbFields.end(), db) != s->dbFields.end())
            throw bad("поле «" + fields_[static_cast<size_t>(db)].name + "» входит в индекс дважды");
        s->dbFields.push_back(db);
        const bool d = (xh.fieldNumbers[static_cast<size_t>(i)] & 0x8000) != 0;
        anyDesc = anyDesc || d;
        s->desc.push_back(d);
        s->xLayout.push_back({xf2.offset, xf2.bytes, xf2.type});
        s->dbLayout.push_back({df.offset, df.bytes, df.type});
        s->info.fields.push_back(fields_[static_cast<size_t>(db)].name);
    }
    if (!anyDesc && (xh.indexFlags & 0x10)) {
        std::fill(s->desc.begin(), s->desc.end(), true);
        anyDesc = true;
    }
    if (h_.keyFields > 0) {
        if (static_cast<int>(xh.fields.size()) < nIdx + h_.keyFields + 1) throw bad("неверное число полей");
        const RawField& pk0 = xh.fields[static_cast<size_t>(nIdx)];
        s->pkOffset = pk0.offset;
        for (int k = 0; k < h_.keyFields; ++k) {
            const RawField& a = xh.fields[static_cast<size_t>(nIdx + k)];
            const RawField& b = h_.fields[static_cast<size_t>(k)];
            if (a.type != b.type || a.bytes != b.bytes) throw bad("ключ таблицы в индексе другой");
            s->pkBytes += a.bytes;
            s->pkLayout.push_back({b.offset, b.bytes, b.type});
        }
        s->pkPacked = packed(s->pkLayout);
        const RawField& hint = xh.fields[static_cast<size_t>(nIdx + h_.keyFields)];
        if (hint.type != FieldType::Short) throw bad("нет номера блока");
        s->hintOffset = hint.offset;
    }
    s->info.name = composite ? toUtf8(xh.indexName, info_.codePage) : fields_[static_cast<size_t>(s->dbFields[0])].name;
    s->info.caseInsensitive = composite && (xh.indexFlags & 0x01);
    s->info.descending = anyDesc;
    s->info.maintained = s->incremental;
    s->info.file = xp;
    return s;
}

// ==== physical order ===========================================================================

const BlockChain& ParadoxTable::chain() const {
    if (!chain_.built()) {
        chain_.build(db_, h_, "Файл таблицы");
        const_cast<TableInfo&>(info_).recordCount = static_cast<uint32_t>(chain_.total());
    }
    return chain_;
}

int ParadoxTable::fieldIndex(std::string_view name) const {
    for (size_t i = 0; i < fields_.size(); ++i)
        if (sameName(fields_[i].name, name)) return static_cast<int>(i);
    return -1;
}

uint32_t ParadoxTable::recordCount() const { return static_cast<uint32_t>(chain().total()); }
std::optional<RecordLoc> ParadoxTable::first() const { return chain().first(); }
std::optional<RecordLoc> ParadoxTable::last() const { return chain().last(); }
std::optional<RecordLoc> ParadoxTable::next(RecordLoc loc) const { return chain().next(loc); }
std::optional<RecordLoc> ParadoxTable::prior(RecordLoc loc) const { return chain().prior(loc); }
std::optional<RecordLoc> ParadoxTable::locate(uint32_t ordinal) const { return chain().locate(ordinal); }

uint32_t ParadoxTable::ordinalOf(RecordLoc loc) const {
    recordPtr(loc);
    return static_cast<uint32_t>(chain_.ordinalOf(loc));
}

uint32_t ParadoxTable::blockCount(uint32_t block) const {
    if (chain_.built()) return chain_.countOf(block);
    // Without the block map (building it reads every block of the file) the count comes from
    // the block's own header, checked against the file and the block size.
    if (block == 0 || block > h_.fileBlocks) return 0;
    const uint8_t* p = db_.at(static_cast<uint64_t>(h_.headerSize) + uint64_t(block - 1) * h_.blockSize, 6);
    if (!p) return 0;
    const int add = static_cast<int16_t>(le16(p + 4));
    if (add < 0) return 0;
    const uint32_t n = static_cast<uint32_t>(add) / static_cast<uint32_t>(h_.recordSize) + 1;
    return n <= (h_.blockSize - 6) / static_cast<uint32_t>(h_.recordSize) ? n : 0;
}

const uint8_t* ParadoxTable::recordPtr(RecordLoc loc) const {
    if (loc.slot >= blockCount(loc.block))
        throw Error("Таблица «" + path_ + "»: записи в блоке " + std::to_string(loc.block) + ", позиция " +
                    std::to_string(loc.slot) + " нет");
    const uint64_t off = static_cast<uint64_t>(h_.headerSize) + uint64_t(loc.block - 1) * h_.blockSize + 6 +
                         uint64_t(loc.slot) * static_cast<uint64_t>(h_.recordSize);
    const uint8_t* p = db_.at(off, static_cast<uint64_t>(h_.recordSize));
    if (!p) corrupt("запись за пределами файла");
    return p;
}

std::string ParadoxTable::rawRecord(RecordLoc loc) const {
    return std::string(reinterpret_cast<const char*>(recordPtr(loc)), static_cast<size_t>(h_.recordSize));
}

// ==== reading values ===========================================================================

Value ParadoxTable::decodeField(const uint8_t* rec, int field) const {
    const RawField& f = h_.fields[static_cast<size_t>(field)];
    const uint8_t* p = rec + f.offset;
    switch (f.type) {
    case FieldType::Alpha: {
        size_t n = strnlen(reinterpret_cast<const char*>(p), static_cast<size_t>(f.bytes));
        if (n == 0) return {};
        return Value::string(toUtf8(std::string_view(reinterpret_cast<const char*>(p), n), info_.codePage));
    }
    case FieldType::Short: {
        auto v = decodeShort(p);
        return v ? Value::integer(*v) : Value();
    }
    case FieldType::Long:
    case FieldType::AutoInc: {
        auto v = decodeLong(p);
        return v ? Value::integer(*v) : Value();
    }
    case FieldType::Number:
    case FieldType::Currency: {
        auto v = decodeDouble(p);
        return v ? Value::real(*v) : Value();
    }
    case FieldType::Date: {
        auto v = decodeLong(p);
        return v ? Value::dateTime({*v, 0, true, false}) : Value();
    }
    case FieldType::Time: {
        auto v = decodeLong(p);
        if (!v) return {};
        return Value::dateTime({0, std::clamp<int32_t>(*v, 0, 86399999), false, true});
    }
    case FieldType::Timestamp: {
        auto v = decodeDouble(p);
        if (!v || !std::isfinite(*v) || std::fabs(*v) > 1.8e17) return {};  // beyond that the day number overflows
        int64_t ms = std::llround(*v);
        int64_t days = ms >= 0 ? ms / kMsPerDay : -((-ms + kMsPerDay - 1) / kMsPerDay);
        return Value::dateTime({static_cast<int32_t>(days), static_cast<int32_t>(ms - days * kMsPerDay), true, true});
    }
    case FieldType::Logical:
        if (*p == 0) return {};
        return Value::integer((*p & 0x7F) ? 1 : 0);
    case FieldType::BCD: {
        auto v = decodeBcd(p, f.sizeByte);
        return v ? Value::real(*v) : Value();
    }
    case FieldType::Bytes:
        if (allZero(p, f.bytes)) return {};
        return Value::bytes(std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(f.bytes)));
    case FieldType::Memo:
    case FieldType::FmtMemo:
    case FieldType::Blob:
    case FieldType::Ole:
    case FieldType::Graphic: {
        const int leader = f.bytes - 10;
        BlobRef ref{le32(p + leader), le32(p + leader + 4), le16(p + leader + 8)};
        if (ref.length == 0) return {};
        std::string data;
        if (ref.length <= static_cast<uint32_t>(leader)) {
            data.assign(reinterpret_cast<const char*>(p), ref.length);
        } else if (mb_.isOpen()) {
            data = mb_.read(ref, f.type == FieldType::Graphic, fields_[static_cast<size_t>(field)].name);
        } else {
            data.assign(reinterpret_cast<const char*>(p), static_cast<size_t>(leader));
        }
        if (f.type == FieldType::Memo) return Value::string(toUtf8(data, info_.codePage));
        return Value::bytes(std::move(data));
    }
    }
    return {};
}

Record ParadoxTable::read(RecordLoc loc) const {
    const uint8_t* rec = recordPtr(loc);
    Record r(fields_.size());  // empty values; only fields with a value are filled in
    for (int i = 0; i < h_.numFields; ++i) {
        const RawField& f = h_.fields[static_cast<size_t>(i)];
        const uint8_t* p = rec + f.offset;
        switch (f.type) {  // the common number fields without a call
        case FieldType::Long:
        case FieldType::AutoInc:
            if (auto v = decodeLong(p)) ValueAccess::setInteger(r[static_cast<size_t>(i)], *v);
            break;
        case FieldType::Short:
            if (auto v = decodeShort(p)) ValueAccess::setInteger(r[static_cast<size_t>(i)], *v);
            break;
        case FieldType::Number:
        case FieldType::Currency:
            if (auto v = decodeDouble(p)) ValueAccess::setReal(r[static_cast<size_t>(i)], *v);
            break;
        case FieldType::Alpha:  // text ends at its first zero byte
            if (*p) r[static_cast<size_t>(i)] = decodeField(rec, i);
            break;
        case FieldType::Memo:
        case FieldType::FmtMemo:
        case FieldType::Blob:
        case FieldType::Ole:
        case FieldType::Graphic:  // empty when the stored length is 0
            if (le32(p + f.bytes - 6)) r[static_cast<size_t>(i)] = decodeField(rec, i);
            break;
        default:
            if (!allZero(p, f.bytes)) r[static_cast<size_t>(i)] = decodeField(rec, i);
        }
    }
    return r;
}

Value ParadoxTable::readField(RecordLoc loc, int field) const {
    if (field < 0 || field >= h_.numFields)
        throw Error("Таблица «" + path_ + "»: поля с номером " + std::to_string(field + 1) + " нет");
    return decodeField(recordPtr(loc), field);
}

// ==== indexes ==================================================================================

const ParadoxTable::Secondary* ParadoxTable::findIndex(std::string_view name, bool& primary) const {
    primary = false;
    for (const auto& s : secondary_)
        if (sameName(s->info.name, name)) return s.get();
    for (const IndexInfo& a : setAside_)
        if (!a.name.empty() && sameName(a.name, name)) throw Error(a.setAside);
    if (h_.keyFields > 0) {
        if (name.empty()) {
            primary = true;
            return nullptr;
        }
        // The primary index may also be named by its fields ("ID" or "A;B").
        std::string joined;
        for (int i = 0; i < h_.keyFields; ++i) joined += (i ? ";" : "") + fields_[static_cast<size_t>(i)].name;
        if (sameName(joined, name)) {
            primary = true;
            return nullptr;
        }
    }
    for (const IndexInfo& a : setAside_)
        if (a.name.empty()) throw Error(a.setAside);  // perhaps the one asked for
    throw Error("Таблица «" + path_ + "»: индекс «" + std::string(name) + "» не найден");
}

std::string ParadoxTable::encodeKey(const std::vector<int>& fields, const std::vector<Value>& key, bool ci, bool& ok) const {
    ok = true;
    std::string out;
    for (size_t i = 0; i < key.size() && i < fields.size(); ++i) {
        const RawField& f = h_.fields[static_cast<size_t>(fields[i])];
        std::string b(static_cast<size_t>(f.bytes), '\0');
        uint8_t* p = reinterpret_cast<uint8_t*>(b.data());
        const Value& v = key[i];
        if (!v.isEmpty()) {
            switch (f.type) {
            case FieldType::Alpha: {
                auto t = fromUtf8(v.asString(), info_.codePage);
                if (!t || t->size() > b.size()) { ok = false; return {}; }
                for (size_t k = 0; k < t->size(); ++k)
                    p[k] = ci ? upperByte(static_cast<uint8_t>((*t)[k]), info_.codePage) : static_cast<uint8_t>((*t)[k]);
                break;
            }
            case FieldType::Short:
            case FieldType::Long:
            case FieldType::AutoInc: {
                double d = v.asFloat();
                if (v.kind() == Value::Kind::String && d == 0 && v.asString().find_first_not_of(" 0.") != std::string::npos) { ok = false; return {}; }
                if (d != std::floor(d)) { ok = false; return {}; }
                int64_t n = static_cast<int64_t>(d);
                if (f.type == FieldType::Short) {
                    if (n < -32767 || n > 32767) { ok = false; return {}; }
                    encodeShort(p, static_cast<int16_t>(n));
                } else {
                    if (n < -2147483647LL || n > 2147483647LL) { ok = false; return {}; }
                    encodeLong(p, static_cast<int32_t>(n));
                }
                break;
            }
            case FieldType::Number:
            case FieldType::Currency: encodeDouble(p, v.asFloat()); break;
            case FieldType::Date: encodeLong(p, static_cast<int32_t>(daysOf(v))); break;
            case FieldType::Time: {
                const DateTime* t = v.asDateTime();
                encodeLong(p, t ? t->msOfDay : static_cast<int32_t>(v.asInteger()));
                break;
            }
            case FieldType::Timestamp: {
                const DateTime* t = v.asDateTime();
                encodeDouble(p, t ? double(t->days) * kMsPerDay + t->msOfDay : v.asFloat());
                break;
            }
            case FieldType::Logical: *p = v.asInteger() ? 0x81 : 0x80; break;
            case FieldType::BCD:
                if (!encodeBcd(p, v.asFloat(), f.sizeByte)) { ok = false; return {}; }
                break;
            case FieldType::Bytes: {
                const std::string* s = v.text();
                if (!s || s->size() > b.size()) { ok = false; return {}; }
                std::copy(s->begin(), s->end(), b.begin());
                break;
            }
            default: ok = false; return {};
            }
        }
        out += b;
    }
    return out;
}

std::optional<std::vector<RecordLoc>> ParadoxTable::primaryByTree(const std::string& key) const {
    // Walks the .PX tree from its root: on each level the last entry whose key is not greater
    // than the wanted one names the block below; on the last level that is a table block, which
    // is sorted by key. Nothing comes back when the tree fails a check or does not lead to the
    // key, and the caller then searches the table's own block chain.
    if (!pxTried_) {
        pxTried_ = true;
        std::string file = indexes_.empty() || !indexes_[0].primary ? std::string() : indexes_[0].file;
        if (!file.empty()) {
            try {
                auto f = std::make_unique<RawFile>(file, false, "Файл индекса");
                const uint8_t* hd = f->at(0, 0x58);
                if (hd && hd[4] == 1) px_ = std::move(f);
            } catch (const Error&) {
            }
        }
    }
    if (!px_) return std::nullopt;
    const uint8_t* hd = px_->at(0, 0x58);
    const uint32_t recSize = le16(hd), hdrSize = le16(hd + 2), blkSize = uint32_t(hd[5]) * 1024u;
    const uint32_t fileBlocks = le16(hd + 0x0C);
    uint32_t block = le16(hd + 0x1E);
    const int levels = hd[0x20];
    const uint32_t keyBytes = static_cast<uint32_t>(key.size());
    if (recSize != keyBytes + 6 || blkSize == 0 || levels < 1 || levels > 16 || hdrSize < 0x58) return std::nullopt;
    for (int level = levels; level >= 1; --level) {
        if (block == 0 || block > fileBlocks) return std::nullopt;
        const uint8_t* b = px_->at(uint64_t(hdrSize) + uint64_t(block - 1) * blkSize, blkSize);
        if (!b) return std::nullopt;
        const int add = static_cast<int16_t>(le16(b + 4));
        if (add < 0) return std::nullopt;
        const uint32_t n = static_cast<uint32_t>(add) / recSize + 1;
        if (6 + uint64_t(n) * recSize > blkSize) return std::nullopt;
        uint32_t lo = 0, hi = n;  // first entry greater than the key
        while (lo < hi) {
            const uint32_t mid = (lo + hi) / 2;
            if (std::memcmp(b + 6 + uint64_t(mid) * recSize, key.data(), keyBytes) <= 0) lo = mid + 1;
            else hi = mid;
        }
        const uint8_t* e = b + 6 + uint64_t(lo == 0 ? 0 : lo - 1) * recSize;
        auto child = decodeShort(e + keyBytes);
        if (!child || *child <= 0) return std::nullopt;
        block = static_cast<uint32_t>(*child);
    }
    const uint32_t n = blockCount(block);
    uint32_t lo = 0, hi = n;
    while (lo < hi) {
        const uint32_t mid = (lo + hi) / 2;
        if (std::memcmp(recordPtr({block, mid}), key.data(), keyBytes) < 0) lo = mid + 1;
        else hi = mid;
    }
    if (lo < n && std::memcmp(recordPtr({block, lo}), key.data(), keyBytes) == 0)
        return std::vector<RecordLoc>{RecordLoc{block, lo}};
    return std::nullopt;
}

std::vector<RecordLoc> ParadoxTable::primaryRange(const std::string& key, int nKey) const {
    // A whole key of a table whose keys compare as bytes is found through the tree without
    // reading the block chain (which on a large table means touching every block).
    if (nKey == h_.keyFields && !chain_.built() && !readWrite_) {
        bool bytewise = true;
        for (int i = 0; i < h_.keyFields; ++i)
            if (h_.fields[static_cast<size_t>(i)].type == FieldType::Alpha) bytewise = false;
        if (bytewise)
            if (auto hit = primaryByTree(key)) return *hit;
    }
    Layout l;
    for (int i = 0; i < h_.keyFields; ++i) {
        const RawField& f = h_.fields[static_cast<size_t>(i)];
        l.push_back({f.offset, f.bytes, f.type});
    }
    Layout kl = packed(l);
    Collation c{info_.codePage, asciiOrder_, false, nullptr};
    const uint8_t* k = reinterpret_cast<const uint8_t*>(key.data());
    return equalRange(
        chain(), [&](RecordLoc loc) { return recordPtr(loc); },
        [&](const uint8_t* rec) { return compareFields(rec, l, k, kl, static_cast<size_t>(nKey), c); });
}

const std::vector<RecordLoc>& ParadoxTable::memoryOrder(const Secondary& s) const {
    if (!s.orderBuilt) {
        const BlockChain& c = chain();
        std::vector<RecordLoc> v;
        v.reserve(static_cast<size_t>(c.total()));
        for (auto l = c.first(); l; l = c.next(*l)) v.push_back(*l);
        Collation col{info_.codePage, asciiOrder_, s.info.caseInsensitive, &s.desc};
        std::stable_sort(v.begin(), v.end(), [&](RecordLoc a, RecordLoc b) {
            return compareFields(recordPtr(a), s.dbLayout, recordPtr(b), s.dbLayout, s.dbLayout.size(), col) < 0;
        });
        s.order = std::move(v);
        s.orderBuilt = true;
    }
    return s.order;
}

RecordLoc ParadoxTable::resolve(const Secondary& s, const uint8_t* xrec) const {
    RecordLoc loc = findByHint(s, xrec);
    // The record must still hold the indexed values the index file has for it.
    Collation c{info_.codePage, asciiOrder_, true, nullptr};
    if (compareFields(recordPtr(loc), s.dbLayout, xrec, s.xLayout, s.dbLayout.size(), c) != 0)
        throw Error("Файл индекса «" + s.info.file + "» устарел: он не совпадает с записями таблицы «" + path_ + "»");
    return loc;
}

RecordLoc ParadoxTable::findByHint(const Secondary& s, const uint8_t* xrec) const {
    auto blk = decodeShort(xrec + s.hintOffset);
    const uint8_t* pk = xrec + s.pkOffset;
    const Layout& l = s.pkLayout;
    const Layout& kl = s.pkPacked;
    if (blk && *blk > 0) {
        const uint32_t b = static_cast<uint32_t>(*blk);
        const uint32_t n = blockCount(b);
        // The block is sorted by key: binary search, then a plain scan in case the key's
        // collation is not byte order.
        Collation c{info_.codePage, asciiOrder_, false, nullptr};
        uint32_t lo = 0, hi = n;
        while (lo < hi) {
            uint32_t mid = (lo + hi) / 2;
            int r = compareFields(recordPtr({b, mid}), l, pk, kl, l.size(), c);
            if (r < 0) lo = mid + 1;
            else hi = mid;
        }
        if (lo < n && std::memcmp(recordPtr({b, lo}), pk, static_cast<size_t>(s.pkBytes)) == 0) return {b, lo};
        for (uint32_t i = 0; i < n; ++i)
            if (std::memcmp(recordPtr({b, i}), pk, static_cast<size_t>(s.pkBytes)) == 0) return {b, i};
    }
    auto r = primaryRange(std::string(reinterpret_cast<const char*>(pk), static_cast<size_t>(s.pkBytes)), h_.keyFields);
    if (r.size() == 1) return r[0];
    throw Error("Файл индекса «" + s.info.file + "» устарел: он указывает на запись, которой нет в таблице «" + path_ + "»");
}

namespace {
void prepareIndex(const ParadoxTable::Secondary& s, uint64_t tableRecords, bool keyed) {
    if (s.checked) return;
    if (!keyed) {
        // Unkeyed tables address records by position, which no later write keeps: order in memory.
        s.inMemory = true;
        s.checked = true;
        return;
    }
    s.file = std::make_unique<RawFile>(s.info.file, false, "Файл индекса");
    s.chain.build(*s.file, s.h, "Файл индекса");
    if (s.chain.total() != tableRecords) {
        if (s.incremental)
            throw Error("Файл индекса «" + s.info.file + "» устарел: в нём " + std::to_string(s.chain.total()) +
                        " записей, в таблице " + std::to_string(tableRecords));
        s.inMemory = true;  // an index the engine rebuilds on use
    }
    s.checked = true;
}
}  // namespace

std::vector<RecordLoc> ParadoxTable::lookup(std::string_view index, const std::vector<Value>& key) const {
    bool primary = false;
    const Secondary* s = findIndex(index, primary);
    if (key.empty()) return scan(index);
    if (primary) {
        if (static_cast<int>(key.size()) > h_.keyFields)
            throw Error("Таблица «" + path_ + "»: в ключе больше значений, чем полей в индексе");
        std::vector<int> f;
        for (int i = 0; i < h_.keyFields; ++i) f.push_back(i);
        bool ok = false;
        std::string k = encodeKey(f, key, false, ok);
        if (!ok) return {};
        return primaryRange(k, static_cast<int>(key.size()));
    }
    if (key.size() > s->dbFields.size())
        throw Error("Таблица «" + path_ + "»: в ключе больше значений, чем полей в индексе «" + s->info.name + "»");
    bool ok = false;
    std::string k = encodeKey(s->dbFields, key, s->info.caseInsensitive, ok);
    if (!ok) return {};
    const uint8_t* kp = reinterpret_cast<const uint8_t*>(k.data());
    prepareIndex(*s, chain_.built() ? chain_.total() : static_cast<uint64_t>(std::max(h_.numRecords, 0)), h_.keyFields > 0);
    Collation col{info_.codePage, asciiOrder_, s->info.caseInsensitive, &s->desc};
    Layout kl = packed(s->dbLayout);
    const size_t n = key.size();
    if (s->inMemory) {
        const auto& ord = memoryOrder(*s);
        auto lo = std::partition_point(ord.begin(), ord.end(), [&](RecordLoc l) {
            return compareFields(recordPtr(l), s->dbLayout, kp, kl, n, col) < 0;
        });
        std::vector<RecordLoc> out;
        for (auto it = lo; it != ord.end() && compareFields(recordPtr(*it), s->dbLayout, kp, kl, n, col) == 0; ++it)
            out.push_back(*it);
        return out;
    }
    const RawFile& xf = *s->file;
    const ParadoxHeader& xh = s->h;
    auto xrec = [&](RecordLoc l) {
        const uint8_t* p = xf.at(static_cast<uint64_t>(xh.headerSize) + uint64_t(l.block - 1) * xh.blockSize + 6 +
                                     uint64_t(l.slot) * static_cast<uint64_t>(xh.recordSize),
                                 static_cast<uint64_t>(xh.recordSize));
        if (!p) throw Error("Файл индекса «" + xf.path() + "» повреждён: запись за пределами файла");
        return p;
    };
    auto xs = equalRange(s->chain, xrec, [&](const uint8_t* r) { return compareFields(r, s->xLayout, kp, kl, n, col); });
    std::vector<RecordLoc> out;
    out.reserve(xs.size());
    for (RecordLoc x : xs) out.push_back(resolve(*s, xrec(x)));
    return out;
}

std::vector<RecordLoc> ParadoxTable::scan(std::string_view index) const {
    bool primary = false;
    const Secondary* s = findIndex(index, primary);
    const BlockChain& c = chain();
    std::vector<RecordLoc> out;
    if (primary) {
        out.reserve(static_cast<size_t>(c.total()));
        for (auto l = c.first(); l; l = c.next(*l)) out.push_back(*l);
        return out;
    }
    prepareIndex(*s, c.total(), h_.keyFields > 0);
    if (s->inMemory) return memoryOrder(*s);
    const RawFile& xf = *s->file;
    const ParadoxHeader& xh = s->h;
    out.reserve(static_cast<size_t>(s->chain.total()));
    for (auto l = s->chain.first(); l; l = s->chain.next(*l)) {
        const uint8_t* p = xf.at(static_cast<uint64_t>(xh.headerSize) + uint64_t(l->block - 1) * xh.blockSize + 6 +
                                     uint64_t(l->slot) * static_cast<uint64_t>(xh.recordSize),
                                 static_cast<uint64_t>(xh.recordSize));
        if (!p) throw Error("Файл индекса «" + xf.path() + "» повреждён: запись за пределами файла");
        out.push_back(resolve(*s, p));
    }
    return out;
}

// ==== writing ==================================================================================

void ParadoxTable::checkWritable() const {
    if (!readWrite_) throw Error("Таблица «" + path_ + "» открыта только для чтения");
    if (!db_.writable()) throw Error("Нет прав на запись в таблицу «" + path_ + "»");
    if (hasIndexFiles_)
        throw Error("Таблица «" + path_ + "» имеет индексные файлы; изменять индексированные таблицы нельзя");
}

std::string ParadoxTable::encodeRecord(const Record& rec, const uint8_t* old, std::vector<BlobRef>& newBlobs) {
    if (rec.size() != fields_.size())
        throw Error("Таблица «" + path_ + "»: в записи " + std::to_string(rec.size()) + " значений, а полей " +
                    std::to_string(fields_.size()));
    std::string out(static_cast<size_t>(h_.recordSize), '\0');
    try {
        for (int i = 0; i < h_.numFields; ++i) {
            const RawField& f = h_.fields[static_cast<size_t>(i)];
            const FieldDef& d = fields_[static_cast<size_t>(i)];
            uint8_t* p = reinterpret_cast<uint8_t*>(out.data()) + f.offset;
            auto fail = [&](const std::string& why) {
                return Error("Таблица «" + path_ + "», поле «" + d.name + "»: " + why);
            };
            Value coerced;
            try {
                coerced = coerceToField(rec[static_cast<size_t>(i)], d);
            } catch (const FieldValueError& e) {
                throw fail(e.what());
            }
            const Value& v = coerced;
            if (isBlob(f.type)) {
                if (old && decodeField(old, i) == v) {  // unchanged: keep its blob
                    std::memcpy(p, old + f.offset, static_cast<size_t>(f.bytes));
                    continue;
                }
                if (v.isEmpty()) continue;
                std::string data;
                if (isTextBlob(f.type)) {
                    std::string bad;
                    auto t = fromUtf8(v.asString(), info_.codePage, &bad);
                    if (!t) throw fail("символ «" + bad + "» нельзя записать в кодовой странице " + std::to_string(info_.codePage));
                    data = std::move(*t);
                } else {
                    data = v.text() ? *v.text() : v.asString();
                    if (f.type == FieldType::Graphic && !data.empty()) data.insert(0, 8, '\0');
                }
                if (data.empty()) continue;
                if (data.size() > 0x7FFFFFF0u) throw fail("значение слишком длинное");
                const int leader = f.bytes - 10;
                BlobRef ref;
                ref.length = static_cast<uint32_t>(data.size());
                if (data.size() > static_cast<size_t>(leader)) {
                    if (!mb_.isOpen()) {
                        fs::path dbp(path_);
                        std::string ext = dbp.extension().string();
                        bool lowerExt = !ext.empty() && std::islower(static_cast<unsigned char>(ext.back()));
                        std::string mbPath = (dbp.parent_path() / dbp.stem()).string() + (lowerExt ? ".mb" : ".MB");
                        MemoFile::createEmpty(mbPath);
                        mb_ = MemoFile(mbPath, true);
                        info_.hasMemoFile = true;
                    }
                    ref = mb_.write(data);
                    newBlobs.push_back(ref);
                }
                std::memcpy(p, data.data(), std::min(data.size(), static_cast<size_t>(leader)));
                put32(p + leader, ref.pointer);
                put32(p + leader + 4, ref.length);
                put16(p + leader + 8, ref.modNr);
                continue;
            }
            if (v.isEmpty()) continue;
            switch (f.type) {
            case FieldType::Alpha: {
                std::string bad;
                auto t = fromUtf8(v.asString(), info_.codePage, &bad);
                if (!t) throw fail("символ «" + bad + "» нельзя записать в кодовой странице " + std::to_string(info_.codePage));
                if (t->size() > static_cast<size_t>(f.bytes)) {
                    warn("Таблица «" + path_ + "», поле «" + d.name + "»: текст длиннее " +
                                   std::to_string(f.bytes) + " символов обрезан");
                    t->resize(static_cast<size_t>(f.bytes));
                }
                std::memcpy(p, t->data(), t->size());
                break;
            }
            case FieldType::Short: encodeShort(p, static_cast<int16_t>(v.asInteger())); break;
            case FieldType::Long:
            case FieldType::AutoInc: encodeLong(p, static_cast<int32_t>(v.asInteger())); break;
            case FieldType::Number:
            case FieldType::Currency: encodeDouble(p, v.asFloat()); break;
            case FieldType::BCD:
                if (!encodeBcd(p, v.asFloat(), f.sizeByte)) throw fail("значение не помещается в поле");
                break;
            case FieldType::Date: encodeLong(p, v.asDateTime()->days); break;
            case FieldType::Time: encodeLong(p, v.asDateTime()->msOfDay); break;
            case FieldType::Timestamp: {
                const DateTime* t = v.asDateTime();
                encodeDouble(p, double(t->days) * kMsPerDay + (t->hasTime ? t->msOfDay : 0));
                break;
            }
            case FieldType::Logical: *p = v.asInteger() ? 0x81 : 0x80; break;
            case FieldType::Bytes: {
                const std::string* s = v.text();
                std::string tmp = s ? *s : v.asString();
                if (tmp.size() > static_cast<size_t>(f.bytes)) throw fail("больше " + std::to_string(f.bytes) + " байт");
                std::memcpy(p, tmp.data(), tmp.size());
                break;
            }
            default: break;
            }
        }
    } catch (...) {
        for (const BlobRef& r : newBlobs) mb_.free(r);
        newBlobs.clear();
        throw;
    }
    return out;
}

void ParadoxTable::writeHeaderCounters() {
    const uint8_t* cur = db_.at(0, hdr::Fixed);
    if (!cur) corrupt("заголовок обрезан");
    uint8_t b[hdr::Fixed];
    std::memcpy(b, cur, sizeof b);
    const BlockChain& c = chain_;
    // Blocks a killed writer left beyond the counters are counted again.
    const uint64_t hs = static_cast<uint64_t>(h_.headerSize);
    const uint64_t inFile = db_.size() > hs ? (db_.size() - hs + h_.blockSize - 1) / h_.blockSize : 0;
    h_.fileBlocks = static_cast<uint16_t>(std::min<uint64_t>(std::max<uint64_t>(h_.fileBlocks, inFile), 0xFFFF));
    put32(b + hdr::NumRecords, static_cast<uint32_t>(c.total()));
    put16(b + hdr::NextBlock, h_.fileBlocks);
    put16(b + hdr::FileBlocks, h_.fileBlocks);
    put16(b + hdr::FirstBlock, c.blocks().empty() ? 0 : static_cast<uint16_t>(c.blocks().front().block));
    put16(b + hdr::LastBlock, c.blocks().empty() ? 0 : static_cast<uint16_t>(c.blocks().back().block));
    put16(b + hdr::MaxBlocks, h_.fileBlocks);
    put32(b + hdr::AutoInc, static_cast<uint32_t>(h_.autoInc));
    b[hdr::ModifiedFlags1] = 0;
    db_.write(0, b, sizeof b);
    h_.numRecords = static_cast<int32_t>(c.total());
    info_.recordCount = static_cast<uint32_t>(c.total());
    info_.autoIncrement = h_.autoInc;
}

RecordLoc ParadoxTable::append(Record& rec) {
    checkWritable();
    const BlockChain& c = chain();
    if (rec.size() != fields_.size())
        throw Error("Таблица «" + path_ + "»: в записи " + std::to_string(rec.size()) + " значений, а полей " +
                    std::to_string(fields_.size()));
    int32_t ai = 0;
    Record r = rec;
    if (autoIncField_ >= 0 && !autoIncChecked_) {
        // Other writers (pxlib among them) may leave the header's counter behind the numbers
        // already stored; numbering from it would hand out the same number twice.
        autoIncChecked_ = true;
        for (auto loc = first(); loc; loc = next(*loc)) {
            const Value v = readField(*loc, autoIncField_);
            if (!v.isEmpty() && v.asInteger() > h_.autoInc) h_.autoInc = static_cast<int32_t>(v.asInteger());
        }
    }
    const Value* given = autoIncField_ >= 0 && keepGivenNumbers_ ? &rec[static_cast<size_t>(autoIncField_)] : nullptr;
    if (given && !given->isEmpty()) {
        const int64_t n = given->asInteger();
        if (n < 1 || n > 2147483647) throw Error("Таблица «" + path_ + "»: номер " + std::to_string(n) + " вне диапазона 1..2147483647");
        ai = static_cast<int32_t>(n);
    } else if (autoIncField_ >= 0) {
        if (h_.autoInc >= 2147483647) throw Error("Таблица «" + path_ + "»: счётчик автоинкремента исчерпан");
        ai = h_.autoInc + 1;
    }
    if (autoIncField_ >= 0) r[static_cast<size_t>(autoIncField_)] = Value::integer(ai);
    std::vector<BlobRef> nb;
    std::string bytes = encodeRecord(r, nullptr, nb);
    try {
        if (h_.keyFields > 0 && c.total() > 0) {
            int keyBytes = 0;
            for (int i = 0; i < h_.keyFields; ++i) keyBytes += h_.fields[static_cast<size_t>(i)].bytes;
            if (std::memcmp(recordPtr(*c.last()), bytes.data(), static_cast<size_t>(keyBytes)) >= 0)
                throw Error("Таблица «" + path_ + "»: ключ новой записи должен быть больше ключа последней записи");
        }
        const uint64_t hs = static_cast<uint64_t>(h_.headerSize);
        const uint32_t rs = static_cast<uint32_t>(h_.recordSize);
        const uint32_t perBlock = (h_.blockSize - 6) / rs;
        if (autoIncField_ >= 0) {
            // The counter goes first: a crash before the record lands wastes a number, never repeats one.
            h_.autoInc = std::max(h_.autoInc, ai);
            uint8_t v[4];
            put32(v, static_cast<uint32_t>(h_.autoInc));
            db_.write(hdr::AutoInc, v, 4);
        }
        RecordLoc loc;
        const ChainBlock* lastBlock = c.blocks().empty() ? nullptr : &c.blocks().back();
        if (lastBlock && lastBlock->count < perBlock) {
            const uint32_t b = lastBlock->block, n = lastBlock->count;
            const uint64_t off = hs + uint64_t(b - 1) * h_.blockSize;
            db_.write(off + 6 + uint64_t(n) * rs, bytes.data(), rs);
            uint8_t add[2];
            put16(add, static_cast<uint16_t>(static_cast<int16_t>(n * rs)));
            db_.write(off + 4, add, 2);  // publishes the record
            chain_.setCount(b, n + 1);
            loc = {b, n};
        } else {
            const uint64_t inFile = db_.size() > hs ? (db_.size() - hs + h_.blockSize - 1) / h_.blockSize : 0;
            const uint64_t nb64 = std::max<uint64_t>(h_.fileBlocks, inFile) + 1;
            if (nb64 > 0xFFFF) throw Error("Таблица «" + path_ + "» переполнена: больше 65535 блоков");
            const uint32_t b = static_cast<uint32_t>(nb64);
            std::vector<uint8_t> blk(h_.blockSize, 0);
            put16(&blk[0], 0);
            put16(&blk[2], static_cast<uint16_t>(lastBlock ? lastBlock->block : 0));
            put16(&blk[4], 0);
            std::memcpy(&blk[6], bytes.data(), rs);
            db_.write(hs + uint64_t(b - 1) * h_.blockSize, blk.data(), blk.size());
            if (lastBlock) {
                uint8_t nx[2];
                put16(nx, static_cast<uint16_t>(b));
                db_.write(hs + uint64_t(lastBlock->block - 1) * h_.blockSize, nx, 2);  // links it in
            }
            chain_.appendBlock(b, 1);
            h_.fileBlocks = static_cast<uint16_t>(b);
            loc = {b, 0};
        }
        writeHeaderCounters();
        if (autoIncField_ >= 0) rec[static_cast<size_t>(autoIncField_)] = Value::integer(ai);
        return loc;
    } catch (...) {
        for (const BlobRef& x : nb) mb_.free(x);
        throw;
    }
}

void ParadoxTable::freeBlobs(const uint8_t* rec) {
    if (!mb_.isOpen()) return;
    for (const RawField& f : h_.fields) {
        if (!isBlob(f.type)) continue;
        const uint8_t* p = rec + f.offset + f.bytes - 10;
        BlobRef r{le32(p), le32(p + 4), le16(p + 8)};
        if (r.length > static_cast<uint32_t>(f.bytes - 10)) mb_.free(r);
    }
}

RecordLoc ParadoxTable::update(RecordLoc loc, const Record& rec) {
    checkWritable();
    std::string old = rawRecord(loc);
    const uint8_t* o = reinterpret_cast<const uint8_t*>(old.data());
    Record r = rec;
    if (r.size() == fields_.size() && autoIncField_ >= 0) r[static_cast<size_t>(autoIncField_)] = decodeField(o, autoIncField_);
    std::vector<BlobRef> nb;
    std::string bytes = encodeRecord(r, o, nb);
    if (h_.keyFields > 0) {
        int keyBytes = 0;
        for (int i = 0; i < h_.keyFields; ++i) keyBytes += h_.fields[static_cast<size_t>(i)].bytes;
        if (std::memcmp(o, bytes.data(), static_cast<size_t>(keyBytes)) != 0) {
            for (const BlobRef& x : nb) mb_.free(x);
            throw Error("Таблица «" + path_ + "»: ключ записи менять нельзя");
        }
    }
    const uint64_t off = static_cast<uint64_t>(h_.headerSize) + uint64_t(loc.block - 1) * h_.blockSize + 6 +
                         uint64_t(loc.slot) * static_cast<uint64_t>(h_.recordSize);
    db_.write(off, bytes.data(), bytes.size());
    // Free the blobs the record no longer points at.
    if (mb_.isOpen()) {
        for (const RawField& f : h_.fields) {
            if (!isBlob(f.type)) continue;
            const size_t at = static_cast<size_t>(f.offset + f.bytes - 10);
            if (std::memcmp(old.data() + at, bytes.data() + at, 10) == 0) continue;
            const uint8_t* p = o + at;
            BlobRef br{le32(p), le32(p + 4), le16(p + 8)};
            if (br.length > static_cast<uint32_t>(f.bytes - 10)) mb_.free(br);
        }
    }
    return loc;
}

std::optional<RecordLoc> ParadoxTable::remove(RecordLoc loc) {
    checkWritable();
    std::string old = rawRecord(loc);
    const uint32_t n = chain_.countOf(loc.block);
    const uint32_t rs = static_cast<uint32_t>(h_.recordSize);
    const uint64_t off = static_cast<uint64_t>(h_.headerSize) + uint64_t(loc.block - 1) * h_.blockSize;
    const uint8_t* cur = db_.at(off, 6 + uint64_t(n) * rs);
    if (!cur) corrupt("блок обрезан");
    std::vector<uint8_t> blk(cur, cur + 6 + size_t(n) * rs);
    std::memmove(&blk[6 + size_t(loc.slot) * rs], &blk[6 + size_t(loc.slot + 1) * rs], size_t(n - loc.slot - 1) * rs);
    std::memset(&blk[6 + size_t(n - 1) * rs], 0, rs);
    put16(&blk[4], static_cast<uint16_t>(static_cast<int16_t>((static_cast<int>(n) - 2) * static_cast<int>(rs))));
    db_.write(off, blk.data(), blk.size());  // one write: the block is never seen half-moved
    chain_.setCount(loc.block, n - 1);
    writeHeaderCounters();
    freeBlobs(reinterpret_cast<const uint8_t*>(old.data()));
    if (loc.slot < n - 1) return loc;
    return chain_.next({loc.block, n - 1 == 0 ? 0 : n - 2});
}

// ==== public functions =========================================================================

std::unique_ptr<TableFile> openParadoxTable(const std::string& path, OpenMode mode, int codePage) {
    std::string p = path;
    std::error_code ec;
    if (!fs::exists(p, ec)) {
        fs::path fp(p);
        std::string alt = findCompanion(p, fp.extension().string());
        if (!alt.empty()) p = alt;
    }
    return std::make_unique<ParadoxTable>(p, mode, codePage);
}

}  // namespace talvira::storage
