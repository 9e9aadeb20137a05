#include "export/LsrForm.h"

#include "common/Error.h"
#include "common/Utf8.h"
#include "export/CellAddress.h"
#include "export/WorkbookFile.h"

#include <xlsxwriter.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <map>
#include <optional>

namespace talvira::lsr {

namespace {

using talvira::Dec7;
using talvira::Money;
using model::PositionResult;
using model::WorkType;
using model::WorkTypeTotals;
using sheet::a1;

/* ------------------------------------------------------------------------------------- */
/*  Columns, keys, numbers                                                               */
/* ------------------------------------------------------------------------------------- */

// The form's columns 1…12 are A…L; M and N hold the keys the totals sum by.
enum Col : int { C1, C2, C3, C4, C5, C6, C7, C8, C9, C10, C11, C12, KeyElement, KeyType };
constexpr int kSheetRows = 1'048'576;
constexpr int kMaxText = 32'767;  // characters in one cell
constexpr size_t kLabelLine = 95;  // characters of a header label on one line of columns 1…3

/** The exact decimal as the nearest double: one correctly rounded division, never a product. */
double num(Money m) { return static_cast<double>(m.kopecks()) / 100.0; }
double num(Dec7 d) { return static_cast<double>(d.units()) / static_cast<double>(Dec7::kScale); }
double thousands(Money m) { return static_cast<double>(m.kopecks()) / 100'000.0; }
constexpr Dec7 kOne = Dec7::fromInt(1);

/** The exact product p × q rounded half up (away from zero) to seven decimals. */
Dec7 product7(Dec7 p, Dec7 q) {
    const __int128 x = static_cast<__int128>(p.units()) * q.units();
    const __int128 s = Dec7::kScale;
    const __int128 r = x >= 0 ? (x + s / 2) / s : -((-x + s / 2) / s);
    return Dec7::fromUnits(static_cast<int64_t>(r));
}

// How the totals of a type of work are captioned; column N holds its number (1 строительные …
// 5 прочие, in WorkType's order).
constexpr std::array<const char*, model::kWorkTypes> kTypeTotal = {
    "ВСЕГО строительные работы", "ВСЕГО монтажные работы", "ВСЕГО пусконаладочные работы", "ВСЕГО оборудование",
    "ВСЕГО прочие затраты"};
int typeKey(WorkType t) { return static_cast<int>(t) + 1; }

/** A text cut to what one cell holds, never half a letter. */
std::string_view fitted(std::string_view s) { return utf8::cut(s, kMaxText); }

std::string round2(const std::string& e) { return "ROUND(" + e + ",2)"; }
std::string round7(const std::string& e) { return "ROUND(" + e + ",7)"; }

/** "A+B+C", or "0" for none. */
std::string joined(const std::vector<std::string>& terms) {
    if (terms.empty()) return "0";
    std::string s = terms.front();
    for (size_t i = 1; i < terms.size(); ++i) s += "+" + terms[i];
    return s;
}

/* ------------------------------------------------------------------------------------- */
/*  Formats, made once per workbook                                                      */
/* ------------------------------------------------------------------------------------- */

constexpr const char* kFont = "Times New Roman";
constexpr const char* kMoney = "#,##0.00";
constexpr const char* kQuantity = "#,##0.00#####";
constexpr const char* kCoefficient = "General";

/** [0] plain, [1] with the top border of «Итого по расценке» and «Всего по позиции». */
struct Formats {
    std::array<lxw_format*, 2> text{}, bold{}, name{}, money{}, moneyBold{}, quantity{}, coefficient{}, number{};
    lxw_format *title = nullptr, *caption = nullptr, *value = nullptr, *head = nullptr, *headNumber = nullptr,
               *italic = nullptr, *thousands = nullptr, *thousandsBase = nullptr;
};

struct FormatSpec {
    bool bold = false, italic = false, wrap = false, top = false, boxed = false, underline = false;
    const char* numFormat = nullptr;
    uint8_t align = LXW_ALIGN_NONE;
    double size = 10;
};

lxw_format* makeFormat(lxw_workbook* wb, const FormatSpec& s) {
    lxw_format* f = workbook_add_format(wb);
    format_set_font_name(f, kFont);
    format_set_font_size(f, s.size);
    if (s.bold) format_set_bold(f);
    if (s.italic) format_set_italic(f);
    if (s.wrap) format_set_text_wrap(f);
    if (s.top) format_set_top(f, LXW_BORDER_THIN);
    if (s.boxed) format_set_border(f, LXW_BORDER_THIN);
    if (s.underline) format_set_bottom(f, LXW_BORDER_THIN);
    if (s.numFormat) format_set_num_format(f, s.numFormat);
    if (s.align != LXW_ALIGN_NONE) format_set_align(f, s.align);
    format_set_align(f, LXW_ALIGN_VERTICAL_TOP);
    return f;
}

Formats makeFormats(lxw_workbook* wb) {
    Formats f;
    for (int top = 0; top < 2; ++top) {
        const bool t = top != 0;
        f.text[top] = makeFormat(wb, {.top = t});
        f.bold[top] = makeFormat(wb, {.bold = true, .top = t});
        f.name[top] = makeFormat(wb, {.wrap = true, .top = t});
        f.money[top] = makeFormat(wb, {.top = t, .numFormat = kMoney});
        f.moneyBold[top] = makeFormat(wb, {.bold = true, .top = t, .numFormat = kMoney});
        f.quantity[top] = makeFormat(wb, {.top = t, .numFormat = kQuantity});
        f.coefficient[top] = makeFormat(wb, {.top = t, .numFormat = kCoefficient});
        f.number[top] = makeFormat(wb, {.top = t, .numFormat = "0", .align = LXW_ALIGN_CENTER});
    }
    f.title = makeFormat(wb, {.bold = true, .align = LXW_ALIGN_CENTER, .size = 12});
    f.caption = makeFormat(wb, {.italic = true, .align = LXW_ALIGN_CENTER, .size = 8});
    f.value = makeFormat(wb, {.underline = true});
    f.head = makeFormat(wb, {.wrap = true, .boxed = true, .align = LXW_ALIGN_CENTER});
    format_set_align(f.head, LXW_ALIGN_VERTICAL_CENTER);
    f.headNumber = makeFormat(wb, {.boxed = true, .align = LXW_ALIGN_CENTER});
    f.italic = makeFormat(wb, {.italic = true});
    f.thousands = makeFormat(wb, {.numFormat = kMoney});
    f.thousandsBase = makeFormat(wb, {.numFormat = "\\(#,##0.00\\)"});
    return f;
}

/* ------------------------------------------------------------------------------------- */
/*  The form                                                                             */
/* ------------------------------------------------------------------------------------- */

/** Rows the header's amounts refer to, below it; learnt by a first pass that writes nothing. */
struct Anchors {
    int total = -1;                               // «ВСЕГО по смете»
    int ot = -1;                                  // its «оплата труда (ОТ)»
    int zt = -1, ztm = -1;                        // «Справочно»: labour
    std::array<int, model::kWorkTypes> types{};   // each type's «ВСЕГО …» (-1: absent)
    bool operator==(const Anchors&) const = default;
};

/** One amount line of the totals: label, base (J), index (K), current (L). */
struct Amount {
    std::string base;               // formula
    Money baseValue;
    std::optional<std::string> index;
    Dec7 indexValue;
    std::optional<std::string> current;
    Money currentValue;
};

class Form {
public:
    /** `ws` null: a pass that only counts rows and learns the anchors (`f` then all null). */
    Form(const FormInput& in, lxw_worksheet* ws, const Formats* f, const Anchors& known)
        : in_(in), ws_(ws), f_(f), known_(known) {
        anchors_.types.fill(-1);
    }

    void write() {
        writeHeader();
        writeHead();
        writeBody();
        writeTotals();
        writeSignatures();
    }
    const Anchors& anchors() const { return anchors_; }
    /** The rows written. */
    int rows() const { return row_; }

private:
    // ---- cells -----------------------------------------------------------------------
    int next() {
        if (row_ >= kSheetRows)
            throw Error("Локальный сметный расчет не помещается на лист: строка " + std::to_string(row_ + 1) +
                        " лежит за последней строкой листа (" + std::to_string(kSheetRows) + ")");
        return row_++;
    }
    void check(lxw_error e) const {
        if (e != LXW_NO_ERROR) throw Error(std::string("Не удалось составить книгу: ") + lxw_strerror(e));
    }
    void text(int r, int c, std::string_view s, lxw_format* f) {
        if (!ws_ || s.empty()) return;
        const std::string t(fitted(s));
        check(worksheet_write_string(ws_, static_cast<lxw_row_t>(r), static_cast<lxw_col_t>(c), t.c_str(), f));
    }
    void number(int r, int c, double v, lxw_format* f) {
        if (ws_) check(worksheet_write_number(ws_, static_cast<lxw_row_t>(r), static_cast<lxw_col_t>(c), v, f));
    }
    void formula(int r, int c, const std::string& expr, double cached, lxw_format* f) {
        if (!ws_) return;
        const std::string text = "=" + expr;
        check(worksheet_write_formula_num(ws_, static_cast<lxw_row_t>(r), static_cast<lxw_col_t>(c), text.c_str(),
                                          f, cached));
    }
    void blank(int r, int c, lxw_format* f) {
        if (ws_) check(worksheet_write_blank(ws_, static_cast<lxw_row_t>(r), static_cast<lxw_col_t>(c), f));
    }
    void merge(int r1, int c1, int r2, int c2, std::string_view s, lxw_format* f) {
        if (!ws_) return;
        const std::string t(fitted(s));
        check(worksheet_merge_range(ws_, static_cast<lxw_row_t>(r1), static_cast<lxw_col_t>(c1),
                                    static_cast<lxw_row_t>(r2), static_cast<lxw_col_t>(c2), t.c_str(), f));
    }
    /** The top border across the form's twelve columns, for the cells the line leaves empty. */
    void topBorder(int r, std::initializer_list<int> filled) {
        for (int c = C1; c <= C12; ++c)
            if (std::find(filled.begin(), filled.end(), c) == filled.end()) blank(r, c, f_->text[1]);
    }
    /** A norm in column 5 and, unless it is 1, its coefficient in column 6: the product as a
     *  formula's term ("E40*F40"). */
    std::string normTimes(int r, Dec7 norm, Dec7 k) {
        number(r, C5, num(norm), f_->quantity[0]);
        std::string e = a1(r, C5);
        if (k != kOne) {
            number(r, C6, num(k), f_->coefficient[0]);
            e += "*" + a1(r, C6);
        }
        return e;
    }
    void keys(int r, const char* element, WorkType t) {
        text(r, KeyElement, element, nullptr);
        number(r, KeyType, typeKey(t), nullptr);
    }

    // ---- the header block -------------------------------------------------------------
    void labelled(const std::string& label, const std::string& value) {
        const int r = next();
        // a long label wraps within columns 1…3, its row as tall as its lines
        const size_t chars = utf8::length(label);
        const size_t lines = (chars + kLabelLine - 1) / kLabelLine;
        if (ws_ && lines > 1) check(worksheet_set_row(ws_, static_cast<lxw_row_t>(r), 13.0 * double(lines), nullptr));
        merge(r, C1, r, C3, label, f_->name[0]);
        for (int c = C4; c <= C12; ++c) blank(r, c, f_->value);
        text(r, C4, value, f_->value);
    }
    void valueLine(const std::string& value, const char* caption) {
        const int r = next();
        for (int c = C1; c <= C12; ++c) blank(r, c, f_->value);
        text(r, C1, value, f_->value);
        const int rc = next();
        merge(rc, C1, rc, C12, caption, f_->caption);
    }
    /** A header amount in thousands: current and (base), as formulas over a total below. */
    void headerAmount(int r, int col, int anchorRow, Money current, Money base, bool withCurrent) {
        if (anchorRow < 0) {
            if (withCurrent) number(r, col, 0, f_->thousands);
            number(r, col + 1, 0, f_->thousandsBase);
            return;
        }
        if (withCurrent) formula(r, col, a1(anchorRow, C12) + "/1000", thousands(current), f_->thousands);
        formula(r, col + 1, a1(anchorRow, C10) + "/1000", thousands(base), f_->thousandsBase);
    }
    void writeHeader() {
        const FormFacts& facts = in_.facts;
        const model::EstimateParams& p = in_.params;
        const auto& labels = headerLabels();
        std::string orders;
        for (const std::string& o : facts.orders) orders += (orders.empty() ? "" : "; ") + o;
        labelled(labels[0], facts.program);
        labelled(labels[1], facts.edition);
        labelled(labels[2], orders);
        labelled(labels[3], p.letter);
        labelled(labels[4], {});
        labelled(labels[5], p.region);
        labelled(labels[6], {});
        next();
        valueLine(facts.construction, "(наименование стройки)");
        valueLine(facts.object, "(наименование объекта капитального строительства)");
        next();
        const int titleRow = next();
        merge(titleRow, C1, titleRow, C12, "ЛОКАЛЬНЫЙ СМЕТНЫЙ РАСЧЕТ (СМЕТА) № " + facts.number, f_->title);
        next();
        valueLine(facts.worksName, "(наименование работ и затрат)");
        text(next(), C1, "Составлен базисно-индексным методом", f_->text[0]);
        {
            const int r = next();
            text(r, C1, "Основание", f_->text[0]);
            for (int c = C3; c <= C12; ++c) blank(r, c, f_->value);
            text(r, C3, facts.basis, f_->value);
            const int rc = next();
            merge(rc, C3, rc, C12, "(проектная и (или) иная техническая документация)", f_->caption);
        }
        std::string level = p.level;
        if (!p.baseLevel.empty()) level += (level.empty() ? "(" : " (") + p.baseLevel + ")";
        labelled("Составлен(а) в текущем (базисном) уровне цен", level);
        next();

        // Two blocks side by side, amounts in thousands: current (base).
        const model::BaseIndexResult& r = in_.result;
        const bool cur = r.currentComplete;
        auto typeTotals = [&](WorkType type) -> const WorkTypeTotals* {
            for (const WorkTypeTotals& w : r.workTypes)
                if (w.type == type) return &w;
            return nullptr;
        };
        struct LeftLine { const char* label; std::vector<WorkType> types; bool bold; };
        const std::array<LeftLine, 6> left = {{
            {"Сметная стоимость", {}, true},
            {"в том числе:", {}, false},
            {"строительных работ", {WorkType::Construction}, false},
            {"монтажных работ", {WorkType::Mounting}, false},
            {"оборудования", {WorkType::Equipment}, false},
            {"прочих затрат", {WorkType::Commissioning, WorkType::Other}, false},
        }};
        for (size_t i = 0; i < left.size(); ++i) {
            const int row = next();
            const LeftLine& l = left[i];
            text(row, C1, l.label, l.bold ? f_->bold[0] : (i == 1 ? f_->italic : f_->text[0]));
            if (i == 0) {
                headerAmount(row, C4, known_.total, r.total.current.total, r.total.base.total, cur);
                text(row, C6, "тыс. руб.", f_->text[0]);
            } else if (i >= 2) {
                // one anchor per type: «прочих затрат» adds two
                std::vector<std::string> curTerms, baseTerms;
                Money curSum, baseSum;
                for (WorkType type : l.types) {
                    const int a = known_.types[static_cast<size_t>(type)];
                    const WorkTypeTotals* w = typeTotals(type);
                    if (a < 0 || !w) continue;
                    curTerms.push_back(a1(a, C12));
                    baseTerms.push_back(a1(a, C10));
                    curSum += w->current.total;
                    baseSum += w->base.total;
                }
                if (cur) formula(row, C4, "(" + joined(curTerms) + ")/1000", thousands(curSum), f_->thousands);
                formula(row, C5, "(" + joined(baseTerms) + ")/1000", thousands(baseSum), f_->thousandsBase);
                text(row, C6, "тыс. руб.", f_->text[0]);
            }
            if (i == 0) {
                text(row, C7, "Средства на оплату труда рабочих", f_->text[0]);
                if (cur && known_.ot >= 0)
                    formula(row, C10, a1(known_.ot, C12) + "/1000", thousands(r.total.current.ot), f_->thousands);
                if (known_.ot >= 0)
                    formula(row, C11, a1(known_.ot, C10) + "/1000", thousands(r.total.base.ot), f_->thousandsBase);
                text(row, C12, "тыс. руб.", f_->text[0]);
            } else if (i == 1 || i == 2) {
                const bool workers = i == 1;
                text(row, C7, workers ? "Нормативные затраты труда рабочих" : "Нормативные затраты труда машинистов",
                     f_->text[0]);
                const int a = workers ? known_.zt : known_.ztm;
                if (a >= 0)
                    formula(row, C10, a1(a, C10), num(workers ? r.total.base.zt : r.total.base.ztm),
                            f_->quantity[0]);
                text(row, C12, "чел.-ч", f_->text[0]);
            }
        }
        next();
    }

    // ---- the table's head -------------------------------------------------------------
    void writeHead() {
        const int r1 = next(), r2 = next(), r3 = next();
        lxw_format* h = f_->head;
        if (ws_) {
            check(worksheet_repeat_rows(ws_, static_cast<lxw_row_t>(r1), static_cast<lxw_row_t>(r3)));
            // the first head row carries the long wrapped captions (set before its cells)
            check(worksheet_set_row(ws_, static_cast<lxw_row_t>(r1), 54, nullptr));
        }
        const std::array<std::pair<int, const char*>, 6> tall = {{
            {C1, "№ п/п"}, {C2, "Обоснование"}, {C3, "Наименование работ и затрат"}, {C4, "Единица измерения"},
            {C11, "Индексы"}, {C12, "Сметная стоимость в текущем уровне цен, руб."},
        }};
        // Rows are streamed: the first row whole (the tall captions as they stand, the groups
        // merged), then the tall captions' merges, which pad the second row, then the rest of it.
        for (const auto& [c, caption] : tall) text(r1, c, caption, h);
        merge(r1, C5, r1, C7, "Количество", h);
        merge(r1, C8, r1, C10,
              "Сметная стоимость в базисном уровне цен (в текущем уровне цен (гр. 8) для ресурсов, "
              "отсутствующих в ФРСН), руб.",
              h);
        if (ws_) check(worksheet_set_row(ws_, static_cast<lxw_row_t>(r2), 42, nullptr));
        for (const auto& [c, caption] : tall) merge(r1, c, r2, c, caption, h);
        const std::array<const char*, 6> sub = {"на единицу измерения", "коэффициенты", "всего с учетом коэффициентов",
                                                "на единицу измерения", "коэффициенты", "всего"};
        for (int c = C5; c <= C10; ++c) text(r2, c, sub[static_cast<size_t>(c - C5)], h);
        for (int c = C1; c <= C12; ++c) number(r3, c, c + 1, f_->headNumber);
    }

    // ---- positions --------------------------------------------------------------------
    const model::PositionRow* rowOf(size_t tableRow) const {
        return tableRow < in_.rows.size() ? &in_.rows[tableRow] : nullptr;
    }
    void writeBody() {
        const int section = next();
        const std::string name = in_.facts.worksName.empty() ? "Раздел 1." : "Раздел 1. " + in_.facts.worksName;
        merge(section, C1, section, C12, name, f_->bold[0]);
        bodyFirst_ = row_;
        if (!ws_) {
            // counting the rows: the lines of each position, without making them
            for (const PositionResult& p : in_.result.positions) row_ += lineCount(p);
            bodyLast_ = row_ - 1;
            return;
        }
        for (size_t i = 0; i < in_.result.positions.size(); ++i) {
            const PositionResult& p = in_.result.positions[i];
            if (!p.computed) continue;  // in no sum either
            if (p.kind == PositionResult::Kind::Standalone) writeStandalone(p);
            else writeRate(p, i < in_.chargeTitles.size() ? in_.chargeTitles[i] : std::string());
        }
        bodyLast_ = row_ - 1;
    }

    /** The lines writeStandalone or writeRate make for `p` (checked: the second pass must
     *  find the rows the first counted). */
    static int lineCount(const PositionResult& p) {
        if (!p.computed) return 0;
        if (p.kind == PositionResult::Kind::Standalone) return 2;
        int n = 1 + !p.ot1.isZero() + !p.em1.isZero() + !p.otm1.isZero() + !p.m1.isZero();
        n += static_cast<int>(p.materials.size());
        n += !p.zt1.isZero() + !p.ztm1.isZero();
        n += 1 /*Итого по расценке*/ + 1 /*ФОТ*/ + !p.nrRow.empty() + !p.spRow.empty() + 1 /*Всего по позиции*/;
        return n;
    }

    /** The position line; returns its row (its c7 is Q). */
    int positionLine(const PositionResult& p) {
        const int r = next();
        const model::PositionRow* row = rowOf(p.row);
        number(r, C1, p.number, f_->number[0]);
        if (row) {
            text(r, C2, row->code, f_->text[0]);
            text(r, C3, row->name, f_->name[0]);
            text(r, C4, row->unit, f_->text[0]);
        }
        number(r, C5, num(p.quantity), f_->quantity[0]);
        formula(r, C7, a1(r, C5), num(p.quantity), f_->quantity[0]);
        return r;
    }

    void writeStandalone(const PositionResult& p) {
        const int q = positionLine(p);
        // c8 the price per unit, c10 its amount; a coefficient on М in c9
        number(q, C8, num(p.m1), f_->money[0]);
        std::string e = a1(q, C7) + "*" + a1(q, C8);
        if (p.kM != kOne) {
            number(q, C9, num(p.kM), f_->coefficient[0]);
            e += "*" + a1(q, C9);
        }
        formula(q, C10, round2(e), num(p.base.m), f_->money[0]);
        keys(q, p.workType == WorkType::Equipment ? "ОБ" : "М", p.workType);
        const int t = next();
        text(t, C3, "Всего по позиции", f_->bold[1]);
        formula(t, C10, a1(q, C10), num(p.base.total), f_->moneyBold[1]);
        topBorder(t, {C3, C10});
    }

    void writeRate(const PositionResult& p, const std::string& chargeTitle) {
        const int q = positionLine(p);
        const std::string Q = a1(q, C7);
        // ОТ, ОТм and what follows from them in current prices, by the index of wages
        const bool indexed = p.currentDefined && in_.params.indexOt.has_value();
        const double iOt = indexed ? num(*in_.params.indexOt) : 0;

        // The rate's own materials (М without the materials priced in the estimate).
        Money pricedSum;
        for (const model::PricedMaterial& m : p.materials)
            if (m.priced) pricedSum += m.amount;
        const Money mRate = p.base.m - pricedSum;

        int otRow = -1, emRow = -1, otmRow = -1, mRow = -1;
        const bool hasOt = !p.ot1.isZero(), hasEm = !p.em1.isZero(), hasOtm = !p.otm1.isZero(), hasM = !p.m1.isZero();
        int line = 0;
        if (hasOt) otRow = row_ + line++;
        if (hasEm) emRow = row_ + line++;
        if (hasOtm) otmRow = row_ + line++;
        if (hasM) mRow = row_ + line++;

        auto cost = [&](const char* article, const char* label, Money perUnit, Dec7 k, Money amount, const char* key,
                        const std::string& amountFormula, bool withIndex, Money current) {
            const int r = next();
            text(r, C2, article, f_->text[0]);
            text(r, C3, label, f_->text[0]);
            number(r, C8, num(perUnit), f_->money[0]);
            if (k != kOne) number(r, C9, num(k), f_->coefficient[0]);
            formula(r, C10, amountFormula, num(amount), f_->money[0]);
            if (withIndex) {
                number(r, C11, iOt, f_->coefficient[0]);
                formula(r, C12, round2(a1(r, C10) + "*" + a1(r, C11)), num(current), f_->money[0]);
            }
            keys(r, key, p.workType);
        };
        // Q × per unit × coefficient (the coefficient's cell only when it is not 1)
        auto simple = [&](int r, Dec7 k) {
            std::string e = Q + "*" + a1(r, C8);
            if (k != kOne) e += "*" + a1(r, C9);
            return round2(e);
        };
        // Д, the machinists paid as the workers where ОТ bears the larger coefficient
        const std::string extra =
            p.base.otmExtra.isZero() || !hasOtm
                ? std::string()
                : round2(Q + "*" + a1(otmRow, C8) + "*" + Dec7::fromUnits(p.kOt.units() - p.kOtm.units()).text());
        if (hasOt) cost("1", "ОТ", p.ot1, p.kOt, p.base.ot, "ОТ", simple(otRow, p.kOt), indexed, p.current.ot);
        if (hasEm) {
            // machinists' wages inside ЭМ take their own coefficient
            std::string e;
            if (p.kEm == p.kOtm || !hasOtm) {
                e = simple(emRow, p.kEm);
            } else {
                const std::string kEm = p.kEm != kOne ? "*" + a1(emRow, C9) : "";
                const std::string kOtm = p.kOtm != kOne ? "*" + a1(otmRow, C9) : "";
                e = round2(Q + "*((" + a1(emRow, C8) + "-" + a1(otmRow, C8) + ")" + kEm + "+" + a1(otmRow, C8) + kOtm + ")");
            }
            if (!extra.empty()) e += "+" + extra;  // the machinists' extra pay is in ЭМ
            cost("2", "ЭМ", p.em1, p.kEm, p.base.em, "ЭМ", e, false, {});
        }
        if (hasOtm)
            cost("3", "в т.ч. ОТм", p.otm1, p.kOtm, p.base.otm, "ОТМ", simple(otmRow, p.kOtm), indexed, p.current.otm);
        if (hasM)
            cost("4", "М", p.m1, p.kM, mRate, p.workType == WorkType::Equipment ? "ОБ" : "М", simple(mRow, p.kM), false, {});

        // Unaccounted materials of the rate still without a price: quantities only.
        for (const model::PricedMaterial& m : p.materials)
            if (!m.priced) materialLine(m, q, p.quantity, {});

        // ЗТ, ЗТм: norm, coefficient, total labour
        auto labour = [&](const char* label, Dec7 norm, Dec7 k, Dec7 total, const char* key) {
            const int r = next();
            text(r, C3, label, f_->text[0]);
            text(r, C4, "чел.-ч", f_->text[0]);
            formula(r, C7, round7(normTimes(r, norm, k) + "*" + Q), num(total), f_->quantity[0]);
            keys(r, key, p.workType);
        };
        if (!p.zt1.isZero()) labour("ЗТ", p.zt1, p.kZt, p.base.zt, "ЗТ");
        if (!p.ztm1.isZero()) labour("ЗТм", p.ztm1, p.kZtm, p.base.ztm, "ЗТМ");

        // Итого по расценке: ОТ + ЭМ + М
        const int total = next();
        std::vector<std::string> unit, all;
        Money unitSum;
        for (int r : {otRow, emRow, mRow})
            if (r >= 0) {
                unit.push_back(a1(r, C8));
                all.push_back(a1(r, C10));
            }
        if (hasOt) unitSum += p.ot1;
        if (hasEm) unitSum += p.em1;
        if (hasM) unitSum += p.m1;
        text(total, C3, "Итого по расценке", f_->text[1]);
        formula(total, C8, joined(unit), num(unitSum), f_->money[1]);
        formula(total, C10, joined(all), num(p.base.ot + p.base.em + mRate), f_->money[1]);
        topBorder(total, {C3, C8, C10});

        // Materials priced in the estimate: N.1, N.2 …
        std::vector<std::string> materialRows;
        int k = 0;
        for (const model::PricedMaterial& m : p.materials)
            if (m.priced) {
                const int r = materialLine(m, q, p.quantity, std::to_string(p.number) + "." + std::to_string(++k));
                number(r, C8, num(m.price), f_->money[0]);
                formula(r, C10, round2(a1(r, C7) + "*" + a1(r, C8)), num(m.amount), f_->money[0]);
                keys(r, p.workType == WorkType::Equipment ? "ОБ" : "М", p.workType);
                materialRows.push_back(a1(r, C10));
            }

        // ФОТ = ОТ + ОТм
        const int fot = next();
        text(fot, C3, "ФОТ", f_->text[0]);
        std::vector<std::string> fotBase, fotCurrent;
        for (int r : {otRow, otmRow})
            if (r >= 0) {
                fotBase.push_back(a1(r, C10));
                fotCurrent.push_back(a1(r, C12));
            }
        if (!extra.empty()) {
            fotBase.push_back(extra);
            fotCurrent.push_back(round2(extra + "*" + a1(otmRow, C11)));
        }
        formula(fot, C10, joined(fotBase), num(p.base.fot), f_->money[0]);
        if (indexed) formula(fot, C12, joined(fotCurrent), num(p.current.fot), f_->money[0]);
        keys(fot, "ФОТ", p.workType);

        // НР and СП: norm, the repair factor, resulting per cent, of ФОТ
        std::vector<std::string> charges;
        auto charge = [&](const std::string& ref, const char* what, Dec7 norm, Dec7 factor, Dec7 percent, Money base,
                          Money current, const char* key) {
            const int r = next();
            text(r, C2, ref, f_->text[0]);
            text(r, C3, std::string(what) + (chargeTitle.empty() ? "" : " (" + chargeTitle + ")"), f_->name[0]);
            text(r, C4, "%", f_->text[0]);
            formula(r, C7, normTimes(r, norm, factor), num(percent), f_->quantity[0]);
            formula(r, C10, round2(a1(fot, C10) + "*" + a1(r, C7) + "/100"), num(base), f_->money[0]);
            if (indexed)
                formula(r, C12, round2(a1(fot, C12) + "*" + a1(r, C7) + "/100"), num(current),
                        f_->money[0]);
            keys(r, key, p.workType);
            charges.push_back(a1(r, C10));
        };
        if (!p.nrRow.empty())
            charge(p.nrRef, "НР", p.nrNorm, p.nrFactor, p.nrPercent, p.base.nr, p.current.nr, "НР");
        if (!p.spRow.empty())
            charge(p.spRef, "СП", p.spNorm, p.spFactor, p.spPercent, p.base.sp, p.current.sp, "СП");

        // Всего по позиции: Итого по расценке + N.x + НР + СП
        const int all2 = next();
        std::vector<std::string> terms{a1(total, C10)};
        terms.insert(terms.end(), materialRows.begin(), materialRows.end());
        terms.insert(terms.end(), charges.begin(), charges.end());
        text(all2, C3, "Всего по позиции", f_->bold[1]);
        formula(all2, C10, joined(terms), num(p.base.total), f_->moneyBold[1]);
        topBorder(all2, {C3, C10});
    }

    /** A material of the rate: number (when priced), code, name, unit, norm and quantity. */
    int materialLine(const model::PricedMaterial& m, int q, Dec7 quantity, const std::string& numberText) {
        const int r = next();
        const model::PositionRow* row = rowOf(m.row);
        text(r, C1, numberText, f_->text[0]);
        if (row) {
            text(r, C2, row->code, f_->text[0]);
            text(r, C3, row->name, f_->name[0]);
            text(r, C4, row->unit, f_->text[0]);
        }
        number(r, C5, num(m.perUnit), f_->quantity[0]);
        // the quantity follows the rate's when it was made so; else it stands as stored
        if (!m.perUnit.isZero() && product7(m.perUnit, quantity) == m.quantity)
            formula(r, C7, round7(a1(r, C5) + "*" + a1(q, C7)), num(m.quantity), f_->quantity[0]);
        else
            number(r, C7, num(m.quantity), f_->quantity[0]);
        return r;
    }

    // ---- totals -----------------------------------------------------------------------
    std::string keyRange(int col) const {
        return a1(bodyFirst_, col, true) + ":" + a1(bodyLast_, col, true);
    }
    /** ROUND(SUMIF(…),2) over the body's lines of `element` (of `type` when given). */
    std::string sumOf(int col, const char* element, std::optional<WorkType> type = {}) const {
        if (bodyLast_ < bodyFirst_) return "0";
        const std::string range = a1(bodyFirst_, col) + ":" + a1(bodyLast_, col);
        if (!type) return "SUMIF(" + keyRange(KeyElement) + ",\"" + element + "\"," + range + ")";
        return "SUMIFS(" + range + "," + keyRange(KeyElement) + ",\"" + element + "\"," + keyRange(KeyType) + "," +
               std::to_string(typeKey(*type)) + ")";
    }
    int amountLine(const std::string& label, const Amount& a, bool bold) {
        const int r = next();
        text(r, C3, label, bold ? f_->bold[0] : f_->text[0]);
        lxw_format* money = bold ? f_->moneyBold[0] : f_->money[0];
        formula(r, C10, a.base, num(a.baseValue), money);
        if (a.index) number(r, C11, num(a.indexValue), f_->coefficient[0]);
        if (a.current) formula(r, C12, *a.current, num(a.currentValue), money);
        return r;
    }
    Amount summed(const char* element, std::optional<WorkType> type, Money base, bool withCurrent, Money current) {
        Amount a;
        a.base = round2(sumOf(C10, element, type));
        a.baseValue = base;
        if (withCurrent) {
            a.current = round2(sumOf(C12, element, type));
            a.currentValue = current;
        }
        return a;
    }

    /** Rows of one type's lines, for the estimate's sums. */
    struct TypeRows {
        int pz = -1, ot = -1, em = -1, otm = -1, m = -1, fot = -1, nr = -1, sp = -1, total = -1;
        bool current = false;
        WorkType type = WorkType::Construction;
    };

    TypeRows typeBlock(const WorkTypeTotals& t) {
        TypeRows rows;
        rows.type = t.type;
        rows.current = t.currentDefined;
        const bool cur = rows.current;
        const bool eq = t.type == WorkType::Equipment;
        text(next(), C3, kTypeTotal[static_cast<size_t>(t.type)], f_->bold[0]);
        const int first = row_;
        // rows of the lines below «Всего прямые затраты», known before they are written
        rows.pz = first;
        rows.ot = first + 1;
        rows.em = first + 2;
        rows.otm = first + 3;
        rows.m = first + 4;
        Amount pz;
        pz.base = round2(a1(rows.ot, C10) + "+" + a1(rows.em, C10) + "+" + a1(rows.m, C10));
        pz.baseValue = t.base.pz;
        if (cur) {
            pz.current = round2(a1(rows.ot, C12) + "+" + a1(rows.em, C12) + "+" + a1(rows.m, C12));
            pz.currentValue = t.current.pz;
        }
        amountLine("Всего прямые затраты", pz, false);
        amountLine("в том числе: оплата труда (ОТ)",
                   summed("ОТ", t.type, t.base.ot, cur, t.current.ot), false);
        auto indexed = [&](const char* element, Money base, const std::optional<Dec7>& index, Money current, int row) {
            Amount a;
            a.base = round2(sumOf(C10, element, t.type));
            a.baseValue = base;
            if (index) {
                a.index = a1(row, C11);
                a.indexValue = *index;
            }
            if (cur) {
                a.current = round2(a1(row, C10) + "*" + a1(row, C11));
                a.currentValue = current;
            }
            return a;
        };
        amountLine("эксплуатация машин и механизмов", indexed("ЭМ", t.base.em, t.indexEm, t.current.em, rows.em), false);
        amountLine("в том числе: оплата труда машинистов (ОТм)",
                   summed("ОТМ", t.type, t.base.otm, cur, t.current.otm), false);
        amountLine(eq ? "оборудование" : "материальные ресурсы",
                   indexed(eq ? "ОБ" : "М", t.base.m, t.indexM, t.current.m, rows.m), false);
        rows.fot = amountLine("Всего ФОТ (справочно)", summed("ФОТ", t.type, t.base.fot, cur, t.current.fot), false);
        rows.nr = amountLine("Всего накладные расходы", summed("НР", t.type, t.base.nr, cur, t.current.nr), false);
        rows.sp = amountLine("Всего сметная прибыль", summed("СП", t.type, t.base.sp, cur, t.current.sp), false);
        Amount total;
        total.base = round2(a1(rows.pz, C10) + "+" + a1(rows.nr, C10) + "+" + a1(rows.sp, C10));
        total.baseValue = t.base.total;
        if (cur) {
            total.current = round2(a1(rows.pz, C12) + "+" + a1(rows.nr, C12) + "+" + a1(rows.sp, C12));
            total.currentValue = t.current.total;
        }
        rows.total = amountLine(kTypeTotal[static_cast<size_t>(t.type)], total, true);
        anchors_.types[static_cast<size_t>(t.type)] = rows.total;
        return rows;
    }

    void writeTotals() {
        const model::BaseIndexResult& r = in_.result;
        const model::Elements& b = r.total.base;
        const model::Elements& c = r.total.current;
        const bool cur = r.currentComplete;
        const bool indexed = in_.params.indexOt.has_value();
        const WorkTypeTotals* eqTotals = nullptr;
        for (const WorkTypeTotals& t : r.workTypes)
            if (t.type == WorkType::Equipment) eqTotals = &t;
        const model::Elements noEq{};
        const model::Elements& eqB = eqTotals ? eqTotals->base : noEq;
        const model::Elements& eqC = eqTotals ? eqTotals->current : noEq;

        // The section: its lines sum the body; ЭМ and М in current prices are the types' own,
        // computed below.
        next();
        const int pzRow = row_;
        const int otRow = pzRow + 1, emRow = pzRow + 2, mRow = pzRow + 4;
        const int firstTypeRow = pzRow + 9 + (eqTotals ? 1 : 0) + 1 /*blank*/ + 1 /*ИТОГИ*/;
        // the rows of each type's ЭМ and М lines: the types follow one another, ten lines each
        std::vector<std::string> emCurrent, mCurrent;
        {
            int at = firstTypeRow;
            for (const WorkTypeTotals& t : r.workTypes) {
                // heading, «Всего прямые затраты», ОТ, ЭМ (+2), ОТм, М (+4) …
                emCurrent.push_back(a1(at + 1 + 2, C12));
                if (t.type != WorkType::Equipment) mCurrent.push_back(a1(at + 1 + 4, C12));
                at += 10;
            }
        }
        Amount pz;
        pz.base = round2(a1(otRow, C10) + "+" + a1(emRow, C10) + "+" + a1(mRow, C10));
        pz.baseValue = b.pz - eqB.m;
        if (cur) {
            pz.current = round2(a1(otRow, C12) + "+" + a1(emRow, C12) + "+" + a1(mRow, C12));
            pz.currentValue = c.pz - eqC.m;
        }
        amountLine("Итого прямые затраты по Разделу 1", pz, false);
        amountLine("в том числе: оплата труда (ОТ)", summed("ОТ", {}, b.ot, indexed && cur, c.ot), false);
        Amount em = summed("ЭМ", {}, b.em, false, {});
        if (cur) {
            em.current = round2(joined(emCurrent));
            em.currentValue = c.em;
        }
        amountLine("эксплуатация машин и механизмов", em, false);
        amountLine("в том числе: оплата труда машинистов (ОТм)", summed("ОТМ", {}, b.otm, indexed && cur, c.otm), false);
        Amount m = summed("М", {}, b.m - eqB.m, false, {});
        if (cur) {
            m.current = round2(joined(mCurrent));
            m.currentValue = c.m - eqC.m;
        }
        amountLine("материальные ресурсы", m, false);
        amountLine("Итого ФОТ", summed("ФОТ", {}, b.fot, indexed && cur, c.fot), false);
        const int nrRow = amountLine("Итого накладные расходы", summed("НР", {}, b.nr, indexed && cur, c.nr), false);
        const int spRow = amountLine("Итого сметная прибыль", summed("СП", {}, b.sp, indexed && cur, c.sp), false);
        int eqRow = -1;
        if (eqTotals) {
            Amount eq = summed("ОБ", {}, eqB.m, false, {});
            if (cur) {
                eq.current = a1(firstTypeRow + 10 * static_cast<int>(eqIndex()) + 1 + 4, C12);
                eq.currentValue = eqC.m;
            }
            eqRow = amountLine("Итого оборудование", eq, false);
        }
        Amount section;
        std::vector<std::string> sb{a1(pzRow, C10), a1(nrRow, C10), a1(spRow, C10)}, sc{a1(pzRow, C12), a1(nrRow, C12), a1(spRow, C12)};
        if (eqRow >= 0) {
            sb.push_back(a1(eqRow, C10));
            sc.push_back(a1(eqRow, C12));
        }
        section.base = round2(joined(sb));
        section.baseValue = b.total;
        if (cur) {
            section.current = round2(joined(sc));
            section.currentValue = c.total;
        }
        amountLine("Итого по Разделу 1", section, true);

        // ИТОГИ ПО СМЕТЕ, by type of work
        next();
        text(next(), C3, "ИТОГИ ПО СМЕТЕ:", f_->bold[0]);
        if (row_ != firstTypeRow) throw Error("Локальный сметный расчет: внутренняя ошибка раскладки итогов");
        std::vector<TypeRows> types;
        for (const WorkTypeTotals& t : r.workTypes) types.push_back(typeBlock(t));

        // ВСЕГО по смете: the types' lines added up
        auto across = [&](int TypeRows::*line, int col) {
            std::vector<std::string> cells;
            for (const TypeRows& t : types) cells.push_back(a1(t.*line, col));
            return round2(joined(cells));
        };
        auto estimateLine = [&](const std::string& label, int TypeRows::*line, Money base, Money current, bool bold) {
            Amount a;
            a.base = across(line, C10);
            a.baseValue = base;
            if (cur) {
                a.current = across(line, C12);
                a.currentValue = current;
            }
            return amountLine(label, a, bold);
        };
        next();
        estimateLine("Всего прямые затраты", &TypeRows::pz, b.pz, c.pz, false);
        anchors_.ot = estimateLine("в том числе: оплата труда (ОТ)", &TypeRows::ot, b.ot, c.ot, false);
        estimateLine("эксплуатация машин и механизмов", &TypeRows::em, b.em, c.em, false);
        estimateLine("в том числе: оплата труда машинистов (ОТм)", &TypeRows::otm, b.otm, c.otm, false);
        estimateLine("материальные ресурсы и оборудование", &TypeRows::m, b.m, c.m, false);
        estimateLine("Всего ФОТ (справочно)", &TypeRows::fot, b.fot, c.fot, false);
        estimateLine("Всего накладные расходы", &TypeRows::nr, b.nr, c.nr, false);
        estimateLine("Всего сметная прибыль", &TypeRows::sp, b.sp, c.sp, false);
        anchors_.total = estimateLine("ВСЕГО по смете", &TypeRows::total, b.total, c.total, true);

        // Справочно: labour
        text(next(), C3, "Справочно", f_->bold[0]);
        auto labourLine = [&](const char* label, const char* key, Dec7 value) {
            const int row = next();
            text(row, C3, label, f_->text[0]);
            const std::string e = bodyLast_ < bodyFirst_
                                      ? "0"
                                      : "SUMIF(" + keyRange(KeyElement) + ",\"" + key + "\"," + a1(bodyFirst_, C7) + ":" +
                                            a1(bodyLast_, C7) + ")";
            formula(row, C10, round7(e), num(value), f_->quantity[0]);
            return row;
        };
        anchors_.zt = labourLine("затраты труда рабочих, чел.-ч", "ЗТ", b.zt);
        anchors_.ztm = labourLine("затраты труда машинистов, чел.-ч", "ЗТМ", b.ztm);
    }
    size_t eqIndex() const {
        for (size_t i = 0; i < in_.result.workTypes.size(); ++i)
            if (in_.result.workTypes[i].type == WorkType::Equipment) return i;
        return 0;
    }

    // ---- signatures -------------------------------------------------------------------
    void writeSignatures() {
        const model::EstimateTexts& t = in_.texts;
        auto sign = [&](const char* who, const std::string& post, const std::string& name) {
            next();
            const int r = next();
            text(r, C2, who, f_->text[0]);
            std::string v = post;
            while (!v.empty() && v.back() == ' ') v.pop_back();
            if (!name.empty()) v += (v.empty() ? "" : " ") + name;
            for (int c = C3; c <= C6; ++c) blank(r, c, f_->value);
            text(r, C3, v, f_->value);
            const int rc = next();
            merge(rc, C3, rc, C6, "[должность, подпись (инициалы, фамилия)]", f_->caption);
        };
        sign("Составил", t.contractorPost, t.contractorName);
        sign("Проверил", t.approverPost, t.approverName);
    }

    const FormInput& in_;
    lxw_worksheet* ws_;
    const Formats* f_;
    const Anchors& known_;
    Anchors anchors_;
    int row_ = 0;
    int bodyFirst_ = 0, bodyLast_ = -1;
};

std::string safeFileName(std::string_view name) {
    std::string s(name);
    for (char& c : s)
        if (c == '/' || c == '\\' || c == '\0') c = '_';
    return s;
}

/** The workbook closed on every way out: a failed write still frees it. */
struct WorkbookGuard {
    lxw_workbook* wb;
    ~WorkbookGuard() {
        if (wb) workbook_close(wb);
    }
};

}  // namespace

const std::vector<std::string>& headerLabels() {
    static const std::vector<std::string> labels = {
        "Наименование программного продукта",
        "Наименование редакции сметных нормативов",
        "Реквизиты приказа Минстроя России об утверждении дополнений и изменений к сметным нормативам",
        "Реквизиты письма Минстроя России об индексах изменения сметной стоимости строительства, включаемые в "
        "федеральный реестр сметных нормативов и размещаемые в федеральной государственной информационной системе "
        "ценообразования в строительстве, подготовленного в соответствии пунктом 85 Методики расчета индексов "
        "изменения сметной стоимости строительства, утвержденной приказом Министерства строительства и "
        "жилищно-коммунального хозяйства Российской Федерации от 5 июня 2019 г. № 326/пр",
        "Реквизиты нормативного правового акта об утверждении оплаты труда, утверждаемого в соответствии с пунктом "
        "22(1) Правил мониторинга цен, утвержденными постановлением Правительства Российской Федерации от 23 декабря "
        "2016 г. № 1452",
        "Наименование субъекта Российской Федерации",
        "Наименование зоны субъекта Российской Федерации",
    };
    return labels;
}

namespace {

/** The form into `file`; messages name the file as `shownAs` (the target, not its temporary). */
void writeForm(const FormInput& in, const std::filesystem::path& file, const std::filesystem::path& shownAs) {
    // First the rows the header's amounts refer to, then the sheet, top to bottom.
    Anchors none;
    none.types.fill(-1);
    const Formats noFormats;  // the first pass only counts rows
    Form dry(in, nullptr, &noFormats, none);
    dry.write();
    const Anchors anchors = dry.anchors();

    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    errno = 0;
    WorkbookGuard guard{workbook_new_opt(file.c_str(), &options)};
    if (!guard.wb) xls::writeFailed(shownAs, errno ? errno : ENOMEM, "книгу");
    lxw_doc_properties properties{};
    std::string title = "Локальный сметный расчет (смета) № " + in.facts.number;
    properties.title = title.data();
    workbook_set_properties(guard.wb, &properties);
    lxw_worksheet* ws = workbook_add_worksheet(guard.wb, "ЛСР");
    if (!ws) throw Error("Не удалось составить книгу: лист не создан");
    const Formats formats = makeFormats(guard.wb);

    // Widths of the form's columns (pixels), the keys hidden.
    constexpr std::array<uint32_t, 12> widths = {56, 110, 450, 80, 92, 92, 92, 120, 120, 120, 100, 100};
    for (size_t c = 0; c < widths.size(); ++c)
        worksheet_set_column_pixels(ws, static_cast<lxw_col_t>(c), static_cast<lxw_col_t>(c), widths[c], nullptr);
    lxw_row_col_options hidden{};
    hidden.hidden = LXW_TRUE;
    worksheet_set_column_opt(ws, KeyElement, KeyType, 10, nullptr, &hidden);
    // A4 landscape, one page wide, as tall as it takes
    worksheet_set_landscape(ws);
    worksheet_set_paper(ws, 9);
    worksheet_fit_to_pages(ws, 1, 0);
    worksheet_set_margins(ws, 0.4, 0.4, 0.6, 0.6);
    worksheet_gridlines(ws, LXW_HIDE_ALL_GRIDLINES);
    worksheet_print_area(ws, 0, 0, static_cast<lxw_row_t>(dry.rows() - 1), C12);

    Form form(in, ws, &formats, anchors);
    form.write();
    if (!(form.anchors() == anchors) || form.rows() != dry.rows()) throw Error("Локальный сметный расчет: внутренняя ошибка раскладки");

    lxw_workbook* wb = guard.wb;
    guard.wb = nullptr;
    errno = 0;
    const lxw_error closed = workbook_close(wb);
    if (closed != LXW_NO_ERROR) {
        const int err = errno;
        if (err != 0) xls::writeFailed(shownAs, err, "книгу");
        throw Error("Не удалось записать книгу «" + shownAs.string() + "»: " + lxw_strerror(closed));
    }
}

}  // namespace

void writeLsrWorkbook(const FormInput& in, const std::filesystem::path& file) { writeForm(in, file, file); }

std::filesystem::path exportLsrToFile(const FormInput& in, const std::filesystem::path& outPath, bool keepExisting) {
    return xls::writeFileAtomically(
        outPath, [&](const std::filesystem::path& tmp) { writeForm(in, tmp, outPath); }, keepExisting);
}

std::filesystem::path lsrPathFor(std::string_view estimateName, const std::filesystem::path& dir) {
    return dir / (safeFileName(estimateName) + " ЛСР.xlsx");
}

xls::WorkbookPlace lsrPlaceFor(const std::filesystem::path& estimateTable) {
    // the template workbook's place, under the form's name
    xls::WorkbookPlace place = xls::workbookPlaceFor(estimateTable);
    place.path = lsrPathFor(estimateTable.stem().string(), place.path.parent_path());
    return place;
}

}  // namespace talvira::lsr
