#include "storage/ParadoxTableParts.h"

#include "common/Error.h"
#include "common/NumberText.h"
#include "storage/BlockWriter.h"
#include "storage/CodePage.h"
#include "storage/FieldValue.h"
#include "storage/FileNames.h"
#include "storage/Warnings.h"
#include "storage/ValueAccess.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <utility>

namespace talvira::storage {

namespace fs = std::filesystem;

// ==== opening ==================================================================================

ParadoxTable::ParadoxTable(const std::string& path, OpenMode mode, int codePage) : path_(path) {
    files_.readWrite = mode == OpenMode::ReadWrite;
    files_.db = RawFile(path, files_.readWrite);
    h_ = parseParadoxHeader(files_.db, "Файл таблицы");
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
        if (rf.type == FieldType::AutoInc && numbering_.field < 0) numbering_.field = i;
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
            files_.mb = MemoFile(mb, files_.readWrite && files_.db.writable());
            info_.hasMemoFile = true;
        }
    }
    findIndexes();
    // A writer holds the table alone; indexed tables are never written here, so their readers
    // (and the cursors of a second copy of the program) only share it.
    files_.lock = std::make_unique<TableLock>(path, files_.db.fd(), files_.readWrite && files_.db.writable() && !ix_.haveFiles);
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
        const uint8_t* p = files_.db.at(hs + uint64_t(b - 1) * h_.blockSize, 6);
        if (!p) break;
        int16_t add = static_cast<int16_t>(le16(p + 4));
        int count = add >= 0 && add % h_.recordSize == 0 ? add / h_.recordSize + 1 : 0;
        const uint8_t* recs = files_.db.at(hs + uint64_t(b - 1) * h_.blockSize + 6, uint64_t(count) * h_.recordSize);
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

// ==== physical order ===========================================================================

