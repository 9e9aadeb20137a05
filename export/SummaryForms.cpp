// The summary and object estimates' printed forms as sheet plans: the form's columns 1–8 in A…H,
// each row's rubles in the hidden I…M that every formula works on.
#include "export/SummaryForms.h"

#include "common/Error.h"
#include "export/CellAddress.h"

#include <array>
#include <set>

namespace talvira::ssr {

using model::CostColumn;
using model::CostColumns;
using model::LineKind;
using sheet::a1;
using sheet::SheetPlan;
using sheet::Style;
using sheet::StyleId;

namespace {

// ---------------------------------------------------------------------------------------------
// Looks, columns, page
// ---------------------------------------------------------------------------------------------

// Zero shown as a dash, as the forms print it.
constexpr const char* kMoney = "#,##0.00;-#,##0.00;\"–\"";

struct Styles {
    StyleId text, bold, wrap, boldWrap, number, title, caption, value, valueCenter, head, headNumber, heading, money,
        moneyBold, moneyValue, totalText, totalMoney, rubles;
};

Styles makeStyles(SheetPlan& p) {
    Styles s;
    s.text = p.style({});
    s.bold = p.style({.bold = true});
    s.wrap = p.style({.wrap = true});
    s.boldWrap = p.style({.bold = true, .wrap = true});
    s.number = p.style({.numFormat = "0", .align = Style::Align::Center});
    s.title = p.style({.bold = true, .wrap = true, .align = Style::Align::Center, .size = 12});
    s.caption = p.style({.italic = true, .align = Style::Align::Center, .size = 8});
    s.value = p.style({.bottom = true});
    s.valueCenter = p.style({.wrap = true, .bottom = true, .align = Style::Align::Center});
    s.head = p.style({.wrap = true, .boxed = true, .align = Style::Align::Center, .valign = Style::VAlign::Center});
    s.headNumber = p.style({.boxed = true, .align = Style::Align::Center});
    s.heading = p.style({.bold = true, .wrap = true, .top = true, .bottom = true, .align = Style::Align::Center});
    s.money = p.style({.numFormat = kMoney});
    s.moneyBold = p.style({.bold = true, .numFormat = kMoney});
    s.moneyValue = p.style({.bold = true, .bottom = true, .numFormat = kMoney, .align = Style::Align::Center});
    s.totalText = p.style({.bold = true, .wrap = true, .top = true, .bottom = true});
    s.totalMoney = p.style({.bold = true, .top = true, .bottom = true, .numFormat = kMoney});
    s.rubles = p.style({.numFormat = "0.00"});
    return s;
}

/** The exact thousands a printed figure shows: r(kopecks / 100 000). */
Dec7 printed(Money m) { return Dec7::fromUnits(model::thousandths(m) * 100'000); }

std::string join(const std::vector<std::string>& terms) {
    if (terms.empty()) return "0";
    std::string out;
    for (const std::string& t : terms) out += (out.empty() ? "" : "+") + t;
    return out;
}

/** «Временные здания и сооружения 1,8 %» (the percent added unless the name gives one). */
std::string percentName(const model::SummaryLine& line, const std::string& name) {
    return name.find('%') == std::string::npos ? name + " " + line.percent.text(',') + " %" : name;
}

/** The common part of both forms: the plan, its looks and how a money row is laid. */
class Form {
public:
    Form(const std::string& title, const std::string& sheetName) {
        plan_.title = title;
        plan_.sheetName = sheetName;
        plan_.fontName = "Times New Roman";
        // гр. 1 about 6 characters, 2 about 18, 3 about 50, 4–8 about 14 each; the rubles hidden
        constexpr std::array<double, 8> widths = {47, 131, 355, 103, 103, 103, 103, 103};
        for (double w : widths) plan_.columns.push_back({w, false});
        for (int i = 0; i < 5; ++i) plan_.columns.push_back({90, true});
        plan_.page = sheet::Page::formLandscape(C8 + 1);
        s_ = makeStyles(plan_);
    }

    SheetPlan take() {
        plan_.finish();
        return std::move(plan_);
    }

protected:
    /** A line of text over `from`…`to`. */
    int textLine(const std::string& text, StyleId style, int from = C1, int to = C8, uint16_t kind = Header) {
        const int r = plan_.addLine(kind, heightFor(text, from, to, style));
        plan_.merge(r, from, r, to, text, style);
        return r;
    }

    /** The height a wrapped text over `from`…`to` needs (0: one line will do). */
    double heightFor(const std::string& text, int from, int to, StyleId style) {
        const double size = plan_.styles()[style].size;
        const int lines = sheet::wrappedLines(text, plan_.pixels(from, to), size);
        return lines > 1 ? lines * sheet::lineHeight(size) : 0;
    }

    /** «label ___ value» with its caption below the value. */
    void labelled(const std::string& label, const std::string& value, const char* caption) {
        const int r = plan_.addLine(Header);
        plan_.text(r, C1, label, s_.text);
        plan_.merge(r, C3, r, C5, value, s_.value);
        if (caption) {
            const int c = plan_.addLine(Header);
            plan_.merge(c, C3, c, C5, caption, s_.caption);
        }
    }

    /** A value over the whole width with its caption below («(наименование стройки)»). */
    void captioned(const std::string& value, const char* caption) {
        textLine(value, s_.valueCenter);
        textLine(caption, s_.caption);
    }

    /** The table's head: гр. 1–3 over two rows, «Сметная стоимость, тыс. руб.» over 4–8, the
     *  numbers 1…8; repeated on every page. */
    void head(const char* nameHead) {
        const int r1 = plan_.addLine(Head), r2 = plan_.addLine(Head, 64), r3 = plan_.addLine(Head);
        plan_.merge(r1, C1, r2, C1, "№ п.п.", s_.head);
        plan_.merge(r1, C2, r2, C2, "Обоснование", s_.head);
        plan_.merge(r1, C3, r2, C3, nameHead, s_.head);
        plan_.merge(r1, C4, r1, C8, "Сметная стоимость, тыс. руб.", s_.head);
        const char* money[] = {"строительных (ремонтно-строительных, ремонтно-реставрационных) работ", "монтажных работ",
                               "оборудования (мебели, инвентаря)", "прочих затрат", "всего"};
        for (int c = C4; c <= C8; ++c) plan_.text(r2, c, money[c - C4], s_.head);
        for (int c = C1; c <= C8; ++c) plan_.number(r3, c, Dec7::fromInt(c + 1), s_.headNumber);
        plan_.page.repeatFrom = r1;
        plan_.page.repeatTo = r3;
    }

    /** The rubles of гр. 4–7 of `r`, each a value or (a non-empty text) a formula carrying it,
     *  гр. 8 their sum; then гр. 4–8 as printed. */
    void money(int r, const std::array<std::string, 4>& formulas, const CostColumns& values, StyleId shown) {
        for (int i = 0; i < model::kCostColumns; ++i) {
            const Money v = values.money[size_t(i)];
            if (formulas[size_t(i)].empty()) plan_.number(r, R4 + i, v, s_.rubles);
            else plan_.formula(r, R4 + i, formulas[size_t(i)], v, s_.rubles);
        }
        plan_.formula(r, R8, "SUM(" + a1(r, R4) + ":" + a1(r, R7) + ")", values.total(), s_.rubles);
        for (int i = 0; i <= model::kCostColumns; ++i) {
            const Money v = i < model::kCostColumns ? values.money[size_t(i)] : values.total();
            plan_.formula(r, C4 + i, "ROUND(" + a1(r, R4 + i) + "/1000,2)", printed(v), shown);
        }
    }

    /** The same with every column a formula made by `of` from the rubles column (R4 … R7). */
    template <class Of>
    void moneyOf(int r, const CostColumns& values, StyleId shown, Of of) {
        std::array<std::string, 4> f;
        for (int i = 0; i < model::kCostColumns; ++i) f[size_t(i)] = of(R4 + i);
        money(r, f, values, shown);
    }

    /** A row of sums: its text in гр. 3 (bold), its rubles `of` the rows given. */
    int sumLine(uint16_t kind, const std::string& text, const std::vector<int>& rows, const CostColumns& values) {
        const int r = plan_.addLine(kind, heightFor(text, C3, C3, s_.boldWrap));
        plan_.text(r, C3, text, s_.boldWrap);
        moneyOf(r, values, s_.moneyBold, [&](int col) {
            std::vector<std::string> terms;
            for (int row : rows) terms.push_back(a1(row, col));
            return join(terms);
        });
        return r;
    }

    /** «label ___ [caption]» of the signatures. */
    void signature(const std::string& label, const char* caption) {
        plan_.addLine(Signature);
        const int r = plan_.addLine(Signature);
        plan_.merge(r, C1, r, C3, label, s_.text);
        plan_.merge(r, C4, r, C6, "", s_.value);
        const int c = plan_.addLine(Signature);
        plan_.merge(c, C4, c, C6, caption, s_.caption);
    }

    SheetPlan plan_;
    Styles s_;
};

// ---------------------------------------------------------------------------------------------
// The summary estimate
// ---------------------------------------------------------------------------------------------

class SsrForm : public Form {
public:
    SsrForm(const model::Construction& c, const model::SummaryResult& r)
        : Form("Сводный сметный расчет стоимости строительства " + c.name, "ССР"), c_(c), r_(r) {}

    SheetPlan plan() {
        header();
        head("Наименование глав, объектов капитального строительства, работ и затрат");
        body();
        signatures();
        plan_.formula(amountRow_, C4, a1(plan_.row("ВСЕГО"), C8), printed(r_.total.total()), s_.moneyValue);
        return take();
    }

private:
    void header() {
        labelled("Заказчик", c_.customer, nullptr);
        labelled("Утвержден", "«___» ____________ 20___ г.", nullptr);
        amountRow_ = plan_.addLine(Header);
        plan_.merge(amountRow_, C1, amountRow_, C3, "Сводный сметный расчет сметной стоимостью", s_.text);
        plan_.text(amountRow_, C5, "тыс. руб.", s_.text);
        labelled("", "", "(ссылка на документ об утверждении)");
        plan_.addLine(Header);
        textLine("СВОДНЫЙ СМЕТНЫЙ РАСЧЕТ СТОИМОСТИ СТРОИТЕЛЬСТВА № ССРСС" + (c_.number.empty() ? "" : "-" + c_.number),
                 s_.title);
        captioned(c_.name, "(наименование)");
        textLine("Составлен в текущем уровне цен " + c_.level, s_.text);
        plan_.addLine(Header);
    }

    /** The subtotals printed: after 7, 8, 9, 12, and any a percentage line is taken of. */
    std::set<int> printedSubtotals() const {
        std::set<int> out = {7, 8, 9, 12};
        for (int n = 1; n <= model::kChapters; ++n)
            for (const model::SummaryLine& l : c_.chapter(n))
                if (l.kind == LineKind::Percent) out.insert(l.base);
        return out;
    }

    void body() {
        const std::set<int> subtotals = printedSubtotals();
        std::vector<int> sinceSubtotal;  // the chapter totals and the subtotal the next subtotal adds
        for (const model::ChapterResult& ch : r_.chapters) {
            const std::vector<model::SummaryLine>& lines = c_.chapter(ch.n);
            if (!lines.empty()) sinceSubtotal.push_back(chapter(ch, lines));
            if (ch.n < model::kFirstSubtotal || !subtotals.count(ch.n)) continue;
            const int r = sumLine(Subtotal, "Итого по главам 1–" + std::to_string(ch.n), sinceSubtotal, r_.subtotal(ch.n));
            plan_.name("итого 1-" + std::to_string(ch.n), r);
            sinceSubtotal = {r};
        }
        const int all = plan_.row("итого 1-12");
        const std::string reservePct = r_.reservePercent.text();
        const int reserve = plan_.addLine(Reserve);
        plan_.text(reserve, C3, "Резерв средств на непредвиденные работы и затраты " + r_.reservePercent.text(',') + " %",
                   s_.wrap);
        moneyOf(reserve, r_.reserve, s_.money,
                [&](int col) { return "ROUND(" + a1(all, col) + "*" + reservePct + "/100,2)"; });
        plan_.name("резерв", reserve);
        const int withReserve = sumLine(WithReserve, "Итого с резервом", {all, reserve}, r_.withReserve);
        plan_.name("с резервом", withReserve);
        const int vat = plan_.addLine(Vat);
        plan_.text(vat, C3, "Налог на добавленную стоимость " + r_.vatRate.text(',') + " %", s_.wrap);
        moneyOf(vat, r_.vat, s_.money, [&](int col) {
            const std::string taxed = exempt_.empty() ? a1(withReserve, col) : a1(withReserve, col) + "-(" + exemptOf(col) + ")";
            return "ROUND((" + taxed + ")*" + r_.vatRate.text() + "/100,2)";
        });
        plan_.name("НДС", vat);
        const int total = plan_.addLine(Total);
        plan_.fill(total, C1, C8, s_.totalText);
        plan_.text(total, C3, "ВСЕГО ПО СВОДНОМУ СМЕТНОМУ РАСЧЕТУ", s_.totalText);
        moneyOf(total, r_.total, s_.totalMoney, [&](int col) { return a1(withReserve, col) + "+" + a1(vat, col); });
        plan_.name("ВСЕГО", total);
    }

    /** A chapter: its heading, lines and total; returns the total's row. */
    int chapter(const model::ChapterResult& ch, const std::vector<model::SummaryLine>& lines) {
        const std::string name = std::string(model::chapterName(ch.n));
        plan_.name("глава " + std::to_string(ch.n), textLine("Глава " + std::to_string(ch.n) + ". " + name, s_.heading,
                                                             C1, C8, Heading));
        std::vector<int> rows;
        for (size_t i = 0; i < lines.size(); ++i) rows.push_back(line(lines[i], ch.lines[i]));
        const int r = sumLine(ChapterTotal, "Итого по главе: " + std::to_string(ch.n) + ". \"" + name + "\"", rows, ch.total);
        plan_.name("итого главы " + std::to_string(ch.n), r);
        return r;
    }

    int line(const model::SummaryLine& line, const model::SummaryLineResult& lr) {
        const std::string name = line.kind == LineKind::Percent ? percentName(line, lr.name) : lr.name;
        const int r = plan_.addLine(Row, std::max(heightFor(name, C3, C3, s_.wrap), heightFor(lr.reason, C2, C2, s_.wrap)));
        plan_.number(r, C1, Dec7::fromInt(lr.num), s_.number);
        plan_.text(r, C2, lr.reason, s_.wrap);
        plan_.text(r, C3, name, s_.wrap);
        if (line.kind == LineKind::Percent) {
            const int base = plan_.row("итого 1-" + std::to_string(line.base));
            const std::string p = line.percent.text();
            std::array<std::string, 4> f;
            if (line.columns & (1u << 8)) {
                f[size_t(CostColumn::Other)] = "ROUND(" + a1(base, R8) + "*" + p + "/100,2)";
            } else {
                for (int g = 4; g <= 7; ++g)
                    if (line.columns & (1u << g)) f[size_t(g - 4)] = "ROUND(" + a1(base, R4 + g - 4) + "*" + p + "/100,2)";
            }
            money(r, f, lr.amounts, s_.money);
        } else {
            money(r, {}, lr.amounts, s_.money);
        }
        plan_.name("строка " + std::to_string(lr.num), r);
        // VAT is charged on the rest: a wholly exempt line by its row, a part of one as it is
        if (!lr.exempt.isZero()) {
            if (lr.exempt == lr.amounts) exempt_.push_back({r, {}});
            else exempt_.push_back({-1, lr.exempt});
        }
        return r;
    }

    std::string exemptOf(int col) const {
        std::vector<std::string> terms;
        for (const auto& [row, part] : exempt_)
            terms.push_back(row >= 0 ? a1(row, col) : part.money[size_t(col - R4)].text());
        return join(terms);
    }

    void signatures() {
        signature("Руководитель проектной организации", "[подпись (инициалы, фамилия)]");
        signature("Главный инженер проекта", "[подпись (инициалы, фамилия)]");
        signature("Начальник ______________ отдела ______________", "[подпись (инициалы, фамилия)]");
        signature("Заказчик", "[должность, подпись (инициалы, фамилия)]");
    }

    const model::Construction& c_;
    const model::SummaryResult& r_;
    int amountRow_ = -1;
    std::vector<std::pair<int, CostColumns>> exempt_;  // exempt rows (-1: a part, given)
};

// ---------------------------------------------------------------------------------------------
// The object estimate
// ---------------------------------------------------------------------------------------------

class OsrForm : public Form {
public:
    OsrForm(const model::Construction& c, const model::SummaryLine& object)
        : Form("Объектный сметный расчет (смета) № ОС-" + object.objectNumber, "ОСР"), c_(c), o_(object) {}

    SheetPlan plan() {
        header();
        head("Наименование локальных сметных расчетов (смет), затрат");
        body();
        signatures();
        plan_.formula(amountRow_, C4, a1(plan_.row("ВСЕГО"), C8), printed(all_.total()), s_.moneyValue);
        return take();
    }

private:
    void header() {
        captioned(c_.name, "(наименование стройки)");
        captioned(o_.name, "(наименование объекта капитального строительства)");
        plan_.addLine(Header);
        textLine("ОБЪЕКТНЫЙ СМЕТНЫЙ РАСЧЕТ (СМЕТА) № ОС-" + o_.objectNumber, s_.title);
        labelled("Основание", "", "(проектная и (или) иная техническая документация)");
        amountRow_ = plan_.addLine(Header);
        plan_.merge(amountRow_, C1, amountRow_, C3, "Сметная стоимость", s_.bold);
        plan_.text(amountRow_, C5, "тыс. руб.", s_.bold);
        const int measure = plan_.addLine(Header);
        plan_.merge(measure, C1, measure, C3, "Расчетный измеритель объекта капитального строительства", s_.text);
        plan_.text(measure, C4, "", s_.value);
        plan_.merge(measure, C5, measure, C6, "", s_.value);
        const int captions = plan_.addLine(Header);
        plan_.text(captions, C4, "(количество)", s_.caption);
        plan_.merge(captions, C5, captions, C6, "(измеритель)", s_.caption);
        const int unit = plan_.addLine(Header, 2 * sheet::lineHeight(10));
        plan_.merge(unit, C1, unit, C3,
                    "Показатель единичной стоимости на расчетный измеритель объекта капитального строительства", s_.wrap);
        plan_.text(unit, C4, "", s_.value);
        plan_.text(unit, C5, "тыс. руб.", s_.text);
        textLine("Составлен в ценах по состоянию на " + c_.level, s_.text);
        plan_.addLine(Header);
    }

    void body() {
        std::vector<int> rows;
        model::Elements works, equipment, other;
        for (size_t i = 0; i < o_.estimates.size(); ++i) {
            const model::LinkedEstimate& e = o_.estimates[i];
            std::string number = o_.objectNumber + "-" + (i + 1 < 10 ? "0" : "") + std::to_string(i + 1);
            const int r = plan_.addLine(Row, heightFor(e.name, C3, C3, s_.wrap));
            plan_.number(r, C1, Dec7::fromInt(int64_t(i) + 1), s_.number);
            plan_.text(r, C2, "ЛС-" + number, s_.wrap);
            plan_.text(r, C3, e.name, s_.wrap);
            money(r, {}, e.amounts, s_.money);
            plan_.name("строка " + std::to_string(i + 1), r);
            rows.push_back(r);
            all_ += e.amounts;
            for (model::WorkType t : {model::WorkType::Construction, model::WorkType::Mounting, model::WorkType::Commissioning}) {
                const model::Elements& d = e.details[size_t(t)];
                for (auto [to, from] : {std::pair{&works.ot, &d.ot}, {&works.em, &d.em}, {&works.otm, &d.otm}, {&works.m, &d.m},
                                        {&works.nr, &d.nr}, {&works.sp, &d.sp}})
                    *to += *from;
            }
            equipment.total += e.details[size_t(model::WorkType::Equipment)].total;
            other.total += e.details[size_t(model::WorkType::Other)].total;
        }
        const int subtotal = sumLine(ChapterTotal, "Итого", rows, all_);
        plan_.name("итого", subtotal);
        const int total = plan_.addLine(Total);
        plan_.fill(total, C1, C8, s_.totalText);
        plan_.text(total, C3, "ВСЕГО", s_.totalText);
        moneyOf(total, all_, s_.totalMoney, [&](int col) { return a1(subtotal, col); });
        plan_.name("ВСЕГО", total);
        // «в том числе» in гр. 8: the elements of cost of the works, then equipment and other costs
        const int of = plan_.addLine(Detail);
        plan_.text(of, C3, "в том числе:", s_.text);
        const std::pair<const char*, Money> parts[] = {
            {"оплата труда рабочих", works.ot}, {"эксплуатация машин и механизмов", works.em},
            {"в том числе оплата труда машинистов", works.otm}, {"материальные ресурсы", works.m},
            {"перевозка", Money()}, {"накладные расходы", works.nr}, {"сметная прибыль", works.sp},
            {"оборудование", equipment.total}, {"прочие затраты", other.total}};
        for (const auto& [label, amount] : parts) {
            const int r = plan_.addLine(Detail);
            plan_.text(r, C3, label, s_.text);
            plan_.number(r, R8, amount, s_.rubles);
            plan_.formula(r, C8, "ROUND(" + a1(r, R8) + "/1000,2)", printed(amount), s_.money);
        }
    }

    void signatures() {
        signature("Главный инженер проекта", "[подпись (инициалы, фамилия)]");
        signature("Начальник ______________ отдела ______________", "[подпись (инициалы, фамилия)]");
        signature("Составил", "[должность, подпись (инициалы, фамилия)]");
        signature("Проверил", "[должность, подпись (инициалы, фамилия)]");
    }

    const model::Construction& c_;
    const model::SummaryLine& o_;
    CostColumns all_;
    int amountRow_ = -1;
};

}  // namespace

SheetPlan planSsr(const model::Construction& c, const model::SummaryResult& r) { return SsrForm(c, r).plan(); }

SheetPlan planOsr(const model::Construction& c, const std::string& objectNumber) {
    for (int n = 1; n <= model::kChapters; ++n)
        for (const model::SummaryLine& line : c.chapter(n))
            if (line.kind == LineKind::Object && line.objectNumber == objectNumber) return OsrForm(c, line).plan();
    throw Error("В сводном сметном расчете нет объекта " + objectNumber);
}

}  // namespace talvira::ssr
