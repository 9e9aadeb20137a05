// The form's plan: the section of positions, each line by line as the computation gave it.
#include "export/LsrPlanner.h"

#include "export/CellAddress.h"

namespace talvira::lsr::detail {

using model::PositionResult;
using model::WorkType;
using sheet::a1;

namespace {

constexpr Dec7 kOne = Dec7::fromInt(1);

Element materialKey(const PositionResult& p) { return p.workType == WorkType::Equipment ? Element::Eq : Element::M; }

/** «ОТ=1,15; ЗТ=1,15;»: what a coefficient acts on, with its value. */
std::string targetsWith(const model::Coefficient& c) {
    std::string s;
    for (unsigned bit = model::OT; bit <= model::ZTM; bit <<= 1)
        if (c.targets & bit) s += (s.empty() ? "" : " ") + model::targetsText(bit) + "=" + decimalText(c.value, kQuantityText, ',') + ";";
    return s;
}

}  // namespace

void Planner::body() {
    const int section = line(LineKind::Section);
    const std::string& works = in_.facts.worksName;
    plan_.merge(section, C1, section, C12, works.empty() ? "Раздел 1." : "Раздел 1. " + works, s_.boldWrap);
    bodyFirst_ = static_cast<int>(plan_.lines().size());
    for (size_t i = 0; i < in_.result.positions.size(); ++i) {
        const PositionResult& p = in_.result.positions[i];
        if (!p.computed) continue;  // in no sum either
        if (p.kind == PositionResult::Kind::Standalone) standalone(p);
        else rate(p, i < in_.chargeTitles.size() ? in_.chargeTitles[i] : std::string());
    }
    bodyLast_ = static_cast<int>(plan_.lines().size()) - 1;
    if (bodyLast_ >= bodyFirst_) name(Anchor::Body, bodyFirst_);
}

int Planner::positionLine(const PositionResult& p) {
    const int r = line(LineKind::Position);
    plan_.number(r, C1, Dec7::fromInt(p.number), s_.number);
    if (const model::PositionRow* row = rowOf(p.row)) {
        plan_.text(r, C2, row->code, s_.code);
        plan_.text(r, C3, row->name, s_.name);
        plan_.text(r, C4, row->unit, s_.text);
    }
    plan_.number(r, C5, p.quantity, s_.quantity);
    plan_.formula(r, C7, a1(r, C5), p.quantity, s_.quantity);
    coefficientLines(p);
    return r;
}

void Planner::coefficientLines(const PositionResult& p) {
    // each with its reason where the code stands, then what it acts on; the products are the
    // coefficients of the cost lines below
    for (const model::Coefficient& c : p.coefficients) {
        const int r = line(LineKind::Coefficient);
        plan_.text(r, C2, c.reason, s_.code);
        plan_.merge(r, C3, r, C12, targetsWith(c), s_.name);
    }
}

/** A norm in column 5 and, unless it is 1, its coefficient in column 6: the product as a
 *  formula's term ("E40*F40"). */
std::string Planner::normTimes(int r, Dec7 norm, Dec7 k) {
    plan_.number(r, C5, norm, s_.quantity);
    std::string e = a1(r, C5);
    if (k != kOne) {
        plan_.number(r, C6, k, s_.coefficient);
        e += "*" + a1(r, C6);
    }
    return e;
}

void Planner::standalone(const PositionResult& p) {
    const int q = positionLine(p);
    // c8 the price per unit, c10 its amount; a coefficient on М in c9
    plan_.number(q, C8, p.m1, s_.money);
    std::string e = a1(q, C7) + "*" + a1(q, C8);
    if (p.kM != kOne) {
        plan_.number(q, C9, p.kM, s_.coefficient);
        e += "*" + a1(q, C9);
    }
    plan_.formula(q, C10, round2(e), p.base.m, s_.money);
    keys(q, materialKey(p), p.workType);
    const int t = line(LineKind::PositionTotal);
    plan_.text(t, C3, "Всего по позиции", s_.boldTop);
    plan_.formula(t, C10, a1(q, C10), p.base.total, s_.moneyBoldTop);
    plan_.fill(t, C1, C12, s_.textTop);
}

void Planner::rate(const PositionResult& p, const std::string& chargeTitle) {
    const int q = positionLine(p);
    // ОТ, ОТм and what follows from them in current prices, by the index of wages
    const bool indexed = p.currentDefined && p.indexOt.has_value();
    // the rate's own materials: М without the materials priced in the estimate
    Money priced;
    for (const model::PricedMaterial& m : p.materials)
        if (m.priced) priced += m.amount;
    const Money mRate = p.base.m - priced;

    const CostRows rows = costLines(p, q, indexed, mRate);
    // unaccounted materials of the rate still without a price: quantities only
    for (const model::PricedMaterial& m : p.materials)
        if (!m.priced) materialLine(m, q, p.quantity, {});
    labourLines(p, q);
    const int rateRow = rateTotal(p, rows, mRate);
    const std::vector<std::string> materials = pricedMaterials(p, q);
    const int fot = fotLine(p, rows, indexed);
    const std::vector<std::string> charged = charges(p, fot, indexed, chargeTitle);

    // Всего по позиции: Итого по расценке + N.x + НР + СП
    const int all = line(LineKind::PositionTotal);
    std::vector<std::string> terms{a1(rateRow, C10)};
    terms.insert(terms.end(), materials.begin(), materials.end());
    terms.insert(terms.end(), charged.begin(), charged.end());
    plan_.text(all, C3, "Всего по позиции", s_.boldTop);
    plan_.formula(all, C10, joined(terms), p.base.total, s_.moneyBoldTop);
    plan_.fill(all, C1, C12, s_.textTop);
}

std::string Planner::extraPay(const PositionResult& p, const CostRows& rows) const {
    // Д = r(Q × ОТМ₁ × (K_ОТ − K_ОТМ)): where ОТ bears the larger coefficient the machinists are
    // paid as the workers are
    if (p.base.otmExtra.isZero() || rows.otm < 0) return {};
    return round2(a1(rows.q, C7) + "*" + a1(rows.otm, C8) + "*" + p.kExtra.text());
}

CostRows Planner::costLines(const PositionResult& p, int q, bool indexed, Money mRate) {
    CostRows rows;
    rows.q = q;
    struct Cost {
        int* row;
        bool has;
        const char *article, *label;
        Money perUnit;
        Dec7 k;
        Money amount;
        Element key;
        bool withIndex;
        Money current;
    };
    const Cost costs[] = {
        {&rows.ot, !p.ot1.isZero(), "1", "ОТ", p.ot1, p.kOt, p.base.ot, Element::Ot, indexed, p.current.ot},
        {&rows.em, !p.em1.isZero(), "2", "ЭМ", p.em1, p.kEm, p.base.em, Element::Em, false, {}},
        {&rows.otm, !p.otm1.isZero(), "3", "в т.ч. ОТм", p.otm1, p.kOtm, p.base.otm, Element::Otm, indexed, p.current.otm},
        {&rows.m, !p.m1.isZero(), "4", "М", p.m1, p.kM, mRate, materialKey(p), false, {}},
    };
    // The lines are laid first and filled after: ЭМ refers to ОТм below it.
    for (const Cost& c : costs)
        if (c.has) *c.row = line(LineKind::Cost);
    const std::string Q = a1(q, C7);
    for (const Cost& c : costs) {
        if (!c.has) continue;
        const int r = *c.row;
        plan_.text(r, C2, c.article, s_.text);
        plan_.text(r, C3, c.label, s_.text);
        plan_.number(r, C8, c.perUnit, s_.money);
        if (c.k != kOne) plan_.number(r, C9, c.k, s_.coefficient);
        // Q × per unit × coefficient (the coefficient's cell only when it is not 1); machinists'
        // wages inside ЭМ take their own coefficient
        std::string e = Q + "*" + a1(r, C8) + (c.k != kOne ? "*" + a1(r, C9) : "");
        if (c.key == Element::Em && rows.otm >= 0 && p.kEm != p.kOtm) {
            const std::string kEm = p.kEm != kOne ? "*" + a1(r, C9) : "";
            const std::string kOtm = p.kOtm != kOne ? "*" + a1(rows.otm, C9) : "";
            e = Q + "*((" + a1(r, C8) + "-" + a1(rows.otm, C8) + ")" + kEm + "+" + a1(rows.otm, C8) + kOtm + ")";
        }
        e = round2(e);
        // the machinists' extra pay (ОТ bears the larger coefficient) is in ЭМ
        if (c.key == Element::Em && !extraPay(p, rows).empty()) e += "+" + extraPay(p, rows);
        plan_.formula(r, C10, e, c.amount, s_.money);
        if (c.withIndex) {
            plan_.number(r, C11, c.key == Element::Otm && p.indexOtm ? *p.indexOtm : *p.indexOt, s_.coefficient);
            plan_.formula(r, C12, round2(a1(r, C10) + "*" + a1(r, C11)), c.current, s_.money);
        }
        keys(r, c.key, p.workType);
    }
    return rows;
}

void Planner::labourLines(const PositionResult& p, int q) {
    // norm, coefficient, total labour
    struct Labour {
        bool has;
        const char* label;
        Dec7 norm, k, total;
        Element key;
    };
    const Labour labour[] = {{!p.zt1.isZero(), "ЗТ", p.zt1, p.kZt, p.base.zt, Element::Zt},
                             {!p.ztm1.isZero(), "ЗТм", p.ztm1, p.kZtm, p.base.ztm, Element::Ztm}};
    for (const Labour& l : labour) {
        if (!l.has) continue;
        const int r = line(LineKind::Labour);
        plan_.text(r, C3, l.label, s_.text);
        plan_.text(r, C4, "чел.-ч", s_.text);
        plan_.formula(r, C7, round7(normTimes(r, l.norm, l.k) + "*" + a1(q, C7)), l.total, s_.labour);
        keys(r, l.key, p.workType);
    }
}

int Planner::rateTotal(const PositionResult& p, const CostRows& rows, Money mRate) {
    // Итого по расценке: ОТ + ЭМ + М
    const int t = line(LineKind::RateTotal);
    std::vector<std::string> unit, all;
    Money unitSum;
    const std::pair<int, Money> parts[] = {{rows.ot, p.ot1}, {rows.em, p.em1}, {rows.m, p.m1}};
    for (const auto& [r, perUnit] : parts)
        if (r >= 0) {
            unit.push_back(a1(r, C8));
            all.push_back(a1(r, C10));
            unitSum += perUnit;
        }
    plan_.text(t, C3, "Итого по расценке", s_.textTop);
    plan_.formula(t, C8, joined(unit), unitSum, s_.moneyTop);
    plan_.formula(t, C10, joined(all), p.base.ot + p.base.em + mRate, s_.moneyTop);
    plan_.fill(t, C1, C12, s_.textTop);
    return t;
}

std::vector<std::string> Planner::pricedMaterials(const PositionResult& p, int q) {
    // materials priced in the estimate: N.1, N.2 …
    std::vector<std::string> amounts;
    int k = 0;
    for (const model::PricedMaterial& m : p.materials) {
        if (!m.priced) continue;
        const int r = materialLine(m, q, p.quantity, std::to_string(p.number) + "." + std::to_string(++k));
        plan_.number(r, C8, m.price, s_.money);
        plan_.formula(r, C10, round2(a1(r, C7) + "*" + a1(r, C8)), m.amount, s_.money);
        keys(r, materialKey(p), p.workType);
        amounts.push_back(a1(r, C10));
    }
    return amounts;
}

int Planner::fotLine(const PositionResult& p, const CostRows& rows, bool indexed) {
    // ФОТ = ОТ + ОТм
    const int fot = line(LineKind::Fot);
    plan_.text(fot, C3, "ФОТ", s_.text);
    std::vector<std::string> base, current;
    for (int r : {rows.ot, rows.otm})
        if (r >= 0) {
            base.push_back(a1(r, C10));
            current.push_back(a1(r, C12));
        }
    // ФОТ + Д, the machinists paid as the workers
    if (const std::string extra = extraPay(p, rows); !extra.empty()) {
        base.push_back(extra);
        current.push_back(round2(extra + "*" + a1(rows.otm, C11)));
    }
    plan_.formula(fot, C10, joined(base), p.base.fot, s_.money);
    if (indexed) plan_.formula(fot, C12, joined(current), p.current.fot, s_.money);
    keys(fot, Element::Fot, p.workType);
    return fot;
}

std::vector<std::string> Planner::charges(const PositionResult& p, int fot, bool indexed, const std::string& title) {
    // НР and СП: norm, the repair factor, resulting per cent, of ФОТ
    struct Charge {
        bool has;
        const std::string& ref;
        const char* what;
        Dec7 norm, factor, percent;
        Money base, current;
        Element key;
    };
    const Charge charged[] = {
        {!p.nrRow.empty(), p.nrRef, "НР", p.nrNorm, p.nrFactor, p.nrPercent, p.base.nr, p.current.nr, Element::Nr},
        {!p.spRow.empty(), p.spRef, "СП", p.spNorm, p.spFactor, p.spPercent, p.base.sp, p.current.sp, Element::Sp},
    };
    std::vector<std::string> amounts;
    for (const Charge& c : charged) {
        if (!c.has) continue;
        const int r = line(LineKind::Charge);
        plan_.text(r, C2, c.ref, s_.code);
        plan_.text(r, C3, std::string(c.what) + (title.empty() ? "" : " (" + title + ")"), s_.name);
        plan_.text(r, C4, "%", s_.text);
        plan_.formula(r, C7, normTimes(r, c.norm, c.factor), c.percent, s_.quantity);
        plan_.formula(r, C10, round2(a1(fot, C10) + "*" + a1(r, C7) + "/100"), c.base, s_.money);
        if (indexed) plan_.formula(r, C12, round2(a1(fot, C12) + "*" + a1(r, C7) + "/100"), c.current, s_.money);
        keys(r, c.key, p.workType);
        amounts.push_back(a1(r, C10));
    }
    return amounts;
}

int Planner::materialLine(const model::PricedMaterial& m, int q, Dec7 quantity, const std::string& numberText) {
    // number (when priced), code, name, unit, norm and quantity
    const int r = line(LineKind::Material);
    plan_.text(r, C1, numberText, s_.text);
    if (const model::PositionRow* row = rowOf(m.row)) {
        plan_.text(r, C2, row->code, s_.code);
        plan_.text(r, C3, row->name, s_.name);
        plan_.text(r, C4, row->unit, s_.text);
    }
    plan_.number(r, C5, m.perUnit, s_.quantity);
    // the quantity follows the rate's when it was made so; else it stands as stored
    if (!m.perUnit.isZero() && mul(m.perUnit, quantity) == m.quantity)
        plan_.formula(r, C7, round7(a1(r, C5) + "*" + a1(q, C7)), m.quantity, s_.quantity);
    else
        plan_.number(r, C7, m.quantity, s_.quantity);
    return r;
}

}  // namespace talvira::lsr::detail
