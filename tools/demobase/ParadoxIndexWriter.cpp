#include "tools/demobase/ParadoxIndexWriter.h"

#include "common/Error.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <numeric>
#include <string_view>

namespace talvira::demobase {

namespace {

namespace fs = std::filesystem;

/* ---------------------------------------------------------------------------------------
 * Header offsets (all file types share the fixed part; DB and X files carry the extension
 * at 0x58..0x77, PX and Y files start their variable part at 0x58).
 * ------------------------------------------------------------------------------------- */
constexpr size_t kRecordSize = 0x00;
constexpr size_t kHeaderSize = 0x02;
constexpr size_t kFileType = 0x04;
constexpr size_t kMaxTableSize = 0x05;
constexpr size_t kNumRecords = 0x06;
constexpr size_t kNextBlock = 0x0A;
constexpr size_t kFileBlocks = 0x0C;
constexpr size_t kFirstBlock = 0x0E;
constexpr size_t kLastBlock = 0x10;
constexpr size_t kChangeCounter = 0x12;
constexpr size_t kIndexFieldNumber = 0x15;
constexpr size_t kIndexRoot = 0x1E;
constexpr size_t kIndexLevels = 0x20;
constexpr size_t kNumFields = 0x21;
constexpr size_t kPrimaryKeyFields = 0x23;
constexpr size_t kEncryption1 = 0x25;
constexpr size_t kSortOrder = 0x29;
constexpr size_t kIndexChange = 0x2C;  // PX/Y: change stamp of the index; X: 0xFF
constexpr size_t kChangeCount1 = 0x2D;
constexpr size_t kChangeCount2 = 0x2E;
constexpr size_t kXIndexStamp = 0x2F;  // X files: the stamp of their Y file
constexpr size_t kTableNamePtrPtr = 0x30;
constexpr size_t kFieldInfoPtr = 0x34;
constexpr size_t kFileVersion = 0x39;
constexpr size_t kMaxBlocks = 0x3A;
constexpr size_t kDbMarker = 0x3E;        // 1F 0F in DB and X files
constexpr size_t kAutoInc = 0x49;         // PX/Y files: 1
constexpr size_t kRealHeaderSize = 0x51;
constexpr size_t kIndexOptions = 0x55;    // X files: 0x01 case-insensitive
constexpr size_t kDbMarker2 = 0x56;       // 0x20 in DB and X files
constexpr size_t kFileVerId = 0x58;       // two u16
constexpr size_t kUpdateTime = 0x60;
constexpr size_t kHiFieldId = 0x64;
constexpr size_t kHiFieldInfo = 0x66;
constexpr size_t kIndexNameInfo = 0x68;
constexpr size_t kCodePage = 0x6A;
constexpr size_t kExtMarker = 0x6C;       // 01 01, then u16 (end of names part) - 0x61
constexpr size_t kExtensionEnd = 0x78;
constexpr size_t kShortHeaderEnd = 0x58;

constexpr uint8_t kTypeKeyedDb = 0;
constexpr uint8_t kTypePrimaryIndex = 1;
constexpr uint8_t kTypeUnkeyedDb = 2;
constexpr uint8_t kTypeXIncremental = 5;
constexpr uint8_t kTypeY = 4;
constexpr uint8_t kTypeXgIncremental = 8;
constexpr uint8_t kTypeYg = 7;

constexpr uint8_t kFieldShort = 0x03;
constexpr uint8_t kFieldAlpha = 0x01;
constexpr uint32_t kTreeBlockSize = 2048;  // PX and Y files use 2 KiB blocks
constexpr uint8_t kIndexStamp = 1;

/* ---------------------------------------------------------------------------------------
 * Little helpers
 * ------------------------------------------------------------------------------------- */
uint16_t getU16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t getU32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
void putU16(std::string& b, size_t off, uint16_t v) { b[off] = char(v & 0xFF); b[off + 1] = char(v >> 8); }
void putU32(std::string& b, size_t off, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[off + i] = char((v >> (8 * i)) & 0xFF);
}
/** A short as records store it: big-endian with bit 15 inverted. */
void appendStoredShort(std::string& b, uint16_t v) {
    uint16_t s = v ^ 0x8000;
    b.push_back(char(s >> 8));
    b.push_back(char(s & 0xFF));
}

std::string upperAscii(std::string s) {
    for (auto& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) return false;
    return true;
}

/** Upper-cases text in the table's code page in place (1251 and 866 know Cyrillic; others
 *  only Latin letters). */
void upperInCodePage(uint8_t* p, size_t n, int codePage) {
    for (size_t i = 0; i < n; ++i) {
        uint8_t c = p[i];
        if (c >= 'a' && c <= 'z') c = uint8_t(c - 0x20);
        else if (codePage == 1251) {
            if (c >= 0xE0) c = uint8_t(c - 0x20);
            else if (c == 0xB8) c = 0xA8;  // ё
        } else if (codePage == 866) {
            if (c >= 0xA0 && c <= 0xAF) c = uint8_t(c - 0x20);
            else if (c >= 0xE0 && c <= 0xEF) c = uint8_t(c - 0x50);
            else if (c == 0xF1) c = 0xF0;  // ё
        }
        p[i] = c;
    }
}

/** Writes a whole file under a temporary name, then renames it over `path`: a failure half-way
 *  leaves the old file (or none), never a torn one. */
void writeWholeFile(const std::string& path, const std::string& bytes) {
    const std::string tmp = path + ".tmp~";
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) throw Error("Не удалось создать файл индекса «" + path + "»: " + std::strerror(errno));
    size_t done = 0;
    int err = 0;
    while (done < bytes.size()) {
        ssize_t w = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            err = w < 0 ? errno : ENOSPC;
            break;
        }
        done += size_t(w);
    }
    if (::close(fd) != 0 && !err) err = errno;
    if (!err && ::rename(tmp.c_str(), path.c_str()) != 0) err = errno;
    if (err) {
        ::unlink(tmp.c_str());
        throw Error("Не удалось записать файл индекса «" + path + "»: " + std::strerror(err));
    }
}

