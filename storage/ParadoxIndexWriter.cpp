#include "storage/ParadoxIndexWriter.h"

#include "common/AtomicFile.h"
#include "common/Error.h"
#include "common/TextFold.h"
#include "storage/CodePage.h"
#include "storage/FileNames.h"
#include "storage/ParadoxFormat.h"
#include "storage/RawFile.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <numeric>
#include <optional>
#include <string_view>

namespace talvira::storage {

namespace {

namespace fs = std::filesystem;

using storage::hdr::AutoInc;
using storage::hdr::ChangeCount1;
using storage::hdr::ChangeCount2;
using storage::hdr::CodePage;
using storage::hdr::Encryption1;
using storage::hdr::Extended;
using storage::hdr::FieldInfoPtr;
using storage::hdr::FileBlocks;
using storage::hdr::FileType;
using storage::hdr::FileVerId;
using storage::hdr::FileVersion;
using storage::hdr::FirstBlock;
using storage::hdr::Fixed;
using storage::hdr::HeaderSize;
using storage::hdr::HiFieldId;
using storage::hdr::HiFieldIdInfo;
using storage::hdr::IndexFieldNumber;
using storage::hdr::IndexFlags;
using storage::hdr::IndexLevels;
using storage::hdr::IndexRoot;
using storage::hdr::KeyFields;
using storage::hdr::LastBlock;
using storage::hdr::MaxBlocks;
using storage::hdr::MaxTableSize;
using storage::hdr::NextBlock;
using storage::hdr::NumFields;
using storage::hdr::NumRecords;
using storage::hdr::RealHeaderSize;
using storage::hdr::RecordSize;
using storage::hdr::SortOrder;
using storage::hdr::TableNamePtrPtr;
using storage::hdr::UpdateTime;
using storage::le16;
using storage::ParadoxFileType;

/* ---------------------------------------------------------------------------------------
 * Header bytes that only a writer of index files needs (the reader's offsets are in
 * storage/ParadoxFormat.h).
 * ------------------------------------------------------------------------------------- */
constexpr size_t kChangeCounter = 0x12;
constexpr size_t kIndexChange = 0x2C;  // PX/Y: change stamp of the index; X: 0xFF
constexpr size_t kXIndexStamp = 0x2F;  // X files: the stamp of their Y file
constexpr size_t kDbMarker = 0x3E;     // 1F 0F in DB and X files
constexpr size_t kDbMarker2 = 0x56;    // 0x20 in DB and X files
constexpr size_t kIndexNameInfo = 0x68;
constexpr size_t kExtMarker = 0x6C;    // 01 01, then u16 (end of names part) - 0x61

constexpr uint8_t kFieldShort = 0x03;
constexpr uint32_t kTreeBlockSize = 2048;  // PX and Y files use 2 KiB blocks
constexpr uint8_t kIndexStamp = 1;

/* ---------------------------------------------------------------------------------------
 * Little helpers
 * ------------------------------------------------------------------------------------- */
uint8_t typeByte(ParadoxFileType t) { return static_cast<uint8_t>(t); }
void putU16(std::string& b, size_t off, uint16_t v) { storage::put16(reinterpret_cast<uint8_t*>(&b[off]), v); }
void putU32(std::string& b, size_t off, uint32_t v) { storage::put32(reinterpret_cast<uint8_t*>(&b[off]), v); }
/** A short as records store it: big-endian with bit 15 inverted. */
void appendStoredShort(std::string& b, uint16_t v) {
    uint8_t s[2];
    storage::encodeShort(s, int16_t(v));
    b.append(reinterpret_cast<const char*>(s), 2);
}

std::string upperAscii(std::string s) {
    for (auto& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

/* ---------------------------------------------------------------------------------------
 * The table as the file layer reads it: header facts and fields (parseParadoxHeader), and the
 * block chain, walked a block at a time.
 * ------------------------------------------------------------------------------------- */
struct KeyField {
    std::string name;      // as stored (code-page bytes; our field names are ASCII)
    uint8_t type = 0;
    uint8_t sizeByte = 0;  // as the header stores it
    uint32_t bytes = 0;    // in the record
    uint32_t offset = 0;   // within the record
};

struct RawBlock {
    uint16_t number = 0;
    const uint8_t* records = nullptr;
    uint32_t count = 0;
};

class RawTable {
public:
    explicit RawTable(const std::string& path) : path_(path), file_(path, false) {
        const uint8_t* fixed = file_.at(0, Fixed);
        if (!fixed) fail("файл короче заголовка");
        // Index files are written for tables only; anything else is not a table at all.
        if (fixed[FileType] != typeByte(ParadoxFileType::KeyedTable) && fixed[FileType] != typeByte(ParadoxFileType::Table))
            fail("это не файл таблицы (тип " + std::to_string(fixed[FileType]) + ")");
        h_ = storage::parseParadoxHeader(file_, "Файл таблицы");
        if (h_.version < 5) fail("индексы пишутся только для таблиц Paradox 4 и новее");
        if (le32At(Encryption1) != 0xFF00FF00u) fail("таблица зашифрована");
        header_ = file_.at(0, uint64_t(h_.headerSize));
        for (size_t i = 0; i < h_.fields.size(); ++i) {
            const storage::RawField& rf = h_.fields[i];
            fields_.push_back({h_.rawNames[i], uint8_t(rf.type), rf.sizeByte, uint32_t(rf.bytes), uint32_t(rf.offset)});
        }
    }

    [[noreturn]] void fail(const std::string& what) const {
        throw Error("Файл таблицы «" + path_ + "» повреждён: " + what);
    }

    const std::string& path() const { return path_; }
    /** The header bytes (headerSize of them). */
    const uint8_t* header() const { return header_; }
    uint8_t fileType() const { return uint8_t(h_.fileType); }
    uint32_t recordSize() const { return uint32_t(h_.recordSize); }
    uint32_t blockSize() const { return h_.blockSize; }
    uint32_t numRecords() const { return uint32_t(h_.numRecords); }
    int keyFields() const { return h_.keyFields; }
    int codePage() const { return h_.codePage; }
    uint8_t sortOrder() const { return h_.sortOrder; }
    uint8_t version() const { return uint8_t(h_.version); }
    uint16_t changeCounter() const { return le16(header_ + kChangeCounter); }
    const std::vector<KeyField>& fields() const { return fields_; }
    const std::string& sortOrderId() const { return h_.sortOrderId; }

    int fieldIndex(std::string_view name) const {
        for (size_t i = 0; i < fields_.size(); ++i)
            if (equalFolded(fields_[i].name, name)) return int(i);
        return -1;
    }

    /** Calls `fn` with each data block in chain order, empty ones left out; checks every link
     *  and count (a fault found after some blocks were handed out still fails the walk). The
     *  blocks are read one at a time into one buffer, not mapped: a table of hundreds of
     *  megabytes written a moment ago is copied faster than its pages are mapped. */
    template <class Fn>
    void eachBlock(Fn&& fn) const {
        const uint32_t fileBlocks = h_.fileBlocks;
        uint32_t blockNo = h_.firstBlock;
        const uint64_t available = (file_.size() - uint64_t(h_.headerSize)) / h_.blockSize;
        if (fileBlocks > available) fail("заголовок указывает за конец файла");
        std::vector<bool> seen(fileBlocks + 1, false);
        std::vector<uint8_t> b(h_.blockSize);
        uint32_t prev = 0;
        uint64_t total = 0;
        const uint32_t recordSize = this->recordSize();
        while (blockNo != 0) {
            if (blockNo > fileBlocks) fail("ссылка на блок " + std::to_string(blockNo) + " за концом файла");
            if (seen[blockNo]) fail("цепочка блоков зациклена");
            seen[blockNo] = true;
            if (!file_.readInto(uint64_t(h_.headerSize) + uint64_t(blockNo - 1) * h_.blockSize, b.data(), b.size()))
                fail("блок " + std::to_string(blockNo) + " за концом файла");
            const uint16_t next = le16(b.data());
            const uint16_t back = le16(b.data() + 2);
            const int16_t add = int16_t(le16(b.data() + 4));
            if (back != prev) fail("блок " + std::to_string(blockNo) + " ссылается назад не на предыдущий");
            if (add >= 0) {
                if (add % recordSize != 0) fail("неверная длина данных в блоке " + std::to_string(blockNo));
                const uint32_t count = uint32_t(add) / recordSize + 1;
                if (6 + uint64_t(count) * recordSize > h_.blockSize) fail("блок " + std::to_string(blockNo) + " переполнен");
                total += count;
                if (total > numRecords()) fail("записей в блоках больше, чем в заголовке (" + std::to_string(numRecords()) + ")");
                fn(RawBlock{uint16_t(blockNo), b.data() + 6, count});
            }
            prev = blockNo;
            blockNo = next;
        }
        if (total != numRecords()) fail("число записей в заголовке (" + std::to_string(numRecords()) +
                                        ") не совпадает с блоками (" + std::to_string(total) + ")");
    }

private:
    uint32_t le32At(size_t off) const { return storage::le32(file_.at(0, Fixed) + off); }

    std::string path_;
    storage::RawFile file_;
    storage::ParadoxHeader h_;
    const uint8_t* header_ = nullptr;
    std::vector<KeyField> fields_;
};

/* ---------------------------------------------------------------------------------------
 * Tree files (.PX, .Ynn, .YGn): entries of (key, child block, records below, 0) in 2 KiB
 * blocks. The leaves point at the blocks of the file below; each upper level holds the first
 * key of each block of the level under it. All blocks form one chain, leaves first, root last.
 * ------------------------------------------------------------------------------------- */
struct TreeInput {
    std::string fileName;            // written into the header ("RESURS.PX")
    uint8_t fileType = 0;
    std::vector<KeyField> keyFields; // type and size of the key fields
    uint32_t keySize = 0;
    std::string leafKeys;            // keySize bytes per leaf entry
    std::vector<uint16_t> childBlocks;
    std::vector<uint32_t> childCounts;
    uint8_t sortOrder = 0;
    uint8_t version = 0;
    uint16_t changeCounter = 0;
};

std::string buildTreeFile(const TreeInput& in) {
    const uint32_t recSize = in.keySize + 6;
    const uint32_t perBlock = (kTreeBlockSize - 6) / recSize;
    const size_t nfields = in.keyFields.size();

    // Blocks per level, bottom up, until one block holds a whole level.
    std::vector<size_t> blocksOf;
    for (size_t n = in.childBlocks.size();;) {
        size_t blocks = (n + perBlock - 1) / perBlock;
        blocksOf.push_back(blocks);
        if (blocks <= 1) break;
        n = blocks;
    }
    // Numbering runs top down: the root is block 1, then each level below it, the leaves last,
    // and the chain follows the numbers (readers that take the first block as the upper level,
    // such as pxlib, find it there).
    std::vector<uint32_t> firstBlockOfLevel(blocksOf.size());
    uint32_t nextBlockNo = 1;
    for (size_t li = blocksOf.size(); li-- > 0;) {
        firstBlockOfLevel[li] = nextBlockNo;
        nextBlockNo += uint32_t(blocksOf[li]);
    }

    // Entries per level, bottom up: each is (key, child block, records below).
    struct Level { std::string keys; std::vector<uint32_t> child; std::vector<uint32_t> count; };
    std::vector<Level> levels;
    levels.push_back({in.leafKeys, {in.childBlocks.begin(), in.childBlocks.end()}, in.childCounts});
    for (size_t li = 1; li < blocksOf.size(); ++li) {
        const Level& cur = levels.back();
        const size_t n = cur.child.size();
        Level up;
        for (size_t b = 0; b < blocksOf[li - 1]; ++b) {
            size_t from = b * perBlock, to = std::min(n, from + perBlock);
            up.keys.append(cur.keys, from * in.keySize, in.keySize);
            up.child.push_back(firstBlockOfLevel[li - 1] + uint32_t(b));
            uint64_t sum = 0;
            for (size_t i = from; i < to; ++i) sum += cur.count[i];
            up.count.push_back(uint32_t(std::min<uint64_t>(sum, 0xFFFFFFFFu)));
        }
        levels.push_back(std::move(up));
    }
    const uint32_t fileBlocks = nextBlockNo - 1;
    if (fileBlocks > 0xFFFF) throw Error("Индекс «" + in.fileName + "» слишком велик: больше 65535 блоков");
    uint32_t totalEntries = 0;
    for (auto& l : levels) totalEntries += uint32_t(l.child.size());
    const bool empty = levels.front().child.empty();

    // Header: fixed part, then field info, table name pointer, table name.
    const size_t nameLen = in.version >= 0x0C ? 261 : 79;
    const size_t tableNameOff = Fixed + 2 * nfields + 4;
    const size_t realHeader = tableNameOff + nameLen;
    const size_t headerSize = (realHeader + 0x7FF) / 0x800 * 0x800;
    std::string out(headerSize + size_t(fileBlocks) * kTreeBlockSize, '\0');
    putU16(out, RecordSize, uint16_t(recSize));
    putU16(out, HeaderSize, uint16_t(headerSize));
    out[FileType] = char(in.fileType);
    out[MaxTableSize] = char(kTreeBlockSize / 1024);
    putU32(out, NumRecords, empty ? 0 : totalEntries);
    putU16(out, NextBlock, uint16_t(fileBlocks));
    putU16(out, FileBlocks, uint16_t(fileBlocks));
    putU16(out, FirstBlock, fileBlocks ? 1 : 0);
    putU16(out, LastBlock, uint16_t(fileBlocks));
    putU16(out, kChangeCounter, in.changeCounter);
    putU16(out, IndexRoot, empty ? 0 : 1);
    out[IndexLevels] = char(empty ? 0 : levels.size());
    putU16(out, NumFields, uint16_t(nfields));
    out[SortOrder] = char(in.sortOrder);
    out[kIndexChange] = char(kIndexStamp);
    putU32(out, TableNamePtrPtr, uint32_t(tableNameOff - 4));
    putU32(out, FieldInfoPtr, uint32_t(Fixed));
    out[FileVersion] = char(in.version);
    putU16(out, MaxBlocks, uint16_t(fileBlocks));
    putU32(out, AutoInc, 1);
    putU16(out, RealHeaderSize, uint16_t(realHeader));
    for (size_t i = 0; i < nfields; ++i) {
        out[Fixed + 2 * i] = char(in.keyFields[i].type);
        out[Fixed + 2 * i + 1] = char(in.keyFields[i].sizeByte);
    }
    putU32(out, tableNameOff - 4, uint32_t(tableNameOff));
    std::memcpy(&out[tableNameOff], in.fileName.data(), std::min(in.fileName.size(), nameLen - 1));

    // Blocks, level by level.
    for (size_t li = 0; li < levels.size(); ++li) {
        const Level& l = levels[li];
        size_t n = l.child.size();
        size_t blocks = (n + perBlock - 1) / perBlock;
        for (size_t b = 0; b < blocks; ++b) {
            uint32_t blockNo = firstBlockOfLevel[li] + uint32_t(b);
            size_t base = headerSize + size_t(blockNo - 1) * kTreeBlockSize;
            size_t from = b * perBlock, to = std::min(n, from + perBlock);
            putU16(out, base, blockNo < fileBlocks ? uint16_t(blockNo + 1) : 0);
            putU16(out, base + 2, uint16_t(blockNo - 1));
            putU16(out, base + 4, uint16_t(int16_t((to - from - 1) * recSize)));
            std::string entries;
            entries.reserve((to - from) * recSize);
            for (size_t i = from; i < to; ++i) {
                entries.append(l.keys, i * in.keySize, in.keySize);
                appendStoredShort(entries, uint16_t(l.child[i]));
                // The count is statistics kept in a short: large subtrees are capped.
                appendStoredShort(entries, uint16_t(std::min<uint32_t>(l.count[i], 0x7FFF)));
                appendStoredShort(entries, 0);
            }
            std::memcpy(&out[base + 6], entries.data(), entries.size());
        }
    }
    return out;
}

std::string stemOf(const std::string& dbPath) { return fs::path(dbPath).stem().string(); }


void patchBytes(const std::string& path, size_t offset, const std::string& bytes) {
    storage::RawFile f(path, true);
    if (!f.writable()) throw Error("Не удалось открыть таблицу «" + path + "» для записи");
    f.write(offset, bytes.data(), bytes.size());
}

/* ---------------------------------------------------------------------------------------
 * The X file: a keyed table of (index fields, primary key fields, "Blk Num").
 * ------------------------------------------------------------------------------------- */
struct XLayout {
    std::vector<KeyField> fields;   // in X order, offsets within the X record
    std::vector<int> dbFieldNumbers;  // 1-based DB field of each index field
    uint32_t keySize = 0;            // index fields + primary key (the sort key)
    uint32_t recordSize = 0;         // keySize + 2
};

std::string buildXHeader(const RawTable& t, const XLayout& x, const std::string& fileName,
                         const SecondaryIndexDef& def, bool xg, uint32_t fileBlocks, uint32_t numRecords) {
    const uint8_t* h = t.header();
    const size_t nf = x.fields.size();
    const uint8_t version = h[FileVersion];
    const size_t nameLen = version >= 0x0C ? 261 : 79;
    const size_t tableNamePtr = Extended + 2 * nf;
    const size_t tableNameOff = tableNamePtr + 4 + 4 * nf;
    size_t o = tableNameOff + nameLen;
    std::vector<size_t> nameOffs;
    std::string names;
    for (auto& f : x.fields) {
        nameOffs.push_back(o + names.size());
        names += f.name;
        names.push_back('\0');
    }
    const size_t namesOff = o;
    const size_t fieldNumbersOff = namesOff + names.size();
    const size_t sortIdOff = fieldNumbersOff + 2 * nf;
    const size_t indexNameOff = sortIdOff + t.sortOrderId().size() + 1;
    const size_t realHeader = xg ? indexNameOff + def.name.size() + 1 : indexNameOff;
    const size_t headerSize = (realHeader + 0x7FF) / 0x800 * 0x800;
    if (headerSize > 0xF800) throw Error("Заголовок индекса «" + fileName + "» слишком велик");

    std::string out(headerSize, '\0');
    putU16(out, RecordSize, uint16_t(x.recordSize));
    putU16(out, HeaderSize, uint16_t(headerSize));
    out[FileType] = char(xg ? typeByte(ParadoxFileType::CompositeIncr) : typeByte(ParadoxFileType::SecondaryIncr));
    out[MaxTableSize] = char(t.blockSize() / 1024);
    putU32(out, NumRecords, numRecords);
    putU16(out, NextBlock, uint16_t(fileBlocks));
    putU16(out, FileBlocks, uint16_t(fileBlocks));
    putU16(out, FirstBlock, fileBlocks ? 1 : 0);
    putU16(out, LastBlock, uint16_t(fileBlocks));
    putU16(out, kChangeCounter, uint16_t(t.changeCounter() + 1));
    out[IndexFieldNumber] = char(x.dbFieldNumbers.front());
    putU16(out, NumFields, uint16_t(nf));
    putU16(out, KeyFields, uint16_t(nf - 1));
    putU32(out, Encryption1, 0xFF00FF00u);
    out[SortOrder] = char(h[SortOrder]);
    out[kIndexChange] = char(0xFF);
    out[ChangeCount1] = 2;
    out[ChangeCount2] = 1;
    out[kXIndexStamp] = char(kIndexStamp);
    putU32(out, TableNamePtrPtr, uint32_t(tableNamePtr));
    putU32(out, FieldInfoPtr, uint32_t(Extended));
    out[FileVersion] = char(version);
    putU16(out, MaxBlocks, uint16_t(fileBlocks));
    out[kDbMarker] = 0x1F;
    out[kDbMarker + 1] = 0x0F;
    putU16(out, RealHeaderSize, uint16_t(realHeader));
    out[IndexFlags] = char(def.caseInsensitive ? 0x01 : 0x00);
    out[kDbMarker2] = 0x20;
    std::memcpy(&out[FileVerId], h + FileVerId, 4);
    std::memcpy(&out[UpdateTime], h + UpdateTime, 4);
    putU16(out, HiFieldId, uint16_t(std::max<size_t>(size_t(x.dbFieldNumbers.front()), nf) + 1));
    putU16(out, HiFieldIdInfo, uint16_t(fieldNumbersOff - Fixed));
    putU16(out, kIndexNameInfo, xg ? uint16_t(indexNameOff - Fixed) : 0);
    putU16(out, CodePage, uint16_t(t.codePage()));
    out[kExtMarker] = 1;
    out[kExtMarker + 1] = 1;
    putU16(out, kExtMarker + 2, uint16_t(indexNameOff - 0x61));

    for (size_t i = 0; i < nf; ++i) {
        out[Extended + 2 * i] = char(x.fields[i].type);
        out[Extended + 2 * i + 1] = char(x.fields[i].sizeByte);
        putU32(out, tableNamePtr + 4 + 4 * i, uint32_t(nameOffs[i]));
    }
    putU32(out, tableNamePtr, uint32_t(tableNameOff));
    std::memcpy(&out[tableNameOff], fileName.data(), std::min(fileName.size(), nameLen - 1));
    std::memcpy(&out[namesOff], names.data(), names.size());
    // Field numbers: the table fields of the index fields, then the X file's own positions.
    for (size_t i = 0; i < nf; ++i) {
        uint16_t v = i < x.dbFieldNumbers.size() ? uint16_t(x.dbFieldNumbers[i]) : uint16_t(i + 1);
        putU16(out, fieldNumbersOff + 2 * i, v);
    }
    std::memcpy(&out[sortIdOff], t.sortOrderId().data(), t.sortOrderId().size());
    if (xg) std::memcpy(&out[indexNameOff], def.name.data(), def.name.size());
    return out;
}

/** Compares fixed-size keys in a flat buffer. */
struct KeyLess {
    const uint8_t* base;
    uint32_t stride;
    uint32_t keySize;
    bool operator()(uint32_t a, uint32_t b) const {
        int c = std::memcmp(base + size_t(a) * stride, base + size_t(b) * stride, keySize);
        return c < 0 || (c == 0 && a < b);
    }
};

/** Sorts `v`, quickly when it is sorted already but for a tail (the usual case: an index
 *  over a field that grows with the key, records added after the rest). */
template <class Less>
void sortMostlySorted(std::vector<uint32_t>& v, Less less) {
    const auto sortedEnd = std::is_sorted_until(v.begin(), v.end(), less);
    std::sort(sortedEnd, v.end(), less);
    std::inplace_merge(v.begin(), sortedEnd, v.end(), less);
}

/** A single-field, case-sensitive index named after its field lives in .Xnn/.Ynn; the others
 *  in .XGn/.YGn. */
bool isPlainIndex(const SecondaryIndexDef& def) {
    return def.fields.size() == 1 && !def.caseInsensitive && equalFolded(def.name, def.fields.front());
}

/** The primary index as one walk over the table gathers it. */
class PrimaryIndex {
public:
    PrimaryIndex(const RawTable& t, const std::string& dbPath, int keyFields) : t_(t), path_(dbPath), keyFields_(keyFields) {
        if (keyFields < 1 || keyFields > int(t.fields().size()))
            throw Error("Таблица «" + dbPath + "»: неверное число ключевых полей " + std::to_string(keyFields));
        uint32_t keySize = 0;
        for (int i = 0; i < keyFields; ++i) {
            const KeyField& f = t.fields()[size_t(i)];
            if (f.type >= 0x0C && f.type <= 0x10)
                throw Error("Таблица «" + dbPath + "»: поле «" + f.name + "» не может входить в ключ");
            in_.keyFields.push_back(f);
            keySize += f.bytes;
        }
        in_.keySize = keySize;
    }
    /** The next block along the chain: records must rise strictly by key, within and across blocks. */
    void add(const RawBlock& b) {
        const uint32_t keySize = in_.keySize;
        in_.leafKeys.append(reinterpret_cast<const char*>(b.records), keySize);
        in_.childBlocks.push_back(b.number);
        in_.childCounts.push_back(b.count);
        const char* prev = prevKey_.empty() ? nullptr : prevKey_.data();
        for (uint32_t r = 0; r < b.count; ++r) {
            const char* k = reinterpret_cast<const char*>(b.records + size_t(r) * t_.recordSize());
            if (prev && std::memcmp(prev, k, keySize) >= 0)
                throw Error("Записи таблицы «" + path_ + "» не упорядочены по ключу или ключ повторяется");
            prev = k;
        }
        prevKey_.assign(prev, keySize);  // the block's last key: the block read next overwrites it
    }
    /** Writes T.PX, then marks the table keyed. */
    void write() {
        in_.fileName = upperAscii(stemOf(path_)) + ".PX";
        in_.fileType = typeByte(ParadoxFileType::PrimaryIndex);
        in_.sortOrder = t_.sortOrder();
        in_.version = t_.version();
        in_.changeCounter = uint16_t(t_.changeCounter() + 1);

        // The index first, then the header that says the table has one.
        writeFileAtomically(companionPath(path_, "PX"), buildTreeFile(in_), false, "файл индекса");

        // Mark the table keyed; an engine refuses an index over a table whose change count is
        // below 2 ("index not up to date").
        std::string type(1, char(typeByte(ParadoxFileType::KeyedTable)));
        patchBytes(path_, FileType, type);
        std::string pk(2, '\0');
        putU16(pk, 0, uint16_t(keyFields_));
        patchBytes(path_, KeyFields, pk);
        if (t_.header()[ChangeCount1] < 2) patchBytes(path_, ChangeCount1, std::string(1, char(2)));
    }

private:
    const RawTable& t_;
    std::string path_;
    int keyFields_;
    TreeInput in_;
    std::string prevKey_;
};

/** The secondary indexes of a table as the same walk gathers them: (key, primary key, block)
 *  of every record, sorted and written as X and Y files at the end. */
class SecondaryIndexes {
public:
    /** Removes the table's stale secondary index files and lays out each index (a refused
     *  index writes nothing); `keyFields`: the table's primary key. */
    SecondaryIndexes(const RawTable& t, const std::string& dbPath, const std::vector<SecondaryIndexDef>& indexes, int keyFields)
        : t_(t), dbPath_(dbPath), indexes_(indexes) {
        // Stale secondary index files of this table go first.
        const std::string stem = upperAscii(stemOf(dbPath));
        fs::path dir = fs::path(dbPath).parent_path();
        if (dir.empty()) dir = ".";
        std::error_code ec;
        for (auto& e : fs::directory_iterator(dir, ec)) {
            std::string name = e.path().filename().string();
            std::string up = upperAscii(name);
            if (up.size() < stem.size() + 4 || up.compare(0, stem.size() + 1, stem + ".") != 0) continue;
            std::string ext = up.substr(stem.size() + 1);
            bool xy = (ext[0] == 'X' || ext[0] == 'Y') &&
                      ((ext.size() == 3 && std::isxdigit(static_cast<unsigned char>(ext[1])) &&
                        std::isxdigit(static_cast<unsigned char>(ext[2]))) ||
                       (ext.size() >= 3 && ext[1] == 'G' &&
                        std::all_of(ext.begin() + 2, ext.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })));
            if (xy) fs::remove(e.path(), ec);
        }

        nrec_ = t.numRecords();
        for (const SecondaryIndexDef& def : indexes) {
            if (def.fields.empty()) throw Error("Индекс «" + def.name + "» таблицы «" + dbPath + "» без полей");
            Gathered& g = all_.emplace_back();
            XLayout& x = g.x;
            for (auto& name : def.fields) {
                int fi = t.fieldIndex(name);
                if (fi < 0) throw Error("Таблица «" + dbPath + "»: нет поля «" + name + "» для индекса «" + def.name + "»");
                uint8_t type = t.fields()[size_t(fi)].type;
                if (type >= 0x0C && type <= 0x10)
                    throw Error("Таблица «" + dbPath + "»: поле «" + name + "» не может входить в индекс");
                g.srcFields.push_back(fi);
                x.dbFieldNumbers.push_back(fi + 1);
            }
            for (int i = 0; i < keyFields; ++i) g.srcFields.push_back(i);
            uint32_t off = 0;
            for (int fi : g.srcFields) {
                KeyField f = t.fields()[size_t(fi)];
                f.offset = off;
                off += f.bytes;
                x.fields.push_back(f);
            }
            x.keySize = off;
            x.fields.push_back({"Blk Num", kFieldShort, 2, 2, off});
            x.recordSize = off + 2;
            if (x.recordSize + 6 > t.blockSize()) throw Error("Индекс «" + def.name + "» таблицы «" + dbPath + "»: ключ слишком длинный");
            g.flat.assign(size_t(nrec_) * x.recordSize, '\0');
        }
    }
    /** The next block along the chain. */
    void add(const RawBlock& b) {
        for (uint32_t i = 0; i < b.count; ++i, ++done_) {
            const uint8_t* rec = b.records + size_t(i) * t_.recordSize();
            for (size_t d = 0; d < all_.size(); ++d) {
                Gathered& g = all_[d];
                uint8_t* dst = reinterpret_cast<uint8_t*>(g.flat.data()) + done_ * g.x.recordSize;
                for (size_t k = 0; k < g.srcFields.size(); ++k) {
                    const KeyField& src = t_.fields()[size_t(g.srcFields[k])];
                    std::memcpy(dst + g.x.fields[k].offset, rec + src.offset, src.bytes);
                    if (indexes_[d].caseInsensitive && k < indexes_[d].fields.size() && src.type == uint8_t(storage::FieldType::Alpha)) {
                        uint8_t* text = dst + g.x.fields[k].offset;
                        for (uint32_t c = 0; c < src.bytes; ++c) text[c] = storage::upperByte(text[c], t_.codePage());
                    }
                }
                // "Blk Num" is a short: block numbers above 32767 read back negative, and readers
                // then find the record through the primary key instead of this hint.
                storage::encodeShort(dst + g.x.keySize, int16_t(b.number));
            }
        }
    }
    /** Writes the X and Y files; their paths, X then Y for each index. */
    std::vector<std::string> write() {
        const RawTable& t = t_;
        const std::string& dbPath = dbPath_;
        const std::vector<SecondaryIndexDef>& indexes = indexes_;
        const uint32_t nrec = nrec_;
        std::vector<std::string> written;
        int xg = 0;
        for (size_t d = 0; d < all_.size(); ++d) {
            const SecondaryIndexDef& def = indexes[d];
            const XLayout& x = all_[d].x;
            const uint8_t* p = reinterpret_cast<const uint8_t*>(all_[d].flat.data());
            std::vector<uint32_t> order(nrec);
            std::iota(order.begin(), order.end(), 0u);
            sortMostlySorted(order, KeyLess{p, x.recordSize, x.keySize});

            // X blocks, filled completely, in the table's block size.
            const uint32_t perBlock = (t.blockSize() - 6) / x.recordSize;
            const uint32_t xBlocks = (nrec + perBlock - 1) / perBlock;
            if (xBlocks > 0xFFFF) throw Error("Индекс «" + def.name + "» таблицы «" + dbPath + "» слишком велик");
            int fieldNo = x.dbFieldNumbers.front();
            const bool isXg = !isPlainIndex(def);
            std::string xName = secondaryIndexFileName(fs::path(dbPath).filename().string(), def, fieldNo, xg);
            std::string xFileName = upperAscii(xName);
            std::string header = buildXHeader(t, x, xFileName, def, isXg, xBlocks, nrec);
            std::string xfile = header;
            xfile.resize(header.size() + size_t(xBlocks) * t.blockSize(), '\0');

            TreeInput y;
            y.fileType = isXg ? typeByte(ParadoxFileType::CompositeTree) : typeByte(ParadoxFileType::SecondaryTree);
            y.keySize = x.keySize;
            y.keyFields.assign(x.fields.begin(), x.fields.end() - 1);
            y.sortOrder = t.sortOrder();
            y.version = t.version();
            y.changeCounter = uint16_t(t.changeCounter() + 2);
            for (uint32_t b = 0; b < xBlocks; ++b) {
                uint32_t from = b * perBlock, to = std::min(nrec, from + perBlock);
                size_t base = header.size() + size_t(b) * t.blockSize();
                putU16(xfile, base, b + 1 < xBlocks ? uint16_t(b + 2) : 0);
                putU16(xfile, base + 2, uint16_t(b));
                putU16(xfile, base + 4, uint16_t(int16_t((to - from - 1) * x.recordSize)));
                char* dst = &xfile[base + 6];
                for (uint32_t i = from; i < to; ++i, dst += x.recordSize)
                    std::memcpy(dst, p + size_t(order[i]) * x.recordSize, x.recordSize);
                y.leafKeys.append(reinterpret_cast<const char*>(p + size_t(order[from]) * x.recordSize), x.keySize);
                y.childBlocks.push_back(uint16_t(b + 1));
                y.childCounts.push_back(to - from);
            }

            std::string yName = xName;
            char& xLetter = yName[yName.rfind('.') + 1];  // .X02 -> .Y02, .XG0 -> .YG0
            xLetter = xLetter == 'x' ? 'y' : 'Y';
            y.fileName = upperAscii(yName);
            const std::string xPath = companionPath(dbPath, xName.substr(xName.rfind('.') + 1));
            const std::string yPath = companionPath(dbPath, yName.substr(yName.rfind('.') + 1));
            writeFileAtomically(xPath, xfile, false, "файл индекса");
            writeFileAtomically(yPath, buildTreeFile(y), false, "файл индекса");
            written.push_back(xPath);
            written.push_back(yPath);
            if (isXg) ++xg;
        }
        return written;
    }

private:
    struct Gathered {
        XLayout x;
        std::vector<int> srcFields;
        std::string flat;
    };
    const RawTable& t_;
    std::string dbPath_;
    const std::vector<SecondaryIndexDef>& indexes_;
    uint32_t nrec_ = 0;
    std::vector<Gathered> all_;
    size_t done_ = 0;  // records gathered so far
};

}  // namespace

/* ---------------------------------------------------------------------------------------
 * Public interface
 * ------------------------------------------------------------------------------------- */
std::string secondaryIndexFileName(const std::string& tableFile, const SecondaryIndexDef& def,
                                   int fieldNumber, int xgNumber) {
    std::string stem = fs::path(tableFile).stem().string();
    char ext[8];
    if (isPlainIndex(def)) std::snprintf(ext, sizeof ext, "X%02X", fieldNumber & 0xFF);
    else std::snprintf(ext, sizeof ext, "XG%d", xgNumber);
    return stem + "." + ext;
}

void writePrimaryIndex(const std::string& dbPath, int keyFields) { writeIndexes(dbPath, keyFields, {}); }

std::vector<std::string> writeSecondaryIndexes(const std::string& dbPath,
                                               const std::vector<SecondaryIndexDef>& indexes) {
    RawTable t(dbPath);
    if (t.keyFields() < 1 || t.fileType() != typeByte(ParadoxFileType::KeyedTable))
        throw Error("Таблица «" + dbPath + "» без первичного ключа: вторичные индексы не строятся");
    SecondaryIndexes secondary(t, dbPath, indexes, t.keyFields());
    t.eachBlock([&](const RawBlock& b) { secondary.add(b); });
    return secondary.write();
}

std::vector<std::string> writeIndexes(const std::string& dbPath, int keyFields,
                                      const std::vector<SecondaryIndexDef>& indexes) {
    RawTable t(dbPath);
    PrimaryIndex primary(t, dbPath, keyFields);
    std::optional<SecondaryIndexes> secondary;
    if (!indexes.empty()) secondary.emplace(t, dbPath, indexes, keyFields);
    t.eachBlock([&](const RawBlock& b) {
        primary.add(b);
        if (secondary) secondary->add(b);
    });
    primary.write();
    return secondary ? secondary->write() : std::vector<std::string>();
}

}  // namespace talvira::storage
