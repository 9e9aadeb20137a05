#include "storage/TableBuilder.h"

#include "common/Error.h"
#include "storage/CodePage.h"
#include "storage/FileNames.h"
#include "storage/MemoFile.h"
#include "storage/ParadoxFormat.h"
#include "storage/ParadoxIndexWriter.h"
#include "storage/ParadoxTable.h"
#include "storage/RawFile.h"
#include "storage/TableFamily.h"

#include <ctime>
#include <filesystem>
#include <functional>
#include <set>

namespace talvira::storage {

namespace fs = std::filesystem;

namespace {

// Records held before they are stored: some hundred kilobytes of blocks per write.
constexpr size_t kBatch = 512;

using Fail = std::function<Error(const std::string&)>;

bool isBlobType(FieldType t) {
    return t == FieldType::Memo || t == FieldType::FmtMemo || t == FieldType::Blob || t == FieldType::Ole ||
           t == FieldType::Graphic;
}

/** The fields as the header describes them: type and size bytes, names in the code page. */
struct FieldLayout {
    std::vector<uint8_t> info;
    std::vector<std::string> names;
    int recordSize = 0;
    bool blobs = false;
};

/** The size byte the header keeps for `f`; talvira::Error when the size is out of range. */
int sizeByteOf(const FieldDef& f, const Fail& fail) {
    switch (f.type) {
    case FieldType::Alpha:
    case FieldType::Bytes:
        if (f.size < 1 || f.size > 255) throw fail("размер поля «" + f.name + "» должен быть от 1 до 255");
        return f.size;
    case FieldType::Memo:
    case FieldType::FmtMemo:
        if (f.size < 1 || f.size > 240) throw fail("размер мемо-поля «" + f.name + "» должен быть от 1 до 240");
        return f.size + 10;
    case FieldType::Blob:
    case FieldType::Ole:
    case FieldType::Graphic:
        if (f.size < 0 || f.size > 240) throw fail("размер поля «" + f.name + "» должен быть от 0 до 240");
        return f.size + 10;
    case FieldType::BCD:
        if (f.size < 0 || f.size > 32) throw fail("число знаков поля «" + f.name + "» должно быть от 0 до 32");
        return f.size;  // the header keeps the decimals; the field takes 17 bytes
    default: return fieldBytes(static_cast<uint8_t>(f.type), 0);
    }
}

FieldLayout layoutFields(const std::vector<FieldDef>& fields, const CreateOptions& opt, const Fail& fail) {
    FieldLayout l;
    std::set<std::string> seen;
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
        const int size = sizeByteOf(f, fail);
        const int bytes = fieldBytes(static_cast<uint8_t>(f.type), static_cast<uint8_t>(size));
        if (bytes == 0) throw fail("неизвестный тип поля «" + f.name + "»");
        if (static_cast<int>(i) < opt.keyFields && isBlobType(f.type)) throw fail("мемо-поле «" + f.name + "» не может входить в ключ");
        l.blobs = l.blobs || isBlobType(f.type);
        l.recordSize += bytes;
        l.info.push_back(static_cast<uint8_t>(f.type));
        l.info.push_back(static_cast<uint8_t>(size));
        l.names.push_back(*n);
    }
    if (l.recordSize > 32 * 1024 - 6) throw fail("запись длиннее " + std::to_string(32 * 1024 - 6) + " байт");
    return l;
}

/** The header of a new level-7 table with no block: fixed part, extension, field descriptors,
 *  table name, field names and numbers, sort order name; rounded up to 2 KiB. */
std::vector<uint8_t> headerOf(const FieldLayout& l, const std::string& path, const CreateOptions& opt) {
    const int n = static_cast<int>(l.names.size());
    int blockKB = 32;  // at least 8 records a block
    for (int kb : {2, 4, 8, 16})
        if ((kb * 1024 - 6) / l.recordSize >= 8) { blockKB = kb; break; }
    const char* sortId = opt.codePage == 866 ? "cyrr" : "ancyrr";
    const auto tn = fromUtf8(fs::path(path).filename().string(), opt.codePage);
    const std::string tname = tn ? tn->substr(0, 260) : std::string("TABLE.DB");
    size_t used = hdr::Extended + 2 * n + 4 + 4 * n + 261;
    for (auto& s : l.names) used += s.size() + 1;
    const size_t fieldNumbersAt = used;
    used += 2 * n + std::strlen(sortId) + 1;
    std::vector<uint8_t> h((used + 0x7FF) / 0x800 * 0x800, 0);
    put16(&h[hdr::RecordSize], static_cast<uint16_t>(l.recordSize));
    put16(&h[hdr::HeaderSize], static_cast<uint16_t>(h.size()));
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
    uint8_t* pos = std::copy(l.info.begin(), l.info.end(), &h[hdr::Extended]) + 4 + 4 * n;
    std::copy(tname.begin(), tname.end(), pos);
    pos += 261;
    for (auto& s : l.names) pos = std::copy(s.begin(), s.end(), pos) + 1;
    for (int i = 0; i < n; ++i) put16(pos + 2 * i, static_cast<uint16_t>(i + 1));
    std::memcpy(pos + 2 * n, sortId, std::strlen(sortId));
    return h;
}

/** A new empty table exactly at `dbPath` (and its .MB beside it when a field needs one). */
void writeEmptyTable(const std::string& dbPath, const std::string& shownPath, const std::vector<FieldDef>& fields,
                     const CreateOptions& opt) {
    const Fail fail = [&](const std::string& why) { return Error("Не удалось создать таблицу «" + shownPath + "»: " + why); };
    if (opt.codePage != 1251 && opt.codePage != 866) throw fail("кодовая страница " + std::to_string(opt.codePage) + " не поддерживается");
    if (fields.empty()) throw fail("нет ни одного поля");
    if (fields.size() > 255) throw fail("больше 255 полей");
    if (opt.keyFields < 0 || opt.keyFields > static_cast<int>(fields.size())) throw fail("неверное число ключевых полей");
    const FieldLayout layout = layoutFields(fields, opt, fail);
    const std::vector<uint8_t> h = headerOf(layout, shownPath, opt);
    RawFile::create(dbPath).write(0, h.data(), h.size());
    if (layout.blobs) MemoFile::createEmpty(companionPath(dbPath, "MB"));
}

}  // namespace

