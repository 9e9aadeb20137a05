#pragma once
/**
 * The positions of the open estimate as the workbook takes them: a walk over the estimate
 * table from its first position to its end.
 *
 *   std::vector<xls::PositionRow> rows = editing::readPositionRows(Form2->SmetaTable);
 *   xls::exportEstimateToFile(rows, texts, templatePath, out, ',');
 *
 * Caveats: while the walk runs the table's bound controls are not refreshed; afterwards the
 * table is back at the position it had and its controls are resumed, also when a read fails
 * (the error then leaves with the storage's message). An empty number field gives 0, the
 * memo NAME its whole text. COUNT and the underscore totals are not read: the workbook
 * computes its own totals.
 */
#include "export/EstimateRows.h"
#include "storage/TableHandle.h"

#include <vector>

namespace talvira::editing {

std::vector<xls::PositionRow> readPositionRows(storage::TableHandle& smeta);

}  // namespace talvira::editing
