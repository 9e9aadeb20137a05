#include "storage/ParadoxTableParts.h"

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

// ==== writing ==================================================================================

void ParadoxTable::checkWritable() const {
    if (!readWrite_) throw Error("Таблица «" + path_ + "» открыта только для чтения");
    if (!db_.writable()) throw Error("Нет прав на запись в таблицу «" + path_ + "»");
    if (hasIndexFiles_)
        throw Error("Таблица «" + path_ + "» имеет индексные файлы; изменять индексированные таблицы нельзя");
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

int32_t ParadoxTable::numberFor(const Record& rec, bool keepGiven) {
    if (autoIncField_ < 0) return 0;
    const Value& given = rec[static_cast<size_t>(autoIncField_)];
    if (keepGiven && !given.isEmpty()) {
        const int64_t n = given.asInteger();
        if (n < 1 || n > 2147483647) throw Error("Таблица «" + path_ + "»: номер " + std::to_string(n) + " вне диапазона 1..2147483647");
        return static_cast<int32_t>(n);
    }
    if (!autoIncChecked_) {
        // Other writers (pxlib among them) may leave the header's counter behind the numbers
        // already stored; numbering from it would hand out the same number twice.
        autoIncChecked_ = true;
        for (auto loc = first(); loc; loc = next(*loc)) {
            const Value v = readField(*loc, autoIncField_);
            if (!v.isEmpty() && v.asInteger() > h_.autoInc) h_.autoInc = static_cast<int32_t>(v.asInteger());
        }
    }
    if (h_.autoInc >= 2147483647) throw Error("Таблица «" + path_ + "»: счётчик автоинкремента исчерпан");
    return h_.autoInc + 1;
}

void ParadoxTable::advanceCounter(int32_t ai) {
    if (autoIncField_ < 0 || ai <= h_.autoInc) return;
    // The counter goes first: a crash before the record lands wastes a number, never repeats one.
    h_.autoInc = ai;
    uint8_t v[4];
    put32(v, static_cast<uint32_t>(h_.autoInc));
    db_.write(hdr::AutoInc, v, 4);
}

uint32_t ParadoxTable::newBlockNumber() const {
    const uint64_t hs = static_cast<uint64_t>(h_.headerSize);
    const uint64_t inFile = db_.size() > hs ? (db_.size() - hs + h_.blockSize - 1) / h_.blockSize : 0;
    const uint64_t nb64 = std::max<uint64_t>(h_.fileBlocks, inFile) + 1;
    if (nb64 > 0xFFFF) throw Error("Таблица «" + path_ + "» переполнена: больше 65535 блоков");
    return static_cast<uint32_t>(nb64);
}

std::string ParadoxTable::encodeNew(const Record& rec, bool keepGiven, int32_t& ai, std::vector<BlobRef>& newBlobs) {
    if (rec.size() != fields_.size())
        throw Error("Таблица «" + path_ + "»: в записи " + std::to_string(rec.size()) + " значений, а полей " +
                    std::to_string(fields_.size()));
    ai = numberFor(rec, keepGiven);
    if (autoIncField_ < 0) return encodeRecord(rec, nullptr, newBlobs);
    Record r = rec;
    r[static_cast<size_t>(autoIncField_)] = Value::integer(ai);
    return encodeRecord(r, nullptr, newBlobs);
}

RecordLoc ParadoxTable::append(Record& rec) { return appendRecord(rec, keepGivenNumbers_); }

RecordLoc ParadoxTable::appendRecord(Record& rec, bool keepGiven) {
    checkWritable();
    const BlockChain& c = chain();
    int32_t ai = 0;
    std::vector<BlobRef> nb;
    const std::string bytes = encodeNew(rec, keepGiven, ai, nb);
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
        advanceCounter(ai);
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
            const uint32_t b = newBlockNumber();
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

void ParadoxTable::appendBatch(std::vector<Record>& recs) {
    if (autoIncField_ >= 0 || recs.empty()) {
        for (Record& r : recs) append(r);
        return;
    }
    checkWritable();
    const BlockChain& c = chain();
    const uint64_t hs = static_cast<uint64_t>(h_.headerSize);
    const uint32_t rs = static_cast<uint32_t>(h_.recordSize);
    const uint32_t perBlock = (h_.blockSize - 6) / rs;
    size_t keyBytes = 0;
    for (int i = 0; i < h_.keyFields; ++i) keyBytes += static_cast<size_t>(h_.fields[static_cast<size_t>(i)].bytes);

    // Encode first: a refused record stops the batch before anything of it is stored. The
    // memo file takes the batch's blobs in memory and writes them once, before the records.
    std::string bytes;
    bytes.reserve(recs.size() * rs);
    std::vector<BlobRef> blobs;
    struct MemoBatch {
        MemoFile& mb;
        ~MemoBatch() { mb.flush(); }
    } memoBatch{mb_};
    try {
        for (const Record& r : recs) {
            if (mb_.isOpen()) mb_.beginBatch();
            if (r.size() != fields_.size())
                throw Error("Таблица «" + path_ + "»: в записи " + std::to_string(r.size()) + " значений, а полей " +
                            std::to_string(fields_.size()));
            std::vector<BlobRef> nb;
            std::string one = encodeRecord(r, nullptr, nb);
            blobs.insert(blobs.end(), nb.begin(), nb.end());
            const uint8_t* prev = !bytes.empty() ? reinterpret_cast<const uint8_t*>(bytes.data() + bytes.size() - rs)
                                  : c.total() > 0 ? recordPtr(*c.last())
                                                  : nullptr;
            if (keyBytes > 0 && prev && std::memcmp(prev, one.data(), keyBytes) >= 0)
                throw Error("Таблица «" + path_ + "»: ключ новой записи должен быть больше ключа последней записи");
            bytes += one;
        }
    } catch (...) {
        for (const BlobRef& x : blobs) mb_.free(x);
        throw;
    }
    mb_.flush();

    size_t at = 0;
    const size_t n = recs.size();
    // The free slots of the last block, published by its count after the records land.
    if (const ChainBlock* lastBlock = c.blocks().empty() ? nullptr : &c.blocks().back(); lastBlock && lastBlock->count < perBlock) {
        const uint32_t b = lastBlock->block, have = lastBlock->count;
        const uint32_t take = static_cast<uint32_t>(std::min<size_t>(perBlock - have, n));
        const uint64_t off = hs + uint64_t(b - 1) * h_.blockSize;
        db_.write(off + 6 + uint64_t(have) * rs, bytes.data(), size_t(take) * rs);
        uint8_t add[2];
        put16(add, static_cast<uint16_t>(static_cast<int16_t>((have + take - 1) * rs)));
        db_.write(off + 4, add, 2);
        chain_.setCount(b, have + take);
        at = take;
    }
    if (at < n) {
        // New blocks after the last one in the file, chained in order, written as one piece and
        // then linked in from the chain's last block.
        const uint64_t inFile = db_.size() > hs ? (db_.size() - hs + h_.blockSize - 1) / h_.blockSize : 0;
        const uint64_t first64 = std::max<uint64_t>(h_.fileBlocks, inFile) + 1;
        const uint64_t count = (n - at + perBlock - 1) / perBlock;
        if (first64 + count - 1 > 0xFFFF) throw Error("Таблица «" + path_ + "» переполнена: больше 65535 блоков");
        const uint32_t first = static_cast<uint32_t>(first64);
        const uint32_t prevLast = c.blocks().empty() ? 0 : c.blocks().back().block;
        std::vector<uint8_t> buf(static_cast<size_t>(count) * h_.blockSize, 0);
        std::vector<uint32_t> counts;
        for (uint64_t k = 0; k < count; ++k) {
            uint8_t* blk = &buf[static_cast<size_t>(k) * h_.blockSize];
            const uint32_t inBlock = static_cast<uint32_t>(std::min<size_t>(perBlock, n - at));
            const uint32_t b = first + static_cast<uint32_t>(k);
            put16(blk, static_cast<uint16_t>(k + 1 < count ? b + 1 : 0));
            put16(blk + 2, static_cast<uint16_t>(k == 0 ? prevLast : b - 1));
            put16(blk + 4, static_cast<uint16_t>(static_cast<int16_t>((inBlock - 1) * rs)));
            std::memcpy(blk + 6, bytes.data() + at * rs, size_t(inBlock) * rs);
            at += inBlock;
            counts.push_back(inBlock);
        }
        db_.write(hs + uint64_t(first - 1) * h_.blockSize, buf.data(), buf.size());
        if (prevLast) {
            uint8_t nx[2];
            put16(nx, static_cast<uint16_t>(first));
            db_.write(hs + uint64_t(prevLast - 1) * h_.blockSize, nx, 2);  // links them in
        }
        for (uint64_t k = 0; k < count; ++k) chain_.appendBlock(first + static_cast<uint32_t>(k), counts[static_cast<size_t>(k)]);
        h_.fileBlocks = static_cast<uint16_t>(first + count - 1);
    }
    writeHeaderCounters();
}

void ParadoxTable::appendAll(const std::vector<Record>& records) {
    checkWritable();
    const BlockChain& c = chain();
    if (h_.keyFields > 0 || !c.blocks().empty()) {
        for (const Record& r : records) {
            Record copy = r;
            append(copy);
        }
        return;
    }
    const uint64_t hs = static_cast<uint64_t>(h_.headerSize);
    const uint32_t rs = static_cast<uint32_t>(h_.recordSize);
    const uint32_t perBlock = (h_.blockSize - 6) / rs;
    std::vector<uint8_t> blk(h_.blockSize, 0);
    uint32_t inBlock = 0, prev = 0, b = newBlockNumber();
    for (size_t i = 0; i < records.size(); ++i) {
        int32_t ai = 0;
        std::vector<BlobRef> nb;
        const std::string bytes = encodeNew(records[i], keepGivenNumbers_, ai, nb);
        h_.autoInc = std::max(h_.autoInc, ai);
        std::memcpy(&blk[6 + size_t(inBlock) * rs], bytes.data(), rs);
        ++inBlock;
        const bool last = i + 1 == records.size();
        if (inBlock < perBlock && !last) continue;
        put16(&blk[0], static_cast<uint16_t>(last ? 0 : b + 1));
        put16(&blk[2], static_cast<uint16_t>(prev));
        put16(&blk[4], static_cast<uint16_t>(static_cast<int16_t>((static_cast<int>(inBlock) - 1) * static_cast<int>(rs))));
        if (b > 0xFFFF) throw Error("Таблица «" + path_ + "» переполнена: больше 65535 блоков");
        db_.write(hs + uint64_t(b - 1) * h_.blockSize, blk.data(), blk.size());
        chain_.appendBlock(b, inBlock);
        h_.fileBlocks = static_cast<uint16_t>(b);
        std::fill(blk.begin(), blk.end(), 0);
        inBlock = 0;
        prev = b++;
    }
    writeHeaderCounters();
}

RecordLoc ParadoxTable::insert(uint32_t ordinal, Record& rec) {
    checkWritable();
    const BlockChain& c = chain();
    if (ordinal >= c.total()) return appendRecord(rec, true);
    if (h_.keyFields > 0) throw Error("Таблица «" + path_ + "»: в таблицу с ключом запись вставляется только по порядку ключа");
    int32_t ai = 0;
    std::vector<BlobRef> nb;
    const std::string bytes = encodeNew(rec, true, ai, nb);
    const uint64_t hs = static_cast<uint64_t>(h_.headerSize);
    const uint32_t rs = static_cast<uint32_t>(h_.recordSize);
    const uint32_t perBlock = (h_.blockSize - 6) / rs;
    auto blockOffset = [&](uint32_t b) { return hs + uint64_t(b - 1) * h_.blockSize; };
    auto readBlock = [&](uint32_t b, uint32_t n) {
        const uint8_t* cur = db_.at(blockOffset(b), 6 + uint64_t(n) * rs);
        if (!cur) corrupt("блок обрезан");
        std::vector<uint8_t> blk(h_.blockSize, 0);
        std::memcpy(blk.data(), cur, 6 + size_t(n) * rs);
        return blk;
    };
    auto setCountIn = [&](std::vector<uint8_t>& blk, uint32_t n) {
        put16(&blk[4], static_cast<uint16_t>(static_cast<int16_t>((static_cast<int>(n) - 1) * static_cast<int>(rs))));
    };
    try {
        RecordLoc loc = *c.locate(ordinal);
        const int64_t pos = c.position(loc.block);
        // The first record of a block whose predecessor has room: the new one ends that block.
        if (loc.slot == 0 && pos > 0 && c.blocks()[size_t(pos - 1)].count < perBlock) {
            const ChainBlock& prev = c.blocks()[size_t(pos - 1)];
            loc = {prev.block, prev.count};
        }
        const uint32_t n = c.countOf(loc.block);
        std::vector<uint8_t> blk = readBlock(loc.block, n);
        advanceCounter(ai);
        if (n < perBlock) {
            // Room in the block: the records after the place move one slot on, in one write.
            std::memmove(&blk[6 + size_t(loc.slot + 1) * rs], &blk[6 + size_t(loc.slot) * rs], size_t(n - loc.slot) * rs);
            std::memcpy(&blk[6 + size_t(loc.slot) * rs], bytes.data(), rs);
            setCountIn(blk, n + 1);
            db_.write(blockOffset(loc.block), blk.data(), 6 + size_t(n + 1) * rs);
            chain_.setCount(loc.block, n + 1);
        } else {
            // A full block is split: the records from the place on go to a new block linked
            // after it, written first while nothing points at it; the one write of the old
            // block (the new record in the freed slot, its count, its link) then puts both in.
            const uint32_t nbNo = newBlockNumber();
            const uint32_t following = le16(&blk[0]);
            std::vector<uint8_t> tail(h_.blockSize, 0);
            put16(&tail[0], static_cast<uint16_t>(following));
            put16(&tail[2], static_cast<uint16_t>(loc.block));
            std::memcpy(&tail[6], &blk[6 + size_t(loc.slot) * rs], size_t(n - loc.slot) * rs);
            setCountIn(tail, n - loc.slot);
            db_.write(blockOffset(nbNo), tail.data(), tail.size());
            h_.fileBlocks = static_cast<uint16_t>(nbNo);
            std::memcpy(&blk[6 + size_t(loc.slot) * rs], bytes.data(), rs);
            std::memset(&blk[6 + size_t(loc.slot + 1) * rs], 0, size_t(n - loc.slot - 1) * rs);
            put16(&blk[0], static_cast<uint16_t>(nbNo));
            setCountIn(blk, loc.slot + 1);
            db_.write(blockOffset(loc.block), blk.data(), blk.size());
            if (following != 0) {
                uint8_t pv[2];
                put16(pv, static_cast<uint16_t>(nbNo));
                db_.write(blockOffset(following) + 2, pv, 2);
            }
            chain_.setCount(loc.block, loc.slot + 1);
            chain_.insertBlockAfter(loc.block, nbNo, n - loc.slot);
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
