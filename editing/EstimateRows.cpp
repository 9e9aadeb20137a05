#include "editing/EstimateRows.h"

namespace talvira::editing {

namespace {

/** The estimate's fields that make a position row, found once before the walk. */
struct RowFields {
    int code, name, unit, quantity, cost, baseWages, materials, machines, machineWages, labour;
};

int place(const storage::TableHandle& t, const char* field) {
    const int i = t.fieldIndex(field);
    if (i < 0) (void)t.fieldValue(field);  // the handle's own message for a field it lacks
    return i;
}

}  // namespace

std::vector<xls::PositionRow> readPositionRows(storage::TableHandle& smeta) {
    // Declared in this order so that the table returns to its position before its controls
    // resume, on every way out.
    storage::ControlsSuspended display(smeta);
    storage::PositionKept position(smeta);
    const RowFields f{place(smeta, "TAB"),     place(smeta, "NAME"),     place(smeta, "IZM"),
                      place(smeta, "KOLVO"),   place(smeta, "STOIM"),    place(smeta, "OSNZP"),
                      place(smeta, "MATER"),   place(smeta, "EXPLMASH"), place(smeta, "ZPMASH"),
                      place(smeta, "TRUD")};
    std::vector<xls::PositionRow> rows;
    smeta.first();
    while (!smeta.eof()) {
        xls::PositionRow& r = rows.emplace_back();
        r.code = smeta.fieldValue(f.code).asString();
        r.name = smeta.fieldValue(f.name).asString();
        r.unit = smeta.fieldValue(f.unit).asString();
        r.quantity = smeta.fieldValue(f.quantity).asFloat();
        r.cost = smeta.fieldValue(f.cost).asFloat();
        r.baseWages = smeta.fieldValue(f.baseWages).asFloat();
        r.materials = smeta.fieldValue(f.materials).asFloat();
        r.machines = smeta.fieldValue(f.machines).asFloat();
        r.machineWages = smeta.fieldValue(f.machineWages).asFloat();
        r.labour = smeta.fieldValue(f.labour).asFloat();
        smeta.next();
    }
    return rows;
}

}  // namespace talvira::editing