/* ---------------------------------------------------------------------------------------
 * The table as bytes: header facts, fields, and the block chain, read through a read-only
 * mapping so that a table of hundreds of megabytes costs no copy.
 * ------------------------------------------------------------------------------------- */
struct RawField {
    std::string name;  // as stored (code-page bytes; our field names are ASCII)
    uint8_t type = 0;
    uint8_t size = 0;
    uint32_t offset = 0;  // within the record
};

struct RawBlock {
    uint16_t number = 0;
    const uint8_t* records = nullptr;
    uint32_t count = 0;
};

class RawTable {
public:
    explicit RawTable(const std::string& path) : path_(path) {
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0) throw Error("Таблица «" + path + "» не найдена");
        struct stat st {};
        if (::fstat(fd_, &st) != 0) fail("не удалось прочитать файл");
        size_ = size_t(st.st_size);
        if (size_ < kExtensionEnd) fail("файл короче заголовка");
        void* m = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd_, 0);
        if (m == MAP_FAILED) fail("не удалось отобразить файл в память");
        data_ = static_cast<const uint8_t*>(m);
        parseHeader();
    }
    ~RawTable() {
        if (data_) ::munmap(const_cast<uint8_t*>(data_), size_);
        if (fd_ >= 0) ::close(fd_);
    }
    RawTable(const RawTable&) = delete;
    RawTable& operator=(const RawTable&) = delete;

    [[noreturn]] void fail(const std::string& what) const {
        throw Error("Файл таблицы «" + path_ + "» повреждён: " + what);
    }

    const std::string& path() const { return path_; }
    const uint8_t* header() const { return data_; }
    uint16_t recordSize() const { return recordSize_; }
    uint16_t headerSize() const { return headerSize_; }
    uint32_t blockSize() const { return blockSize_; }
    uint32_t numRecords() const { return numRecords_; }
    int keyFields() const { return keyFields_; }
    int codePage() const { return codePage_; }
    const std::vector<RawField>& fields() const { return fields_; }
    const std::string& sortOrderId() const { return sortOrderId_; }

    int fieldIndex(std::string_view name) const {
        for (size_t i = 0; i < fields_.size(); ++i)
            if (equalsNoCase(fields_[i].name, name)) return int(i);
        return -1;
    }

    /** The data blocks in chain order, empty ones left out. Checks every link and count. */
    std::vector<RawBlock> chain() const {
        std::vector<RawBlock> out;
        uint32_t fileBlocks = getU16(data_ + kFileBlocks);
        uint32_t blockNo = getU16(data_ + kFirstBlock);
        uint64_t available = (size_ - headerSize_) / blockSize_;
        if (fileBlocks > available) fail("заголовок указывает за конец файла");
        std::vector<bool> seen(fileBlocks + 1, false);
        uint32_t prev = 0;
        uint64_t total = 0;
        while (blockNo != 0) {
            if (blockNo > fileBlocks) fail("ссылка на блок " + std::to_string(blockNo) + " за концом файла");
            if (seen[blockNo]) fail("цепочка блоков зациклена");
            seen[blockNo] = true;
            const uint8_t* b = data_ + headerSize_ + size_t(blockNo - 1) * blockSize_;
            uint16_t next = getU16(b);
            uint16_t back = getU16(b + 2);
            int16_t add = int16_t(getU16(b + 4));
            if (back != prev) fail("блок " + std::to_string(blockNo) + " ссылается назад не на предыдущий");
            if (add >= 0) {
                if (add % recordSize_ != 0) fail("неверная длина данных в блоке " + std::to_string(blockNo));
                uint32_t count = uint32_t(add) / recordSize_ + 1;
                if (6 + uint64_t(count) * recordSize_ > blockSize_) fail("блок " + std::to_string(blockNo) + " переполнен");
                out.push_back({uint16_t(blockNo), b + 6, count});
                total += count;
            }
            prev = blockNo;
            blockNo = next;
        }
        if (total != numRecords_) fail("число записей в заголовке (" + std::to_string(numRecords_) +
                                       ") не совпадает с блоками (" + std::to_string(total) + ")");
        return out;
    }

