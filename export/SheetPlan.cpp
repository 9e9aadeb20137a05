#include "export/SheetPlan.h"

#include "common/Error.h"
#include "common/Utf8.h"
#include "export/CellAddress.h"

#include <algorithm>
#include <cmath>

namespace talvira::sheet {

namespace {

[[noreturn]] void planError(const std::string& what) {
    throw Error("Не удалось составить лист: " + what + " (внутренняя ошибка программы)");
}

// A serif font's letters average about two thirds of its size in pixels at 96 dpi; the wider
// estimate leaves a row a little tall rather than a text cut.
constexpr double kCharPixelsPerPoint = 0.72;
constexpr double kCellPaddingPixels = 6;

}  // namespace

// ---------------------------------------------------------------------------------------------
// Making the plan
// ---------------------------------------------------------------------------------------------

StyleId SheetPlan::style(const Style& s) {
    const auto it = std::find(styles_.begin(), styles_.end(), s);
    if (it != styles_.end()) return static_cast<StyleId>(it - styles_.begin());
    styles_.push_back(s);
    return static_cast<StyleId>(styles_.size() - 1);
}

int SheetPlan::addLine(uint16_t kind, double height) {
    Line l;
    l.kind = kind;
    l.height = height;
    lines_.push_back(l);
    return static_cast<int>(lines_.size() - 1);
}

void SheetPlan::name(const std::string& n, int r) {
    if (r < 0 || size_t(r) >= lines_.size()) planError("имя «" + n + "» дано строке, которой нет");
    if (!names_.emplace(n, r).second) planError("имя «" + n + "» дано двум строкам");
}

void SheetPlan::fill(int r, int from, int to, StyleId s) {
    Line& l = lines_.at(size_t(r));
    l.filled = true;
    l.fillFrom = static_cast<uint16_t>(from);
    l.fillTo = static_cast<uint16_t>(to);
    l.fill = s;
}

Cell& SheetPlan::add(int r, int col, CellKind kind, StyleId s) {
    if (finished_ || r < 0 || size_t(r) >= lines_.size() || col < 0 || col > UINT16_MAX)
        planError("ячейка " + a1(std::max(r, 0), std::max(col, 0)) + " вне строк листа");
    Cell& c = cells_.emplace_back();
    c.row = static_cast<uint32_t>(r);
    c.col = static_cast<uint16_t>(col);
    c.style = s;
    c.kind = kind;
    return c;
}

void SheetPlan::store(Cell& c, std::string_view t) {
    c.textAt = static_cast<uint32_t>(texts_.size());
    c.textSize = static_cast<uint32_t>(t.size());
    texts_.append(t);
    texts_.push_back('\0');  // a writer may hand the text on as it is stored
}

void SheetPlan::text(int r, int col, std::string_view t, StyleId s) {
    if (t.empty()) return;
    store(add(r, col, CellKind::Text, s), t);
}

void SheetPlan::number(int r, int col, Dec7 v, StyleId s) { add(r, col, CellKind::Number, s).value = v; }

void SheetPlan::formula(int r, int col, std::string_view expr, Dec7 v, StyleId s) {
    Cell& c = add(r, col, CellKind::Formula, s);
    c.value = v;
    store(c, expr);
}

void SheetPlan::blank(int r, int col, StyleId s) { add(r, col, CellKind::Blank, s); }

void SheetPlan::merge(int r, int col, int lastRow, int lastCol, std::string_view t, StyleId s) {
    if (lastRow < r || lastCol < col || (lastRow == r && lastCol == col) || size_t(lastRow) >= lines_.size())
        planError("объединение " + a1(r, col) + ":" + a1(std::max(lastRow, 0), std::max(lastCol, 0)) + " неверно");
    Cell& c = add(r, col, t.empty() ? CellKind::Blank : CellKind::Text, s);
    store(c, t);
    merges_.push_back({static_cast<uint32_t>(r), static_cast<uint32_t>(lastRow), static_cast<uint16_t>(col),
                       static_cast<uint16_t>(lastCol)});
}

void SheetPlan::finish() {
    if (finished_) return;
    // Cells were added in the order the planner made them; the sheet needs them row by row.
    // Most are already in order: a stable sort by (row, col) is close to one pass.
    std::stable_sort(cells_.begin(), cells_.end(),
                     [](const Cell& a, const Cell& b) { return a.row != b.row ? a.row < b.row : a.col < b.col; });
    for (size_t i = 1; i < cells_.size(); ++i)
        if (cells_[i].row == cells_[i - 1].row && cells_[i].col == cells_[i - 1].col)
            planError("ячейка " + a1(int(cells_[i].row), cells_[i].col) + " задана дважды");
    for (Line& l : lines_) l.cellCount = 0;
    for (size_t i = cells_.size(); i-- > 0;) {
        Line& l = lines_[cells_[i].row];
        l.firstCell = static_cast<uint32_t>(i);
        ++l.cellCount;
    }
    std::sort(merges_.begin(), merges_.end(),
              [](const Merge& a, const Merge& b) { return a.row != b.row ? a.row < b.row : a.col < b.col; });
    finished_ = true;
    for (const Merge& m : merges_)
        for (uint32_t r = m.row; r <= m.lastRow; ++r)
            for (const Cell& c : cells(int(r)))
                if (c.col >= m.col && c.col <= m.lastCol && !(r == m.row && c.col == m.col))
                    planError("ячейка " + a1(int(r), c.col) + " лежит под объединением");
}

// ---------------------------------------------------------------------------------------------
// Reading the plan
// ---------------------------------------------------------------------------------------------

std::span<const Cell> SheetPlan::cells(int r) const {
    if (!finished_ || r < 0 || size_t(r) >= lines_.size()) return {};
    const Line& l = lines_[size_t(r)];
    return {cells_.data() + l.firstCell, l.cellCount};
}

const Cell* SheetPlan::at(int r, int col) const {
    for (const Cell& c : cells(r))
        if (c.col == col) return &c;
    return nullptr;
}

std::string_view SheetPlan::textAt(int r, int col) const {
    const Cell* c = at(r, col);
    return c ? textOf(*c) : std::string_view();
}

int SheetPlan::row(const std::string& n) const {
    const auto it = names_.find(n);
    return it == names_.end() ? -1 : it->second;
}

double SheetPlan::pixels(int from, int to) const {
    double w = 0;
    for (int c = from; c <= to; ++c) w += size_t(c) < columns.size() ? columns[size_t(c)].pixels : Column{}.pixels;
    return w;
}

double SheetPlan::heightOf(int r) const {
    const Line& l = lines_.at(size_t(r));
    if (l.height > 0) return l.height;
    double h = lineHeight(Style{}.size);
    for (const Cell& c : cells(r)) {
        if (c.kind != CellKind::Text) continue;
        const Style& s = styles_.at(c.style);
        if (!s.wrap) {
            h = std::max(h, lineHeight(s.size));
            continue;
        }
        // a merged range is as wide as its columns; one over several rows shares their height
        int last = c.col;
        const auto m = std::lower_bound(merges_.begin(), merges_.end(), c, [](const Merge& x, const Cell& y) {
            return x.row != y.row ? x.row < y.row : x.col < y.col;
        });
        if (m != merges_.end() && m->row == c.row && m->col == c.col) {
            if (m->lastRow > m->row) continue;
            last = m->lastCol;
        }
        h = std::max(h, wrappedLines(textOf(c), pixels(c.col, last), s.size) * lineHeight(s.size));
    }
    return h;
}

// ---------------------------------------------------------------------------------------------
// Text in a cell
// ---------------------------------------------------------------------------------------------

double lineHeight(double points) { return std::ceil(points * 1.3 * 4) / 4; }

int wrappedLines(std::string_view text, double pixels, double points) {
    const double perChar = points * kCharPixelsPerPoint;
    const size_t width = static_cast<size_t>(std::max(1.0, std::floor((pixels - kCellPaddingPixels) / perChar)));
    int lines = 1;
    size_t used = 0;  // characters on the current line
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] == '\n') {
            ++lines, used = 0, ++i;
            continue;
        }
        // the next word and the blank that ends it
        size_t end = i;
        size_t chars = 0;
        while (end < text.size() && text[end] != ' ' && text[end] != '\n') {
            end += utf8::next(text, end).size;
            ++chars;
        }
        if (used > 0 && used + 1 + chars > width) ++lines, used = 0;
        if (used > 0) ++used;  // the blank before the word
        while (chars > width - used) {  // a word longer than the line is broken
            chars -= width - used;
            ++lines, used = 0;
        }
        used += chars;
        i = end;
        while (i < text.size() && text[i] == ' ') ++i;
    }
    return lines;
}

}  // namespace talvira::sheet
