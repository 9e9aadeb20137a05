#pragma once
/**
 * The workbook being filled, as the template reader leaves it and the sheet writer takes it:
 * the template's workbook stream with its records located (globals and sheet substreams), the
 * active sheet's cell table as rows of cells, the cell formats and the shared strings, and
 * the formulas written into cells. Private to export/; XlsWorkbook is its public face.
 *
 *   WorkbookData w;  w.name = "1.xls";  readTemplateFile(w, bytes);      // XlsTemplateReader
 *   w.cellFor(11, 4) ...;  w.evaluateAll();  writeWorkbookStream(w);      // XlsSheetWriter
 *
 * Caveats: a cell of the template keeps its record bytes (Raw) until it is given a new value;
 * records that travel with a cell (STRING, SHRFMLA, ARRAY, TABLE) stay behind it. XF indexes
 * of the template never change: new formats are appended.
 */
#include "common/Error.h"
#include "export/XlsContainer.h"
#include "export/XlsFormula.h"
#include "export/XlsRecordStream.h"

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

namespace talvira::xls {

constexpr uint16_t kDefaultXf = 15;
constexpr uint8_t ptgExp = 0x01, ptgTbl = 0x02;

enum class CellKind : uint8_t { Raw, Blank, Number, Sst, Formula };

struct Cell {
    uint16_t col = 0;
    uint16_t colLast = 0;  // beyond col only for the template's MULBLANK / MULRK records
    CellKind kind = CellKind::Blank;
    uint16_t xf = kDefaultXf;
    uint32_t ref = 0;  // Raw: record bytes; Sst: string; Formula: formula
    double num = 0;
};

struct Formula {
    uint32_t tokOff = 0, tokLen = 0;
    uint8_t state = 0;  // 0 not evaluated, 1 being evaluated, 2 done
    FormulaValue value;
};

struct Row {
    bool hasRec = false;
    std::array<uint8_t, 16> rec{};
    std::vector<Cell> cells;  // sorted by column
};

struct ColInfo {
    uint16_t first, last, xf;
};

struct WorkbookData {
    std::string name;
    char sep = ',';
    CompoundFile file;
    std::string streamName;
    std::vector<uint8_t> s;  // the template's workbook stream

    std::vector<Rec> globals;
    struct Sub { uint32_t begin, end; };
    std::vector<Sub> subs;  // sheet substreams, BOF header to end of EOF
    uint32_t trailing = 0;  // bytes after the last substream, carried over as they are
    std::vector<size_t> boundRecs;    // indexes into globals
    std::vector<int> subOfBound;      // substream of each BOUNDSHEET, -1 when none
    std::vector<std::string> sheetNames;
    int active = 0;
    size_t activeSub = 0;

    // active sheet
    std::vector<Rec> sheet;
    size_t cellBegin = 0, cellEnd = 0;  // the cell table within `sheet`
    std::vector<Row> rows;
    std::vector<std::vector<uint8_t>> raws;
    std::vector<uint8_t> orphans;  // records in the cell table that belong to no cell
    std::vector<ColInfo> colInfos;
    uint16_t defaultRowHeight = 0x00FF;

    // globals
    std::vector<std::array<uint8_t, 20>> xfs;
    size_t templateXfs = 0;
    size_t lastXfRec = SIZE_MAX;
    std::map<uint16_t, uint16_t> borderXf;
    std::vector<SstString> sst;
    int64_t sstTotal = 0;
    bool sstIndexed = false;
    std::unordered_map<std::string, uint32_t> sstIndex;

    std::vector<uint8_t> tokens;
    std::vector<Formula> formulas;

    [[noreturn]] void damaged(const std::string& what) const {
        throw Error("Книга «" + name + "» повреждена: " + what);
    }

    // ---- cells (XlsWorkbook.cpp) -------------------------------------------------------------------------
    Row& rowAt(int r) {
        if (static_cast<size_t>(r) >= rows.size()) rows.resize(static_cast<size_t>(r) + 1);
        return rows[static_cast<size_t>(r)];
    }
    Cell* find(int r, int c);
    Cell& cellFor(int r, int c);
    void explode(Row& row, size_t i, int r);
    uint16_t defaultXf(int r, int c) const;
    uint16_t xfOf(const Cell& c) const;
    void setXf(Cell& c, uint16_t xf);
    void release(Cell& c, int r);
    bool unshareFrom(int r, int c, const std::vector<uint8_t>& host, size_t at);
    uint32_t stringIndex(const std::string& utf8, CellRef at);
    uint16_t borderedXf(uint16_t xf);
    CellValue valueOf(int r, int c);
    FormulaValue evaluate(uint32_t f);

    /** Formulas are evaluated (once each) before the stream is written. */
    void evaluateAll() {
        for (uint32_t f = 0; f < formulas.size(); ++f) evaluate(f);
    }
    /** Copies the template's record `r`, header included. */
    void raw(std::vector<uint8_t>& out, const Rec& r) const {
        out.insert(out.end(), s.begin() + r.pos - 4, s.begin() + r.pos + r.len);
    }
};


}  // namespace talvira::xls
