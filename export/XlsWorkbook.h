#pragma once
/**
 * The template workbook opened for filling: the sheet that is active on opening takes text,
 * number and formula cells and thin borders; everything else of the template stays as it was,
 * record for record. Saving gives the bytes of a complete .xls file.
 *
 *   xls::XlsWorkbook wb = xls::XlsWorkbook::open("Base/1.xls", ',');
 *   wb.setFormula({14, 10}, "=СУММ(K12:K14)"); wb.addBorders({9, 0}, {13, 16});
 *   std::vector<uint8_t> file = wb.save();
 *
 * Caveats: a file that is not an Excel 97-2003 (BIFF8) workbook, a damaged one, or a template
 * whose active sheet is not a worksheet gives talvira::Error naming the file. Formula cells
 * carry their computed value and are marked for recalculation on loading.
 */
#include "export/XlsFormula.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace talvira::xls {

struct WorkbookData;  // XlsWorkbookData.h

class XlsWorkbook {
public:
    /** Reads the template file. */
    static XlsWorkbook open(const std::filesystem::path& path, char decimalSep);
    /** Parses a template held in memory; `displayName` names it in messages. */
    XlsWorkbook(const std::vector<uint8_t>& fileBytes, const std::string& displayName, char decimalSep);
    /** A workbook from its bare workbook stream (the BIFF8 records without the compound
     *  file around them); saving wraps it into a compound file of its own. */
    static XlsWorkbook fromStream(const std::vector<uint8_t>& stream, const std::string& displayName,
                                  char decimalSep);
    ~XlsWorkbook();
    XlsWorkbook(XlsWorkbook&&) noexcept;
    XlsWorkbook& operator=(XlsWorkbook&&) noexcept;

    /** Index of the active sheet among the workbook's sheets, and its name. */
    int activeSheet() const;
    std::string activeSheetName() const;

    /** Text, number or formula into a cell of the active sheet; a cell of the template at that
     *  address is replaced, its format kept. */
    void setText(CellRef at, const std::string& utf8);
    void setNumber(CellRef at, double value);
    /** Empties a cell; its format stays. */
    void setBlank(CellRef at);
    /** `text` as the user types it; talvira::Error naming the cell when it is not a formula
     *  this writer knows. */
    void setFormula(CellRef at, const std::string& text);

    /** A thin continuous line on every edge of every cell of the rectangle `from`..`to`;
     *  a cell that does not exist yet becomes an empty formatted cell. */
    void addBorders(CellRef from, CellRef to);

    /** The whole .xls file. Same template and same calls give the same bytes. */
    std::vector<uint8_t> save();
    /** The same file written straight to `path`. */
    void saveTo(const std::filesystem::path& path);

    /** The workbook stream as save() writes it (for tests and diagnostics). */
    std::vector<uint8_t> workbookStream();

private:
    std::unique_ptr<WorkbookData> impl_;
    explicit XlsWorkbook(std::unique_ptr<WorkbookData> impl);
};

}  // namespace talvira::xls
