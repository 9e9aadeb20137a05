#include "normbase/ResourcePrices.h"

#include "normbase/NormBase.h"
#include "normbase/NormBaseFields.h"
#include "storage/Warnings.h"

#include <algorithm>
#include <cmath>

namespace talvira::normbase {

using storage::RecordLoc;
using storage::TableFile;
using storage::Value;

namespace {

constexpr size_t kRecent = 64;  // a few screens of rates

std::unique_ptr<TableFile> openIf(const storage::TableHandle& t) {
    if (!t.active()) return nullptr;
    return storage::tableFileProvider().open(t.tablePath(), storage::OpenMode::ReadOnly);
}

bool noPrice(const Value& v) { return v.isEmpty() || std::fpclassify(v.asFloat()) == FP_ZERO; }

std::string firstLine(const std::string& s) { return s.substr(0, s.find_first_of("\r\n")); }

}  // namespace

struct ResourcePrices::Files {
    std::unique_ptr<TableFile> lines, rabmat, names;
};

ResourcePrices::ResourcePrices(NormBase& base) : base_(base) {}
ResourcePrices::~ResourcePrices() = default;

void ResourcePrices::reset() {
    files_.reset();
    recent_.clear();
}

const std::vector<UnpricedResource>& ResourcePrices::unpriced(int64_t rateId) {
    for (const auto& [id, list] : recent_)
        if (id == rateId) return list;
    if (!files_) {
        storage::QuietWarnings quiet;  // the window told of these files when it opened them
        auto f = std::make_unique<Files>();
        f->lines = openIf(base_.Table3);
        f->rabmat = openIf(base_.Table2);
        f->names = openIf(base_.Table5);
        files_ = std::move(f);
    }
    std::vector<UnpricedResource> out;
    const TableFile* lines = files_->lines.get();
    const TableFile* rabmat = files_->rabmat.get();
    if (lines && rabmat) {
        const int resField = lines->fieldIndex(fld::IDRES_RABMAT), inPrice = lines->fieldIndex(fld::UCH);
        const int kind = rabmat->fieldIndex(fld::RABMAT), ba = rabmat->fieldIndex(fld::BA), bb = rabmat->fieldIndex(fld::BB);
        const int tab = rabmat->fieldIndex(fld::TAB), idName = rabmat->fieldIndex(fld::IDNAME);
        const TableFile* names = files_->names.get();
        const int nameText = names ? names->fieldIndex(fld::NAME) : -1;
        for (RecordLoc l : lines->lookup(idx::IDRAB, {Value::integer(rateId)})) {
            const Value res = resField < 0 ? Value() : lines->readField(l, resField);
            if (res.isEmpty()) continue;  // labour: no record of its own
            if (inPrice >= 0) {  // its cost is in the rate's own price
                const Value in = lines->readField(l, inPrice);
                if (!in.isEmpty() && in.asInteger() == 1) continue;
            }
            const auto recs = rabmat->lookup("", {res});
            if (recs.empty()) {
                out.push_back({res.asInteger(), {}, "ресурс с ID " + std::to_string(res.asInteger()) + " не найден в базе"});
                continue;
            }
            const RecordLoc r = recs.front();
            if (kind >= 0) {
                const Value k = rabmat->readField(r, kind);
                if (!k.isEmpty() && k.asInteger() == kKindLabour) continue;
            }
            if (!noPrice(ba < 0 ? Value() : rabmat->readField(r, ba)) || !noPrice(bb < 0 ? Value() : rabmat->readField(r, bb)))
                continue;
            UnpricedResource u{res.asInteger(), tab < 0 ? std::string() : rabmat->readField(r, tab).asString(), {}};
            if (names && nameText >= 0 && idName >= 0) {
                const Value nameId = rabmat->readField(r, idName);
                if (!nameId.isEmpty())
                    if (const auto n = names->lookup("", {nameId}); !n.empty())
                        u.name = firstLine(names->readField(n.front(), nameText).asString());
            }
            out.push_back(std::move(u));
        }
    }
    if (recent_.size() >= kRecent) recent_.erase(recent_.begin());
    recent_.emplace_back(rateId, std::move(out));
    return recent_.back().second;
}

const char* ResourcePrices::priceMark(const Value& kind) {
    return !kind.isEmpty() && kind.asInteger() == kKindMachine ? "маш." : "";
}

bool ResourcePrices::isMaterialsPrice(const Value& kind) { return kind.isEmpty() || kind.asInteger() != kKindMachine; }

std::string ResourcePrices::warningText(const std::string& rateCode, const std::vector<UnpricedResource>& resources) {
    std::string list;
    for (const auto& r : resources) {
        list += "\n  ";
        list += r.code;
        if (!r.code.empty() && !r.name.empty()) list += ' ';
        list += r.name;
    }
    return "Расценка «" + rateCode + "» добавлена в смету, но у " +
           (resources.size() == 1 ? std::string("её ресурса нет цены в нормативной базе (цена расценки его не учитывает):")
                                  : "её ресурсов нет цены в нормативной базе (цена расценки их не учитывает):") +
           list;
}

}  // namespace talvira::normbase
