#include "estimate/AddPositions.h"

#include "normbase/NormBase.h"

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

bool isUnaccountedMark(const Value& vidnr) {
    switch (vidnr.kind()) {
    case Value::Kind::Integer: return vidnr.asInteger() == 1;
    case Value::Kind::Float: return vidnr.asFloat() == 1.0;
    default: return false;
    }
}

void addPositions(TableHandle& rate, TableHandle& rateName, TableHandle& rateUnit,
                  TableHandle& lines, TableHandle& resource, TableHandle& resourceName,
                  TableHandle& resourceUnit, TableHandle& smeta) {
    appendAtEnd(smeta);
    smeta.setFieldValue("TAB", asText(rate.fieldValue("TAB")));
    smeta.setFieldValue("NAME", asText(rateName.fieldValue("NAME")));
    smeta.setFieldValue("IZM", asText(rateUnit.fieldValue("NAME")));
    smeta.setFieldValue("STOIM", asNumber(rate.fieldValue("BA")));
    smeta.setFieldValue("OSNZP", asNumber(rate.fieldValue("BE")));
    smeta.setFieldValue("MATER", asNumber(rate.fieldValue("BB")));
    smeta.setFieldValue("EXPLMASH", asNumber(rate.fieldValue("BC")));
    smeta.setFieldValue("ZPMASH", asNumber(rate.fieldValue("BD")));
    smeta.setFieldValue("TRUD", asNumber(rate.fieldValue("BG")));
    smeta.post();

    lines.first();
    do {
        if (isUnaccountedMark(lines.fieldValue("VIDNR"))) {
            appendAtEnd(smeta);
            smeta.setFieldValue("TAB", asText(resource.fieldValue("TAB")));
            smeta.setFieldValue("NAME", asText(resourceName.fieldValue("NAME")));
            smeta.setFieldValue("IZM", asText(resourceUnit.fieldValue("NAME")));
            smeta.setFieldValue("KOLVO", asNumber(lines.fieldValue("KOLL")));
            const Value price = asNumber(resource.fieldValue("BB"));
            smeta.setFieldValue("STOIM", price);
            smeta.setFieldValue("MATER", price);
            smeta.post();
        }
    } while (lines.findNext());
}

void addPositions(normbase::NormBase& nb, TableHandle& smeta) {
    addPositions(nb.Table2, nb.Table1, nb.Table8, nb.Table3, nb.Table4, nb.Table5, nb.Table9, smeta);
}

}  // namespace talvira::estimate
