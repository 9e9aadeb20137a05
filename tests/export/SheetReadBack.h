#pragma once
/**
 * A small BIFF8 reader of its own for the export's tests: the records of a workbook stream,
 * the shared strings, the cell formats and the cells of the active sheet as the file holds
 * them, so that tests check what a reader would see rather than what the writer meant.
 *
 *   test::SheetReadBack s = test::readBack(wb.workbookStream());
 *   EXPECT_EQ(s.content("K12"), test::formulaOf("=E12*F12"));   EXPECT_TRUE(s.framed("A10"));
 */
#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace talvira::test {

using Bytes = std::vector<uint8_t>;

struct BiffRecord {
    uint16_t id = 0;
    Bytes data;
    size_t offset = 0;  // of the record header in the stream
};

/** Every record of the stream in order (CONTINUE records as they stand). */
std::vector<BiffRecord> biffRecords(const Bytes& stream);

struct SheetCell {
    /** "text <utf-8>", "number <%.15g>", "formula <tokens in hex>", "blank", "bool <0|1>",
     *  "error <code>". */
    std::string content;
    uint16_t xf = 0;
    double cached = 0;  // a formula's stored result
};

struct SheetReadBack {
    std::map<std::string, SheetCell> cells;  // by A1 name
    std::vector<std::array<uint8_t, 20>> xfs;
    std::vector<std::string> strings;        // the shared string table, UTF-8
    std::string activeSheet;
    /** The cell's content, "" when the sheet has no record for it. */
    std::string content(const std::string& ref) const;
    /** A thin line on all four edges of the cell's format. */
    bool framed(const std::string& ref) const;
};

/** Reads a workbook stream; a fault in it is a test failure (reported through gtest). */
SheetReadBack readBack(const Bytes& stream);

/** The content a formula cell holds when `text` was written into it. */
std::string formulaOf(const std::string& text, char decimalSep = ',');

/** A workbook stream with one empty worksheet and the 16 built-in cell formats: a template
 *  where every cell record comes from the export. `extraGlobals` (whole records, headers
 *  included) go after the formats. */
Bytes emptyWorkbookStream(const Bytes& extraGlobals = {});

/** The checksum XFCRC must carry over the data of `xfs`, computed here on its own. */
uint32_t xfCrcOf(const std::vector<std::array<uint8_t, 20>>& xfs);

/** Where the shared string table of `recs` (SST and its CONTINUE records) breaks the format's
 *  framing rules: a string header or its first character apart, a formatting run or the
 *  phonetic block cut by a record boundary, a continued character array without its flags
 *  byte. Empty when it holds. */
std::vector<std::string> sstFramingFaults(const std::vector<BiffRecord>& recs);

}  // namespace talvira::test
