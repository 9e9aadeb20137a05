#include "estimate/AddPositions.h"

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

void appendAtEnd(TableHandle& smeta) {
    // Moving first ends an edit in progress in the estimate window's grid.
    smeta.last();
    smeta.append();
}

}  // namespace

void addPositions(TableHandle& rate, TableHandle& rateName, TableHandle& rateUnit,
                  TableHandle& lines, TableHandle& resource, TableHandle& resourceName,
                  TableHandle& resourceUnit, TableHandle& smeta) {
    namespace nb = normbase::fld;
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

    lines.first();
    do {
        if (normbase::NormBase::isUnaccounted(lines.fieldValue(nb::VIDNR))) {
            appendAtEnd(smeta);
            smeta.setFieldValue(fld::TAB, asText(resource.fieldValue(nb::TAB)));
            smeta.setFieldValue(fld::NAME, asText(resourceName.fieldValue(nb::NAME)));
            smeta.setFieldValue(fld::IZM, asText(resourceUnit.fieldValue(nb::NAME)));
            smeta.setFieldValue(fld::KOLVO, asNumber(lines.fieldValue(nb::KOLL)));
            const Value price = asNumber(resource.fieldValue(nb::BB));
            smeta.setFieldValue(fld::STOIM, price);
            smeta.setFieldValue(fld::MATER, price);
            smeta.post();
        }
    } while (lines.findNext());
}

void addPositions(normbase::NormBase& nb, TableHandle& smeta) {
    addPositions(nb.Table2, nb.Table1, nb.Table8, nb.Table3, nb.Table4, nb.Table5, nb.Table9, smeta);
}

}  // namespace talvira::estimate
