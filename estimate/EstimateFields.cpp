#include "estimate/EstimateFields.h"

namespace talvira::estimate {

using storage::BoundField;
using storage::BoundKind;
using storage::FieldDef;
using storage::FieldType;

const std::vector<FieldDef>& estimateFieldDefs() {
    static const std::vector<FieldDef> defs = {
        {"COUNT", FieldType::AutoInc, 0},   {"TAB", FieldType::Alpha, 50},
        {"NAME", FieldType::Memo, 10},      {"IZM", FieldType::Alpha, 50},
        {"KOLVO", FieldType::Number, 0},    {"STOIM", FieldType::Number, 0},
        {"OSNZP", FieldType::Number, 0},    {"MATER", FieldType::Number, 0},
        {"EXPLMASH", FieldType::Number, 0}, {"ZPMASH", FieldType::Number, 0},
        {"TRUD", FieldType::Number, 0},     {"TRUDMASH", FieldType::Number, 0},
        {"_STOIM", FieldType::Number, 0},   {"_OSNZP", FieldType::Number, 0},
        {"_MATER", FieldType::Number, 0},   {"_EXPLMASH", FieldType::Number, 0},
        {"_ZPMASH", FieldType::Number, 0},  {"_TRUD", FieldType::Number, 0},
        {"_TRUDMASH", FieldType::Number, 0},
    };
    return defs;
}

const std::vector<BoundField>& estimateBoundFields() {
    static const std::vector<BoundField> bound = {
        {"COUNT", BoundKind::AutoInc, true}, {"TAB", BoundKind::String},
        {"NAME", BoundKind::Memo},           {"IZM", BoundKind::String},
        {"KOLVO", BoundKind::Float},         {"STOIM", BoundKind::Float},
        {"OSNZP", BoundKind::Float},         {"MATER", BoundKind::Float},
        {"EXPLMASH", BoundKind::Float},      {"ZPMASH", BoundKind::Float},
        {"_STOIM", BoundKind::Float},        {"_OSNZP", BoundKind::Float},
        {"_MATER", BoundKind::Float},        {"_EXPLMASH", BoundKind::Float},
        {"_ZPMASH", BoundKind::Float},       {"TRUD", BoundKind::Float},
        {"_TRUD", BoundKind::Float},
    };
    return bound;
}

}  // namespace talvira::estimate
