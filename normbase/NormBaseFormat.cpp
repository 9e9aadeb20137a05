#include "normbase/NormBaseFormat.h"

#include "common/Error.h"
#include "normbase/NormBaseFields.h"

#include <algorithm>
#include <filesystem>

namespace talvira::normbase {

using storage::FieldDef;
using storage::FieldType;
using storage::SecondaryIndexDef;

const char* normTableFile(NormTable t) {
    switch (t) {
    case NormTable::Reestr: return tbl::REESTR;
    case NormTable::Ogl: return tbl::OGL;
    case NormTable::Rabmat: return tbl::RABMAT;
    case NormTable::Resurs: return tbl::RESURS;
    case NormTable::Name: return tbl::NAME;
    case NormTable::Edizm: return tbl::EDIZM;
    }
    return "";
}

std::vector<FieldDef> normTableFields(NormTable t) {
    constexpr FieldType I = FieldType::Long;
    constexpr FieldType A = FieldType::Alpha;
    switch (t) {
    case NormTable::Reestr: return {{fld::ID, I, 0}, {fld::NAME, A, 255}};
    case NormTable::Ogl: return {{fld::ID, I, 0}, {fld::IDREESTR, I, 0}, {fld::NAME, A, 255}};
    case NormTable::Rabmat: return rateFieldDefs();
    case NormTable::Resurs: return resourceLineFieldDefs();
    case NormTable::Name: return {{fld::ID, I, 0}, {fld::NAME, FieldType::Memo, 50}};
    case NormTable::Edizm: return {{fld::ID, I, 0}, {fld::NAME, A, 50}};
    }
    return {};
}

std::vector<SecondaryIndexDef> normTableIndexes(NormTable t) {
    switch (t) {
    case NormTable::Ogl: return {{idx::IDREESTR, {fld::IDREESTR}, false}};
    case NormTable::Rabmat:
        return {{idx::IDNAME_INDEX, {fld::IDNAME}, true}, {idx::IDOGL, {fld::IDOGL}, false}, {idx::IDREESTR, {fld::IDREESTR}, false}};
    case NormTable::Resurs: return {{idx::IDRAB, {fld::IDRAB}, false}};
    default: return {};
    }
}

NormRecord::NormRecord(NormTable t) {
    const std::vector<FieldDef> fields = normTableFields(t);
    values_.resize(fields.size());
    for (size_t i = 0; i < fields.size(); ++i) place_.emplace(fields[i].name, i);
}

size_t NormRecord::place(std::string_view field) const {
    auto it = place_.find(std::string(field));
    if (it == place_.end()) throw Error("Нормативная база: в таблице нет поля «" + std::string(field) + "»");
    return it->second;
}

NormRecord& NormRecord::clear() {
    if (values_.size() != place_.size()) {
        values_.clear();
        values_.resize(place_.size());
    }
    for (storage::Value& v : values_)
        if (!v.isEmpty()) v = storage::Value();
    return *this;
}

NormTableWriter::NormTableWriter(const std::string& dir, NormTable t)
    : record_(t),
      writer_((std::filesystem::path(dir) / normTableFile(t)).string(), normTableFields(t),
              {.keyFields = 1, .indexFiles = true, .indexes = normTableIndexes(t)}) {}

}  // namespace talvira::normbase
