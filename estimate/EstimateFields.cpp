#include "estimate/EstimateFields.h"

#include "normbase/NormBaseFields.h"

#include <algorithm>
#include <string_view>

namespace talvira::estimate {

using storage::BoundField;
using storage::FieldDef;
using storage::FieldType;

const std::vector<FieldDef>& estimateFieldDefs() {
    using namespace fld;
    static const std::vector<FieldDef> defs = {
        {COUNT, FieldType::AutoInc, 0},   {TAB, FieldType::Alpha, 50},
        {NAME, FieldType::Memo, 10},      {IZM, FieldType::Alpha, 50},
        {KOLVO, FieldType::Number, 0},    {STOIM, FieldType::Number, 0},
        {OSNZP, FieldType::Number, 0},    {MATER, FieldType::Number, 0},
        {EXPLMASH, FieldType::Number, 0}, {ZPMASH, FieldType::Number, 0},
        {TRUD, FieldType::Number, 0},     {TRUDMASH, FieldType::Number, 0},
        {U_STOIM, FieldType::Number, 0},  {U_OSNZP, FieldType::Number, 0},
        {U_MATER, FieldType::Number, 0},  {U_EXPLMASH, FieldType::Number, 0},
        {U_ZPMASH, FieldType::Number, 0}, {U_TRUD, FieldType::Number, 0},
        {U_TRUDMASH, FieldType::Number, 0},
    };
    return defs;
}

const std::vector<BoundField>& estimateBoundFields() {
    static const std::vector<BoundField> bound = [] {
        using namespace fld;
        const char* const order[] = {COUNT,  TAB,     NAME,    IZM,        KOLVO,    STOIM, OSNZP, MATER, EXPLMASH,
                                     ZPMASH, U_STOIM, U_OSNZP, U_MATER, U_EXPLMASH, U_ZPMASH, TRUD,  U_TRUD};
        std::vector<BoundField> b;
        for (const char* name : order) {
            const auto& defs = estimateFieldDefs();
            const auto def = std::find_if(defs.begin(), defs.end(), [&](const FieldDef& d) { return d.name == name; });
            // COUNT is numbered by the engine: the handle never writes it.
            b.push_back({name, normbase::boundKindOf(def->type), std::string_view(name) == COUNT});
        }
        return b;
    }();
    return bound;
}

}  // namespace talvira::estimate
