#pragma once
/**
 * Where the estimate lies on the sheet, read by the workbook writer and by the in-program totals
 * alike: the columns, the first position row, the product columns of a position row (quantity
 * times one unit value each) whose sums make the totals row, and the rule by which a text typed
 * into a rate becomes a cell.
 *
 *   for (const xls::ProductColumn& p : xls::kProductColumns)   // K = E*F ... Q = E*P
 *       sheet.formula(r, p.product, "=" + sheet::a1(r, xls::E) + "*" + sheet::a1(r, p.unitValue));
 *
 * Rows and columns are counted from 0 (row 11 is the sheet's row 12, column 0 is A), as every
 * sheet writer counts them; A1 text is made only for a formula (export/CellAddress.h).
 */
#include "model/EstimateRows.h"
#include "export/CellAddress.h"
#include "export/XlsFormula.h"

#include <array>
#include <string>

namespace talvira::xls {

enum Column : int { A, B, C, D, E, F, G, H, I, J, K, L, M, N, O, P, Q };

/** Row of the first position (the sheet's row 12); position n (from 1) goes to row 10 + n. */
constexpr int kFirstPositionRow = 11;
/** The frame of thin borders starts at this row (the sheet's row 10) and ends at column Q, as a
 *  position row does. */
constexpr int kFrameTopRow = 9;
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

/** A rate typed as text, as the cell the workbook gets: nothing when it is empty (the cell stays
 *  as it was), a number when it reads as one with `decimalSep` (blanks around it allowed), else
 *  the text itself. */
CellValue typedCell(const std::string& text, char decimalSep);

}  // namespace talvira::xls
