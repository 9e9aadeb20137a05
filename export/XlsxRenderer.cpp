#include "export/XlsxRenderer.h"

#include "common/AtomicFile.h"
#include "common/LazyLibrary.h"
#include "common/Utf8.h"

#include <xlsxwriter.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <locale.h>
#include <string>
#include <vector>

namespace talvira::sheet {

namespace {

/** libxlsxwriter (and the crypto library it brings), loaded when the first workbook is
 *  written rather than when the program starts. */
const LazyLibrary& xlsxLibrary() {
    static const LazyLibrary lib({"libxlsxwriter.so.4", "libxlsxwriter.so"}, "записи книг .xlsx", "libxlsxwriter4");
    return lib;
}

/** The functions of libxlsxwriter used here. */
struct XlsxFunctions {
#define TALVIRA_XLSX(name) decltype(&::name) name = xlsxLibrary().function<decltype(&::name)>(#name);
    TALVIRA_XLSX(format_set_align)
    TALVIRA_XLSX(format_set_bold)
    TALVIRA_XLSX(format_set_border)
    TALVIRA_XLSX(format_set_bottom)
    TALVIRA_XLSX(format_set_font_name)
    TALVIRA_XLSX(format_set_font_size)
    TALVIRA_XLSX(format_set_italic)
    TALVIRA_XLSX(format_set_num_format)
    TALVIRA_XLSX(format_set_text_wrap)
    TALVIRA_XLSX(format_set_top)
    TALVIRA_XLSX(lxw_strerror)
    TALVIRA_XLSX(workbook_add_format)
    TALVIRA_XLSX(workbook_add_worksheet)
    TALVIRA_XLSX(workbook_close)
    TALVIRA_XLSX(workbook_new_opt)
    TALVIRA_XLSX(workbook_set_properties)
    TALVIRA_XLSX(worksheet_fit_to_pages)
    TALVIRA_XLSX(worksheet_gridlines)
    TALVIRA_XLSX(worksheet_merge_range)
    TALVIRA_XLSX(worksheet_print_area)
    TALVIRA_XLSX(worksheet_repeat_rows)
    TALVIRA_XLSX(worksheet_set_column_pixels_opt)
    TALVIRA_XLSX(worksheet_set_landscape)
    TALVIRA_XLSX(worksheet_set_margins)
    TALVIRA_XLSX(worksheet_set_paper)
    TALVIRA_XLSX(worksheet_set_row)
    TALVIRA_XLSX(worksheet_write_blank)
    TALVIRA_XLSX(worksheet_write_formula_num)
    TALVIRA_XLSX(worksheet_write_number)
    TALVIRA_XLSX(worksheet_write_string)
#undef TALVIRA_XLSX
};

const XlsxFunctions& xlsx() {
    static const XlsxFunctions functions;  // a failure to load is thrown again at the next call
    return functions;
}


constexpr size_t kSheetRows = 1'048'576;
constexpr size_t kMaxText = 32'767;       // characters in one cell
constexpr size_t kProgressEvery = 512;    // lines between two progress calls

/** libxlsxwriter prints its numbers (values, widths, heights, margins) with the C library's
 *  printf, which follows the locale: under a decimal comma the file would say "32,74", which
 *  no reader takes for a number. While this object lives, the calling thread alone formats
 *  numbers with a point; the program's other threads and its other categories keep theirs. */
class PointLocale {
public:
    PointLocale() {
        locale_t base = duplocale(uselocale(static_cast<locale_t>(nullptr)));
        if (base) point_ = newlocale(LC_NUMERIC_MASK, "C", base);
        if (!point_) {
            if (base) freelocale(base);
            throw Error("Не удалось составить книгу: не хватает памяти");
        }
        old_ = uselocale(point_);
    }
    ~PointLocale() {
        uselocale(old_);
        freelocale(point_);
    }
    PointLocale(const PointLocale&) = delete;
    PointLocale& operator=(const PointLocale&) = delete;

private:
    locale_t point_ = static_cast<locale_t>(nullptr);
    locale_t old_ = static_cast<locale_t>(nullptr);
};

/** The workbook closed on every way out: a failed write still frees it. */
struct WorkbookGuard {
    lxw_workbook* wb;
    ~WorkbookGuard() {
        if (wb) xlsx().workbook_close(wb);
    }
};

void check(lxw_error e) {
    if (e != LXW_NO_ERROR) throw Error(std::string("Не удалось составить книгу: ") + xlsx().lxw_strerror(e));
}

lxw_format* makeFormat(lxw_workbook* wb, const Style& s, const std::string& font) {
    lxw_format* f = xlsx().workbook_add_format(wb);
    if (!f) throw Error("Не удалось составить книгу: не хватает памяти");
    xlsx().format_set_font_name(f, font.c_str());
    xlsx().format_set_font_size(f, s.size);
    if (s.bold) xlsx().format_set_bold(f);
    if (s.italic) xlsx().format_set_italic(f);
    if (s.wrap) xlsx().format_set_text_wrap(f);
    if (s.boxed) xlsx().format_set_border(f, LXW_BORDER_THIN);
    if (s.top) xlsx().format_set_top(f, LXW_BORDER_THIN);
    if (s.bottom) xlsx().format_set_bottom(f, LXW_BORDER_THIN);
    if (!s.numFormat.empty()) xlsx().format_set_num_format(f, s.numFormat.c_str());
    switch (s.align) {
    case Style::Align::Left: xlsx().format_set_align(f, LXW_ALIGN_LEFT); break;
    case Style::Align::Center: xlsx().format_set_align(f, LXW_ALIGN_CENTER); break;
    case Style::Align::Right: xlsx().format_set_align(f, LXW_ALIGN_RIGHT); break;
    case Style::Align::General: break;
    }
    xlsx().format_set_align(f, s.valign == Style::VAlign::Center ? LXW_ALIGN_VERTICAL_CENTER : LXW_ALIGN_VERTICAL_TOP);
    return f;
}

void setUpSheet(lxw_worksheet* ws, const SheetPlan& plan) {
    for (size_t c = 0; c < plan.columns.size(); ++c) {
        lxw_row_col_options hidden{};
        hidden.hidden = LXW_TRUE;
        const auto col = static_cast<lxw_col_t>(c);
        check(xlsx().worksheet_set_column_pixels_opt(ws, col, col, static_cast<uint32_t>(plan.columns[c].pixels), nullptr,
                                              plan.columns[c].hidden ? &hidden : nullptr));
    }
    const Page& p = plan.page;
    if (p.landscape) xlsx().worksheet_set_landscape(ws);
    if (p.paper) xlsx().worksheet_set_paper(ws, p.paper);
    if (p.fitWide || p.fitTall) xlsx().worksheet_fit_to_pages(ws, p.fitWide, p.fitTall);
    xlsx().worksheet_set_margins(ws, p.marginLeft, p.marginRight, p.marginTop, p.marginBottom);
    if (!p.gridlines) xlsx().worksheet_gridlines(ws, LXW_HIDE_ALL_GRIDLINES);
    if (p.repeatFrom >= 0)
        check(xlsx().worksheet_repeat_rows(ws, static_cast<lxw_row_t>(p.repeatFrom), static_cast<lxw_row_t>(p.repeatTo)));
    if (p.printColumns > 0 && !plan.lines().empty())
        check(xlsx().worksheet_print_area(ws, 0, 0, static_cast<lxw_row_t>(plan.lines().size() - 1),
                                   static_cast<lxw_col_t>(p.printColumns - 1)));
}

/** Writes the sheet row by row: with one row in memory, nothing may go back to a row left. */
class RowWriter {
public:
    RowWriter(lxw_worksheet* ws, const SheetPlan& plan, const std::vector<lxw_format*>& formats)
        : ws_(ws), plan_(plan), formats_(formats) {}

