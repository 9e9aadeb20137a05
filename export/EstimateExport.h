#pragma once
/**
 * The estimate workbook: the positions of an estimate, the title-block texts and the charge
 * rates laid over the template workbook as values and live formulas, with a frame of thin
 * borders around the position table, the totals and charges block and the signature line.
 *
 *   std::vector<model::PositionRow> rows = editing::readPositionRows(Form2->SmetaTable);
 *   std::filesystem::path out = xls::exportEstimateToFile(rows, texts, startDir + "/Base/1.xls",
 *                                   xls::workbookPathFor("Дом"), ',', openInSpreadsheet);
 *
 * Caveats: every failure is a talvira::Error with the finished Russian text; when the export
 * fails nothing is saved and nothing is opened. The sheet holds 65 536 rows: an estimate that
 * does not fit fails naming the first row beyond the sheet.
 */
#include "model/EstimateRows.h"
#include "export/XlsWorkbook.h"

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace talvira::xls {

/**
 * Lays the estimate over the active sheet of `wb`, cells by address: the header cells A2, O2,
 * C5, P5, E3 (only when there are positions), one row per position from row 12 (A..Q), the
 * totals and charges block from row T = 12 + positions, the signature line at T + 16 and the
 * frame A10:Q<T-1>. A text is written as it stands (an empty one empties its cell); a rate is
 * written as typed: a number when it reads as one with `decimalSep`, nothing when empty, else
 * text. The factor into current prices must read as a number: otherwise "'<text>' is not a
 * valid floating point value".
 */
void writeEstimate(XlsWorkbook& wb, const std::vector<model::PositionRow>& rows, const model::EstimateTexts& texts,
                   char decimalSep);

/** Opens a finished workbook for the user (the desktop program opens it in the user's
 *  spreadsheet application); empty means the file is only written. */
using WorkbookOpener = std::function<void(const std::filesystem::path&)>;

/**
 * The export into a workbook file made from `templatePath`: written completely under a
 * temporary name beside `outPath`, then renamed. When `keepExisting` is set an existing
 * file is never replaced: the next free name ("Смета Дом (2).xls", ...) is taken instead.
 * Returns the path written; `open` is called with it once the file is complete.
 * `decimalSep` is the user's decimal separator (rates, the factor, formula numbers).
 */
std::filesystem::path exportEstimateToFile(const std::vector<model::PositionRow>& rows, const model::EstimateTexts& texts,
                                           const std::string& templatePath,
                                           const std::filesystem::path& outPath, char decimalSep,
                                           const WorkbookOpener& open = {},
                                           bool keepExisting = true);

/** Where the "Excel" command writes the book of the estimate table `estimateTable`: beside it
 *  (`besideEstimate`), or in the user's temporary folder when the estimate's folder is closed
 *  for writing (an estimate opened from a read-only disk). */
struct WorkbookPlace {
    std::filesystem::path path;
    bool besideEstimate = true;
};
WorkbookPlace workbookPlaceFor(const std::filesystem::path& estimateTable);

/** "Смета <name>.xls" in `dir` (default: the user's temporary folder), path separators in the
 *  name replaced by "_". Whether that name is free is decided when the file is written
 *  (exportEstimateToFile with `keepExisting`), in one step with the write. */
std::filesystem::path workbookPathFor(std::string_view estimateName,
                                      const std::filesystem::path& dir = {});

}  // namespace talvira::xls
