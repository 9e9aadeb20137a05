#include "normbase/NormBaseFields.h"

#include <filesystem>

namespace talvira::normbase {

std::string baseDirectory(const std::string& startDir) { return (std::filesystem::path(startDir) / "Base").string(); }

std::string templatePath(const std::string& startDir) {
    return (std::filesystem::path(baseDirectory(startDir)) / "1.xls").string();
}

using storage::BoundField;
using storage::BoundKind;
using storage::FieldDef;
using storage::FieldType;

namespace {

struct StoredField {
    const char* name;
    FieldType type;
    int size;
};

// The rate record, in table order.
const std::vector<StoredField>& rateLayout() {
    static const std::vector<StoredField> f = {
        {"ID", FieldType::Long, 0},          {"NEW_ID", FieldType::Long, 0},
        {"IDREESTR", FieldType::Long, 0},    {"ORDERVIEW", FieldType::Long, 0},
        {"IDNAME", FieldType::Long, 0},      {"ID_UNIQUE", FieldType::Long, 0},
        {"IDTCH", FieldType::Long, 0},       {"TAB", FieldType::Alpha, 50},
        {"TABU", FieldType::Alpha, 50},      {"RABMAT", FieldType::Long, 0},
        {"IDOGL", FieldType::Long, 0},       {"FRTCH", FieldType::Alpha, 255},
        {"IDSOSTAV", FieldType::Long, 0},    {"ALTTAB", FieldType::Alpha, 255},
        {"IDEDIZM", FieldType::Long, 0},     {"IDALTEDIZM", FieldType::Long, 0},
        {"EDIZMKOEF", FieldType::Number, 0}, {"COMMENT", FieldType::Alpha, 50},
        {"FRESN", FieldType::Alpha, 25},     {"RAZRAD", FieldType::Number, 0},
        {"BA", FieldType::Number, 0},        {"BB", FieldType::Number, 0},
        {"BC", FieldType::Number, 0},        {"BD", FieldType::Number, 0},
        {"BE", FieldType::Number, 0},        {"BF", FieldType::Number, 0},
        {"BG", FieldType::Number, 0},        {"BH", FieldType::Number, 0},
        {"BI", FieldType::Number, 0},        {"BJ", FieldType::Number, 0},
        {"PA", FieldType::Number, 0},        {"PB", FieldType::Number, 0},
        {"PC", FieldType::Number, 0},        {"PD", FieldType::Number, 0},
        {"PE", FieldType::Number, 0},        {"MA", FieldType::Number, 0},
        {"MB", FieldType::Number, 0},        {"MC", FieldType::Number, 0},
        {"MD", FieldType::Number, 0},        {"ME", FieldType::Number, 0},
        {"MF", FieldType::Number, 0},        {"MG", FieldType::Number, 0},
        {"MH", FieldType::Number, 0},        {"VRPZ", FieldType::Long, 0},
        {"NTR", FieldType::Long, 0},         {"BRUTTO", FieldType::Number, 0},
        {"NETTO", FieldType::Number, 0},     {"VB", FieldType::Number, 0},
        {"VN", FieldType::Number, 0},        {"PREISK", FieldType::Alpha, 50},
        {"POSPREISK", FieldType::Alpha, 50}, {"TKALK", FieldType::Alpha, 50},
        {"IDPOSTAV", FieldType::Long, 0},    {"MBETON", FieldType::Number, 0},
        {"MRKBETON", FieldType::Alpha, 15},  {"VBETON", FieldType::Number, 0},
        {"MMASHINE", FieldType::Alpha, 25},  {"PUNKTIND", FieldType::Alpha, 50},
        {"ISESN", FieldType::Long, 0},       {"IDWITHESN", FieldType::Long, 0},
        {"CREATEDATE", FieldType::Timestamp, 0}, {"AUTHOR", FieldType::Alpha, 255},
        {"IDPICTURE", FieldType::Long, 0},   {"MI", FieldType::Number, 0},
        {"MJ", FieldType::Number, 0},        {"MK", FieldType::Number, 0},
        {"ML", FieldType::Number, 0},        {"MM", FieldType::Number, 0},
        {"MN", FieldType::Number, 0},        {"MO", FieldType::Number, 0},
        {"MP", FieldType::Number, 0},        {"MQ", FieldType::Number, 0},
        {"MR", FieldType::Number, 0},        {"MS", FieldType::Number, 0},
        {"MT", FieldType::Number, 0},        {"IDQUALIFIER", FieldType::Long, 0},
        {"NEW_PAGE", FieldType::Long, 0},    {"ESN_NORM_GUID", FieldType::Alpha, 100},
        {"TCARD_NORM_GUID", FieldType::Alpha, 100}, {"IDABCOKP", FieldType::Long, 0},
        {"ABCOKP_IDPODGROUP", FieldType::Long, 0},  {"STATUS", FieldType::Long, 0},
    };
    return f;
}

// The resource line, in table order.
const std::vector<StoredField>& resourceLineLayout() {
    static const std::vector<StoredField> f = {
        {"ID", FieldType::Long, 0},           {"IDRAB", FieldType::Long, 0},
        {"IDRES_RABMAT", FieldType::Long, 0}, {"IDRES_ABC_OKP", FieldType::Long, 0},
        {"IDRES_TRUD", FieldType::Long, 0},   {"KOLL", FieldType::Number, 0},
        {"IDGROUP", FieldType::Long, 0},      {"IDPODGROUP", FieldType::Long, 0},
        {"IDPODGROUPNORM", FieldType::Long, 0}, {"VIDNR", FieldType::Short, 0},
        {"UCH", FieldType::Short, 0},         {"RABMAT", FieldType::Long, 0},
        {"IDREESTR", FieldType::Long, 0},     {"IDRES_REESTR", FieldType::Long, 0},
        {"STATUS", FieldType::Long, 0},
    };
    return f;
}

std::vector<FieldDef> fieldDefsOf(const std::vector<StoredField>& layout) {
    std::vector<FieldDef> d;
    for (const auto& f : layout) d.push_back({f.name, f.type, f.size});
    return d;
}

std::vector<BoundField> boundFieldsOf(const std::vector<StoredField>& layout) {
    std::vector<BoundField> b;
    for (const auto& f : layout) b.push_back({f.name, boundKindOf(f.type), false});
    return b;
}

}  // namespace

BoundKind boundKindOf(FieldType t) {
    switch (t) {
    case FieldType::Long: return BoundKind::Integer;
    case FieldType::Short: return BoundKind::SmallInt;
    case FieldType::Number: return BoundKind::Float;
    case FieldType::Timestamp: return BoundKind::DateTime;
    case FieldType::AutoInc: return BoundKind::AutoInc;
    case FieldType::Memo: return BoundKind::Memo;
    default: return BoundKind::String;
    }
}

const std::vector<FieldDef>& rateFieldDefs() {
    static const std::vector<FieldDef> defs = fieldDefsOf(rateLayout());
    return defs;
}

const std::vector<BoundField>& rateBoundFields() {
    static const std::vector<BoundField> bound = boundFieldsOf(rateLayout());
    return bound;
}

const std::vector<FieldDef>& resourceLineFieldDefs() {
    static const std::vector<FieldDef> defs = fieldDefsOf(resourceLineLayout());
    return defs;
}

const std::vector<BoundField>& resourceLineBoundFields() {
    static const std::vector<BoundField> bound = boundFieldsOf(resourceLineLayout());
    return bound;
}

}  // namespace talvira::normbase
