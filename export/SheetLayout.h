#pragma once
/**
 * Where the estimate lies on the sheet, read by the workbook writer and by the in-program totals
 * alike: the columns, the first position row, the product columns of a position row (quantity
 * times one unit value each) whose sums make the totals row, and the rule by which a text typed
 * into a rate becomes a cell.
 *
 *   for (const xls::ProductColumn& p : xls::kProductColumns)   // K = E*F ... Q = E*P
 *       sheet.formula(r, p.product, "=" + xls::cellRef(xls::E, r) + "*" + xls::cellRef(p.unitValue, r));
 *
 * Rows are counted from 1 as the user reads them, columns from 0 (A).
 */
#include "estimate/model/EstimateRows.h"
#include "export/XlsFormula.h"

#include <array>
#include <string>

namespace talvira::xls {

enum Column : int { A, B, C, D, E, F, G, H, I, J, K, L, M, N, O, P, Q };

/** Row of the first position; position n goes to row 11 + n. */
constexpr int kFirstPositionRow = 12;
/** The frame of thin borders starts at this row and ends at column Q, as a position row does. */
constexpr int kFrameTopRow = 10;
constexpr int kLastColumn = Q;

/** One product column of a position row: `product` holds quantity (E) times `unitValue`. */
struct ProductColumn {
    int product;
    int unitValue;
    double model::PositionRow::* value;
};

/** K..O and Q in the order of the totals row's sums (TotalColumn). */
inline constexpr std::array<ProductColumn, 6> kProductColumns = {{
    {K, F, &model::PositionRow::cost},
    {L, G, &model::PositionRow::baseWages},
    {M, H, &model::PositionRow::materials},
    {N, I, &model::PositionRow::machines},
    {O, J, &model::PositionRow::machineWages},
    {Q, P, &model::PositionRow::labour},
}};

/** "E12" for (E, 12). */
inline std::string cellRef(int col, int row) { return columnLetters(col) + std::to_string(row); }

/** A rate typed as text, as the cell the workbook gets: nothing when it is empty (the cell stays
 *  as it was), a number when it reads as one with `decimalSep` (blanks around it allowed), else
 *  the text itself. */
CellValue typedCell(const std::string& text, char decimalSep);

}  // namespace talvira::xls
