#include "editing/EstimateRows.h"

#include "estimate/EstimateFields.h"
#include "storage/FileNames.h"

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

/** The places of the position's fields, each found by `placeOf(name)`. */
template <class PlaceOf>
PositionFields placesBy(PlaceOf placeOf) {
    PositionFields f;
    f.count = placeOf(fld::COUNT);
    f.code = placeOf(fld::TAB);
    f.name = placeOf(fld::NAME);
    f.unit = placeOf(fld::IZM);
    f.quantity = placeOf(fld::KOLVO);
    f.cost = placeOf(fld::STOIM);
    f.baseWages = placeOf(fld::OSNZP);
    f.materials = placeOf(fld::MATER);
    f.machines = placeOf(fld::EXPLMASH);
    f.machineWages = placeOf(fld::ZPMASH);
    f.labour = placeOf(fld::TRUD);
    return f;
}

}  // namespace

PositionFields PositionFields::of(const storage::TableHandle& t, bool required) {
    return placesBy([&](const char* name) { return place(t, name, required); });
}

PositionFields PositionFields::inRecords(const storage::TableHandle& t) {
    const auto& fields = t.tableFields();
    return placesBy([&](const char* name) {
        for (size_t i = 0; i < fields.size(); ++i)
            if (storage::sameName(fields[i].name, name)) return static_cast<int>(i);
        return -1;
    });
}

model::PositionRow PositionFields::rowAt(const storage::TableHandle& t, int row, bool withTexts) const {
    return makeRow(*this, [&](int at) { return t.valueAt(row, at); }, withTexts);
}

storage::Value PositionFields::value(const storage::Record& record, int place) {
    return place >= 0 && size_t(place) < record.size() ? record[size_t(place)] : storage::Value();
}

model::PositionRow PositionFields::rowOf(const storage::Record& record, bool withTexts) const {
    return makeRow(*this, [&](int at) { return value(record, at); }, withTexts);
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
