#include "storage/ParadoxFormat.h"

#include "common/Error.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace talvira::storage {

int fieldBytes(uint8_t type, uint8_t sizeByte) {
    switch (static_cast<FieldType>(type)) {
    case FieldType::Alpha:
    case FieldType::Bytes: return sizeByte;
    case FieldType::Date:
    case FieldType::Long:
    case FieldType::Time:
    case FieldType::AutoInc: return 4;
    case FieldType::Short: return 2;
    case FieldType::Currency:
    case FieldType::Number:
    case FieldType::Timestamp: return 8;
    case FieldType::Logical: return 1;
    case FieldType::Memo:
    case FieldType::Blob:
    case FieldType::FmtMemo:
    case FieldType::Ole:
    case FieldType::Graphic: return sizeByte;
    case FieldType::BCD: return 17;
    }
    return 0;
}

ParadoxHeader parseParadoxHeader(const RawFile& f, const std::string& kind) {
    auto bad = [&](const std::string& why) { return Error(kind + " «" + f.path() + "» повреждён: " + why); };
    auto foreign = [&]() { return Error("Файл «" + f.path() + "» не является файлом Paradox"); };
    if (f.size() == 0) throw Error("Файл «" + f.path() + "» пуст: это не таблица Paradox");
    const uint8_t* p = f.at(0, hdr::Fixed);
    if (!p) throw foreign();
    ParadoxHeader h;
    h.recordSize = le16(p + hdr::RecordSize);
    h.headerSize = le16(p + hdr::HeaderSize);
    h.fileType = p[hdr::FileType];
    h.version = p[hdr::FileVersion];
    int maxTable = p[hdr::MaxTableSize];
    h.numFields = static_cast<int16_t>(le16(p + hdr::NumFields));
    if (h.fileType > 8 || h.version < 3 || h.version > 12 || maxTable < 1 || maxTable > 32 || h.recordSize == 0 ||
        h.numFields <= 0 || h.numFields > 255 || h.headerSize < hdr::Fixed)
        throw foreign();
    h.blockSize = static_cast<uint32_t>(maxTable) * 1024;
    h.numRecords = static_cast<int32_t>(le32(p + hdr::NumRecords));
    h.fileBlocks = le16(p + hdr::FileBlocks);
    h.firstBlock = le16(p + hdr::FirstBlock);
    h.lastBlock = le16(p + hdr::LastBlock);
    h.keyFields = static_cast<int16_t>(le16(p + hdr::KeyFields));
    h.sortOrder = p[hdr::SortOrder];
    h.autoInc = static_cast<int32_t>(le32(p + hdr::AutoInc));
    h.indexFlags = p[hdr::IndexFlags];
    if (static_cast<uint64_t>(h.headerSize) > f.size()) throw bad("заголовок длиннее файла");
    if (h.blockSize < static_cast<uint32_t>(h.recordSize) + 6) throw bad("запись длиннее блока");
    if (h.keyFields < 0 || h.keyFields > h.numFields) throw bad("неверное число ключевых полей");

    const ParadoxFileType ft = static_cast<ParadoxFileType>(h.fileType);
    h.hasNames = ft == ParadoxFileType::KeyedTable || ft == ParadoxFileType::Table ||
                 ft == ParadoxFileType::SecondaryNonIncr || ft == ParadoxFileType::SecondaryIncr ||
                 ft == ParadoxFileType::CompositeNonIncr || ft == ParadoxFileType::CompositeIncr;
    const bool extended = h.hasNames && h.version >= 5;
    const uint8_t* all = f.at(0, static_cast<uint64_t>(h.headerSize));
    if (extended) {
        if (h.headerSize < hdr::Extended) throw bad("заголовок слишком короткий");
        if (le32(all + hdr::Encryption2) != 0)
            throw Error("Таблица «" + f.path() + "» защищена паролем (зашифрована); открыть её нельзя");
        h.codePage = le16(all + hdr::CodePage);
    } else if (h.hasNames && le32(p + hdr::Encryption1) != 0) {
        throw Error("Таблица «" + f.path() + "» защищена паролем (зашифрована); открыть её нельзя");
    }

    size_t pos = extended ? hdr::Extended : hdr::Fixed;
    const size_t end = static_cast<size_t>(h.headerSize);
    auto need = [&](size_t n) {
        if (pos + n > end) throw bad("описание полей выходит за пределы заголовка");
    };
    need(2 * static_cast<size_t>(h.numFields));
    int offset = 0;
    for (int i = 0; i < h.numFields; ++i) {
        RawField rf;
        uint8_t t = all[pos + 2 * i], s = all[pos + 2 * i + 1];
        rf.bytes = fieldBytes(t, s);
        if (rf.bytes == 0) {
            char buf[64];
            std::snprintf(buf, sizeof buf, "неизвестный тип поля %d (0x%02X)", i + 1, t);
            throw bad(buf);
        }
        rf.type = static_cast<FieldType>(t);
        rf.sizeByte = s;
        if ((rf.type == FieldType::Memo || rf.type == FieldType::FmtMemo || rf.type == FieldType::Blob ||
             rf.type == FieldType::Ole || rf.type == FieldType::Graphic) &&
            rf.bytes < 10)
            throw bad("неверный размер поля " + std::to_string(i + 1));
        if (rf.type == FieldType::BCD && s > 32) throw bad("неверное число знаков поля " + std::to_string(i + 1));
        rf.offset = offset;
        offset += rf.bytes;
        h.fields.push_back(rf);
    }
    if (offset != h.recordSize) throw bad("размер записи не совпадает с суммой размеров полей");
    pos += 2 * static_cast<size_t>(h.numFields);
    if (!h.hasNames) return h;

    // tableNamePtr, fieldNamePtr[n], tableName, then the field names.
    need(4 + 4 * static_cast<size_t>(h.numFields));
    pos += 4 + 4 * static_cast<size_t>(h.numFields);
    const size_t tableNameLen = h.version >= 12 ? 261 : 79;
    need(tableNameLen);
    pos += tableNameLen;
    auto readz = [&]() {
        size_t e = pos;
        while (e < end && all[e] != 0) ++e;
        if (e >= end) throw bad("имена полей выходят за пределы заголовка");
        std::string s(reinterpret_cast<const char*>(all + pos), e - pos);
        pos = e + 1;
        return s;
    };
    for (int i = 0; i < h.numFields; ++i) h.rawNames.push_back(readz());
    // Field numbers, sort order name and (X files) the index name. Old files may stop early.
    if (pos + 2 * static_cast<size_t>(h.numFields) <= end) {
        for (int i = 0; i < h.numFields; ++i)
            h.fieldNumbers.push_back(static_cast<int16_t>(le16(all + pos + 2 * i)));
        pos += 2 * static_cast<size_t>(h.numFields);
        size_t save = pos;
        try {
            h.sortOrderId = readz();
            if (h.fileType != 0 && h.fileType != 2) h.indexName = readz();
        } catch (const Error&) {
            pos = save;
        }
    }
    return h;
}

