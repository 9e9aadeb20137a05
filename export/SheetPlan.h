#pragma once
/**
 * A sheet planned before it is written: every line (one sheet row) with what it is, its cells
 * (a text, a number, a formula with the value the program computed for it, or a blank), each
 * with the look it takes, the merged ranges, the named lines other lines refer to, the columns
 * and the page. A printed form is made into a plan from what was computed, and a renderer
 * (XlsxRenderer) writes any plan into a file: the plan holds no estimate rule the renderer must
 * know, the form's planner knows no library.
 *
 *   sheet::SheetPlan plan;
 *   const sheet::StyleId money = plan.style({.numFormat = "#,##0.00"});
 *   const int r = plan.addLine(kTotalLine);
 *   plan.formula(r, 9, "ROUND(J5+J6,2)", total, money);   // total: the exact amount computed
 *   plan.name("итог", r);
 *   plan.finish();                                         // cells in sheet order, checked
 *
 * Caveats: rows and columns count from 0; formulas are A1 text without the leading '=' (the
 * renderer adds it). Cells may be added to any line already laid, in any order, so that a line
 * can refer to one laid after it (the header to the totals) without its row being counted in
 * advance; finish() puts them in sheet order and refuses a cell set twice or one hidden under a
 * merged range. Numbers are exact (seven decimals at most) and become binary only when written.
 */
#include "common/Decimal.h"

#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace talvira::sheet {

/** How a cell looks; one workbook format is made for each distinct style of a plan. */
struct Style {
    enum class Align : uint8_t { General, Left, Center, Right };
    enum class VAlign : uint8_t { Top, Center };
    bool bold = false, italic = false;
    bool wrap = false;                  // the text wraps within the cell (the row grows to fit it)
    bool top = false, bottom = false;   // thin borders above and below
    bool boxed = false;                 // thin borders all round
    std::string numFormat;              // empty: General
    Align align = Align::General;
    VAlign valign = VAlign::Top;
    double size = 10;                   // points
    bool operator==(const Style&) const = default;
};
using StyleId = uint8_t;

enum class CellKind : uint8_t { Text, Number, Formula, Blank };

/** A cell (24 bytes: a form of 10 000 positions plans about a million of them). */
struct Cell {
    Dec7 value;                         // the number, or the formula's result as computed
    uint32_t row = 0;
    uint32_t textAt = 0, textSize = 0;  // the text or the formula, in the plan's text store
    uint16_t col = 0;
    StyleId style = 0;
    CellKind kind = CellKind::Blank;
};

/** Cells from (row, col) to (lastRow, lastCol) shown as one; its text is the cell at the top left. */
struct Merge {
    uint32_t row = 0, lastRow = 0;
    uint16_t col = 0, lastCol = 0;
};

/** One sheet row. */
struct Line {
    uint16_t kind = 0;             // what the line is, in the terms of the plan's maker
    double height = 0;             // points; 0: as its wrapped texts need (one line at least)
    /** The empty cells of columns fillFrom…fillTo take `fill` (a border across the line). */
    bool filled = false;
    uint16_t fillFrom = 0, fillTo = 0;
    StyleId fill = 0;
    uint32_t firstCell = 0, cellCount = 0;  // set by finish()
};

struct Column {
    double pixels = 64;
    bool hidden = false;
};

struct Page {
    bool landscape = false;
    uint8_t paper = 0;                  // 9: A4
    uint16_t fitWide = 0, fitTall = 0;  // pages; 0 and 0: no fitting
    double marginLeft = 0.7, marginRight = 0.7, marginTop = 0.75, marginBottom = 0.75;  // inches
    bool gridlines = true;
    int repeatFrom = -1, repeatTo = -1;  // rows repeated at the top of every printed page
    int printColumns = 0;                // the print area's columns from A (0: no print area)

