#include "estimate/AddPositions.h"

#include "common/Error.h"
#include "estimate/EstimateFields.h"
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

/** A field the handle may not reach (a base written by other software), as text. */
std::string optionalText(const TableHandle& t, const char* field) {
    if (!t.active() || t.fieldIndex(field) < 0) return {};
    return t.fieldValue(field).asString();
}

/** A number per unit kept exactly (seven decimals); 0 for an empty, missing or absurd one. */
Dec7 perUnit(const TableHandle& t, const char* field) {
    if (!t.active() || t.fieldIndex(field) < 0) return {};
    try {
        return Dec7::fromDouble(t.fieldValue(field).asFloat());
    } catch (const Error&) {
        return {};
    }
}

void appendAtEnd(TableHandle& smeta) {
    // Moving first ends an edit in progress in the estimate window's grid.
    smeta.last();
    smeta.append();
}

}  // namespace

std::vector<std::string> splitReferences(std::string_view joined) {
    std::vector<std::string> out;
    for (size_t at = 0; at <= joined.size();) {
        size_t end = joined.find(';', at);
        if (end == std::string_view::npos) end = joined.size();
        std::string_view one = joined.substr(at, end - at);
        while (!one.empty() && one.front() == ' ') one.remove_prefix(1);
        while (!one.empty() && one.back() == ' ') one.remove_suffix(1);
        if (!one.empty()) out.emplace_back(one);
        at = end + 1;
    }
    return out;
}

void chooseNrSp(model::PositionData& e, const std::vector<std::string>& nrChoices,
                const std::vector<std::string>& spChoices, model::Territory territory,
                const model::NrSpTables& tables) {
    e.nrChoices = nrChoices;
    e.spChoices = spChoices;
    e.nrRow.clear();
    e.spRow.clear();
    e.nrPercent.reset();
    e.spPercent.reset();
    // One reference: the row is the norm's own. Several: the estimator chooses, none is taken.
    if (nrChoices.size() == 1) {
        const model::NrSpRow* r = tables.find(nrChoices[0]);
        e.nrRow = model::rowOfReference(nrChoices[0]);  // an unknown row stays named, to be told
        if (r) e.nrPercent = r->nrPercent[static_cast<size_t>(territory) - 1];
    }
    if (spChoices.size() == 1) {
        const model::NrSpRow* r = tables.find(spChoices[0]);
        e.spRow = model::rowOfReference(spChoices[0]);
        if (r) e.spPercent = r->spPercent;
    }
}

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

    model::PositionData& r = extras.emplace_back();
    r.count = static_cast<int32_t>(smeta.fieldValue(fld::COUNT).asInteger());
    r.code = rate.fieldValue(nb::TAB).asString();
    chooseNrSp(r, splitReferences(optionalText(rate, nb::PREISK)), splitReferences(optionalText(rate, nb::POSPREISK)),
               context.params ? context.params->territory : model::Territory::Ordinary, model::nrSpTables());
    r.workType = model::workTypeOfBook(r.code);
    if (!r.workType) r.workType = model::workTypeOfBook(context.collectionName);
    r.machinistLabour = perUnit(rate, nb::BH);

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
            model::PositionData& m = extras.emplace_back();
            m.count = static_cast<int32_t>(smeta.fieldValue(fld::COUNT).asInteger());
            m.code = resource.fieldValue(nb::TAB).asString();
            m.parent = extras.front().count;
            m.perUnit = perUnit(lines, nb::KOLL);
        }
    } while (lines.findNext());
    return extras;
}

std::vector<model::PositionData> addPositions(normbase::NormBase& nb, TableHandle& smeta,
                                               const model::EstimateParams* params) {
    const std::string collection = optionalText(nb.Table7, normbase::fld::NAME);
    return addPositions(nb.Table2, nb.Table1, nb.Table8, nb.Table3, nb.Table4, nb.Table5, nb.Table9, smeta,
                        AddContext{params, collection});
}

}  // namespace talvira::estimate
