#include "normbase/NormBaseFields.h"

namespace talvira::normbase {

using storage::BoundField;
using storage::BoundKind;
using storage::FieldDef;
using storage::FieldType;
using storage::IndexInfo;

namespace {

struct RateField {
    const char* name;
    FieldType type;
    int size;
};

// The rate record, in table order.
const std::vector<RateField>& rateLayout() {
    static const std::vector<RateField> f = {
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

BoundKind kindOf(FieldType t) {
    switch (t) {
    case FieldType::Long: return BoundKind::Integer;
    case FieldType::Short: return BoundKind::SmallInt;
    case FieldType::Number: return BoundKind::Float;
    case FieldType::Timestamp: return BoundKind::DateTime;
    default: return BoundKind::String;
    }
}

}  // namespace

const std::vector<FieldDef>& rateFieldDefs() {
    static const std::vector<FieldDef> defs = [] {
        std::vector<FieldDef> d;
        for (const auto& f : rateLayout()) d.push_back({f.name, f.type, f.size});
        return d;
    }();
    return defs;
}

const std::vector<BoundField>& rateBoundFields() {
    static const std::vector<BoundField> bound = [] {
        std::vector<BoundField> b;
        for (const auto& f : rateLayout()) b.push_back({f.name, kindOf(f.type), false});
        return b;
    }();
    return bound;
}

const std::vector<BoundField>& resourceLineBoundFields() {
    static const std::vector<BoundField> bound = {
        {"ID", BoundKind::Integer},           {"IDRAB", BoundKind::Integer},
        {"IDRES_RABMAT", BoundKind::Integer}, {"IDRES_ABC_OKP", BoundKind::Integer},
        {"IDRES_TRUD", BoundKind::Integer},   {"KOLL", BoundKind::Float},
        {"IDGROUP", BoundKind::Integer},      {"IDPODGROUP", BoundKind::Integer},
        {"IDPODGROUPNORM", BoundKind::Integer}, {"VIDNR", BoundKind::SmallInt},
        {"UCH", BoundKind::SmallInt},         {"RABMAT", BoundKind::Integer},
        {"IDREESTR", BoundKind::Integer},     {"IDRES_REESTR", BoundKind::Integer},
        {"STATUS", BoundKind::Integer},
    };
    return bound;
}

const std::vector<IndexInfo>& rateIndexDefs() {
    static const std::vector<IndexInfo> defs = [] {
        std::vector<IndexInfo> d(4);
        d[0].name = idx::RABMAT_PRIMARY;
        d[0].fields = {"ID"};
        d[0].primary = d[0].unique = true;
        d[1].name = idx::IDNAME_INDEX;
        d[1].fields = {"IDNAME"};
        d[1].caseInsensitive = true;
        d[2].name = idx::IDOGL;
        d[2].fields = {"IDOGL"};
        d[3].name = idx::IDREESTR;
        d[3].fields = {"IDREESTR"};
        return d;
    }();
    return defs;
}

}  // namespace talvira::normbase
