#pragma once
/**
 * The estimate workbook: the positions of an estimate, the title-block texts and the charge
 * rates laid over the template workbook as values and live formulas, with a frame of thin
 * borders around the position table, the totals and charges block and the signature line.
 *
 *   xls::EstimateTexts texts = xls::EstimateTexts::defaults(',');
 *   editing::SmetaPositionSource table(Form2->SmetaTable);
 *   std::string out = xls::exportEstimateToFile(table, texts, startDir + "/Base/1.xls",
 *                         xls::workbookPathFor("Дом"), ',', openInSpreadsheet);
 *
 * Caveats: every failure is a talvira::Error with the finished Russian text. The table is
 * back at its remembered position and its display resumed on every path; when the walk
 * fails nothing is saved and nothing is opened. The walk reads fields by their places in
 * the table's field list (0-based, as the handle counts them), not by name.
 */
#include "export/EstimateRows.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace talvira::xls {

/**
 * The estimate table as the export walks it. A place is a field's index in the table's field
 * list, counted from 0 as the handle counts them: with the estimate's bound fields place 0 is
 * COUNT, 1..3 are TAB, NAME, IZM, 4..9 KOLVO..ZPMASH and 15 is TRUD. Implemented over a
 * table handle by editing::SmetaPositionSource.
 */
class PositionReader {
public:
    virtual ~PositionReader() = default;
    virtual void disableControls() = 0;   // suspend the display of bound controls
    virtual void enableControls() = 0;    // resume it
    virtual void rememberPosition() = 0;
    virtual void returnToPosition() = 0;  // back to the remembered position
    virtual void first() = 0;
    virtual bool eof() const = 0;
    virtual void next() = 0;
    virtual int fieldCount() const = 0;
    /** Field at `place` as text; an empty field gives "". A memo gives its whole text. */
    virtual std::string fieldText(int place) const = 0;
    /** Field at `place` as a number; an empty field gives 0. */
    virtual double fieldNumber(int place) const = 0;
};

/**
 * The spreadsheet operations the export performs, one call each, in the order it makes
 * them: a current cell taken by reference and moved one cell right at a time, values and
 * formulas written into it. The workbook writer (XlsSpreadsheet) implements it over the
 * template file; tests record the sequence.
 */
class Spreadsheet {
public:
    virtual ~Spreadsheet() = default;
    virtual void connect() = 0;
    /** A new workbook from the template; its active sheet becomes the sheet written. */
    virtual void addWorkbook(const std::string& templatePath) = 0;
    /** Makes the cell `ref` ("A12") current. */
    virtual void range(const std::string& ref) = 0;
    /** Moves the current cell one column right. */
    virtual void next() = 0;
    virtual void writeText(const std::string& text) = 0;
    /** A text as the user would type it: a number when it reads as one in the user's
     *  decimal notation, nothing at all when empty (the cell stays as it was), else text. */
    virtual void writeTyped(const std::string& text) = 0;
    virtual void writeInteger(int64_t value) = 0;
    virtual void writeDouble(double value) = 0;
    /** A formula as the user types it, in the user's language ("=СУММ(K12:K14)"). */
    virtual void writeFormula(const std::string& text) = 0;
    /** Line style `lineStyle` (1 = continuous) on every edge of every cell of from:to. */
    virtual void setBorders(const std::string& from, const std::string& to, int lineStyle) = 0;
    /** Shows the finished workbook to the user. */
    virtual void show() = 0;
    virtual void disconnect() = 0;
};

/**
 * The export: header cells, one row per position from row 12, the totals and charges block,
 * the signature line, the frame A10:<last column><last position row>, show, disconnect.
 * `decimalSep` is the user's decimal separator, used to read the factor into current prices.
 * On a failure during the walk the table returns to its remembered position and its display
 * is resumed before the error leaves; the frame, show and disconnect are then skipped.
 */
void exportEstimate(PositionReader& table, const EstimateTexts& texts, Spreadsheet& sheet,
                    const std::string& templatePath, char decimalSep);

/** Opens a finished workbook for the user (the desktop program opens it in the user's
 *  spreadsheet application); empty means the file is only written. */
using WorkbookOpener = std::function<void(const std::filesystem::path&)>;

/**
 * The export into a workbook file made from `templatePath`: written completely under a
 * temporary name beside `outPath`, then renamed. When `keepExisting` is set an existing
 * file is never replaced: the next free name ("Смета Дом (2).xls", ...) is taken instead.
 * Returns the path written; `open` is called with it once the file is complete.
 */
std::filesystem::path exportEstimateToFile(PositionReader& table, const EstimateTexts& texts,
                                           const std::string& templatePath,
                                           const std::filesystem::path& outPath, char decimalSep,
                                           const WorkbookOpener& open = {},
                                           bool keepExisting = true);

/** "Смета <name>.xls" in `dir` (default: the user's temporary folder); when that file
 *  exists, "Смета <name> (2).xls", "(3)" and so on, the first that does not. Path
 *  separators in the name are replaced by "_". */
std::filesystem::path workbookPathFor(std::string_view estimateName,
                                      const std::filesystem::path& dir = {});

}  // namespace talvira::xls
