#include "model/BaseIndex.h"
#include "model/BaseIndexState.h"

#include "common/Error.h"
#include "common/TextFold.h"

#include <cstdint>
#include <unordered_map>

namespace talvira::model {

// ---------------------------------------------------------------------------------------------
// One position
// ---------------------------------------------------------------------------------------------

namespace {

const Dec7 kOne = Dec7::fromInt(1);
const Dec7 kRepairNr = Dec7::fromUnits(9'000'000);    // 0.9: 812/пр п. 26
const Dec7 kRepairSp = Dec7::fromUnits(8'500'000);    // 0.85: 774/пр

std::string positionText(int32_t number) { return "Позиция " + std::to_string(number) + ": "; }

/** r(Q × ((ЭМ₁ − ОТМ₁) × K_ЭМ + ОТМ₁ × K_ОТМ)): machinists' wages stay inside ЭМ with their own
 *  coefficient; the exact sum of both parts, rounded once. */
Money machines(Dec7 q, Money em1, Money otm1, Dec7 kEm, Dec7 kOtm) {
    return (Exact(q) * (Exact(em1 - otm1) * kEm + Exact(otm1) * kOtm)).money();
}

/** Q × labour per unit × K, exact, rounded once to seven decimals. */
Dec7 labour(Dec7 q, Dec7 perUnit, Dec7 k) { return (Exact(q) * perUnit * k).dec7(); }

/** The price of a material: its cost per unit, or its materials field when the cost is empty. */
Money priceOf(const PositionRow& r) {
    const Money cost = Money::fromDouble(r.cost);
    return cost.isZero() ? Money::fromDouble(r.materials) : cost;
}

struct Norms {
    Dec7 norm, factor;
    std::string row;
};

/** "не выбран норматив НР и СП (норма называет несколько: …)". */
std::string unchosen(std::string_view what, const PositionData* extra) {
    std::string text = "не выбран норматив " + std::string(what);
    const std::vector<std::string>* choices = nullptr;
    if (extra) choices = extra->nrChoices.size() > 1 ? &extra->nrChoices : &extra->spChoices;
    if (choices && choices->size() > 1) {
        text += " (норма называет несколько: ";
        for (size_t i = 0; i < choices->size(); ++i) text += (i ? "; " : "") + (*choices)[i];
        text += ")";
    }
    return text;
}

/** The chosen row of НР (nr) or СП and its norm; a problem's text when the row is unknown. */
std::string normOf(bool nr, const PositionData& extra, const EstimateParams& params, const NrSpTables& tables,
                   Norms& out) {
    const std::string& row = nr ? extra.nrRow : extra.spRow;
    const NrSpRow* found = tables.find(row);
    if (!found) {
        const std::string ref = nr ? nrReference(row, params.territory) : spReference(row);
        return std::string("норматив ") + (nr ? "НР" : "СП") + " «" + ref + "» не найден в таблицах " +
               (nr ? "812/пр" : "774/пр");
    }
    out.row = found->ref;
    const std::optional<Dec7>& kept = nr ? extra.nrPercent : extra.spPercent;
    out.norm = kept ? *kept : nr ? found->nrPercentIn(params.territory) : found->spPercent;
    // Capital repair priced with the norms of new construction (sections I-III); the repair
    // norms' own rows (sections IV, V) and the other works (VI) keep their percentage.
    const bool newConstruction = found->section == "I" || found->section == "II" || found->section == "III";
    out.factor = params.capitalRepair && newConstruction ? (nr ? kRepairNr : kRepairSp) : kOne;
    return {};
}

/** The position's current prices by the indices it applies (its own, else the estimate's):
 *  ОТ, ОТМ, Д by I_ОТ (ОТМ by I_ОТМ where it has one), ФОТ, НР, СП; ЭМ and М (оборудование)
 *  too where an index is at hand for each, and then ПЗ and the total. */
void currentPrices(PositionResult& p, const EstimateParams& params, const PositionIndices* own) {
    const bool equipment = p.workType == WorkType::Equipment;
    const IndexOf mOf = equipment ? IndexOf::Eq : IndexOf::M;
    p.indexOt = indexFor(IndexOf::Ot, params, own);
    p.indexOtm = indexFor(IndexOf::Otm, params, own);
    p.indexEm = indexFor(IndexOf::Em, params, own);
    p.indexM = indexFor(mOf, params, own);
    p.ownEm = ownIndex(IndexOf::Em, own);
    p.ownM = ownIndex(mOf, own);
    const Elements& b = p.base;
    Elements& c = p.current;
    if (p.indexOt && (p.indexOtm || b.otm.isZero())) {
        c.ot = roundMoney(*p.indexOt, b.ot);
        c.otm = p.indexOtm ? roundMoney(*p.indexOtm, b.otm) : Money();
        c.otmExtra = roundMoney(*p.indexOt, b.otmExtra);
        c.fot = c.ot + c.otm + c.otmExtra;
        c.nr = percentOf(c.fot, p.nrNorm, p.nrFactor);
        c.sp = percentOf(c.fot, p.spNorm, p.spFactor);
    } else {
        p.currentDefined = b.ot.isZero() && b.otm.isZero();
    }
    // Lines with their own index (freight) are indexed apart; the rest of М by the position's.
    for (PricedMaterial& pm : p.materials) {
        if (!pm.index) continue;
        pm.current = roundMoney(*pm.index, pm.amount);
        p.mLinesBase += pm.amount;
        p.mLinesCurrent += pm.current;
    }
    const Money mRest = b.m - p.mLinesBase;
    // ЭМ by its index, but Д in it as the wages are (r(Д × I_ОТ), the file's MachinistSalaryExtra).
    const Money emRest = b.em - b.otmExtra;
    const bool em = (p.indexEm || emRest.isZero()) && (p.currentDefined || b.otmExtra.isZero());
    const bool m = p.indexM || mRest.isZero();
    p.ownEm = p.ownEm && !emRest.isZero();
    p.ownM = p.ownM && !mRest.isZero();
    if (em) c.em = (p.indexEm ? roundMoney(*p.indexEm, emRest) : Money()) + c.otmExtra;
    if (m) c.m = p.mLinesCurrent + (p.indexM ? roundMoney(*p.indexM, mRest) : Money());
    if (!p.currentDefined || !em || !m) return;
    c.pz = c.ot + c.em + c.m;
    c.total = c.pz + c.nr + c.sp;
    p.currentFull = true;
}

}  // namespace

PositionResult computePosition(const std::vector<PositionRow>& rows, const std::vector<const PositionData*>& dataOfRow,
                               size_t row, const std::vector<size_t>& materialRows, const EstimateParams& params,
                               const NrSpTables& tables) {
    const PositionRow& r = rows[row];
    const PositionData* extra = dataOfRow[row];
    PositionResult p;
    p.row = row;
    p.number = r.count;
    p.workType = extra && extra->workType ? *extra->workType : workTypeOfBook(r.code).value_or(WorkType::Construction);
    p.kOt = p.kEm = p.kOtm = p.kM = p.kZt = p.kZtm = kOne;
    p.nrFactor = p.spFactor = kOne;
    auto fail = [&](const std::string& why) {
        PositionResult failed;
        failed.row = p.row;
        failed.number = p.number;
        failed.kind = p.kind;
        failed.workType = p.workType;
        failed.computed = false;
        failed.problems = std::move(p.problems);
        failed.problems.insert(failed.problems.begin(), Problem{row, r.count, positionText(r.count) + why});
        return failed;
    };

    try {
        p.quantity = Dec7::fromDouble(r.quantity);
        p.ot1 = Money::fromDouble(r.baseWages);
        p.em1 = Money::fromDouble(r.machines);
        p.otm1 = Money::fromDouble(r.machineWages);
        p.m1 = Money::fromDouble(r.materials);
        p.pz1 = Money::fromDouble(r.cost);
        p.zt1 = Dec7::fromDouble(r.labour);
    } catch (const Error& e) {
        return fail(e.what());
    }
    p.ztm1 = extra ? extra->machinistLabour : Dec7();
    if (p.quantity.units() < 0) return fail("отрицательное количество (" + p.quantity.text(',') + ")");

    if (extra) {
        for (const Coefficient& c : extra->coefficients) {
            if (const std::string fault = coefficientFault(c); !fault.empty())
                return fail("коэффициент «" + c.value.text(',') + "»" + fault);
            Dec7* const ks[] = {&p.kOt, &p.kEm, &p.kOtm, &p.kM, &p.kZt, &p.kZtm};
            const unsigned bits[] = {OT, EM, OTM, M, ZT, ZTM};
            for (size_t i = 0; i < 6; ++i)
                if (c.targets & bits[i]) *ks[i] = mul(*ks[i], c.value);
        }
        p.coefficients = extra->coefficients;
    }

    Elements& b = p.base;
    try {
        // A position of its own: a material or equipment with only a price, no wages or machines.
        const bool own = p.ot1.isZero() && p.em1.isZero() && p.otm1.isZero() && p.zt1.isZero();
        if (own) {
            p.kind = PositionResult::Kind::Standalone;
            p.m1 = priceOf(r);
            b.m = roundMoney(p.quantity, p.kM, p.m1);
        } else {
            b.ot = roundMoney(p.quantity, p.kOt, p.ot1);
            b.otm = roundMoney(p.quantity, p.kOtm, p.otm1);
            b.em = machines(p.quantity, p.em1, p.otm1, p.kEm, p.kOtm);
            // The machinists paid as the workers where ОТ bears the larger coefficient.
            if (extra && extra->extraPayFactor) p.kExtra = *extra->extraPayFactor;
            else if (p.kOt > p.kOtm) p.kExtra = Dec7::fromUnits(p.kOt.units() - p.kOtm.units());
            if (!p.kExtra.isZero()) {
                b.otmExtra = roundMoney(p.quantity, p.kExtra, p.otm1);
                b.em += b.otmExtra;
            }
            b.m = roundMoney(p.quantity, p.kM, p.m1);
            b.zt = labour(p.quantity, p.zt1, p.kZt);
            b.ztm = labour(p.quantity, p.ztm1, p.kZtm);
        }
        for (size_t m : materialRows) {
            const PositionRow& mr = rows[m];
            const PositionData* me = dataOfRow[m];
            PricedMaterial pm;
            pm.row = m;
            pm.perUnit = me ? me->perUnit : Dec7();
            pm.quantity = Dec7::fromDouble(mr.quantity);
            if (pm.quantity.units() < 0) {
                p.problems.push_back(Problem{m, mr.count, positionText(mr.count) + "отрицательное количество (" +
                                                               pm.quantity.text(',') + ")"});
                continue;
            }
            pm.price = priceOf(mr);
            pm.priced = !pm.price.isZero();
            pm.amount = roundMoney(pm.quantity, pm.price);
            if (me) pm.index = indexFor(IndexOf::M, EstimateParams{}, &me->indices);
            b.m += pm.amount;
            p.materials.push_back(pm);
        }
        b.pz = b.ot + b.em + b.m;
        b.fot = b.ot + b.otm + b.otmExtra;
    } catch (const Error& e) {
        return fail(e.what());
    }

    // НР and СП: not for equipment, nor for a material of its own; a rate without wages needs no row.
    const bool charged = p.workType != WorkType::Equipment && p.kind == PositionResult::Kind::Rate;
    if (charged) {
        Norms nr, sp;
        const bool nrSet = extra && !extra->nrRow.empty();
        const bool spSet = extra && !extra->spRow.empty();
        // A chosen row must exist; an unchosen one matters only where there are wages.
        if (!b.fot.isZero() && !nrSet && !spSet) return fail(unchosen("НР и СП", extra));
        if (!b.fot.isZero() && !nrSet) return fail(unchosen("НР", extra));
        if (!b.fot.isZero() && !spSet) return fail(unchosen("СП", extra));
        if (nrSet)
            if (const std::string why = normOf(true, *extra, params, tables, nr); !why.empty()) return fail(why);
        if (spSet)
            if (const std::string why = normOf(false, *extra, params, tables, sp); !why.empty()) return fail(why);
        p.nrRow = nr.row;
        p.spRow = sp.row;
        if (nrSet) p.nrRef = nrReference(nr.row, params.territory);
        if (spSet) p.spRef = spReference(sp.row);
        p.nrNorm = nr.norm;
        p.spNorm = sp.norm;
        p.nrFactor = nrSet ? nr.factor : kOne;
        p.spFactor = spSet ? sp.factor : kOne;
        p.nrPercent = mul(p.nrNorm, p.nrFactor);
        p.spPercent = mul(p.spNorm, p.spFactor);
    }
    try {
        b.nr = percentOf(b.fot, p.nrNorm, p.nrFactor);
        b.sp = percentOf(b.fot, p.spNorm, p.spFactor);
        b.total = b.pz + b.nr + b.sp;

        currentPrices(p, params, extra ? &extra->indices : nullptr);
    } catch (const Error& e) {
        return fail(e.what());
    }
    return p;
}

// ---------------------------------------------------------------------------------------------
// The estimate
// ---------------------------------------------------------------------------------------------

std::vector<const PositionData*> dataByRow(const std::vector<PositionRow>& rows,
                                              const std::vector<PositionData>& extras) {
    std::unordered_map<int32_t, const PositionData*> byCount;
    byCount.reserve(extras.size());
    for (const PositionData& e : extras) byCount.emplace(e.count, &e);  // the first entry of a number
    std::vector<const PositionData*> out(rows.size(), nullptr);
    if (byCount.empty()) return out;
    for (size_t i = 0; i < rows.size(); ++i) {
        const auto at = byCount.find(rows[i].count);
        if (at != byCount.end() && (at->second->code.empty() || at->second->code == rows[i].code)) out[i] = at->second;
    }
    return out;
}

std::vector<size_t> positionOwners(const std::vector<PositionRow>& rows,
                                   const std::vector<const PositionData*>& dataOfRow) {
    std::vector<size_t> owner(rows.size());
    std::unordered_map<int32_t, size_t> rowOfCount;
    rowOfCount.reserve(rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        owner[i] = i;
        rowOfCount.emplace(rows[i].count, i);
    }
    for (size_t i = 0; i < rows.size(); ++i) {
        const PositionData* e = dataOfRow[i];
        if (!e || e->parent == 0 || e->parent == rows[i].count) continue;
        const auto at = rowOfCount.find(e->parent);
        if (at == rowOfCount.end()) continue;  // its rate is gone: a position of its own
        const PositionData* pe = dataOfRow[at->second];
        if (pe && pe->parent != 0) continue;   // a material's material is none
        owner[i] = at->second;
    }
    return owner;
}

void BaseIndexSums::apply(const PositionResult& p, int sign) {
    if (!p.computed) return;
    Type& t = types_[static_cast<size_t>(p.workType)];
    t.positions += sign;
    if (!p.currentDefined) t.undefined += sign;
    auto add = [sign](Money& to, Money v) { to += sign > 0 ? v : -v; };
    const Elements& b = p.base;
    addElements(t.base, b, sign);
    for (auto [to, v] : {std::pair{&t.current.ot, p.current.ot}, {&t.current.otm, p.current.otm},
                         {&t.current.otmExtra, p.current.otmExtra}, {&t.current.fot, p.current.fot},
                         {&t.current.nr, p.current.nr}, {&t.current.sp, p.current.sp}})
        add(*to, v);
    // Д is indexed with the wages: its current amount is added as it is.
    add(t.current.em, p.ownEm ? p.current.em : p.current.otmExtra);
    if (!p.ownEm) add(t.emRest, b.em - b.otmExtra);
    add(t.current.m, p.ownM ? p.current.m : p.mLinesCurrent);
    if (!p.ownM) add(t.mRest, b.m - p.mLinesBase);
}

void BaseIndexSums::finish(const EstimateParams& params, BaseIndexResult& out) const {
    out.workTypes.clear();
    out.total = WorkTypeTotals{};
    out.total.indexOt = params.indexOt;
    out.total.indexEm = params.indexEm;
    out.total.indexM = params.indexM;
    auto usable = [](const std::optional<Dec7>& i) { return i && i->units() > 0 ? i : std::nullopt; };
    bool missingOt = false, missingEm = false, missingM = false, missingEq = false;
    for (int i = 0; i < kWorkTypes; ++i) {
        const Type& t = types_[size_t(i)];
        if (t.positions == 0) continue;
        WorkTypeTotals w;
        w.type = static_cast<WorkType>(i);
        const bool equipment = w.type == WorkType::Equipment;
        w.indexOt = usable(params.indexOt);
        w.indexEm = usable(params.indexEm);
        w.indexM = usable(equipment ? params.indexEq : params.indexM);
        w.base = t.base;
        Elements& c = w.current;
        c = t.current;
        if (t.undefined > 0) {
            w.currentDefined = false;
            missingOt = true;
        }
        w.emApart = t.base.em - t.emRest, w.emApartCurrent = t.current.em;
        w.mApart = t.base.m - t.mRest, w.mApartCurrent = t.current.m;
        // Positions with their own ЭМ or М index bring their current amounts; the rest are indexed on the sum.
        if (w.indexEm) c.em += roundMoney(*w.indexEm, t.emRest);
        else if (!t.emRest.isZero()) w.currentDefined = false, missingEm = true;
        if (w.indexM) c.m += roundMoney(*w.indexM, t.mRest);
        else if (!t.mRest.isZero()) w.currentDefined = false, (equipment ? missingEq : missingM) = true;
        c.pz = c.ot + c.em + c.m;
        c.total = c.pz + c.nr + c.sp;
        for (auto [to, v] : {std::pair{&out.total.base, &w.base}, {&out.total.current, &w.current}}) {
            to->ot += v->ot, to->em += v->em, to->otm += v->otm, to->m += v->m, to->pz += v->pz;
            to->fot += v->fot, to->nr += v->nr, to->sp += v->sp, to->total += v->total, to->otmExtra += v->otmExtra;
            to->zt += v->zt;
            to->ztm += v->ztm;
        }
        out.total.currentDefined = out.total.currentDefined && w.currentDefined;
        out.workTypes.push_back(w);
    }
    const std::pair<bool, const char*> missing[] = {
        {missingOt, "Не указан индекс к оплате труда (ОТ)"},
        {missingEm, "Не указан индекс к эксплуатации машин (ЭМ)"},
        {missingM, "Не указан индекс к материалам (М)"},
        {missingEq, "Не указан индекс к оборудованию"},
    };
    for (const auto& [is, text] : missing)
        if (is) out.problems.push_back(Problem{SIZE_MAX, 0, std::string(text) + ": текущие цены не рассчитаны"});
    out.currentComplete = out.total.currentDefined;
}

BaseIndexResult computeBaseIndex(const std::vector<PositionRow>& rows, const std::vector<PositionData>& extras,
                         const EstimateParams& params, const NrSpTables& tables) {
    BaseIndexState state(tables);
    state.reset(rows, extras, params);
    return std::move(state.result());
}

}  // namespace talvira::model