// ---- field codecs -------------------------------------------------------------------------------

void encodeShort(uint8_t* p, int16_t v) {
    uint16_t u = static_cast<uint16_t>(v) ^ 0x8000;
    p[0] = static_cast<uint8_t>(u >> 8);
    p[1] = static_cast<uint8_t>(u);
}

void encodeLong(uint8_t* p, int32_t v) {
    uint32_t u = static_cast<uint32_t>(v) ^ 0x80000000u;
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(u >> (24 - 8 * i));
}

void encodeDouble(uint8_t* p, double d) {
    if (d == 0) d = 0.0;  // -0 stores as +0
    uint64_t v;
    std::memcpy(&v, &d, 8);
    if (v & 0x8000000000000000ull) v = ~v;
    else v |= 0x8000000000000000ull;
    for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (56 - 8 * i));
}

// BCD: byte 0 holds the sign (bit 7 set: positive) and the decimals; 32 digits follow, one
// per nibble, the last `decimals` of them after the point. Negative values invert every nibble.
std::optional<double> decodeBcd(const uint8_t* p, int decimals) {
    bool positive = p[0] & 0x80;
    bool empty = true;
    for (int i = 1; i < 17; ++i)
        if (p[i]) empty = false;
    if (p[0] == 0 || (!positive && empty)) return std::nullopt;
    if (decimals > 32) decimals = 32;
    std::string digits;
    for (int i = 0; i < 32; ++i) {
        int nib = (p[1 + i / 2] >> (i % 2 ? 0 : 4)) & 0xF;
        if (!positive) nib ^= 0xF;
        if (nib > 9) {
            // Digits beyond a double's precision may hold garbage: the rest counts as zero.
            digits.append(static_cast<size_t>(32 - i), '0');
            break;
        }
        digits.push_back(static_cast<char>('0' + nib));
    }
    std::string text = (positive ? "" : "-") + digits.substr(0, 32 - static_cast<size_t>(decimals)) + "." +
                       digits.substr(32 - static_cast<size_t>(decimals));
    // from_chars, not strtod: a decimal comma locale (the program's, set at start) would stop at the point.
    double v = 0;
    std::from_chars(text.data(), text.data() + text.size(), v);
    return v;
}

bool encodeBcd(uint8_t* p, double v, int decimals) {
    std::memset(p, 0, 17);
    if (!std::isfinite(v)) return false;
    bool negative = v < 0;
    // to_chars, not printf: the digits with a point whatever the program's locale.
    char buf[128];
    const auto written = std::to_chars(buf, buf + sizeof buf, std::fabs(v), std::chars_format::fixed, decimals);
    if (written.ec != std::errc()) return false;  // beyond the 32 digits anyway
    std::string s(buf, written.ptr);
    size_t dot = s.find('.');
    std::string ip = dot == std::string::npos ? s : s.substr(0, dot);
    std::string fp = dot == std::string::npos ? "" : s.substr(dot + 1);
    if (ip.size() + static_cast<size_t>(decimals) > 32) return false;
    std::string digits = std::string(32 - static_cast<size_t>(decimals) - ip.size(), '0') + ip + fp;
    p[0] = static_cast<uint8_t>((negative ? 0x40 : 0xC0) | (decimals & 0x3F));
    for (int i = 0; i < 32; ++i) {
        int nib = digits[static_cast<size_t>(i)] - '0';
        if (negative) nib ^= 0xF;
        p[1 + i / 2] |= static_cast<uint8_t>(i % 2 ? nib : nib << 4);
    }
    return true;
}

}  // namespace talvira::storage
