#include "export/EstimateExport.h"

#include "common/Error.h"
#include "common/NumberText.h"
#include "export/ChargeBlock.h"
#include "export/EstimateTotals.h"
#include "export/SheetLayout.h"
#include "common/AtomicFile.h"
#include "export/XlsRecords.h"

#include <cmath>
#include <system_error>
#include <unistd.h>

namespace talvira::xls {

/* ------------------------------------------------------------------------------------- */
/*  Private functions                                                                    */
/* ------------------------------------------------------------------------------------- */

namespace {

/** The sheet as the layout writes it, rows and columns counted from 0. */
class Sheet {
public:
    Sheet(XlsWorkbook& wb, char decimalSep) : wb_(wb), sep_(decimalSep) {}

    /** The cell at `row` and `col`; a row beyond the sheet means the estimate does not fit
     *  (the message counts rows as the user reads them). */
    CellRef at(int row, int col) const {
        if (row >= biff::kMaxRows)
            throw Error("Смета не помещается на лист Excel: строка " + std::to_string(row + 1) +
                        " лежит за последней строкой листа (" + std::to_string(biff::kMaxRows) + ")");
        return CellRef{row, col};
    }
    /** A text as it stands; an empty text empties the cell, as typing nothing into it would. */
    void text(int row, int col, const std::string& t) {
        const CellRef c = at(row, col);
        if (t.empty()) wb_.setBlank(c);
        else wb_.setText(c, t);
    }
    /** A text as the user would type it: a number when it reads as one, nothing at all when
     *  empty (the cell stays as it was), else text. */
    void typed(int row, int col, const std::string& t) {
        const CellRef c = at(row, col);
        const CellValue v = typedCell(t, sep_);
        if (v.kind == CellValue::Kind::Number) wb_.setNumber(c, v.number);
        else if (v.kind == CellValue::Kind::Text) wb_.setText(c, v.text);
    }
    void number(int row, int col, double v) {
        const CellRef c = at(row, col);
        if (!std::isfinite(v))
            throw Error("Число для ячейки " + cellName(c.row, c.col) + " не является конечным");
        wb_.setNumber(c, v);
    }
    void formula(int row, int col, const std::string& f) { wb_.setFormula(at(row, col), f); }

private:
    XlsWorkbook& wb_;
    char sep_;
};

void writeHeader(Sheet& s, const model::EstimateTexts& t) {
    s.text(1, A, t.approverPost);     // A2
    s.text(1, O, t.contractorPost);   // O2
    s.text(4, C, t.approverName);     // C5
    s.text(4, P, t.contractorName);   // P5
    s.text(2, E, t.title);            // E3
}

void writePositionRow(Sheet& s, int r, const model::PositionRow& p) {
    s.number(r, A, r - kFirstPositionRow + 1);
    s.text(r, B, p.code);
    s.text(r, C, p.name);
    s.text(r, D, p.unit);
    s.number(r, E, p.quantity);
    for (const ProductColumn& c : kProductColumns) {
        s.number(r, c.unitValue, p.*c.value);
        s.formula(r, c.product, "=" + sheet::a1(r, E) + "*" + sheet::a1(r, c.unitValue));
    }
}

void writeBlockRow(Sheet& s, const BlockRow& b, int T, const model::EstimateTexts& texts, char sep) {
    const int R = T + b.offset;
    s.text(R, C, b.caption);
    // the formula texts are those the in-program totals evaluate (blockFormula)
    switch (b.kind) {
    case BlockRowKind::Totals:
        for (const ProductColumn& c : kProductColumns) s.formula(R, c.product, blockFormula(b, T, c.product));
        break;
    case BlockRowKind::ChargeOfWages:
        s.typed(R, D, texts.*b.rate);
        s.text(R, E, "%");
        s.formula(R, K, blockFormula(b, T));
        break;
    case BlockRowKind::ChargeOfRunning:
        s.typed(R, D, texts.*b.rate);
        s.text(R, E, "%");
        s.formula(R, K, blockFormula(b, T));
        break;
    case BlockRowKind::Conversion:
        // the factor is read here, after C and D of the row are written
        s.text(R, D, "K=");
        s.number(R, E, static_cast<double>(strToFloat(texts.*b.rate, sep)));
        s.formula(R, K, blockFormula(b, T));
        break;
    case BlockRowKind::Running:
        s.formula(R, K, blockFormula(b, T));
        break;
    }
}

void writeSignatures(Sheet& s, int T) {
    const int r = T + kSignatureRowOffset;
    s.text(r, B, "Заказчик");
    s.text(r, C, "________");
    s.text(r, O, "Подрядчик");
    s.text(r, P, "________");
}

std::string safeFileName(std::string_view name) {
    std::string s(name);
    for (char& c : s)
        if (c == '/' || c == '\\' || c == '\0') c = '_';
    return s;
}

}  // namespace

/* ------------------------------------------------------------------------------------- */
/*  Public functions                                                                     */
/* ------------------------------------------------------------------------------------- */

void writeEstimate(XlsWorkbook& wb, const std::vector<model::PositionRow>& rows, const model::EstimateTexts& texts,
                   char decimalSep) {
    Sheet s(wb, decimalSep);
    // an estimate without positions keeps the template's header cells
    if (!rows.empty()) writeHeader(s, texts);
    int r = kFirstPositionRow;
    for (const model::PositionRow& p : rows) writePositionRow(s, r++, p);
    const int T = r;
    for (const BlockRow& b : chargeBlockRows()) writeBlockRow(s, b, T, texts, decimalSep);
    writeSignatures(s, T);
    wb.addBorders(s.at(kFrameTopRow, A), s.at(T - 1, kLastColumn));
}

std::filesystem::path exportEstimateToFile(const std::vector<model::PositionRow>& rows, const model::EstimateTexts& texts,
                                           const std::string& templatePath,
                                           const std::filesystem::path& outPath, char decimalSep,
                                           const WorkbookOpener& open, bool keepExisting) {
    XlsWorkbook wb = XlsWorkbook::open(templatePath, decimalSep);
    writeEstimate(wb, rows, texts, decimalSep);
    const std::filesystem::path saved = writeFileAtomically(
        outPath, [&wb](const std::filesystem::path& tmp) { wb.saveTo(tmp); }, keepExisting, "книгу");
    if (open) open(saved);
    return saved;
}

std::filesystem::path workbookPathFor(std::string_view estimateName, const std::filesystem::path& dir) {
    std::filesystem::path base = dir;
    if (base.empty()) {
        std::error_code ec;
        base = std::filesystem::temp_directory_path(ec);
        if (ec) base = "/tmp";
    }
    return base / ("Смета " + safeFileName(estimateName) + ".xls");
}

WorkbookPlace workbookPlaceFor(const std::filesystem::path& estimateTable) {
    const std::filesystem::path dir = estimateTable.has_parent_path() ? estimateTable.parent_path() : ".";
    const std::string name = estimateTable.stem().string();
    if (::access(dir.c_str(), W_OK) == 0) return {workbookPathFor(name, dir), true};
    return {workbookPathFor(name), false};
}

}  // namespace talvira::xls
