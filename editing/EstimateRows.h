#pragma once
/**
 * The positions of the open estimate as the workbook takes them: a walk over the estimate
 * table from its first position to its end.
 *
 *   std::vector<model::PositionRow> rows = editing::readPositionRows(Form2->SmetaTable);
 *   xls::exportEstimateToFile(rows, texts, templatePath, out, ',');
 *
 * Caveats: while the walk runs the table's bound controls are not refreshed; afterwards the
 * table is back at the position it had and its controls are resumed, also when a read fails
 * (the error then leaves with the storage's message). An empty number field gives 0, the
 * memo NAME its whole text. COUNT and the underscore totals are not read: the workbook
 * computes its own totals.
 */
#include "model/EstimateRows.h"
#include "storage/TableHandle.h"

#include <vector>

namespace talvira::editing {

/** The places of a position's fields in the estimate table's field list, found once: the one
 *  map from estimate fields to the members of a position row. A field the table lacks is -1. */
struct PositionFields {
    int count = -1, code = -1, name = -1, unit = -1, quantity = -1, cost = -1, baseWages = -1, materials = -1,
        machines = -1, machineWages = -1, labour = -1;

    /** The places in `smeta`; with `required`, a missing field throws the handle's own message. */
    static PositionFields of(const storage::TableHandle& smeta, bool required);
    /** The places in the whole records of `smeta`'s table (its own fields in table order, as
     *  storage::TableChange carries them). */
    static PositionFields inRecords(const storage::TableHandle& smeta);
    /** The stored position at `row` (0-based, without moving the cursor). The texts are read only
     *  `withTexts`; an empty number field gives 0. */
    model::PositionRow rowAt(const storage::TableHandle& smeta, int row, bool withTexts) const;
    /** The position a whole record holds (places from inRecords); a field it lacks is empty. */
    model::PositionRow rowOf(const storage::Record& record, bool withTexts) const;
    /** The value at `place` of a whole record (places from inRecords); empty where it has none. */
    static storage::Value value(const storage::Record& record, int place);
};

std::vector<model::PositionRow> readPositionRows(storage::TableHandle& smeta);

}  // namespace talvira::editing
