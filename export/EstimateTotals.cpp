#include "export/EstimateTotals.h"

#include "common/NumberText.h"

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
/*  The spreadsheet's arithmetic                                                         */
/* ------------------------------------------------------------------------------------- */

// The formula evaluator of the workbook (XlsFormula) and the spreadsheets that recalculate
// the file agree on these rules: an error operand wins, the left one first; a result beyond
// the double range is #NUM!.

BlockAmount finite(double d) {
    return std::isfinite(d) ? BlockAmount::number(d) : BlockAmount::errorValue(CellError::Num);
}

template <typename Op>
BlockAmount binary(const BlockAmount& a, const BlockAmount& b, Op op) {
    if (a.kind == BlockAmount::Kind::Error) return a;
    if (b.kind == BlockAmount::Kind::Error) return b;
    return finite(op(a.value, b.value));
}

BlockAmount add(const BlockAmount& a, const BlockAmount& b) {
    return binary(a, b, [](double x, double y) { return x + y; });
}
BlockAmount mul(const BlockAmount& a, const BlockAmount& b) {
    return binary(a, b, [](double x, double y) { return x * y; });
}
BlockAmount div(const BlockAmount& a, const BlockAmount& b) {
    if (a.kind == BlockAmount::Kind::Error) return a;
    if (b.kind == BlockAmount::Kind::Error) return b;
    if (b.value == 0) return BlockAmount::errorValue(CellError::Div0);
    return finite(a.value / b.value);
}

/** A rate cell as a formula operand. The export writes the text as typed: nothing when it is
 *  empty (the cell stays empty, which counts as 0), a number when it reads as one in the
 *  user's notation, otherwise the text, which no arithmetic takes. */
BlockAmount typedOperand(const std::string& text, char sep) {
    if (text.empty()) return BlockAmount::number(0);
    const auto v = parseFloat(text, sep);
    if (v && std::isfinite(static_cast<double>(*v))) return BlockAmount::number(static_cast<double>(*v));
    return BlockAmount::errorValue(CellError::Value);
}

/** The factor of the conversion row as the export writes it into E: read as a number, the
 *  export's failure otherwise. */
BlockAmount factorOperand(const std::string& text, char sep, int row) {
    const auto v = parseFloat(text, sep);
    if (!v) return BlockAmount::failure(notAFloatMessage(text));
    const double d = static_cast<double>(*v);
    if (!std::isfinite(d))
        return BlockAmount::failure("Число для ячейки " + cellName(row - 1, 4) + " не является конечным");
    return BlockAmount::number(d);
}

constexpr int kFirstPositionRow = 12;

}  // namespace

/* ------------------------------------------------------------------------------------- */
/*  Sums and the block                                                                   */
/* ------------------------------------------------------------------------------------- */

PositionSums sumPositions(const std::vector<PositionRow>& rows) {
    // Each sum adds the product cells of its column from row 12 down, starting from 0; the
    // first error cell met ends it with that error.
    double sum[kTotalColumns] = {0, 0, 0, 0, 0, 0};
    bool failed[kTotalColumns] = {false, false, false, false, false, false};
    for (const PositionRow& p : rows) {
        const double products[kTotalColumns] = {p.quantity * p.cost,     p.quantity * p.baseWages,
                                                p.quantity * p.materials, p.quantity * p.machines,
                                                p.quantity * p.machineWages, p.quantity * p.labour};
        for (int c = 0; c < kTotalColumns; ++c) {
            if (failed[c]) continue;
            if (!std::isfinite(products[c])) failed[c] = true;
            else sum[c] += products[c];
        }
    }
    PositionSums out;
    out.positions = static_cast<int>(rows.size());
    for (int c = 0; c < kTotalColumns; ++c)
        out.sums[static_cast<size_t>(c)] = failed[c] ? BlockAmount::errorValue(CellError::Num) : finite(sum[c]);
    return out;
}

EstimateTotals computeTotals(const PositionSums& sums, const EstimateTexts& texts, char sep) {
    EstimateTotals t;
    t.totals = sums;
    const int T = kFirstPositionRow + sums.positions;
    const BlockAmount hundred = BlockAmount::number(100);
    const BlockAmount wagesBase = add(sums[TotalColumn::BaseWages], sums[TotalColumn::MachineWages]);
    bool stopped = false;  // the export failed at the factor: nothing is written below it

    const auto& rows = chargeBlockRows();
    for (size_t i = 0; i < rows.size(); ++i) {
        const BlockRow& row = rows[i];
        BlockLine& line = t.lines[i];
        line.row = &row;
        if (row.rate) line.rateText = texts.*row.rate;
        if (stopped) continue;
        const BlockAmount above = i >= 1 ? t.lines[i - 1].amount : BlockAmount{};
        switch (row.kind) {
        case BlockRowKind::Totals:
            line.amount = sums[TotalColumn::Cost];
            break;
        case BlockRowKind::ChargeOfWages:  // =D<R>/100*(L<T>+O<T>)
            line.amount = mul(div(typedOperand(line.rateText, sep), hundred), wagesBase);
            break;
        case BlockRowKind::ChargeOfRunning:  // =K<R-1>/100*D<R>
            line.amount = mul(div(above, hundred), typedOperand(line.rateText, sep));
            break;
        case BlockRowKind::Conversion: {  // =K<R-1>*E<R>
            const BlockAmount factor = factorOperand(line.rateText, sep, T + row.offset);
            if (factor.kind == BlockAmount::Kind::Failure) {
                line.amount = factor;
                stopped = true;
            } else {
                line.amount = mul(above, factor);
            }
            break;
        }
        case BlockRowKind::Running:  // =K<R-1>+K<R-2>
            line.amount = add(above, t.lines[i - 2].amount);
            break;
        }
    }
    return t;
}

}  // namespace talvira::xls
