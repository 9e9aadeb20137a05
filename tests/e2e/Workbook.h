#pragma once
/**
 * A workbook as LibreOffice reads it: the file is converted headless into a flat OpenDocument
 * spreadsheet (.fods), whose cells carry the formula, the recalculated value and the text.
 *
 *   auto sheets = e2e::readWithLibreOffice("/tmp/Смета Дом.xls", scratchDir, &error);
 *   const e2e::Cell* k15 = sheets->front().at("K15");   // k15->formula == "SUM(K12:K14)"
 *
 * Caveats: formulas come back in LibreOffice's notation with the sheet prefixes removed
 * ("of:=[.E12]*[.F12]" reads "E12*F12"), function names in English.
 */
#include <QString>
#include <QStringList>

#include <map>
#include <optional>
#include <utility>
#include <vector>

namespace e2e {

struct Cell {
    QString formula;  // without "=", references as A1 ("E12*F12"); empty for a constant
    QString type;     // office:value-type: "float", "string", ...; empty for an empty cell
    double value = 0;
    QString text;     // what the cell shows
};

struct Sheet {
    QString name;
    std::map<std::pair<int, int>, Cell> cells;  // (row, column), both 1-based
    /** The cell at an A1 reference, or nullptr when it holds nothing. */
    const Cell* at(const QString& ref) const;
};

/** The soffice program on PATH, or empty. */
QString findSoffice();

/** Reads the sheets of a flat OpenDocument spreadsheet. */
std::vector<Sheet> readFods(const QString& path);

/** Converts `workbook` with LibreOffice (a private profile under `scratch`, which recalculates
 *  an .xlsx on load) and reads it; nullopt with `error` set when the conversion fails. */
std::optional<std::vector<Sheet>> readWithLibreOffice(const QString& workbook, const QString& scratch,
                                                      QString* error);

/** Recalculates `workbook` with Gnumeric (ssconvert --recalc) and reads the active sheet's
 *  values as CSV rows; nullopt with `error` set when ssconvert is missing or fails. */
std::optional<std::vector<QStringList>> recalcWithGnumeric(const QString& workbook, const QString& scratch,
                                                           QString* error);

/** The rows of CSV text (quoted fields may hold separators, quotes and line breaks). */
std::vector<QStringList> parseCsv(const QString& text);

/** "K15" → (15, 11). */
std::pair<int, int> cellRef(const QString& ref);

}  // namespace e2e