    /** The official forms' page: A4 landscape, one page wide and as tall as it takes, narrow
     *  margins, no grid; `columns` printed from A. */
    static Page formLandscape(int columns) {
        Page p;
        p.landscape = true;
        p.paper = 9;
        p.fitWide = 1;
        p.fitTall = 0;
        p.marginLeft = p.marginRight = 0.4;
        p.marginTop = p.marginBottom = 0.6;
        p.gridlines = false;
        p.printColumns = columns;
        return p;
    }
};

class SheetPlan {
public:
    // ---- made by a form's planner ---------------------------------------------------------
    std::string title;       // the workbook's title
    std::string sheetName;
    std::string fontName = "Calibri";
    Page page;
    std::vector<Column> columns;

    /** The id of `s`, the same for equal styles (at most 256 in a plan). */
    StyleId style(const Style& s);
    /** Room for about `lines` lines and `cells` cells (a hint: more may be added). */
    void reserve(size_t lines, size_t cells);
    /** A new line below the last; returns its row. */
    int addLine(uint16_t kind, double height = 0);
    /** Gives `row` the name `name`; the names are what other lines and tests refer to. */
    void name(const std::string& name, int row);
    /** The empty cells of `from`…`to` on `row` take `style`. */
    void fill(int row, int from, int to, StyleId style);

    void text(int row, int col, std::string_view text, StyleId style);
    void number(int row, int col, Dec7 value, StyleId style);
    void number(int row, int col, Money value, StyleId style) { number(row, col, value.toDec7(), style); }
    /** `expr` in A1 form, without '='; `value` what the program computed for it. */
    void formula(int row, int col, std::string_view expr, Dec7 value, StyleId style);
    void formula(int row, int col, std::string_view expr, Money value, StyleId style) {
        formula(row, col, expr, value.toDec7(), style);
    }
    void blank(int row, int col, StyleId style);
    /** A merged range with its text. */
    void merge(int row, int col, int lastRow, int lastCol, std::string_view text, StyleId style);

    /** Puts the cells in sheet order. talvira::Error when a cell is set twice or lies under a
     *  merged range (a planner's mistake, never the user's). */
    void finish();

    // ---- read by renderers and tests (after finish) ---------------------------------------
    const std::vector<Style>& styles() const { return styles_; }
    const std::vector<Line>& lines() const { return lines_; }
    const std::vector<Merge>& merges() const { return merges_; }
    std::span<const Cell> cells(int row) const;
    /** The cell at (row, col); nullptr when none. */
    const Cell* at(int row, int col) const;
    std::string_view textOf(const Cell& c) const { return {cText(c), c.textSize}; }
    /** The same text ended by a NUL, for a C library. */
    const char* cText(const Cell& c) const;
    /** The text at (row, col), empty when none. */
    std::string_view textAt(int row, int col) const;
    /** The row named `name`; -1 when none has that name. */
    int row(const std::string& name) const;
    const std::map<std::string, int>& names() const { return names_; }
    /** The row's height in points: as planned, else as its wrapped texts need. */
    double heightOf(int row) const;
    /** The width in pixels of columns `from`…`to`. */
    double pixels(int from, int to) const;

private:
    Cell& add(int row, int col, CellKind kind, StyleId style);
    void store(Cell& c, std::string_view text);

    std::vector<Style> styles_;
    std::vector<Line> lines_;
    std::vector<Cell> cells_;
    std::vector<Merge> merges_;
    std::map<std::string, int> names_;
    // Texts in blocks that never move (a growing string would copy them all, twice the memory
    // for a moment); a cell's textAt is its block and its offset in it.
    std::vector<std::unique_ptr<char[]>> blocks_;
    size_t blockUsed_ = 0;
    bool finished_ = false;
};

/** The lines `text` takes in a cell `pixels` wide at `points` (words wrapped as a spreadsheet
 *  wraps them, a word longer than the cell broken; an estimate on the safe side: a row made as
 *  tall as this never cuts its text). At least 1. */
int wrappedLines(std::string_view text, double pixels, double points);
/** The height in points of one line of text at `points`. */
double lineHeight(double points);

}  // namespace talvira::sheet