const BlockChain& ParadoxTable::chain() const {
    if (!chain_.built()) {
        chain_.build(files_.db, h_, "Файл таблицы");
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
    const uint8_t* p = files_.db.at(static_cast<uint64_t>(h_.headerSize) + uint64_t(block - 1) * h_.blockSize, 6);
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
    const uint8_t* p = files_.db.at(recordOffset(loc), static_cast<uint64_t>(h_.recordSize));
    if (!p) corrupt("запись за пределами файла");
    return p;
}

uint64_t ParadoxTable::recordOffset(RecordLoc loc) const {
    return static_cast<uint64_t>(h_.headerSize) + uint64_t(loc.block - 1) * h_.blockSize + 6 +
           uint64_t(loc.slot) * static_cast<uint64_t>(h_.recordSize);
}

void ParadoxTable::scanRecords(const std::function<void(RecordLoc, const FieldReader&)>& each) const {
    std::vector<uint8_t> block(h_.blockSize);
    const uint8_t* rec = nullptr;
    const FieldReader field = [&](int i) {
        if (i < 0 || i >= h_.numFields)
            throw Error("Таблица «" + path_ + "»: поля с номером " + std::to_string(i + 1) + " нет");
        return decodeField(rec, i);
    };
    // The blocks are copied, not mapped: a map would hold every page passed over.
    for (const ChainBlock& b : chain().blocks()) {
        if (b.count == 0) continue;
        const uint64_t at = static_cast<uint64_t>(h_.headerSize) + uint64_t(b.block - 1) * h_.blockSize;
        if (!files_.db.readInto(at, block.data(), 6 + size_t(b.count) * static_cast<size_t>(h_.recordSize)))
            corrupt("запись за пределами файла");
        for (uint32_t s = 0; s < b.count; ++s) {
            rec = block.data() + 6 + size_t(s) * static_cast<size_t>(h_.recordSize);
            each({b.block, s}, field);
        }
    }
}

std::string ParadoxTable::rawRecord(RecordLoc loc) const {
    return std::string(reinterpret_cast<const char*>(recordPtr(loc)), static_cast<size_t>(h_.recordSize));
}

// ==== writing ==================================================================================

void ParadoxTable::checkWritable() const {
    if (!files_.readWrite) throw Error("Таблица «" + path_ + "» открыта только для чтения");
    if (!files_.db.writable()) throw Error("Нет прав на запись в таблицу «" + path_ + "»");
    if (ix_.haveFiles)
        throw Error("Таблица «" + path_ + "» имеет индексные файлы; изменять индексированные таблицы нельзя");
}

void ParadoxTable::writeHeaderCounters() {
    blocks().writeCounters();
    info_.recordCount = static_cast<uint32_t>(chain_.total());
    info_.autoIncrement = h_.autoInc;
}

int32_t ParadoxTable::numberFor(const Record& rec, bool keepGiven) {
    if (numbering_.field < 0) return 0;
    const Value& given = rec[static_cast<size_t>(numbering_.field)];
    if (keepGiven && !given.isEmpty()) {
        const int64_t n = given.asInteger();
        if (n < 1 || n > 2147483647) throw Error("Таблица «" + path_ + "»: номер " + std::to_string(n) + " вне диапазона 1..2147483647");
        return static_cast<int32_t>(n);
    }
    if (!numbering_.checked) {
        // Other writers (pxlib among them) may leave the header's counter behind the numbers
        // already stored; numbering from it would hand out the same number twice.
        numbering_.checked = true;
        for (auto loc = first(); loc; loc = next(*loc)) {
            const Value v = readField(*loc, numbering_.field);
            if (!v.isEmpty() && v.asInteger() > h_.autoInc) h_.autoInc = static_cast<int32_t>(v.asInteger());
        }
    }
    if (h_.autoInc >= 2147483647) throw Error("Таблица «" + path_ + "»: счётчик автоинкремента исчерпан");
    return h_.autoInc + 1;
}

void ParadoxTable::storeCounter() {
    // The counter goes first: a crash before the records land wastes numbers, never repeats one.
    if (numbering_.field < 0) return;
    uint8_t v[4];
    put32(v, static_cast<uint32_t>(h_.autoInc));
    files_.db.write(hdr::AutoInc, v, 4);
}

void ParadoxTable::encodeNew(Record& rec, bool keepGiven, std::vector<BlobRef>& newBlobs, uint8_t* out) {
    if (rec.size() != fields_.size())
        throw Error("Таблица «" + path_ + "»: в записи " + std::to_string(rec.size()) + " значений, а полей " +
                    std::to_string(fields_.size()));
    if (numbering_.field < 0) return encodeRecord(rec, nullptr, newBlobs, out);
    const int32_t ai = numberFor(rec, keepGiven);
    Value& number = rec[static_cast<size_t>(numbering_.field)];
    Value given = std::exchange(number, Value::integer(ai));
    try {
        encodeRecord(rec, nullptr, newBlobs, out);
        h_.autoInc = std::max(h_.autoInc, ai);
    } catch (...) {
        number = std::move(given);
        throw;
    }
}

size_t ParadoxTable::keyBytes() const {
    size_t n = 0;
    for (int i = 0; i < h_.keyFields; ++i) n += static_cast<size_t>(h_.fields[static_cast<size_t>(i)].bytes);
    return n;
}

void ParadoxTable::checkKeyOrder(const uint8_t* before, const uint8_t* rec) const {
    if (h_.keyFields <= 0 || !before) return;
    if (std::memcmp(before, rec, keyBytes()) >= 0)
        throw Error("Таблица «" + path_ + "»: ключ новой записи должен быть больше ключа последней записи");
}

RecordLoc ParadoxTable::append(Record& rec) { return appendRecords({&rec, 1}, numbering_.keepGiven); }

void ParadoxTable::appendBatch(std::span<Record> recs) {
    if (!recs.empty()) appendRecords(recs, numbering_.keepGiven);
}

RecordLoc ParadoxTable::appendRecords(std::span<Record> recs, bool keepGiven) {
    checkWritable();
    const BlockChain& c = chain();
    const size_t rs = static_cast<size_t>(h_.recordSize);
    // Encoded first: a refused record stops the run there, the records before it are stored.
    // The memo file takes the run's blobs in memory and writes them once, before the records.
    std::string bytes;
    bytes.reserve(recs.size() * rs);
    std::vector<BlobRef> blobs;
    std::exception_ptr refused;
    struct MemoBatch {
        MemoFile& mb;
        ~MemoBatch() { mb.flush(); }
    } memoBatch{files_.mb};
    for (Record& r : recs) {
        std::vector<BlobRef> nb;
        const size_t at = bytes.size();
        try {
            if (files_.mb.isOpen()) files_.mb.beginBatch();
            bytes.resize(at + rs);  // encoded in place, after the run's records
            auto* one = reinterpret_cast<uint8_t*>(bytes.data() + at);
            encodeNew(r, keepGiven, nb, one);
            checkKeyOrder(at > 0 ? one - rs : c.total() > 0 ? recordPtr(*c.last()) : nullptr, one);
            blobs.insert(blobs.end(), nb.begin(), nb.end());
        } catch (...) {
            for (const BlobRef& x : nb) files_.mb.free(x);
            bytes.resize(at);
            refused = std::current_exception();
            break;
        }
    }
    files_.mb.flush();
    RecordLoc loc;
    if (!bytes.empty()) {
        try {
            storeCounter();
            loc = blocks().append(bytes);
            writeHeaderCounters();
        } catch (...) {
            for (const BlobRef& x : blobs) files_.mb.free(x);
            throw;
        }
    }
    if (refused) std::rethrow_exception(refused);
    return loc;
}

RecordLoc ParadoxTable::insert(uint32_t ordinal, Record& rec) {
    checkWritable();
    const BlockChain& c = chain();
    if (ordinal >= c.total()) return appendRecords({&rec, 1}, true);
    if (h_.keyFields > 0) throw Error("Таблица «" + path_ + "»: в таблицу с ключом запись вставляется только по порядку ключа");
    std::vector<BlobRef> nb;
    std::string bytes(static_cast<size_t>(h_.recordSize), '\0');
    encodeNew(rec, true, nb, reinterpret_cast<uint8_t*>(bytes.data()));
    try {
        storeCounter();
        const RecordLoc loc = blocks().insert(*c.locate(ordinal), bytes);
        writeHeaderCounters();
        return loc;
    } catch (...) {
        for (const BlobRef& x : nb) files_.mb.free(x);
        throw;
    }
}

void ParadoxTable::freeBlobs(const uint8_t* rec) {
    if (!files_.mb.isOpen()) return;
    for (const RawField& f : h_.fields) {
        if (!isBlob(f.type)) continue;
        const uint8_t* p = rec + f.offset + f.bytes - 10;
        BlobRef r{le32(p), le32(p + 4), le16(p + 8)};
        if (r.length > static_cast<uint32_t>(f.bytes - 10)) files_.mb.free(r);
    }
}

RecordLoc ParadoxTable::update(RecordLoc loc, const Record& rec) {
    checkWritable();
    std::string old = rawRecord(loc);
    const uint8_t* o = reinterpret_cast<const uint8_t*>(old.data());
    Record r = rec;
    if (r.size() == fields_.size() && numbering_.field >= 0) r[static_cast<size_t>(numbering_.field)] = decodeField(o, numbering_.field);
    std::vector<BlobRef> nb;
    std::string bytes(static_cast<size_t>(h_.recordSize), '\0');
    encodeRecord(r, o, nb, reinterpret_cast<uint8_t*>(bytes.data()));
    if (std::memcmp(o, bytes.data(), keyBytes()) != 0) {
        for (const BlobRef& x : nb) files_.mb.free(x);
        throw Error("Таблица «" + path_ + "»: ключ записи менять нельзя");
    }
    files_.db.write(recordOffset(loc), bytes.data(), bytes.size());
    // Free the blobs the record no longer points at.
    if (files_.mb.isOpen()) {
        for (const RawField& f : h_.fields) {
            if (!isBlob(f.type)) continue;
            const size_t at = static_cast<size_t>(f.offset + f.bytes - 10);
            if (std::memcmp(old.data() + at, bytes.data() + at, 10) == 0) continue;
            const uint8_t* p = o + at;
            BlobRef br{le32(p), le32(p + 4), le16(p + 8)};
            if (br.length > static_cast<uint32_t>(f.bytes - 10)) files_.mb.free(br);
        }
    }
    return loc;
}

std::optional<RecordLoc> ParadoxTable::remove(RecordLoc loc) {
    checkWritable();
    const std::string old = rawRecord(loc);
    const uint32_t n = chain_.countOf(loc.block);
    blocks().remove(loc);
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
