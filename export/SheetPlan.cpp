#include "export/SheetPlan.h"

#include "common/Error.h"
#include "common/Utf8.h"
#include "export/CellAddress.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string_view>

namespace talvira::sheet {

namespace {

[[noreturn]] void planError(const std::string& what) {
    throw Error("Не удалось составить лист: " + what + " (внутренняя ошибка программы)");
}

constexpr double kCellPaddingPixels = 6;

// Advance widths of a Times-like serif (Times New Roman, and Liberation Serif, which matches it),
// thousandths of an em: А…Я, then а…я.
constexpr uint16_t kCyrillicUpper[32] = {722, 574, 667, 578, 682, 611, 896, 501, 722, 722, 668, 678, 889, 722, 722, 722,
                                         556, 667, 611, 634, 790, 722, 719, 694, 1029, 1029, 734, 897, 581, 667, 1018, 671};
constexpr uint16_t kCyrillicLower[32] = {444, 509, 472, 410, 509, 444, 691, 395, 535, 535, 486, 499, 633, 535, 500, 535,
                                         500, 444, 437, 500, 648, 500, 535, 503, 770, 770, 517, 672, 456, 429, 747, 484};

/** The width of a character in ems; a letter not listed is taken as wide as an «Н». */
double charWidth(char32_t c) {
    unsigned w = 722;
    if (c >= U'А' && c <= U'Я') w = kCyrillicUpper[c - U'А'];
    else if (c >= U'а' && c <= U'я') w = kCyrillicLower[c - U'а'];
    else if (c == U'Ё') w = 611;
    else if (c == U'ё') w = 444;
    else if (c >= U'0' && c <= U'9') w = 500;
    else if (c >= U'a' && c <= U'z') w = std::u32string_view(U"ijlt").find(c) != std::u32string_view::npos ? 278 : (c == U'm' || c == U'w') ? 778 : 500;
    else if (c >= U'A' && c <= U'Z') w = (c == U'M' || c == U'W') ? 944 : 722;
    else if (std::u32string_view(U" .,:;'!").find(c) != std::u32string_view::npos) w = 250;
    else if (std::u32string_view(U"-()[]/\"").find(c) != std::u32string_view::npos) w = 333;
    else if (c == U'«' || c == U'»' || c == U'*' || c == U'+' || c == U'=') w = 564;
    else if (c == U'%') w = 833;
    else if (c == U'№') w = 1000;
    return w / 1000.0;
}

// A text block: 1 MiB; textAt holds the block in its upper 12 bits and the offset in the lower
// 20. A text longer than a block has a block of its own.
constexpr unsigned kOffsetBits = 20;
constexpr size_t kBlock = size_t(1) << kOffsetBits;
constexpr size_t kMaxBlocks = size_t(1) << (32 - kOffsetBits);

}  // namespace

// ---------------------------------------------------------------------------------------------
// Making the plan
// ---------------------------------------------------------------------------------------------

StyleId SheetPlan::style(const Style& s) {
    const auto it = std::find(styles_.begin(), styles_.end(), s);
    if (it != styles_.end()) return static_cast<StyleId>(it - styles_.begin());
    if (styles_.size() > std::numeric_limits<StyleId>::max()) planError("слишком много видов ячеек");
    styles_.push_back(s);
    return static_cast<StyleId>(styles_.size() - 1);
}

void SheetPlan::reserve(size_t lines, size_t cells) {
    lines_.reserve(lines);
    cells_.reserve(cells);
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
    const size_t need = t.size() + 1;  // a writer may hand the text on as it is stored, NUL and all
    if (t.size() > UINT32_MAX) planError("текст ячейки слишком длинный");
    if (blocks_.empty() || blockUsed_ + need > kBlock) {
        if (blocks_.size() >= kMaxBlocks) planError("текстов больше, чем лист вмещает");
        blocks_.push_back(std::make_unique<char[]>(std::max(need, kBlock)));
        blockUsed_ = 0;
    }
    char* at = blocks_.back().get() + blockUsed_;
    std::copy(t.begin(), t.end(), at);
    at[t.size()] = '\0';
    c.textAt = static_cast<uint32_t>((blocks_.size() - 1) << kOffsetBits | blockUsed_);
    c.textSize = static_cast<uint32_t>(t.size());
    // a block holding a text longer than itself is full
    blockUsed_ = need > kBlock ? kBlock : blockUsed_ + need;
}

const char* SheetPlan::cText(const Cell& c) const {
    return c.textSize == 0 ? "" : blocks_[c.textAt >> kOffsetBits].get() + (c.textAt & (kBlock - 1));
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
    // Counted into their rows and moved there in place (a sort would compare a million cells
    // twenty times over, a stable one would want as much memory again), then each row's few
    // cells put in column order.
    std::vector<uint32_t> next(lines_.size() + 1, 0);
    for (const Cell& c : cells_) ++next[c.row + 1];
    for (size_t r = 1; r < next.size(); ++r) next[r] += next[r - 1];
    for (size_t r = 0; r < lines_.size(); ++r) {
        lines_[r].firstCell = next[r];
        lines_[r].cellCount = next[r + 1] - next[r];
    }
    std::vector<uint32_t> place(cells_.size());
    for (size_t i = 0; i < cells_.size(); ++i) place[i] = next[cells_[i].row]++;
    for (uint32_t i = 0; i < place.size(); ++i)
        while (place[i] != i) {
            const uint32_t j = place[i];
            std::swap(cells_[i], cells_[j]);
            std::swap(place[i], place[j]);
        }
    for (const Line& l : lines_) {
        const auto first = cells_.begin() + l.firstCell, last = first + l.cellCount;
        std::sort(first, last, [](const Cell& a, const Cell& b) { return a.col < b.col; });
        for (auto c = first; c != last && c + 1 != last; ++c)
            if (c->col == (c + 1)->col) planError("ячейка " + a1(int(c->row), c->col) + " задана дважды");
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
    const double em = points * 96 / 72;  // pixels at 96 dpi
    const double width = std::max(em, pixels - kCellPaddingPixels);
    const double space = charWidth(U' ') * em;
    int lines = 1;
    double used = 0;  // pixels taken on the current line
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] == '\n') {
            ++lines, used = 0, ++i;
            continue;
        }
        const size_t start = i;
        double word = 0;
        for (; i < text.size() && text[i] != ' ' && text[i] != '\n';) {
            const utf8::Char c = utf8::next(text, i);
            word += charWidth(c.code) * em;
            i += c.size;
        }
        const double gap = used > 0 ? space : 0;
        if (used + gap + word <= width) {
            used += gap + word;
        } else {
            if (used > 0) ++lines;
            used = 0;
            if (word <= width) {
                used = word;
            } else {
                // a word longer than a line is broken where the line ends
                for (size_t k = start; k < i;) {
                    const utf8::Char c = utf8::next(text, k);
                    const double w = charWidth(c.code) * em;
                    if (used > 0 && used + w > width) ++lines, used = 0;
                    used += w;
                    k += c.size;
                }
            }
        }
        while (i < text.size() && text[i] == ' ') ++i;
    }
    return lines;
}

}  // namespace talvira::sheet
