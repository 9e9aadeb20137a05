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

// ==== record codec: field values to and from the bytes of a record =============================

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
        } else if (files_.mb.isOpen()) {
            data = files_.mb.read(ref, f.type == FieldType::Graphic, fields_[static_cast<size_t>(field)].name);
        } else {
            data.assign(reinterpret_cast<const char*>(p), static_cast<size_t>(leader));
        }
        if (f.type == FieldType::Memo) return Value::string(toUtf8(data, info_.codePage));
        return Value::bytes(std::move(data));
    }
    }
    return {};
}

std::vector<uint32_t> ParadoxTable::memoBlobLengths() const {
    std::vector<uint32_t> out;
    if (!hasBlobFields_) return out;
    for (auto loc = first(); loc; loc = next(*loc)) {
        const uint8_t* rec = recordPtr(*loc);
        for (const RawField& f : h_.fields) {
            if (!isBlob(f.type)) continue;
            const int leader = f.bytes - 10;
            const uint32_t length = le32(rec + f.offset + leader + 4);
            if (length > static_cast<uint32_t>(leader)) out.push_back(length);
        }
    }
    return out;
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

void ParadoxTable::encodeRecord(const Record& rec, const uint8_t* old, std::vector<BlobRef>& newBlobs, uint8_t* out) {
    if (rec.size() != fields_.size())
        throw Error("Таблица «" + path_ + "»: в записи " + std::to_string(rec.size()) + " значений, а полей " +
                    std::to_string(fields_.size()));
    try {
        for (int i = 0; i < h_.numFields; ++i) {
            const RawField& f = h_.fields[static_cast<size_t>(i)];
            const FieldDef& d = fields_[static_cast<size_t>(i)];
            uint8_t* p = out + f.offset;
            auto fail = [&](const std::string& why) {
                return Error("Таблица «" + path_ + "», поле «" + d.name + "»: " + why);
            };
            const Value& given = rec[static_cast<size_t>(i)];
            if (!old && given.isEmpty()) continue;  // a new record's empty field stays zero bytes
            // Most values already have their field's kind: those are encoded without a copy.
            const bool asIs = fitsAsIs(given, d);
            Value coerced;
            if (!asIs) {
                try {
                    coerced = coerceToField(given, d);
                } catch (const FieldValueError& e) {
                    throw fail(e.what());
                }
            }
            const Value& v = asIs ? given : coerced;
            if (isBlob(f.type)) {
                if (old && decodeField(old, i) == v) {  // unchanged: keep its blob
                    std::memcpy(p, old + f.offset, static_cast<size_t>(f.bytes));
                    continue;
                }
                if (v.isEmpty()) continue;
                std::string data;
                if (isTextBlob(f.type)) {
                    std::string bad;
                    auto t = fromUtf8(*v.text(), info_.codePage, &bad);
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
                    if (!files_.mb.isOpen()) {
                        const std::string mbPath = companionPath(path_, "MB");
                        MemoFile::createEmpty(mbPath);
                        files_.mb = MemoFile(mbPath, true);
                        info_.hasMemoFile = true;
                    }
                    ref = files_.mb.write(data);
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
                // Converted straight into the record; a longer text is cut at the field's end.
                std::string bad;
                const auto n = fromUtf8Into(*v.text(), info_.codePage, reinterpret_cast<char*>(p), static_cast<size_t>(f.bytes), &bad);
                if (!n) throw fail("символ «" + bad + "» нельзя записать в кодовой странице " + std::to_string(info_.codePage));
                if (*n > static_cast<size_t>(f.bytes))
                    warn("Таблица «" + path_ + "», поле «" + d.name + "»: текст длиннее " +
                                   std::to_string(f.bytes) + " символов обрезан");
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
        for (const BlobRef& r : newBlobs) files_.mb.free(r);
        newBlobs.clear();
        throw;
    }
}

}  // namespace talvira::storage
