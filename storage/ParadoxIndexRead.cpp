#include "storage/ParadoxTableParts.h"

#include "common/Error.h"
#include "common/NumberText.h"
#include "storage/CodePage.h"
#include "storage/FileNames.h"
#include "storage/Warnings.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

namespace talvira::storage {

namespace fs = std::filesystem;

// ==== index reader: the .PX tree, the secondary indexes and their look-ups ========================

void ParadoxTable::findIndexes() {
    if (h_.keyFields > 0) {
        IndexInfo pi;
        pi.primary = true;
        pi.unique = true;
        for (int i = 0; i < h_.keyFields; ++i) pi.fields.push_back(fields_[static_cast<size_t>(i)].name);
        pi.file = findCompanion(path_, ".PX");
        if (!pi.file.empty()) ix_.haveFiles = true;
        ix_.all.push_back(std::move(pi));
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
            ix_.haveFiles = true;
            ix_.all.push_back(s->info);
            ix_.secondary.push_back(std::move(s));
        } catch (const Error& e) {
            // The table works without it; only asking for this index fails, with this message.
            IndexInfo aside = setAsideInfo(xp);
            aside.setAside = e.what();
            ix_.haveFiles = true;
            warn("Таблица «" + path_ + "» открыта без индекса «" + xp + "»: " + e.what());
            ix_.setAside.push_back(std::move(aside));
        }
    }
    ix_.all.insert(ix_.all.end(), ix_.setAside.begin(), ix_.setAside.end());
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

const ParadoxTable::Secondary* ParadoxTable::findIndex(std::string_view name, bool& primary) const {
    primary = false;
    for (const auto& s : ix_.secondary)
        if (sameName(s->info.name, name)) return s.get();
    for (const IndexInfo& a : ix_.setAside)
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
    for (const IndexInfo& a : ix_.setAside)
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
    if (!ix_.primaryTried) {
        ix_.primaryTried = true;
        std::string file = ix_.all.empty() || !ix_.all[0].primary ? std::string() : ix_.all[0].file;
        if (!file.empty()) {
            try {
                auto f = std::make_unique<RawFile>(file, false, "Файл индекса");
                const uint8_t* hd = f->at(0, 0x58);
                if (hd && hd[4] == 1) ix_.primaryFile = std::move(f);
            } catch (const Error&) {
            }
        }
    }
    if (!ix_.primaryFile) return std::nullopt;
    const uint8_t* hd = ix_.primaryFile->at(0, 0x58);
    const uint32_t recSize = le16(hd), hdrSize = le16(hd + 2), blkSize = uint32_t(hd[5]) * 1024u;
    const uint32_t fileBlocks = le16(hd + 0x0C);
    uint32_t block = le16(hd + 0x1E);
    const int levels = hd[0x20];
    const uint32_t keyBytes = static_cast<uint32_t>(key.size());
    if (recSize != keyBytes + 6 || blkSize == 0 || levels < 1 || levels > 16 || hdrSize < 0x58) return std::nullopt;
    for (int level = levels; level >= 1; --level) {
        if (block == 0 || block > fileBlocks) return std::nullopt;
        const uint8_t* b = ix_.primaryFile->at(uint64_t(hdrSize) + uint64_t(block - 1) * blkSize, blkSize);
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
    if (nKey == h_.keyFields && !chain_.built() && !files_.readWrite) {
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

void ParadoxTable::releasePages() const {
    files_.db.releasePages();
    files_.mb.releasePages();
    if (ix_.primaryFile) ix_.primaryFile->releasePages();
    for (const auto& s : ix_.secondary)
        if (s->file) s->file->releasePages();
}

}  // namespace talvira::storage