private:
    void parseHeader() {
        const uint8_t* h = data_;
        recordSize_ = getU16(h + kRecordSize);
        headerSize_ = getU16(h + kHeaderSize);
        uint8_t type = h[kFileType];
        uint8_t maxTable = h[kMaxTableSize];
        numRecords_ = getU32(h + kNumRecords);
        int16_t nf = int16_t(getU16(h + kNumFields));
        keyFields_ = int16_t(getU16(h + kPrimaryKeyFields));
        uint8_t version = h[kFileVersion];
        if (type != kTypeKeyedDb && type != kTypeUnkeyedDb) fail("это не файл таблицы (тип " + std::to_string(type) + ")");
        if (version < 5) fail("индексы пишутся только для таблиц Paradox 4 и новее");
        if (maxTable < 1 || maxTable > 32) fail("неверный размер блока");
        blockSize_ = uint32_t(maxTable) * 1024;
        if (recordSize_ == 0 || recordSize_ + 6u > blockSize_) fail("неверный размер записи");
        if (headerSize_ < kExtensionEnd || headerSize_ > size_) fail("неверный размер заголовка");
        if (nf <= 0 || nf > 1024) fail("неверное число полей");
        if (keyFields_ < 0 || keyFields_ > nf) fail("неверное число ключевых полей");
        if (getU32(h + kEncryption1) != 0xFF00FF00u || getU32(h + 0x5C) != 0) fail("таблица зашифрована");
        codePage_ = getU16(h + kCodePage);

        size_t o = kExtensionEnd;
        auto need = [&](size_t n) { if (o + n > headerSize_) fail("заголовок обрывается"); };
        need(size_t(nf) * 2);
        uint32_t offset = 0;
        for (int i = 0; i < nf; ++i) {
            RawField f;
            f.type = h[o + 2 * i];
            f.size = h[o + 2 * i + 1];
            f.offset = offset;
            offset += f.size;
            fields_.push_back(f);
        }
        if (offset != recordSize_) fail("сумма размеров полей не равна размеру записи");
        o += size_t(nf) * 2;
        size_t tableNameLen = version >= 0x0C ? 261 : 79;
        need(4 + size_t(nf) * 4 + tableNameLen);
        o += 4 + size_t(nf) * 4 + tableNameLen;
        for (auto& f : fields_) {
            const void* end = o < headerSize_ ? std::memchr(h + o, 0, headerSize_ - o) : nullptr;
            if (!end) fail("имена полей обрываются");
            f.name.assign(reinterpret_cast<const char*>(h + o), static_cast<const uint8_t*>(end) - (h + o));
            o += f.name.size() + 1;
        }
        need(size_t(nf) * 2);
        o += size_t(nf) * 2;
        const void* end = o < headerSize_ ? std::memchr(h + o, 0, headerSize_ - o) : nullptr;
        if (end) sortOrderId_.assign(reinterpret_cast<const char*>(h + o), static_cast<const uint8_t*>(end) - (h + o));
    }

    std::string path_;
    int fd_ = -1;
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
    uint16_t recordSize_ = 0;
    uint16_t headerSize_ = 0;
    uint32_t blockSize_ = 0;
    uint32_t numRecords_ = 0;
    int keyFields_ = 0;
    int codePage_ = 0;
    std::vector<RawField> fields_;
    std::string sortOrderId_;
};

