#pragma once
/**
 * The workbook writer behind the spreadsheet operations of the export: a workbook made from
 * the template file, a current cell moved one column at a time, values and formulas laid over
 * the template's active sheet; "show" saves the file completely and hands it to the opener.
 *
 *   xls::XlsSpreadsheet sheet("/tmp/Смета Дом.xls", ',', true, openInSpreadsheet);
 *   xls::exportEstimate(table, texts, sheet, "Base/1.xls", ',');   // sheet.savedPath()
 *
 * Caveats: the sheet holds 65 536 rows and 256 columns; a reference beyond them is an error.
 * An empty text empties its cell (the cell keeps its format).
 * Until show() nothing is written to disk.
 */
#include "export/EstimateExport.h"
#include "export/XlsWorkbook.h"

#include <filesystem>
#include <functional>
#include <optional>

namespace talvira::xls {

class XlsSpreadsheet : public Spreadsheet {
public:
    /** `outPath` is where show() saves; with `keepExisting` an existing file is never
     *  replaced (the next free "name (n).xls" is taken). */
    XlsSpreadsheet(std::filesystem::path outPath, char decimalSep, bool keepExisting = true,
                   WorkbookOpener open = {});

    void connect() override;
    void addWorkbook(const std::string& templatePath) override;
    void range(const std::string& ref) override;
    void next() override;
    void writeText(const std::string& text) override;
    void writeTyped(const std::string& text) override;
    void writeInteger(int64_t value) override;
    void writeDouble(double value) override;
    void writeFormula(const std::string& text) override;
    void setBorders(const std::string& from, const std::string& to, int lineStyle) override;
    void show() override;
    void disconnect() override;

    /** The file show() wrote (empty before). */
    const std::filesystem::path& savedPath() const { return saved_; }
    /** The workbook being filled (after addWorkbook). */
    XlsWorkbook& workbook();

private:
    CellRef at(const std::string& ref) const;

    std::filesystem::path out_;
    char sep_;
    bool keepExisting_;
    WorkbookOpener open_;
    std::optional<XlsWorkbook> wb_;
    std::optional<CellRef> cur_;
    std::filesystem::path saved_;
};

/** Writes `bytes` under a temporary name in the target's folder, then gives it the target's
 *  name; with `keepExisting` an existing file stays and "name (2).ext", "(3)", ... is taken.
 *  Returns the final path; on failure nothing is left behind. */
std::filesystem::path writeFileAtomically(const std::filesystem::path& target,
                                          const std::vector<uint8_t>& bytes, bool keepExisting);

/** The same with the content written by `write` into the temporary file it is given. */
std::filesystem::path writeFileAtomically(const std::filesystem::path& target,
                                          const std::function<void(const std::filesystem::path&)>& write,
                                          bool keepExisting);

}  // namespace talvira::xls
