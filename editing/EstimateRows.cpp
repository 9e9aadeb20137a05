#include "editing/EstimateRows.h"

#include "estimate/EstimateFields.h"

namespace talvira::editing {

namespace {

namespace fld = estimate::fld;

int place(const storage::TableHandle& t, const char* field, bool required) {
    const int i = t.fieldIndex(field);
    if (i < 0 && required) (void)t.fieldValue(field);  // the handle's own message for a field it lacks
    return i;
}

/** A position row from its field values; `value(place)` reads one field. */
template <class Get>
model::PositionRow makeRow(const PositionFields& f, Get value, bool withTexts) {
    auto text = [&](int at) { return at >= 0 ? value(at).asString() : std::string(); };
    auto number = [&](int at) { return at >= 0 ? value(at).asFloat() : 0.0; };
    model::PositionRow r;
    if (f.count >= 0) r.count = static_cast<int32_t>(value(f.count).asInteger());
    if (withTexts) {
        r.code = text(f.code);
        r.name = text(f.name);
        r.unit = text(f.unit);
    }
    r.quantity = number(f.quantity);
    r.cost = number(f.cost);
    r.baseWages = number(f.baseWages);
    r.materials = number(f.materials);
    r.machines = number(f.machines);
    r.machineWages = number(f.machineWages);
    r.labour = number(f.labour);
    return r;
}

}  // namespace

PositionFields PositionFields::of(const storage::TableHandle& t, bool required) {
    PositionFields f;
    f.count = place(t, fld::COUNT, required);
    f.code = place(t, fld::TAB, required);
    f.name = place(t, fld::NAME, required);
    f.unit = place(t, fld::IZM, required);
    f.quantity = place(t, fld::KOLVO, required);
    f.cost = place(t, fld::STOIM, required);
    f.baseWages = place(t, fld::OSNZP, required);
    f.materials = place(t, fld::MATER, required);
    f.machines = place(t, fld::EXPLMASH, required);
    f.machineWages = place(t, fld::ZPMASH, required);
    f.labour = place(t, fld::TRUD, required);
    return f;
}

model::PositionRow PositionFields::rowAt(const storage::TableHandle& t, int row, bool withTexts) const {
    return makeRow(*this, [&](int at) { return t.valueAt(row, at); }, withTexts);
}

std::vector<model::PositionRow> readPositionRows(storage::TableHandle& smeta) {
    // Declared in this order so that the table returns to its position before its controls
    // resume, on every way out.
    storage::ControlsSuspended display(smeta);
    storage::PositionKept position(smeta);
    const PositionFields f = PositionFields::of(smeta, true);
    std::vector<model::PositionRow> rows;
    smeta.first();
    while (!smeta.eof()) {
        rows.push_back(makeRow(f, [&](int at) { return smeta.fieldValue(at); }, true));
        smeta.next();
    }
    return rows;
}

}  // namespace talvira::editing