    void write(int r) {
        const Line& line = plan_.lines()[size_t(r)];
        const double h = plan_.heightOf(r);
        if (line.height > 0 || h > LXW_DEF_ROW_HEIGHT) check(xlsx().worksheet_set_row(ws_, row(r), h, nullptr));
        while (nextMerge_ < plan_.merges().size() && plan_.merges()[nextMerge_].row == uint32_t(r))
            open_.push_back(plan_.merges()[nextMerge_++]);
        std::erase_if(open_, [&](const Merge& m) { return m.lastRow < uint32_t(r); });
        for (const Cell& c : plan_.cells(r)) cell(c);
        if (line.filled)
            for (int c = line.fillFrom; c <= line.fillTo; ++c)
                if (!plan_.at(r, c) && !merged(r, c)) check(xlsx().worksheet_write_blank(ws_, row(r), col(c), formats_[line.fill]));
        mergesFrom(r);
    }

private:
    static lxw_row_t row(int r) { return static_cast<lxw_row_t>(r); }
    static lxw_col_t col(int c) { return static_cast<lxw_col_t>(c); }
    lxw_format* format(const Cell& c) const { return formats_[c.style]; }

    void cell(const Cell& c) {
        switch (c.kind) {
        case CellKind::Text: check(xlsx().worksheet_write_string(ws_, c.row, c.col, text(c), format(c))); break;
        case CellKind::Number: check(xlsx().worksheet_write_number(ws_, c.row, c.col, c.value.toDouble(), format(c))); break;
        case CellKind::Formula:
            check(xlsx().worksheet_write_formula_num(ws_, c.row, c.col, plan_.cText(c), format(c), c.value.toDouble()));
            break;
        case CellKind::Blank: check(xlsx().worksheet_write_blank(ws_, c.row, c.col, format(c))); break;
        }
    }
    /** The cell's text, cut to what a cell holds (never half a letter). */
    const char* text(const Cell& c) {
        if (c.textSize <= kMaxText) return plan_.cText(c);
        cut_ = std::string(utf8::cut(plan_.textOf(c), kMaxText));
        return cut_.c_str();
    }
    bool merged(int r, int c) const {
        return std::any_of(open_.begin(), open_.end(), [&](const Merge& m) {
            return m.row <= uint32_t(r) && uint32_t(r) <= m.lastRow && m.col <= c && c <= m.lastCol;
        });
    }
    /** The ranges that start on row `r`: their texts are already written as cells; the rest of
     *  this row of each range is padded before any range reaches the next row, which leaves
     *  this one behind for good. */
    void mergesFrom(int r) {
        std::vector<const Merge*> starting;
        for (const Merge& m : open_)
            if (m.row == uint32_t(r)) starting.push_back(&m);
        for (const Merge* m : starting) {
            lxw_format* f = formats_[plan_.at(r, m->col)->style];
            for (int c = m->col + 1; c <= m->lastCol; ++c) check(xlsx().worksheet_write_blank(ws_, row(r), col(c), f));
        }
        std::stable_sort(starting.begin(), starting.end(),
                         [](const Merge* a, const Merge* b) { return a->lastRow == a->row && b->lastRow != b->row; });
        for (const Merge* m : starting) {
            const Cell& c = *plan_.at(r, m->col);
            check(xlsx().worksheet_merge_range(ws_, m->row, m->col, m->lastRow, m->lastCol, text(c), format(c)));
        }
    }

