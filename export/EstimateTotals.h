#pragma once
/**
 * The totals and charges block of the estimate as the workbook computes it, without a
 * workbook: the products quantity × unit value per position, their sums in row order, then
 * the block's formulas row by row, in double precision and in the spreadsheet's order of
 * operations, so that every amount is the value a spreadsheet shows after recalculating the
 * exported workbook.
 *
 *   xls::EstimateTotals t = xls::computeTotals(rows, texts, ',');
 *   if (t.lines[13].amount.isNumber()) show(t.lines[13].amount.value);   // "Итого с НДС"
 *
 * The block's formulas are one text each (blockFormula), which the workbook writer writes and
 * the totals evaluate with the workbook's own formula evaluator, so that the results the
 * workbook carries and the amounts shown are one computation.
 *
 * Caveats: a rate text is read as the spreadsheet reads the typed cell: a number in the
 * user's notation (blanks around it allowed) is that number, an empty text is 0, any other
 * text gives #VALUE! in its row and, through the running totals, in every row below. The
 * factor into current prices is read by the export itself: a text that is not a number is
 * the export's failure, whose message stands in the conversion row; the rows below it get no
 * amount, as the export writes none.
 */
#include "export/ChargeBlock.h"
#include "model/EstimateRows.h"
#include "export/XlsFormula.h"

#include <array>
#include <string>
#include <vector>

namespace talvira::xls {

/** One amount of the block: a number, a spreadsheet error value, the export's failure, or
 *  nothing at all. */
struct BlockAmount {
    enum class Kind { None, Number, Error, Failure } kind = Kind::None;
    double value = 0;                    // Number
    CellError error = CellError::Value;  // Error
    std::string message;                 // Failure: the export's message

    bool isNumber() const { return kind == Kind::Number; }
    static BlockAmount number(double v);
    static BlockAmount errorValue(CellError e);
    static BlockAmount failure(std::string message);
};

/** The formula of column `col` (10 is K, 16 is Q) of block row `b` when the totals row is `T`
 *  (0-based: 14 is the sheet's row 15), as the user types it: "=СУММ(K12:K14)", "=D16/100*(L15+O15)",
 *  "=K21/100*D22", "=K25*E26", "=K16+K15". Without positions the sums are "=0": the range
 *  12..11 would turn round into rows 11..12 and add up the template's cells. */
std::string blockFormula(const BlockRow& b, int T, int col = 10);

/** The sums of the totals row, in the order of its columns K, L, M, N, O and Q. */
enum class TotalColumn { Cost, BaseWages, Materials, Machines, MachineWages, Labour };
constexpr int kTotalColumns = 6;

/** The sums of the position products over rows 12..T-1 (the totals row's cells). */
struct PositionSums {
    std::array<BlockAmount, kTotalColumns> sums;
    int positions = 0;
    const BlockAmount& operator[](TotalColumn c) const { return sums[static_cast<size_t>(c)]; }
};

/** One row of the block. */
struct BlockLine {
    const BlockRow* row = nullptr;  // offset, kind, caption and rate of chargeBlockRows()
    std::string rateText;           // the rate as typed (D, or E for the conversion); "" otherwise
    BlockAmount amount;             // column K
};

/** The whole block, rows T..T+13. */
struct EstimateTotals {
    std::array<BlockLine, 14> lines;
    PositionSums totals;  // K, L, M, N, O, Q of the totals row; lines[0].amount is totals.sums[0]
};

/** The position products (quantity × unit value, an empty field being 0), summed per column
 *  in row order as the spreadsheet's summation adds them. A product or a sum beyond the
 *  double range is #NUM!, as it is in the spreadsheet. */
PositionSums sumPositions(const std::vector<model::PositionRow>& rows);

/** The block from the column sums and the texts; `decimalSep` is the user's decimal
 *  separator, with which the rate texts and the factor are read. */
EstimateTotals computeTotals(const PositionSums& sums, const model::EstimateTexts& texts, char decimalSep);

inline EstimateTotals computeTotals(const std::vector<model::PositionRow>& rows, const model::EstimateTexts& texts,
                                    char decimalSep) {
    return computeTotals(sumPositions(rows), texts, decimalSep);
}

/** The spreadsheet's name of an error value: "#VALUE!", "#NUM!" ... (`russian`: "#ЗНАЧ!",
 *  "#ЧИСЛО!" ..., as the Russian spreadsheet shows them). */
std::string errorName(CellError e, bool russian);

}  // namespace talvira::xls
