// The form's plan: the shared helpers, the looks and the page, the approval blocks, the header
// block, the table's head and the signatures. The positions are planned in LsrPlanBody.cpp, the
// totals in LsrPlanTotals.cpp.
#include "export/LsrPlanner.h"

#include "export/CellAddress.h"

#include <array>

namespace talvira::lsr {

namespace detail {

using model::WorkType;
using sheet::a1;

// ---------------------------------------------------------------------------------------------
// Shared helpers
// ---------------------------------------------------------------------------------------------

std::string round2(const std::string& e) { return "ROUND(" + e + ",2)"; }
std::string round7(const std::string& e) { return "ROUND(" + e + ",7)"; }

std::string joined(const std::vector<std::string>& terms) {
    if (terms.empty()) return "0";
    std::string s = terms.front();
    for (size_t i = 1; i < terms.size(); ++i) s += "+" + terms[i];
    return s;
}

Dec7 thousands(Money m) { return Dec7::fromUnits(rescale(m.kopecks(), kMoneyPlaces + 3, kDec7Places)); }

int typeKey(WorkType t) { return static_cast<int>(t) + 1; }

void Planner::keys(int r, Element e, WorkType t) {
    plan_.text(r, KeyElement, elementKey(e), s_.key);
    plan_.number(r, KeyType, Dec7::fromInt(typeKey(t)), s_.key);
}

const model::WorkTypeTotals* Planner::typeTotals(WorkType t) const {
    for (const model::WorkTypeTotals& w : in_.result.workTypes)
        if (w.type == t) return &w;
    return nullptr;
}

// ---------------------------------------------------------------------------------------------
// The looks, the columns, the page
// ---------------------------------------------------------------------------------------------

namespace {

constexpr const char* kMoney = "#,##0.00";
constexpr const char* kQuantity = "#,##0.00#####";
// Labour is summed at seven decimals and shown, as the form prints it, to two.
constexpr const char* kLabour = "#,##0.00";

Styles makeStyles(sheet::SheetPlan& p) {
    using sheet::Style;
    Styles s;
    s.text = p.style({});
    s.textTop = p.style({.top = true});
    s.bold = p.style({.bold = true});
    s.boldTop = p.style({.bold = true, .top = true});
    s.boldWrap = p.style({.bold = true, .wrap = true});
    s.name = p.style({.wrap = true});
    s.code = s.name;
    s.money = p.style({.numFormat = kMoney});
    s.moneyTop = p.style({.top = true, .numFormat = kMoney});
    s.moneyBold = p.style({.bold = true, .numFormat = kMoney});
    s.moneyBoldTop = p.style({.bold = true, .top = true, .numFormat = kMoney});
    s.quantity = p.style({.numFormat = kQuantity});
    s.coefficient = p.style({});  // General: the sheet shows what it multiplies, every decimal
    s.labour = p.style({.numFormat = kLabour});
    s.number = p.style({.numFormat = "0", .align = Style::Align::Center});
    s.title = p.style({.bold = true, .align = Style::Align::Center, .size = 12});
    s.caption = p.style({.italic = true, .align = Style::Align::Center, .size = 8});
    s.value = p.style({.bottom = true});
    s.head = p.style({.wrap = true, .boxed = true, .align = Style::Align::Center, .valign = Style::VAlign::Center});
    s.headNumber = p.style({.boxed = true, .align = Style::Align::Center});
    s.italic = p.style({.italic = true});
    s.thousands = p.style({.numFormat = kMoney});
    s.thousandsBase = p.style({.numFormat = "\\(#,##0.00\\)"});
    s.key = s.text;
    return s;
}

}  // namespace

Planner::Planner(const FormInput& in) : in_(in) {
    plan_.title = "Локальный сметный расчет (смета) № " + in.facts.number;
    plan_.sheetName = "ЛСР";
    plan_.fontName = "Times New Roman";
    // Widths of the form's columns (pixels); the keys hidden.
    constexpr std::array<double, 12> widths = {56, 110, 450, 80, 92, 92, 92, 120, 120, 120, 100, 100};
    for (double w : widths) plan_.columns.push_back({w, false});
    plan_.columns.push_back({75, true});
    plan_.columns.push_back({75, true});
    plan_.page = sheet::Page::formLandscape(C12 + 1);
    s_ = makeStyles(plan_);
    // Room for every line a position can take (no more than this is touched).
    size_t lines = 200;
    for (const model::PositionResult& p : in.result.positions) lines += 14 + p.coefficients.size() + p.materials.size();
    plan_.reserve(lines, lines * 10);
}

sheet::SheetPlan Planner::take() {
    approvals();
    header();
    head();
    body();
    totals();
    signatures();
    // the header's amounts refer to the totals, now laid
    headerAmounts();
    plan_.finish();
    return std::move(plan_);
}

// ---------------------------------------------------------------------------------------------
// The approval blocks and the header
// ---------------------------------------------------------------------------------------------

namespace {

/** «Генеральный директор Петров П. П.»: the post as typed, without its trailing blanks, and the name. */
std::string signer(std::string post, const std::string& name) {
    while (!post.empty() && post.back() == ' ') post.pop_back();
    if (!name.empty()) post += (post.empty() ? "" : " ") + name;
    return post;
}

}  // namespace

void Planner::approvals() {
    // The estimate's title block: the contractor agrees (left), the customer approves (right).
    const model::EstimateTexts& t = in_.texts;
    const std::array<std::pair<int, int>, 2> blocks = {{{C1, C5}, {C8, C12}}};
    const int captions = line(LineKind::Approval);
    plan_.text(captions, C1, "СОГЛАСОВАНО:", s_.bold);
    plan_.text(captions, C8, "УТВЕРЖДАЮ:", s_.bold);
    const int names = line(LineKind::Approval);
    const std::array<std::string, 2> who = {signer(t.contractorPost, t.contractorName),
                                            signer(t.approverPost, t.approverName)};
    for (size_t i = 0; i < blocks.size(); ++i) {
        const auto [from, to] = blocks[i];
        for (int c = from + 1; c <= to; ++c) plan_.blank(names, c, s_.value);
        if (who[i].empty()) plan_.blank(names, from, s_.value);
        else plan_.text(names, from, who[i], s_.value);
    }
    const int dates = line(LineKind::Approval);
    for (const auto& [from, to] : blocks) plan_.text(dates, from, "«____» ______________ 20___ г.", s_.text);
    line(LineKind::Blank);
}

void Planner::labelled(const std::string& label, const std::string& value) {
    // a long label wraps within columns 1…3, its row as tall as its lines
    const int r = line(LineKind::Label);
    plan_.merge(r, C1, r, C3, label, s_.name);
    plan_.fill(r, C4, C12, s_.value);
    plan_.text(r, C4, value, s_.value);
}

void Planner::valueLine(const std::string& label, const std::string& value, const char* caption, int from) {
    const int r = line(LineKind::Value);
    plan_.text(r, C1, label, s_.text);
    plan_.fill(r, from, C12, s_.value);
    plan_.text(r, from, value, s_.value);
    const int rc = line(LineKind::Caption);
    plan_.merge(rc, from, rc, C12, caption, s_.caption);
}

void Planner::header() {
    const FormFacts& facts = in_.facts;
    const model::EstimateParams& p = in_.params;
    const auto& labels = headerLabels();
    std::string orders;
    for (const std::string& o : facts.orders) orders += (orders.empty() ? "" : "; ") + o;
    const std::array<std::string, 7> values = {facts.program, facts.edition, orders, p.letter, {}, p.region, {}};
    for (size_t i = 0; i < values.size(); ++i) labelled(labels[i], values[i]);
    line(LineKind::Blank);
    valueLine({}, facts.construction, "(наименование стройки)", C1);
    valueLine({}, facts.object, "(наименование объекта капитального строительства)", C1);
    line(LineKind::Blank);
    const int title = line(LineKind::Title);
    plan_.merge(title, C1, title, C12, "ЛОКАЛЬНЫЙ СМЕТНЫЙ РАСЧЕТ (СМЕТА) № " + facts.number, s_.title);
    line(LineKind::Blank);
    valueLine({}, facts.worksName, "(наименование работ и затрат)", C1);
    plan_.text(line(LineKind::Text), C1, "Составлен базисно-индексным методом", s_.text);
    valueLine("Основание", facts.basis, "(проектная и (или) иная техническая документация)", C3);
    std::string level = p.level;
    if (!p.baseLevel.empty()) level += (level.empty() ? "(" : " (") + p.baseLevel + ")";
    labelled("Составлен(а) в текущем (базисном) уровне цен", level);
    line(LineKind::Blank);
    headerAmountLines();
    line(LineKind::Blank);
}

// ---------------------------------------------------------------------------------------------
// The header's amounts: two blocks side by side, in thousands, current (base)
// ---------------------------------------------------------------------------------------------

namespace {

struct LeftLine {
    const char* label;
    std::vector<WorkType> types;  // the types of work it adds up
};
const std::array<LeftLine, 6> kLeft = {{
    {"Сметная стоимость", {}},
    {"в том числе:", {}},
    {"строительных работ", {WorkType::Construction}},
    {"монтажных работ", {WorkType::Mounting}},
    {"оборудования", {WorkType::Equipment}},
    {"прочих затрат", {WorkType::Commissioning, WorkType::Other}},
}};

}  // namespace

void Planner::headerAmountLines() {
    for (size_t i = 0; i < kLeft.size(); ++i) {
        const int r = line(LineKind::HeaderAmount);
        amountRows_[i] = r;
        plan_.text(r, C1, kLeft[i].label, i == 0 ? s_.bold : (i == 1 ? s_.italic : s_.text));
        if (i != 1) plan_.text(r, C6, "тыс. руб.", s_.text);
    }
    plan_.text(amountRows_[0], C7, "Средства на оплату труда рабочих", s_.text);
    plan_.text(amountRows_[0], C12, "тыс. руб.", s_.text);
    plan_.text(amountRows_[1], C7, "Нормативные затраты труда рабочих", s_.text);
    plan_.text(amountRows_[1], C12, "чел.-ч", s_.text);
    plan_.text(amountRows_[2], C7, "Нормативные затраты труда машинистов", s_.text);
    plan_.text(amountRows_[2], C12, "чел.-ч", s_.text);
}

void Planner::headerAmounts() {
    const model::BaseIndexResult& r = in_.result;
    const bool cur = r.currentComplete;
    const int total = row(Anchor::Total);
    if (cur) plan_.formula(amountRows_[0], C4, a1(total, C12) + "/1000", thousands(r.total.current.total), s_.thousands);
    plan_.formula(amountRows_[0], C5, a1(total, C10) + "/1000", thousands(r.total.base.total), s_.thousandsBase);
    for (size_t i = 2; i < kLeft.size(); ++i) {
        // one total per type: «прочих затрат» adds two
        std::vector<std::string> curTerms, baseTerms;
        Money curSum, baseSum;
        for (WorkType type : kLeft[i].types) {
            const model::WorkTypeTotals* w = typeTotals(type);
            if (!w) continue;
            const int a = row(Anchor::TypeTotal, type);
            curTerms.push_back(a1(a, C12));
            baseTerms.push_back(a1(a, C10));
            curSum += w->current.total;
            baseSum += w->base.total;
        }
        const int at = amountRows_[i];
        if (cur) plan_.formula(at, C4, "(" + joined(curTerms) + ")/1000", thousands(curSum), s_.thousands);
        plan_.formula(at, C5, "(" + joined(baseTerms) + ")/1000", thousands(baseSum), s_.thousandsBase);
    }
    const int ot = row(Anchor::TotalOt);
    if (cur) plan_.formula(amountRows_[0], C10, a1(ot, C12) + "/1000", thousands(r.total.current.ot), s_.thousands);
    plan_.formula(amountRows_[0], C11, a1(ot, C10) + "/1000", thousands(r.total.base.ot), s_.thousandsBase);
    plan_.formula(amountRows_[1], C10, a1(row(Anchor::LabourWorkers), C10), r.total.base.zt, s_.labour);
    plan_.formula(amountRows_[2], C10, a1(row(Anchor::LabourMachinists), C10), r.total.base.ztm, s_.labour);
}

// ---------------------------------------------------------------------------------------------
// The table's head: three rows repeated on every printed page
// ---------------------------------------------------------------------------------------------

void Planner::head() {
    // the first head row carries the long wrapped captions
    const int r1 = line(LineKind::Head, 54), r2 = line(LineKind::Head, 42), r3 = line(LineKind::Head);
    name(Anchor::Head, r1);
    plan_.page.repeatFrom = r1;
    plan_.page.repeatTo = r3;
    const std::array<std::pair<int, const char*>, 6> tall = {{
        {C1, "№ п/п"}, {C2, "Обоснование"}, {C3, "Наименование работ и затрат"}, {C4, "Единица измерения"},
        {C11, "Индексы"}, {C12, "Сметная стоимость в текущем уровне цен, руб."},
    }};
    for (const auto& [c, caption] : tall) plan_.merge(r1, c, r2, c, caption, s_.head);
    plan_.merge(r1, C5, r1, C7, "Количество", s_.head);
    plan_.merge(r1, C8, r1, C10,
                "Сметная стоимость в базисном уровне цен (в текущем уровне цен (гр. 8) для ресурсов, "
                "отсутствующих в ФРСН), руб.",
                s_.head);
    const std::array<const char*, 6> sub = {"на единицу измерения", "коэффициенты", "всего с учетом коэффициентов",
                                            "на единицу измерения", "коэффициенты", "всего"};
    for (int c = C5; c <= C10; ++c) plan_.text(r2, c, sub[static_cast<size_t>(c - C5)], s_.head);
    for (int c = C1; c <= C12; ++c) plan_.number(r3, c, Dec7::fromInt(c + 1), s_.headNumber);
}

// ---------------------------------------------------------------------------------------------
// The signatures
// ---------------------------------------------------------------------------------------------

void Planner::signatures() {
    // Who made the estimate and who checked it sign by hand: the title block names those who
    // agree and approve it, printed above.
    for (const char* who : {"Составил", "Проверил"}) {
        line(LineKind::Blank);
        const int r = line(LineKind::Signature);
        plan_.text(r, C2, who, s_.text);
        plan_.fill(r, C3, C6, s_.value);
        const int rc = line(LineKind::Caption);
        plan_.merge(rc, C3, rc, C6, "[должность, подпись (инициалы, фамилия)]", s_.caption);
    }
}

}  // namespace detail

// ---------------------------------------------------------------------------------------------
// Public interface
// ---------------------------------------------------------------------------------------------

std::string_view elementKey(Element e) {
    static constexpr std::array<std::string_view, 10> kKeys = {"ОТ", "ЭМ", "ОТМ", "М", "ОБ",
                                                               "ФОТ", "НР", "СП", "ЗТ", "ЗТМ"};
    return kKeys[static_cast<size_t>(e)];
}

std::string anchorName(Anchor a, model::WorkType type) {
    static constexpr std::array<std::string_view, model::kWorkTypes> kTypes = {
        "строительные работы", "монтажные работы", "пусконаладочные работы", "оборудование", "прочие затраты"};
    const std::string t(kTypes[static_cast<size_t>(type)]);
    switch (a) {
    case Anchor::Head: return "шапка таблицы";
    case Anchor::Body: return "первая строка позиций";
    case Anchor::SectionTotal: return "Итого по Разделу 1";
    case Anchor::Total: return "ВСЕГО по смете";
    case Anchor::TotalOt: return "ВСЕГО по смете: ОТ";
    case Anchor::LabourWorkers: return "Справочно: ЗТ";
    case Anchor::LabourMachinists: return "Справочно: ЗТМ";
    case Anchor::TypeTotal: return "ВСЕГО " + t;
    case Anchor::TypeEm: return "ВСЕГО " + t + ": ЭМ";
    case Anchor::TypeM: return "ВСЕГО " + t + ": М";
    }
    return {};
}

sheet::SheetPlan planLsr(const FormInput& in) { return detail::Planner(in).take(); }

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

}  // namespace talvira::lsr