    lxw_worksheet* ws_;
    const SheetPlan& plan_;
    const std::vector<lxw_format*>& formats_;
    size_t nextMerge_ = 0;
    std::vector<Merge> open_;  // the ranges over the current row
    std::string cut_;
};

}  // namespace

void renderXlsx(const SheetPlan& plan, const std::filesystem::path& file, const std::filesystem::path& shownAs,
                const Progress& progress) {
    const size_t lines = plan.lines().size();
    if (lines > kSheetRows)
        throw Error("«" + plan.title + "» не помещается на лист: в нём " + std::to_string(lines) +
                    " строк, а на листе их не больше " + std::to_string(kSheetRows));
    const size_t total = lines + lines / 4 + 1;
    auto step = [&](size_t done) {
        if (progress && !progress(done, total)) throw WriteStopped();
    };
    step(0);
    const PointLocale point;

    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    errno = 0;
    WorkbookGuard guard{xlsx().workbook_new_opt(file.c_str(), &options)};
    if (!guard.wb) writeFailed(shownAs, errno ? errno : ENOMEM, "книгу");
    lxw_doc_properties properties{};
    std::string title = plan.title;
    properties.title = title.data();
    check(xlsx().workbook_set_properties(guard.wb, &properties));
    lxw_worksheet* ws = xlsx().workbook_add_worksheet(guard.wb, plan.sheetName.empty() ? nullptr : plan.sheetName.c_str());
    if (!ws) throw Error("Не удалось составить книгу: лист не создан");
    std::vector<lxw_format*> formats;
    formats.reserve(plan.styles().size());
    for (const Style& s : plan.styles()) formats.push_back(makeFormat(guard.wb, s, plan.fontName));
    setUpSheet(ws, plan);

    RowWriter rows(ws, plan, formats);
    for (size_t r = 0; r < lines; ++r) {
        rows.write(static_cast<int>(r));
        if ((r + 1) % kProgressEvery == 0) step(r + 1);
    }
    step(lines);

    lxw_workbook* wb = guard.wb;
    guard.wb = nullptr;
    errno = 0;
    const lxw_error closed = xlsx().workbook_close(wb);
    if (closed != LXW_NO_ERROR) {
        const int err = errno;
        if (err != 0) writeFailed(shownAs, err, "книгу");
        throw Error("Не удалось записать книгу «" + shownAs.string() + "»: " + xlsx().lxw_strerror(closed));
    }
    step(total);
}

}  // namespace talvira::sheet