/* ---------------------------------------------------------------------------------------
 * Tree files (.PX, .Ynn, .YGn): entries of (key, child block, records below, 0) in 2 KiB
 * blocks. The leaves point at the blocks of the file below; each upper level holds the first
 * key of each block of the level under it. All blocks form one chain, leaves first, root last.
 * ------------------------------------------------------------------------------------- */
struct TreeInput {
    std::string fileName;            // written into the header ("RESURS.PX")
    uint8_t fileType = 0;
    std::vector<RawField> keyFields; // type and size of the key fields
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
    const size_t tableNameOff = kShortHeaderEnd + 2 * nfields + 4;
    const size_t realHeader = tableNameOff + nameLen;
    const size_t headerSize = (realHeader + 0x7FF) / 0x800 * 0x800;
    std::string out(headerSize + size_t(fileBlocks) * kTreeBlockSize, '\0');
    putU16(out, kRecordSize, uint16_t(recSize));
    putU16(out, kHeaderSize, uint16_t(headerSize));
    out[kFileType] = char(in.fileType);
    out[kMaxTableSize] = char(kTreeBlockSize / 1024);
    putU32(out, kNumRecords, empty ? 0 : totalEntries);
    putU16(out, kNextBlock, uint16_t(fileBlocks));
    putU16(out, kFileBlocks, uint16_t(fileBlocks));
    putU16(out, kFirstBlock, fileBlocks ? 1 : 0);
    putU16(out, kLastBlock, uint16_t(fileBlocks));
    putU16(out, kChangeCounter, in.changeCounter);
    putU16(out, kIndexRoot, empty ? 0 : 1);
    out[kIndexLevels] = char(empty ? 0 : levels.size());
    putU16(out, kNumFields, uint16_t(nfields));
    out[kSortOrder] = char(in.sortOrder);
    out[kIndexChange] = char(kIndexStamp);
    putU32(out, kTableNamePtrPtr, uint32_t(tableNameOff - 4));
    putU32(out, kFieldInfoPtr, uint32_t(kShortHeaderEnd));
    out[kFileVersion] = char(in.version);
    putU16(out, kMaxBlocks, uint16_t(fileBlocks));
    putU32(out, kAutoInc, 1);
    putU16(out, kRealHeaderSize, uint16_t(realHeader));
    for (size_t i = 0; i < nfields; ++i) {
        out[kShortHeaderEnd + 2 * i] = char(in.keyFields[i].type);
        out[kShortHeaderEnd + 2 * i + 1] = char(in.keyFields[i].size);
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

std::string siblingPath(const std::string& dbPath, const std::string& fileName) {
    return (fs::path(dbPath).parent_path() / fileName).string();
}

std::string stemOf(const std::string& dbPath) { return fs::path(dbPath).stem().string(); }

/** Extension of the companion file with the case of the table's own extension. */
std::string companionName(const std::string& dbPath, std::string ext) {
    std::string own = fs::path(dbPath).extension().string();
    bool lower = own.size() > 1 && std::islower(static_cast<unsigned char>(own[1]));
    if (lower) for (auto& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
    return stemOf(dbPath) + "." + ext;
}

void patchBytes(const std::string& path, size_t offset, const std::string& bytes) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) throw Error("Не удалось открыть таблицу «" + path + "» для записи: " + std::strerror(errno));
    ssize_t w = ::pwrite(fd, bytes.data(), bytes.size(), off_t(offset));
    int e = errno;
    ::close(fd);
    if (w != ssize_t(bytes.size())) throw Error("Не удалось записать заголовок таблицы «" + path + "»: " + std::strerror(e));
}

/* ---------------------------------------------------------------------------------------
 * The X file: a keyed table of (index fields, primary key fields, "Blk Num").
 * ------------------------------------------------------------------------------------- */
struct XLayout {
    std::vector<RawField> fields;   // in X order, offsets within the X record
    std::vector<int> dbFieldNumbers;  // 1-based DB field of each index field
    uint32_t keySize = 0;            // index fields + primary key (the sort key)
    uint32_t recordSize = 0;         // keySize + 2
};

std::string buildXHeader(const RawTable& t, const XLayout& x, const std::string& fileName,
                         const SecondaryIndexDef& def, bool xg, uint32_t fileBlocks, uint32_t numRecords) {
    const uint8_t* h = t.header();
    const size_t nf = x.fields.size();
    const uint8_t version = h[kFileVersion];
    const size_t nameLen = version >= 0x0C ? 261 : 79;
    const size_t tableNamePtr = kExtensionEnd + 2 * nf;
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
    putU16(out, kRecordSize, uint16_t(x.recordSize));
    putU16(out, kHeaderSize, uint16_t(headerSize));
    out[kFileType] = char(xg ? kTypeXgIncremental : kTypeXIncremental);
    out[kMaxTableSize] = char(t.blockSize() / 1024);
    putU32(out, kNumRecords, numRecords);
    putU16(out, kNextBlock, uint16_t(fileBlocks));
    putU16(out, kFileBlocks, uint16_t(fileBlocks));
    putU16(out, kFirstBlock, fileBlocks ? 1 : 0);
    putU16(out, kLastBlock, uint16_t(fileBlocks));
    putU16(out, kChangeCounter, uint16_t(getU16(h + kChangeCounter) + 1));
    out[kIndexFieldNumber] = char(x.dbFieldNumbers.front());
    putU16(out, kNumFields, uint16_t(nf));
    putU16(out, kPrimaryKeyFields, uint16_t(nf - 1));
    putU32(out, kEncryption1, 0xFF00FF00u);
    out[kSortOrder] = char(h[kSortOrder]);
    out[kIndexChange] = char(0xFF);
    out[kChangeCount1] = 2;
    out[kChangeCount2] = 1;
    out[kXIndexStamp] = char(kIndexStamp);
    putU32(out, kTableNamePtrPtr, uint32_t(tableNamePtr));
    putU32(out, kFieldInfoPtr, uint32_t(kExtensionEnd));
    out[kFileVersion] = char(version);
    putU16(out, kMaxBlocks, uint16_t(fileBlocks));
    out[kDbMarker] = 0x1F;
    out[kDbMarker + 1] = 0x0F;
    putU16(out, kRealHeaderSize, uint16_t(realHeader));
    out[kIndexOptions] = char(def.caseInsensitive ? 0x01 : 0x00);
    out[kDbMarker2] = 0x20;
    std::memcpy(&out[kFileVerId], h + kFileVerId, 4);
    std::memcpy(&out[kUpdateTime], h + kUpdateTime, 4);
    putU16(out, kHiFieldId, uint16_t(std::max<size_t>(size_t(x.dbFieldNumbers.front()), nf) + 1));
    putU16(out, kHiFieldInfo, uint16_t(fieldNumbersOff - kShortHeaderEnd));
    putU16(out, kIndexNameInfo, xg ? uint16_t(indexNameOff - kShortHeaderEnd) : 0);
    putU16(out, kCodePage, uint16_t(t.codePage()));
    out[kExtMarker] = 1;
    out[kExtMarker + 1] = 1;
    putU16(out, kExtMarker + 2, uint16_t(indexNameOff - 0x61));

    for (size_t i = 0; i < nf; ++i) {
        out[kExtensionEnd + 2 * i] = char(x.fields[i].type);
        out[kExtensionEnd + 2 * i + 1] = char(x.fields[i].size);
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

}  // namespace

/* ---------------------------------------------------------------------------------------
 * Public interface
 * ------------------------------------------------------------------------------------- */
namespace {
/** A single-field, case-sensitive index named after its field lives in .Xnn/.Ynn; the others
 *  in .XGn/.YGn. */
bool isPlainIndex(const SecondaryIndexDef& def) {
    return def.fields.size() == 1 && !def.caseInsensitive && equalsNoCase(def.name, def.fields.front());
}
}  // namespace

std::string secondaryIndexFileName(const std::string& tableFile, const SecondaryIndexDef& def,
                                   int fieldNumber, int xgNumber) {
    std::string stem = fs::path(tableFile).stem().string();
    char ext[8];
    if (isPlainIndex(def)) std::snprintf(ext, sizeof ext, "X%02X", fieldNumber & 0xFF);
    else std::snprintf(ext, sizeof ext, "XG%d", xgNumber);
    return stem + "." + ext;
}

void writePrimaryIndex(const std::string& dbPath, int keyFields) {
    TreeInput in;
    uint16_t dbChange = 0;
    {
        RawTable t(dbPath);
        if (keyFields < 1 || keyFields > int(t.fields().size()))
            throw Error("Таблица «" + dbPath + "»: неверное число ключевых полей " + std::to_string(keyFields));
        uint32_t keySize = 0;
        for (int i = 0; i < keyFields; ++i) {
            const RawField& f = t.fields()[size_t(i)];
            if (f.type >= 0x0C && f.type <= 0x10)
                throw Error("Таблица «" + dbPath + "»: поле «" + f.name + "» не может входить в ключ");
            in.keyFields.push_back(f);
            keySize += f.size;
        }
        in.keySize = keySize;
        // Walk the chain: records must rise strictly by key, within and across blocks.
        std::string prevKey;
        for (const RawBlock& b : t.chain()) {
            in.leafKeys.append(reinterpret_cast<const char*>(b.records), keySize);
            in.childBlocks.push_back(b.number);
            in.childCounts.push_back(b.count);
            for (uint32_t r = 0; r < b.count; ++r) {
                const char* k = reinterpret_cast<const char*>(b.records + size_t(r) * t.recordSize());
                if (!prevKey.empty() && std::memcmp(prevKey.data(), k, keySize) >= 0)
                    throw Error("Записи таблицы «" + dbPath + "» не упорядочены по ключу или ключ повторяется");
                prevKey.assign(k, keySize);
            }
        }
        in.fileName = upperAscii(stemOf(dbPath)) + ".PX";
        in.fileType = kTypePrimaryIndex;
        in.sortOrder = t.header()[kSortOrder];
        in.version = t.header()[kFileVersion];
        dbChange = getU16(t.header() + kChangeCounter);
        in.changeCounter = uint16_t(dbChange + 1);

        // The index first, then the header that says the table has one.
        writeWholeFile(siblingPath(dbPath, companionName(dbPath, "PX")), buildTreeFile(in));

        // Mark the table keyed; an engine refuses an index over a table whose change count is
        // below 2 ("index not up to date").
        std::string type(1, char(kTypeKeyedDb));
        patchBytes(dbPath, kFileType, type);
        std::string pk(2, '\0');
        putU16(pk, 0, uint16_t(keyFields));
        patchBytes(dbPath, kPrimaryKeyFields, pk);
        if (t.header()[kChangeCount1] < 2) patchBytes(dbPath, kChangeCount1, std::string(1, char(2)));
    }
}

std::vector<std::string> writeSecondaryIndexes(const std::string& dbPath,
                                               const std::vector<SecondaryIndexDef>& indexes) {
    RawTable t(dbPath);
    if (t.keyFields() < 1 || t.header()[kFileType] != kTypeKeyedDb)
        throw Error("Таблица «" + dbPath + "» без первичного ключа: вторичные индексы не строятся");

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

    const std::vector<RawBlock> blocks = t.chain();
    const uint32_t nrec = t.numRecords();
    std::vector<std::string> written;
    int xg = 0;
    for (const SecondaryIndexDef& def : indexes) {
        if (def.fields.empty()) throw Error("Индекс «" + def.name + "» таблицы «" + dbPath + "» без полей");
        XLayout x;
        std::vector<int> srcFields;
        for (auto& name : def.fields) {
            int fi = t.fieldIndex(name);
            if (fi < 0) throw Error("Таблица «" + dbPath + "»: нет поля «" + name + "» для индекса «" + def.name + "»");
            uint8_t type = t.fields()[size_t(fi)].type;
            if (type >= 0x0C && type <= 0x10)
                throw Error("Таблица «" + dbPath + "»: поле «" + name + "» не может входить в индекс");
            srcFields.push_back(fi);
            x.dbFieldNumbers.push_back(fi + 1);
        }
        for (int i = 0; i < t.keyFields(); ++i) srcFields.push_back(i);
        uint32_t off = 0;
        for (int fi : srcFields) {
            RawField f = t.fields()[size_t(fi)];
            f.offset = off;
            off += f.size;
            x.fields.push_back(f);
        }
        x.keySize = off;
        x.fields.push_back({"Blk Num", kFieldShort, 2, off});
        x.recordSize = off + 2;
        if (x.recordSize + 6 > t.blockSize()) throw Error("Индекс «" + def.name + "» таблицы «" + dbPath + "»: ключ слишком длинный");

        // Gather (key, primary key, block) for every record, then sort by the stored bytes.
        std::string flat(size_t(nrec) * x.recordSize, '\0');
        uint8_t* p = reinterpret_cast<uint8_t*>(flat.data());
        size_t r = 0;
        for (const RawBlock& b : blocks) {
            for (uint32_t i = 0; i < b.count; ++i, ++r) {
                const uint8_t* rec = b.records + size_t(i) * t.recordSize();
                uint8_t* dst = p + r * x.recordSize;
                for (size_t k = 0; k < srcFields.size(); ++k) {
                    const RawField& src = t.fields()[size_t(srcFields[k])];
                    std::memcpy(dst + x.fields[k].offset, rec + src.offset, src.size);
                    if (def.caseInsensitive && k < def.fields.size() && src.type == kFieldAlpha)
                        upperInCodePage(dst + x.fields[k].offset, src.size, t.codePage());
                }
                // "Blk Num" is a short: block numbers above 32767 read back negative, and readers
                // then find the record through the primary key instead of this hint.
                uint16_t blk = b.number ^ 0x8000;
                dst[x.keySize] = uint8_t(blk >> 8);
                dst[x.keySize + 1] = uint8_t(blk & 0xFF);
            }
        }
        std::vector<uint32_t> order(nrec);
        std::iota(order.begin(), order.end(), 0u);
        std::sort(order.begin(), order.end(), KeyLess{p, x.recordSize, x.keySize});

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
        y.fileType = isXg ? kTypeYg : kTypeY;
        y.keySize = x.keySize;
        y.keyFields.assign(x.fields.begin(), x.fields.end() - 1);
        y.sortOrder = t.header()[kSortOrder];
        y.version = t.header()[kFileVersion];
        y.changeCounter = uint16_t(getU16(t.header() + kChangeCounter) + 2);
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
        // Keep the case of the table's extension for the file names on disk.
        std::string xDisk = companionName(dbPath, xName.substr(xName.rfind('.') + 1));
        std::string yDisk = companionName(dbPath, yName.substr(yName.rfind('.') + 1));
        std::string xPath = siblingPath(dbPath, xDisk);
        std::string yPath = siblingPath(dbPath, yDisk);
        writeWholeFile(xPath, xfile);
        writeWholeFile(yPath, buildTreeFile(y));
        written.push_back(xPath);
        written.push_back(yPath);
        if (isXg) ++xg;
    }
    return written;
}

}  // namespace talvira::demobase
