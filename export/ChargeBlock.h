#pragma once
/**
 * The block below the positions: the totals row T, the charges with their running totals, the
 * conversion to current prices and VAT, rows T..T+13. One table, read by the workbook writer
 * and by the in-program totals, so that captions and the order of rows exist once.
 *
 *   for (const xls::BlockRow& b : xls::chargeBlockRows())
 *       if (b.rate) use(b.caption, texts.*b.rate);   // row T + b.offset
 *
 * How each kind computes (in column K of its row R):
 *   Totals          the sums of the position totals (K..O and Q over rows 12..T-1);
 *   ChargeOfWages   rate (D) per cent of base wages plus machinist wages of the totals row;
 *   ChargeOfRunning rate (D) per cent of the running total just above (K of R-1);
 *   Conversion      the running total above times the factor (E);
 *   Running         the charge above plus the total two rows above (K of R-1 + K of R-2).
 */
#include "model/EstimateRows.h"

#include <array>
#include <string>

namespace talvira::xls {

enum class BlockRowKind { Totals, ChargeOfWages, ChargeOfRunning, Conversion, Running };

struct BlockRow {
    int offset;                 // 0..13 from T
    BlockRowKind kind;
    const char* caption;        // column C text, exactly as the workbook has it
    std::string model::EstimateTexts::* rate;  // the rate text for D (or E for Conversion), nullptr otherwise
};

/** The 14 rows T..T+13 in order. */
const std::array<BlockRow, 14>& chargeBlockRows();

/** The signature line lies this many rows below T (rows T+14 and T+15 stay untouched). */
constexpr int kSignatureRowOffset = 16;

}  // namespace talvira::xls
