#pragma once
/**
 * The bytes of Paradox files: the header of .DB, .PX and .Xnn/.XGn files, and the field
 * encodings inside records (big-endian numbers with the sign bit flipped so that byte order is
 * value order; all-zero bytes mean an empty field).
 *
 *   ParadoxHeader h = parseParadoxHeader(file, "Файл таблицы");
 *   Value v = decodeNumber(p);   // 8 bytes of an N field
 *
 * Caveat: parseParadoxHeader checks every count against the file before it is used, so a
 * broken header gives talvira::Error naming the file, never an oversized allocation.
 */
#include "storage/FieldDef.h"
#include "storage/RawFile.h"
#include "storage/Value.h"

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace talvira::storage {

// Offsets of the fixed header part (all file kinds).
namespace hdr {
constexpr int RecordSize = 0x00, HeaderSize = 0x02, FileType = 0x04, MaxTableSize = 0x05,
              NumRecords = 0x06, NextBlock = 0x0A, FileBlocks = 0x0C, FirstBlock = 0x0E,
              LastBlock = 0x10, ModifiedFlags1 = 0x14, IndexFieldNumber = 0x15, IndexRoot = 0x1E,
              IndexLevels = 0x20, NumFields = 0x21, KeyFields = 0x23, Encryption1 = 0x25,
              SortOrder = 0x29, ModifiedFlags2 = 0x2A, ChangeCount1 = 0x2D, ChangeCount2 = 0x2E,
              TableNamePtrPtr = 0x30, FieldInfoPtr = 0x34, WriteProtected = 0x38, FileVersion = 0x39,
              MaxBlocks = 0x3A, AutoInc = 0x49, FirstFreeBlock = 0x4D, RealHeaderSize = 0x51,
              IndexFlags = 0x55, Fixed = 0x58;
// Extension of 4.x and later .DB and .X files.
constexpr int FileVerId = 0x58, Encryption2 = 0x5C, UpdateTime = 0x60, HiFieldId = 0x64,
              HiFieldIdInfo = 0x66, CodePage = 0x6A, Extended = 0x78;
}  // namespace hdr

enum class ParadoxFileType : uint8_t {
    KeyedTable = 0, PrimaryIndex = 1, Table = 2, SecondaryNonIncr = 3, SecondaryTree = 4,
    SecondaryIncr = 5, CompositeNonIncr = 6, CompositeTree = 7, CompositeIncr = 8,
};

struct RawField {
    FieldType type = FieldType::Alpha;
    uint8_t sizeByte = 0;  // as stored: bytes, or decimals for BCD
    int bytes = 0;         // bytes in the record
    int offset = 0;        // offset in the record
};

struct ParadoxHeader {
    int recordSize = 0;
    int headerSize = 0;
    int fileType = 0;
    uint32_t blockSize = 0;
    int32_t numRecords = 0;
    uint16_t fileBlocks = 0, firstBlock = 0, lastBlock = 0;
    int numFields = 0;
    int keyFields = 0;
    int version = 0;
    int codePage = 0;
    int32_t autoInc = 0;
    uint8_t sortOrder = 0;
    uint8_t indexFlags = 0;
    bool hasNames = false;
    std::vector<RawField> fields;
    std::vector<std::string> rawNames;   // in the table's code page
    std::vector<int16_t> fieldNumbers;
    std::string sortOrderId;
    std::string indexName;               // X files
};

/** Reads and checks the header. `kind` starts the messages ("Файл таблицы", "Файл индекса"). */
ParadoxHeader parseParadoxHeader(const RawFile& f, const std::string& kind);

/** Bytes a field of this type and stored size takes in a record; 0 for an unknown type. */
int fieldBytes(uint8_t type, uint8_t sizeByte);

// ---- little-endian header numbers ------------------------------------------------------------
inline uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}
inline void put16(uint8_t* p, uint16_t v) { p[0] = static_cast<uint8_t>(v); p[1] = static_cast<uint8_t>(v >> 8); }
inline void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// ---- field values ------------------------------------------------------------------------------
inline bool allZero(const uint8_t* p, int n) {
    for (int i = 0; i < n; ++i)
        if (p[i]) return false;
    return true;
}
/** S: 16-bit, sign bit flipped. Empty when zero. */
inline std::optional<int16_t> decodeShort(const uint8_t* p) {
    uint16_t v = static_cast<uint16_t>((p[0] << 8) | p[1]);
    if (v == 0) return std::nullopt;
    return static_cast<int16_t>(v ^ 0x8000);
}
/** I, +, D, T: 32-bit, sign bit flipped. */
inline std::optional<int32_t> decodeLong(const uint8_t* p) {
    uint32_t v = (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
                 (static_cast<uint32_t>(p[2]) << 8) | p[3];
    if (v == 0) return std::nullopt;
    return static_cast<int32_t>(v ^ 0x80000000u);
}
/** N, $, @: double, positive with the top bit set, negative all bits inverted. */
inline std::optional<double> decodeDouble(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v = (v << 8) | p[i];
    if (v == 0) return std::nullopt;
    if (v & 0x8000000000000000ull) v &= ~0x8000000000000000ull;
    else v = ~v;
    double d;
    std::memcpy(&d, &v, 8);
    return d;
}
/** #: 17 bytes of packed decimal digits. */
std::optional<double> decodeBcd(const uint8_t* p, int decimals);

void encodeShort(uint8_t* p, int16_t v);
void encodeLong(uint8_t* p, int32_t v);
void encodeDouble(uint8_t* p, double v);
/** False when the value does not fit into the 32 digits. */
bool encodeBcd(uint8_t* p, double v, int decimals);

constexpr int64_t kMsPerDay = 86400000;

}  // namespace talvira::storage