// ==== the builder ==============================================================================

TableBuilder::TableBuilder(std::string dbPath, std::vector<FieldDef> fields, CreateOptions options)
    : path_(std::move(dbPath)), shownPath_(path_), options_(std::move(options)) {
    replaceFamily(fs::path(path_), "Не удалось создать таблицу «" + path_ + "»", ReadOnlyFiles::Replace,
                  [&](const std::string& tmp) { writeEmptyTable(tmp, path_, fields, options_); });
}

TableBuilder::TableBuilder(Exactly, std::string dbPath, std::string shownPath, std::vector<FieldDef> fields,
                           CreateOptions options)
    : path_(std::move(dbPath)), shownPath_(std::move(shownPath)), options_(std::move(options)) {
    writeEmptyTable(path_, shownPath_, fields, options_);
}

TableBuilder TableBuilder::exactlyAt(std::string dbPath, std::string shownPath, std::vector<FieldDef> fields,
                                     CreateOptions options) {
    return TableBuilder(Exactly{}, std::move(dbPath), std::move(shownPath), std::move(fields), std::move(options));
}

TableBuilder::~TableBuilder() = default;
TableBuilder::TableBuilder(TableBuilder&&) noexcept = default;

template <class Step>
void TableBuilder::shown(Step&& step) {
    if (shownPath_ == path_) return step();
    try {
        step();
    } catch (const Error& e) {
        // The message names the table the user knows, not its temporary twin.
        std::string m = e.what();
        for (size_t at; (at = m.find(path_)) != std::string::npos;) m.replace(at, path_.size(), shownPath_);
        throw Error(m);
    }
}

ParadoxTable& TableBuilder::table() {
    if (!table_) {
        table_ = std::make_unique<ParadoxTable>(path_, OpenMode::ReadWrite, 0);
        table_->keepGivenNumbers(options_.keepGivenNumbers);
        batch_.reserve(kBatch);
    }
    return *table_;
}

void TableBuilder::flush() {
    if (used_ == 0) return;
    shown([&] { table().appendBatch({batch_.data(), used_}); });
    used_ = 0;
}

void TableBuilder::add(Record&& rec) {
    // A slot stored already is traded for the new record: its values go back to the caller.
    if (used_ < batch_.size()) std::swap(batch_[used_], rec);
    else batch_.push_back(std::move(rec));
    ++used_;
    ++count_;
    if (used_ >= kBatch) flush();
}

void TableBuilder::add(const std::vector<Record>& records) {
    for (const Record& r : records) add(r);
}

uint32_t TableBuilder::finish() {
    flush();
    table_.reset();
    if (options_.indexFiles && options_.keyFields > 0) {
        shown([&] {
            writeIndexes(path_, options_.keyFields, options_.indexes);
        });
    }
    return count_;
}

// ==== public functions =========================================================================

void createParadoxTable(const std::string& path, const std::vector<FieldDef>& fields, const CreateOptions& options) {
    TableBuilder(path, fields, options).finish();
}

}  // namespace talvira::storage
