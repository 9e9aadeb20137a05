#include "common/Error.h"
#include "storage/CodePage.h"
#include "storage/MemoFile.h"
#include "storage/ParadoxFormat.h"
#include "storage/RawFile.h"
#include "storage/TableFamily.h"
#include "storage/TableFile.h"

#include <ctime>
#include <filesystem>
#include <set>

namespace talvira::storage {

namespace fs = std::filesystem;

namespace {

bool isBlobType(FieldType t) {
    return t == FieldType::Memo || t == FieldType::FmtMemo || t == FieldType::Blob || t == FieldType::Ole ||
           t == FieldType::Graphic;
}

}  // namespace

void createParadoxTable(const std::string& path, const std::vector<FieldDef>& fields) {
    createParadoxTable(path, fields, CreateOptions{});
}

void createParadoxTable(const std::string& path, const std::vector<FieldDef>& fields, const CreateOptions& opt) {
    const std::string prefix = "Не удалось создать таблицу «" + path + "»";
    replaceFamily(fs::path(path), prefix, ReadOnlyFiles::Replace, [&](const std::string& tmp) { createNewTableFiles(tmp, path, fields, opt); });
}

void createNewTableFiles(const std::string& dbPath, const std::string& path, const std::vector<FieldDef>& fields,
                         const CreateOptions& opt) {
    auto fail = [&](const std::string& why) { return Error("Не удалось создать таблицу «" + path + "»: " + why); };
    if (opt.codePage != 1251 && opt.codePage != 866) throw fail("кодовая страница " + std::to_string(opt.codePage) + " не поддерживается");
    if (fields.empty()) throw fail("нет ни одного поля");
    if (fields.size() > 255) throw fail("больше 255 полей");
    if (opt.keyFields < 0 || opt.keyFields > static_cast<int>(fields.size())) throw fail("неверное число ключевых полей");

    // ---- field descriptors ----
    std::vector<uint8_t> info;
    std::vector<std::string> names;
    std::set<std::string> seen;
    int recordSize = 0;
    bool blobs = false;
    for (size_t i = 0; i < fields.size(); ++i) {
        const FieldDef& f = fields[i];
        std::string bad;
        auto n = fromUtf8(f.name, opt.codePage, &bad);
        if (f.name.empty()) throw fail("у поля " + std::to_string(i + 1) + " нет имени");
        if (!n) throw fail("в имени поля «" + f.name + "» есть символ «" + bad + "»");
        if (n->size() > 25) throw fail("имя поля «" + f.name + "» длиннее 25 символов");
        if (n->find('\0') != std::string::npos) throw fail("недопустимое имя поля");
        std::string key;
        for (char c : *n) key.push_back(static_cast<char>(upperByte(static_cast<uint8_t>(c), opt.codePage)));
        if (!seen.insert(key).second) throw fail("поле «" + f.name + "» повторяется");
        int size = 0;
        switch (f.type) {
        case FieldType::Alpha:
        case FieldType::Bytes:
            if (f.size < 1 || f.size > 255) throw fail("размер поля «" + f.name + "» должен быть от 1 до 255");
            size = f.size;
            break;
        case FieldType::Memo:
        case FieldType::FmtMemo:
            if (f.size < 1 || f.size > 240) throw fail("размер мемо-поля «" + f.name + "» должен быть от 1 до 240");
            size = f.size + 10;
            break;
        case FieldType::Blob:
        case FieldType::Ole:
        case FieldType::Graphic:
            if (f.size < 0 || f.size > 240) throw fail("размер поля «" + f.name + "» должен быть от 0 до 240");
            size = f.size + 10;
            break;
        case FieldType::BCD:
            if (f.size < 0 || f.size > 32) throw fail("число знаков поля «" + f.name + "» должно быть от 0 до 32");
            size = f.size;  // the header keeps the decimals; the field takes 17 bytes
            break;
        default: size = fieldBytes(static_cast<uint8_t>(f.type), 0); break;
        }
        if (fieldBytes(static_cast<uint8_t>(f.type), static_cast<uint8_t>(size)) == 0) throw fail("неизвестный тип поля «" + f.name + "»");
        if (static_cast<int>(i) < opt.keyFields && isBlobType(f.type)) throw fail("мемо-поле «" + f.name + "» не может входить в ключ");
        blobs = blobs || isBlobType(f.type);
        recordSize += fieldBytes(static_cast<uint8_t>(f.type), static_cast<uint8_t>(size));
        info.push_back(static_cast<uint8_t>(f.type));
        info.push_back(static_cast<uint8_t>(size));
        names.push_back(*n);
    }
    int blockKB = 0;
    for (int kb : {2, 4, 8, 16, 32})
        if ((kb * 1024 - 6) / recordSize >= 8 || kb == 32) {
            blockKB = kb;
            break;
        }
    if (recordSize > 32 * 1024 - 6) throw fail("запись длиннее " + std::to_string(32 * 1024 - 6) + " байт");

    // ---- header ----
    const int n = static_cast<int>(fields.size());
    const char* sortId = opt.codePage == 866 ? "cyrr" : "ancyrr";
    std::string tableName = fs::path(path).filename().string();
    auto tn = fromUtf8(tableName, opt.codePage);
    std::string tname = tn ? tn->substr(0, 260) : std::string("TABLE.DB");
    size_t used = hdr::Extended + 2 * n + 4 + 4 * n + 261;
    for (auto& s : names) used += s.size() + 1;
    const size_t fieldNumbersAt = used;
    used += 2 * n + std::strlen(sortId) + 1;
    const size_t headerSize = (used + 0x7FF) / 0x800 * 0x800;
    std::vector<uint8_t> h(headerSize, 0);
    put16(&h[hdr::RecordSize], static_cast<uint16_t>(recordSize));
    put16(&h[hdr::HeaderSize], static_cast<uint16_t>(headerSize));
    h[hdr::FileType] = opt.keyFields > 0 ? 0 : 2;
    h[hdr::MaxTableSize] = static_cast<uint8_t>(blockKB);
    put16(&h[hdr::NumFields], static_cast<uint16_t>(n));
    put16(&h[hdr::KeyFields], static_cast<uint16_t>(opt.keyFields));
    put32(&h[hdr::Encryption1], 0xFF00FF00u);
    h[hdr::SortOrder] = opt.codePage == 866 ? 0xC0 : 0x8F;
    h[hdr::ChangeCount1] = 2;
    h[hdr::ChangeCount2] = 1;
    h[hdr::FileVersion] = 0x0C;
    h[0x3E] = 0x1F;
    h[0x3F] = 0x0F;
    put16(&h[hdr::RealHeaderSize], static_cast<uint16_t>(used));
    h[0x56] = 0x20;
    put16(&h[hdr::FileVerId], 0x010C);
    put16(&h[hdr::FileVerId + 2], 0x010C);
    put32(&h[hdr::UpdateTime], static_cast<uint32_t>(std::time(nullptr)));
    put16(&h[hdr::HiFieldId], static_cast<uint16_t>(n + 1));
    put16(&h[hdr::HiFieldIdInfo], static_cast<uint16_t>(fieldNumbersAt - 0x58));
    put16(&h[hdr::CodePage], static_cast<uint16_t>(opt.codePage));
    h[0x6C] = 1;
    h[0x6D] = 1;
    size_t pos = hdr::Extended;
    std::copy(info.begin(), info.end(), h.begin() + static_cast<long>(pos));
    pos += info.size() + 4 + 4 * n;
    std::copy(tname.begin(), tname.end(), h.begin() + static_cast<long>(pos));
    pos += 261;
    for (auto& s : names) {
        std::copy(s.begin(), s.end(), h.begin() + static_cast<long>(pos));
        pos += s.size() + 1;
    }
    for (int i = 0; i < n; ++i) put16(&h[pos + 2 * i], static_cast<uint16_t>(i + 1));
    pos += 2 * n;
    std::memcpy(&h[pos], sortId, std::strlen(sortId));

    // ---- the files ----
    {
        RawFile f = RawFile::create(dbPath);
        f.write(0, h.data(), h.size());
    }
    if (blobs) {
        const fs::path p(dbPath);
        const std::string ext = p.extension().string();
        const bool lowerExt = !ext.empty() && std::islower(static_cast<unsigned char>(ext.back()));
        MemoFile::createEmpty((p.parent_path() / p.stem()).string() + (lowerExt ? ".mb" : ".MB"));
    }
}

}  // namespace talvira::storage
