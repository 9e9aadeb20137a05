// The form's plan: the section's totals, the totals by type of work with their indices, the
// estimate's total and the reference lines, all summed over the positions by their hidden keys.
#include "export/LsrPlanner.h"

#include "export/CellAddress.h"

#include <array>

namespace talvira::lsr::detail {

using model::WorkType;
using model::WorkTypeTotals;
using sheet::a1;

namespace {

// How the totals of a type of work are captioned, in WorkType's order.
constexpr std::array<const char*, model::kWorkTypes> kTypeTotal = {
    "ВСЕГО строительные работы", "ВСЕГО монтажные работы", "ВСЕГО пусконаладочные работы", "ВСЕГО оборудование",
    "ВСЕГО прочие затраты"};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Sums over the positions
// ---------------------------------------------------------------------------------------------

std::string Planner::keyRange(int col) const { return a1(bodyFirst_, col, true) + ":" + a1(bodyLast_, col, true); }

std::string Planner::sumOf(int col, Element element, std::optional<WorkType> type) const {
    if (bodyLast_ < bodyFirst_) return "0";
    const std::string range = a1(bodyFirst_, col) + ":" + a1(bodyLast_, col);
    const std::string key = "\"" + std::string(elementKey(element)) + "\"";
    if (!type) return "SUMIF(" + keyRange(KeyElement) + "," + key + "," + range + ")";
    return "SUMIFS(" + range + "," + keyRange(KeyElement) + "," + key + "," + keyRange(KeyType) + "," +
           std::to_string(typeKey(*type)) + ")";
}

Amount Planner::summed(Element element, std::optional<WorkType> type, Money base, bool withCurrent, Money current) const {
    Amount a;
    a.base = round2(sumOf(C10, element, type));
    a.baseValue = base;
    if (withCurrent) {
        a.current = round2(sumOf(C12, element, type));
        a.currentValue = current;
    }
    return a;
}

Amount Planner::added(const std::vector<int>& rows, Money base, bool withCurrent, Money current) const {
    std::vector<std::string> b, c;
    for (int r : rows) b.push_back(a1(r, C10)), c.push_back(a1(r, C12));
    Amount a;
    a.base = round2(joined(b));
    a.baseValue = base;
    if (withCurrent) {
        a.current = round2(joined(c));
        a.currentValue = current;
    }
    return a;
}

int Planner::fillAmount(int r, const std::string& label, const Amount& a, bool bold) {
    plan_.text(r, C3, label, bold ? s_.bold : s_.text);
    const sheet::StyleId money = bold ? s_.moneyBold : s_.money;
    plan_.formula(r, C10, a.base, a.baseValue, money);
    if (a.index) plan_.number(r, C11, *a.index, s_.coefficient);
    if (a.current) plan_.formula(r, C12, *a.current, a.currentValue, money);
    return r;
}

// ---------------------------------------------------------------------------------------------
// The totals, top to bottom
// ---------------------------------------------------------------------------------------------

void Planner::totals() {
    const SectionRows sectionRows = section();
    line(LineKind::Blank);
    plan_.text(line(LineKind::Heading), C3, "ИТОГИ ПО СМЕТЕ:", s_.bold);
    std::vector<TypeRows> types;
    for (const WorkTypeTotals& t : in_.result.workTypes) types.push_back(typeBlock(t));
    // the section's ЭМ and М in current prices are the types', now laid below it
    sectionCurrent(sectionRows);
    estimateLines(types);
    reference();
}

SectionRows Planner::section() {
    const model::BaseIndexResult& r = in_.result;
    const model::Elements& b = r.total.base;
    const model::Elements& c = r.total.current;
    const bool cur = r.currentComplete;
    const bool indexed = in_.params.indexOt.has_value() && cur;
    const WorkTypeTotals* eqTotals = typeTotals(WorkType::Equipment);
    const model::Elements noEq{};
    const model::Elements& eqB = eqTotals ? eqTotals->base : noEq;
    const model::Elements& eqC = eqTotals ? eqTotals->current : noEq;

    line(LineKind::Blank);
    SectionRows rows;
    const int pz = line(LineKind::Amount);  // ОТ + ЭМ + М, the lines below it
    const int ot = amountLine("в том числе: оплата труда (ОТ)", summed(Element::Ot, {}, b.ot, indexed, c.ot), false);
    rows.em = amountLine("эксплуатация машин и механизмов", summed(Element::Em, {}, b.em, false, {}), false);
    amountLine("в том числе: оплата труда машинистов (ОТм)", summed(Element::Otm, {}, b.otm, indexed, c.otm), false);
    rows.m = amountLine("материальные ресурсы", summed(Element::M, {}, b.m - eqB.m, false, {}), false);
    fillAmount(pz, "Итого прямые затраты по Разделу 1", added({ot, rows.em, rows.m}, b.pz - eqB.m, cur, c.pz - eqC.m), false);
    amountLine("Итого ФОТ", summed(Element::Fot, {}, b.fot, indexed, c.fot), false);
    const int nr = amountLine("Итого накладные расходы", summed(Element::Nr, {}, b.nr, indexed, c.nr), false);
    const int sp = amountLine("Итого сметная прибыль", summed(Element::Sp, {}, b.sp, indexed, c.sp), false);
    if (eqTotals) rows.eq = amountLine("Итого оборудование", summed(Element::Eq, {}, eqB.m, false, {}), false);

    std::vector<int> parts{pz, nr, sp};
    if (rows.eq >= 0) parts.push_back(rows.eq);
    name(Anchor::SectionTotal, amountLine("Итого по Разделу 1", added(parts, b.total, cur, c.total), true));
    return rows;
}

void Planner::sectionCurrent(const SectionRows& rows) {
    const model::BaseIndexResult& r = in_.result;
    if (!r.currentComplete) return;
    std::vector<std::string> em, m;
    for (const WorkTypeTotals& t : r.workTypes) {
        em.push_back(a1(row(Anchor::TypeEm, t.type), C12));
        if (t.type != WorkType::Equipment) m.push_back(a1(row(Anchor::TypeM, t.type), C12));
    }
    const WorkTypeTotals* eq = typeTotals(WorkType::Equipment);
    const Money eqCurrent = eq ? eq->current.m : Money{};
    plan_.formula(rows.em, C12, round2(joined(em)), r.total.current.em, s_.money);
    plan_.formula(rows.m, C12, round2(joined(m)), r.total.current.m - eqCurrent, s_.money);
    if (rows.eq >= 0) plan_.formula(rows.eq, C12, a1(row(Anchor::TypeM, WorkType::Equipment), C12), eqCurrent, s_.money);
}

TypeRows Planner::typeBlock(const WorkTypeTotals& t) {
    const bool cur = t.currentDefined;
    const bool eq = t.type == WorkType::Equipment;
    plan_.text(line(LineKind::Heading), C3, kTypeTotal[static_cast<size_t>(t.type)], s_.bold);
    TypeRows rows;
    rows.pz = line(LineKind::Amount);  // ОТ + ЭМ + М, the lines below it
    rows.ot = amountLine("в том числе: оплата труда (ОТ)", summed(Element::Ot, t.type, t.base.ot, cur, t.current.ot), false);
    // ЭМ and М of a type of work are indexed on its own line: base × index
    // (what goes apart: Д by the index of wages, positions and lines with their own index)
    auto indexed = [&](int r, Element element, Money base, const std::optional<Dec7>& index, Money current) {
        Amount a;
        a.base = round2(sumOf(C10, element, t.type));
        a.baseValue = base;
        a.index = index;
        if (cur) {
            const bool em = element == Element::Em;
            const Money apart = em ? t.emApart : t.mApart, apartCurrent = em ? t.emApartCurrent : t.mApartCurrent;
            a.current = apart.isZero() ? round2(a1(r, C10) + "*" + a1(r, C11))
                                       : round2("(" + a1(r, C10) + "-" + apart.text() + ")*" + a1(r, C11)) + "+" +
                                             apartCurrent.text();
            a.currentValue = current;
        }
        return a;
    };
    rows.em = line(LineKind::Amount);
    fillAmount(rows.em, "эксплуатация машин и механизмов", indexed(rows.em, Element::Em, t.base.em, t.indexEm, t.current.em),
               false);
    rows.otm = amountLine("в том числе: оплата труда машинистов (ОТм)",
                          summed(Element::Otm, t.type, t.base.otm, cur, t.current.otm), false);
    rows.m = line(LineKind::Amount);
    fillAmount(rows.m, eq ? "оборудование" : "материальные ресурсы",
               indexed(rows.m, eq ? Element::Eq : Element::M, t.base.m, t.indexM, t.current.m), false);
    name(Anchor::TypeEm, rows.em, t.type);
    name(Anchor::TypeM, rows.m, t.type);

    fillAmount(rows.pz, "Всего прямые затраты", added({rows.ot, rows.em, rows.m}, t.base.pz, cur, t.current.pz), false);
    rows.fot = amountLine("Всего ФОТ (справочно)", summed(Element::Fot, t.type, t.base.fot, cur, t.current.fot), false);
    rows.nr = amountLine("Всего накладные расходы", summed(Element::Nr, t.type, t.base.nr, cur, t.current.nr), false);
    rows.sp = amountLine("Всего сметная прибыль", summed(Element::Sp, t.type, t.base.sp, cur, t.current.sp), false);
    rows.total = amountLine(kTypeTotal[static_cast<size_t>(t.type)],
                            added({rows.pz, rows.nr, rows.sp}, t.base.total, cur, t.current.total), true);
    name(Anchor::TypeTotal, rows.total, t.type);
    return rows;
}

void Planner::estimateLines(const std::vector<TypeRows>& types) {
    // ВСЕГО по смете: the types' lines added up
    const model::BaseIndexResult& r = in_.result;
    const model::Elements& b = r.total.base;
    const model::Elements& c = r.total.current;
    auto across = [&](int TypeRows::*which, int col) {
        std::vector<std::string> cells;
        for (const TypeRows& t : types) cells.push_back(a1(t.*which, col));
        return round2(joined(cells));
    };
    auto estimateLine = [&](const char* label, int TypeRows::*which, Money base, Money current, bool bold) {
        Amount a;
        a.base = across(which, C10);
        a.baseValue = base;
        if (r.currentComplete) {
            a.current = across(which, C12);
            a.currentValue = current;
        }
        return amountLine(label, a, bold);
    };
    line(LineKind::Blank);
    estimateLine("Всего прямые затраты", &TypeRows::pz, b.pz, c.pz, false);
    name(Anchor::TotalOt, estimateLine("в том числе: оплата труда (ОТ)", &TypeRows::ot, b.ot, c.ot, false));
    estimateLine("эксплуатация машин и механизмов", &TypeRows::em, b.em, c.em, false);
    estimateLine("в том числе: оплата труда машинистов (ОТм)", &TypeRows::otm, b.otm, c.otm, false);
    estimateLine("материальные ресурсы и оборудование", &TypeRows::m, b.m, c.m, false);
    estimateLine("Всего ФОТ (справочно)", &TypeRows::fot, b.fot, c.fot, false);
    estimateLine("Всего накладные расходы", &TypeRows::nr, b.nr, c.nr, false);
    estimateLine("Всего сметная прибыль", &TypeRows::sp, b.sp, c.sp, false);
    name(Anchor::Total, estimateLine("ВСЕГО по смете", &TypeRows::total, b.total, c.total, true));
}

void Planner::reference() {
    // Справочно: labour of the positions, summed at seven decimals
    plan_.text(line(LineKind::Heading), C3, "Справочно", s_.bold);
    auto labourLine = [&](const char* label, Element key, Dec7 value) {
        const int r = line(LineKind::Amount);
        plan_.text(r, C3, label, s_.text);
        const std::string e = bodyLast_ < bodyFirst_
                                  ? "0"
                                  : "SUMIF(" + keyRange(KeyElement) + ",\"" + std::string(elementKey(key)) + "\"," +
                                        a1(bodyFirst_, C7) + ":" + a1(bodyLast_, C7) + ")";
        plan_.formula(r, C10, round7(e), value, s_.labour);
        return r;
    };
    name(Anchor::LabourWorkers, labourLine("затраты труда рабочих, чел.-ч", Element::Zt, in_.result.total.base.zt));
    name(Anchor::LabourMachinists,
         labourLine("затраты труда машинистов, чел.-ч", Element::Ztm, in_.result.total.base.ztm));
}

}  // namespace talvira::lsr::detail
