#include "estimate/AddPositions.h"

#include "common/Error.h"
#include "estimate/EstimateFields.h"
#include "estimate/RateFacts.h"
#include "normbase/NormBase.h"
#include "normbase/NormBaseFields.h"

namespace talvira::estimate {

using storage::TableHandle;
using storage::Value;

namespace {

// Values are copied as they are; only the kind is brought to what the estimate field holds,
// so that a text field never receives a number and a float field never a text.
Value asText(const Value& v) {
    if (v.isEmpty()) return v;
    if (v.kind() == Value::Kind::String) return v;
    return Value::string(v.asString());
}

Value asNumber(const Value& v) {
    if (v.isEmpty()) return v;
    if (v.kind() == Value::Kind::Float) return v;
    return Value::real(v.asFloat());
}

/** A field the handle may not reach (a base written by other software): empty. */
Value optionalValue(const TableHandle& t, const char* field) {
    if (!t.active() || t.fieldIndex(field) < 0) return {};
    return t.fieldValue(field);
}

void appendAtEnd(TableHandle& smeta) {
    // Moving first ends an edit in progress in the estimate window's grid.
    smeta.last();
    smeta.append();
}

}  // namespace

std::vector<model::PositionData> addPositions(TableHandle& rate, TableHandle& rateName, TableHandle& rateUnit,
                                               TableHandle& lines, TableHandle& resource, TableHandle& resourceName,
                                               TableHandle& resourceUnit, TableHandle& smeta, const AddContext& context) {
    namespace nb = normbase::fld;
    const bool byBaseIndex = context.params && context.params->method == model::Method::BaseIndex;
    std::vector<model::PositionData> extras;
    appendAtEnd(smeta);
    smeta.setFieldValue(fld::TAB, asText(rate.fieldValue(nb::TAB)));
    smeta.setFieldValue(fld::NAME, asText(rateName.fieldValue(nb::NAME)));
    smeta.setFieldValue(fld::IZM, asText(rateUnit.fieldValue(nb::NAME)));
    smeta.setFieldValue(fld::STOIM, asNumber(rate.fieldValue(nb::BA)));
    smeta.setFieldValue(fld::OSNZP, asNumber(rate.fieldValue(nb::BE)));
    smeta.setFieldValue(fld::MATER, asNumber(rate.fieldValue(nb::BB)));
    smeta.setFieldValue(fld::EXPLMASH, asNumber(rate.fieldValue(nb::BC)));
    smeta.setFieldValue(fld::ZPMASH, asNumber(rate.fieldValue(nb::BD)));
    smeta.setFieldValue(fld::TRUD, asNumber(rate.fieldValue(nb::BG)));
    smeta.post();

    const int32_t rateCount = static_cast<int32_t>(smeta.fieldValue(fld::COUNT).asInteger());
    const model::RateFacts facts =
        rateFactsOf(rate.fieldValue(nb::TAB).asString(), optionalValue(rate, nb::PREISK),
                    optionalValue(rate, nb::POSPREISK), optionalValue(rate, nb::BH), context.collectionName);
    static const model::NrSpTables kNoTables;  // no percentages to keep: the rows stay named
    extras.push_back(model::PositionData::ofRate(rateCount, facts,
                                                 context.params ? context.params->territory : model::Territory::Ordinary,
                                                 context.tables ? *context.tables : kNoTables));

    lines.first();
    do {
        if (normbase::NormBase::isUnaccounted(lines.fieldValue(nb::VIDNR))) {
            appendAtEnd(smeta);
            smeta.setFieldValue(fld::TAB, asText(resource.fieldValue(nb::TAB)));
            smeta.setFieldValue(fld::NAME, asText(resourceName.fieldValue(nb::NAME)));
            smeta.setFieldValue(fld::IZM, asText(resourceUnit.fieldValue(nb::NAME)));
            // By the base-index method the quantity follows the rate's, which is empty yet.
            if (!byBaseIndex) smeta.setFieldValue(fld::KOLVO, asNumber(lines.fieldValue(nb::KOLL)));
            const Value price = asNumber(resource.fieldValue(nb::BB));
            smeta.setFieldValue(fld::STOIM, price);
            smeta.setFieldValue(fld::MATER, price);
            smeta.post();
            extras.push_back(model::PositionData::ofMaterial(static_cast<int32_t>(smeta.fieldValue(fld::COUNT).asInteger()),
                                                             resource.fieldValue(nb::TAB).asString(), rateCount,
                                                             perUnitOf(optionalValue(lines, nb::KOLL))));
        }
    } while (lines.findNext());
    return extras;
}

std::vector<model::PositionData> addPositions(normbase::NormBase& nb, TableHandle& smeta,
                                              const model::EstimateParams* params, const model::NrSpTables* tables) {
    const std::string collection = nb.Table7.active() && nb.Table7.fieldIndex(normbase::fld::NAME) >= 0
                                       ? nb.Table7.fieldValue(normbase::fld::NAME).asString()
                                       : std::string();
    return addPositions(nb.Table2, nb.Table1, nb.Table8, nb.Table3, nb.Table4, nb.Table5, nb.Table9, smeta,
                        AddContext{params, tables, collection});
}

}  // namespace talvira::estimate
