#include "export/EstimateTotals.h"

#include "common/NumberText.h"
#include "export/SheetLayout.h"

#include <cmath>

namespace talvira::xls {

/* ------------------------------------------------------------------------------------- */
/*  Amounts                                                                              */
/* ------------------------------------------------------------------------------------- */

BlockAmount BlockAmount::number(double v) {
    BlockAmount a;
    a.kind = Kind::Number;
    a.value = v;
    return a;
}

BlockAmount BlockAmount::errorValue(CellError e) {
    BlockAmount a;
    a.kind = Kind::Error;
    a.error = e;
    return a;
}

BlockAmount BlockAmount::failure(std::string message) {
    BlockAmount a;
    a.kind = Kind::Failure;
    a.message = std::move(message);
    return a;
}

std::string errorName(CellError e, bool russian) {
    switch (e) {
    case CellError::Null: return russian ? "#ПУСТО!" : "#NULL!";
    case CellError::Div0: return russian ? "#ДЕЛ/0!" : "#DIV/0!";
    case CellError::Value: return russian ? "#ЗНАЧ!" : "#VALUE!";
    case CellError::Ref: return russian ? "#ССЫЛКА!" : "#REF!";
    case CellError::Name: return russian ? "#ИМЯ?" : "#NAME?";
    case CellError::Num: return russian ? "#ЧИСЛО!" : "#NUM!";
    case CellError::NA: return russian ? "#Н/Д" : "#N/A";
    }
    return russian ? "#ЗНАЧ!" : "#VALUE!";
}

namespace {

/* ------------------------------------------------------------------------------------- */
/*  Cells of the block as the workbook holds them                                        */
/* ------------------------------------------------------------------------------------- */

BlockAmount finite(double d) {
    return std::isfinite(d) ? BlockAmount::number(d) : BlockAmount::errorValue(CellError::Num);
}

CellValue cellOf(const BlockAmount& a) {
    CellValue v;
    if (a.kind == BlockAmount::Kind::Number) {
        v.kind = CellValue::Kind::Number;
        v.number = a.value;
    } else if (a.kind == BlockAmount::Kind::Error) {
        v.kind = CellValue::Kind::Error;
        v.error = a.error;
    }
    return v;
}

/** The factor of the conversion row as the export writes it into E: read as a number, the
 *  export's failure otherwise. */
BlockAmount factorOperand(const std::string& text, char sep, int row) {
    const auto v = parseFloat(text, sep);
    if (!v) return BlockAmount::failure(notAFloatMessage(text));
    const double d = static_cast<double>(*v);
    if (!std::isfinite(d))
        return BlockAmount::failure("Число для ячейки " + cellName(row, E) + " не является конечным");
    return BlockAmount::number(d);
}


}  // namespace

/* ------------------------------------------------------------------------------------- */
/*  Sums and the block                                                                   */
/* ------------------------------------------------------------------------------------- */

static_assert(kProductColumns.size() == kTotalColumns, "one sum per product column");

PositionSums sumPositions(const std::vector<model::PositionRow>& rows) {
    // Each sum adds the product cells of its column from row 12 down, starting from 0; the
    // first error cell met ends it with that error.
    double sum[kTotalColumns] = {0, 0, 0, 0, 0, 0};
    bool failed[kTotalColumns] = {false, false, false, false, false, false};
    for (const model::PositionRow& p : rows) {
        for (int c = 0; c < kTotalColumns; ++c) {
            const double product = p.quantity * p.*kProductColumns[static_cast<size_t>(c)].value;
            if (failed[c]) continue;
            if (!std::isfinite(product)) failed[c] = true;
            else sum[c] += product;
        }
    }
    PositionSums out;
    out.positions = static_cast<int>(rows.size());
    for (int c = 0; c < kTotalColumns; ++c)
        out.sums[static_cast<size_t>(c)] = failed[c] ? BlockAmount::errorValue(CellError::Num) : finite(sum[c]);
    return out;
}

std::string blockFormula(const BlockRow& b, int T, int col) {
    using sheet::a1;
    const int R = T + b.offset;
    switch (b.kind) {
    case BlockRowKind::Totals:
        if (T == kFirstPositionRow) return "=0";
        return "=СУММ(" + a1(kFirstPositionRow, col) + ":" + a1(T - 1, col) + ")";
    case BlockRowKind::ChargeOfWages: return "=" + a1(R, D) + "/100*(" + a1(T, L) + "+" + a1(T, O) + ")";
    case BlockRowKind::ChargeOfRunning: return "=" + a1(R - 1, K) + "/100*" + a1(R, D);
    case BlockRowKind::Conversion: return "=" + a1(R - 1, K) + "*" + a1(R, E);
    case BlockRowKind::Running: return "=" + a1(R - 1, K) + "+" + a1(R - 2, K);
    }
    return {};
}

EstimateTotals computeTotals(const PositionSums& sums, const model::EstimateTexts& texts, char sep) {
    EstimateTotals t;
    t.totals = sums;
    const int T = kFirstPositionRow + sums.positions;
    // The cells the block's formulas refer to: L and O of the totals row, K of the rows above,
    // D (the rate) and E (the factor) of the row.
    std::array<CellValue, 14> rateCell, factorCell;
    auto lookup = [&](int row, int col) -> CellValue {
        const int offset = row - T;
        if (offset == 0)
            for (size_t c = 0; c < kProductColumns.size(); ++c)
                if (kProductColumns[c].product == col) return cellOf(sums.sums[c]);
        if (offset < 0 || offset >= 14) return {};
        if (col == K) return cellOf(t.lines[static_cast<size_t>(offset)].amount);
        if (col == D) return rateCell[static_cast<size_t>(offset)];
        if (col == E) return factorCell[static_cast<size_t>(offset)];
        return {};
    };

    const auto& rows = chargeBlockRows();
    bool stopped = false;  // the export failed at the factor: nothing is written below it
    for (size_t i = 0; i < rows.size(); ++i) {
        const BlockRow& row = rows[i];
        BlockLine& line = t.lines[i];
        line.row = &row;
        if (row.rate) line.rateText = texts.*row.rate;
        if (stopped) continue;
        if (row.kind == BlockRowKind::Totals) {
            line.amount = sums[TotalColumn::Cost];
            continue;
        }
        if (row.kind == BlockRowKind::Conversion) {
            const BlockAmount factor = factorOperand(line.rateText, sep, T + row.offset);
            if (factor.kind == BlockAmount::Kind::Failure) {
                line.amount = factor;
                stopped = true;
                continue;
            }
            factorCell[i] = cellOf(factor);
        } else if (row.rate) {
            rateCell[i] = typedCell(line.rateText, sep);
        }
        // The workbook's own evaluation of the formula it holds in K.
        const FormulaValue v = evaluateFormula(compileFormula(blockFormula(row, T), sep), lookup, sep);
        line.amount = v.isError ? BlockAmount::errorValue(v.error) : finite(v.number);
    }
    return t;
}

}  // namespace talvira::xls
