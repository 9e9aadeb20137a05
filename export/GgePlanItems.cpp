// The expertise file's totals by type of work (EstimatePrice, SectionPrice) and its positions
// (Item): every amount is the computation's own, written as it holds it.
#include "export/GgePlanBuilder.h"

namespace talvira::gge {

namespace {

using model::Elements;
using model::WorkType;

const char* summaryType(WorkType t) {
    switch (t) {
        case WorkType::Construction: return "Строительные";
        case WorkType::Mounting: return "Монтажные";
        case WorkType::Equipment: return "Оборудование";
        default: return "Прочее";  // пусконаладочные and other works
    }
}

/** The totals of the type `t`, zeros when the estimate has none of it. */
model::WorkTypeTotals totalsOf(const model::BaseIndexResult& r, WorkType t) {
    for (const model::WorkTypeTotals& w : r.workTypes)
        if (w.type == t) return w;
    model::WorkTypeTotals none;
    none.type = t;
    return none;
}

void price(Builder& b, const char* name, Money base, std::optional<Money> current, const std::optional<Dec7>& index = {},
           const std::string& letter = {}) {
    b.open(name);
    b.money("PriceBase", base);
    if (index) {
        b.open("PriceIndex");
        b.number("Final", *index);
        b.number("Value", *index);
        b.leaf("IndexName", letter);
        b.close();
    }
    if (current) b.money("PriceCurrent", *current);
    b.close();
}

/** A type of work's block (TSummaryItems): its elements, base and current. */
void workBlock(Builder& b, const char* name, const model::WorkTypeTotals& t, const std::string& letter) {
    const Elements& e = t.base;
    const Elements& c = t.current;
    const bool cur = t.currentDefined;
    auto at = [cur](Money m) { return cur ? std::optional<Money>(m) : std::nullopt; };
    b.open(name);
    price(b, "Total", e.total, at(c.total));
    price(b, "WorkersSalary", e.ot, at(c.ot));
    price(b, "MachinistSalary", e.otm, at(c.otm));
    price(b, "MachinistSalaryExtra", e.otmExtra, at(c.otmExtra));
    price(b, "Salary", e.fot, at(c.fot));
    price(b, "Overhead", e.nr, at(c.nr));
    price(b, "Profit", e.sp, at(c.sp));
    price(b, "MachinesTotal", e.em, at(c.em));
    price(b, "Machines", e.em - e.otmExtra, at(c.em - c.otmExtra), t.indexEm, letter);
    b.open("Materials");
    price(b, "Total", e.m, at(c.m));
    price(b, "Price", e.m, at(c.m), t.indexM, letter);
    price(b, "External", Money(), Money());
    price(b, "Transport", Money(), Money());
    b.close();
    price(b, "Direct", e.pz, at(c.pz));
    b.number("TotalLaborCosts", e.zt + e.ztm);
    b.number("LaborCosts", e.zt);
    b.number("MachinistLaborCosts", e.ztm);
    price(b, "TransportTotal", Money(), Money());
    price(b, "TransportAdd", Money(), Money());
    price(b, "Transport", Money(), Money());
    price(b, "Price", e.total, at(c.total));
    b.close();
}

// ---- one position ----------------------------------------------------------------------------

/** НР or СП of a rate (TOverhead, TProfit). */
void charge(Builder& b, const char* element, const std::string& ref, const std::string& title, Dec7 norm, Dec7 factor,
            Dec7 percent, Money base, std::optional<Money> current, const char* factorReason) {
    b.open(element);
    b.leaf("Reason", ref);
    if (!title.empty()) b.leaf("Name", title);
    b.leaf("Target", "ФОТ");
    b.number("Value", norm);
    b.number("ValueTotal", percent);
    b.money("PriceBase", base);
    if (factor != Dec7::fromInt(1)) {
        b.open("Coefficients");
        b.number("Final", factor);
        b.open("Coefficient");
        b.leaf("Name", "Капитальный ремонт по нормам нового строительства");
        b.leaf("Reason", factorReason);
        b.leaf("Num", "1");
        b.number("Value", factor);
        b.close();
        b.close();
    }
    if (current) b.money("PriceCur", *current);
    b.close();
}

struct TargetName {
    unsigned bit;
    const char* name;
    Dec7 model::PositionResult::*k;
};
constexpr TargetName kTargets[] = {
    {model::OT, "ОТ", &model::PositionResult::kOt},    {model::EM, "ЭМ", &model::PositionResult::kEm},
    {model::OTM, "ОТМ", &model::PositionResult::kOtm}, {model::M, "МАТ", &model::PositionResult::kM},
    {model::ZT, "ЗТ", &model::PositionResult::kZt},    {model::ZTM, "ЗТМ", &model::PositionResult::kZtm},
};

void coefficientValue(Builder& b, const char* target, Dec7 value) {
    b.open("Value");
    b.leaf("Target", target);
    b.number("CoefValue", value);
    b.close();
}

/** The coefficients of a rate: the resulting K of each element some coefficient aims at, then
 *  each coefficient as the estimator gave it. */
void coefficients(Builder& b, const model::PositionResult& p) {
    unsigned aimed = 0;
    for (const model::Coefficient& c : p.coefficients) aimed |= c.targets;
    b.open("Coefficients");
    b.open("Final");
    b.open("Values");
    for (const TargetName& t : kTargets)
        if (aimed & t.bit) coefficientValue(b, t.name, p.*t.k);
    b.close();
    b.close();
    for (const model::Coefficient& c : p.coefficients) {
        b.open("Coefficient");
        b.open("Values");
        for (const TargetName& t : kTargets)
            if (c.targets & t.bit) coefficientValue(b, t.name, c.value);
        b.close();
        b.leaf("Name", c.reason.empty() ? std::string("Коэффициент") : c.reason);
        b.leaf("Reason", c.reason);
        b.close();
    }
    b.close();
}

/** The indices applied in the position: wages of workers and of machinists. */
void positionIndex(Builder& b, const GgeInput& in) {
    b.open("Index");
    b.leaf("Name", in.params.letter);
    b.leaf("Reason", "Минстрой");
    b.leaf("Num", "1");
    b.open("Values");
    for (const char* target : {"ОТ", "ОТМ"}) {
        b.open("Value");
        b.number("Final", *in.params.indexOt);
        b.number("Value", *in.params.indexOt);
        b.leaf("Target", target);
        b.close();
    }
    b.close();
    b.close();
}

/** The rate's elements in base prices, without the materials priced as its lines. */
void rateBase(Builder& b, const model::PositionResult& p, Money materials) {
    b.open("Base");
    b.money("Direct", p.base.pz - materials);
    b.money("Machines", p.base.em);
    b.money("WorkersSalary", p.base.ot);
    b.money("MachinistSalary", p.base.otm);
    b.money("Salary", p.base.fot);
    b.money("Materials", p.base.m - materials);
    b.close();
}

void cost(Builder& b, const GgeInput& in, const model::PositionResult& p, size_t number) {
    const model::PositionRow& row = in.rows[p.row];
    Money materials;
    for (const model::PricedMaterial& m : p.materials) materials += m.amount;
    const auto [prefix, code] = prefixAndCode(row.code);
    b.open("Cost");
    b.leaf("Num", std::to_string(number));
    b.leaf("Prefix", prefix);
    b.leaf("Code", code);
    b.leaf("Name", row.name);
    b.number("Quantity", p.quantity);
    b.number("QuantityTotal", p.quantity);
    b.leaf("Unit", row.unit);
    b.open("PerUnit");
    b.open("Base");
    b.money("Direct", p.pz1);
    b.money("Machines", p.em1);
    b.money("WorkersSalary", p.ot1);
    b.money("MachinistSalary", p.otm1);
    b.money("Materials", p.m1);
    b.close();
    b.open("Natural");
    b.number("LaborCosts", p.zt1);
    b.number("MachinistLaborCosts", p.ztm1);
    b.close();
    b.close();
    b.open("Totals");
    rateBase(b, p, materials);
    if (p.currentDefined && in.params.indexOt) {
        b.open("Current");
        b.money("WorkersSalary", p.current.ot);
        b.money("MachinistSalary", p.current.otm);
        b.money("Salary", p.current.fot);
        b.close();
    }
    b.open("Natural");
    b.number("LaborCosts", p.base.zt);
    b.number("MachinistLaborCosts", p.base.ztm);
    b.close();
    b.close();
    if (!p.coefficients.empty()) coefficients(b, p);
    if (in.params.indexOt) positionIndex(b, in);
    b.close();
}

/** A resource line (a priced material of a rate, or a position of its own): its numbers and
 *  base price; no price where it has none yet. */
void resource(Builder& b, const char* element, const model::PositionRow& row, size_t id, size_t number, Dec7 perUnit,
              Dec7 quantity, std::optional<Money> unitPrice, Money amount) {
    const auto [prefix, code] = prefixAndCode(row.code);
    b.open(element);
    b.leaf("IDResource", std::to_string(id));
    b.leaf("Num", std::to_string(number));
    if (!prefix.empty()) b.leaf("Prefix", prefix);
    b.leaf("Code", code);
    b.leaf("Name", row.name);
    b.number("Consumption", perUnit);
    b.leaf("Unit", row.unit);
    b.number("ConsumptionTotal", quantity);
    if (unitPrice) {
        b.money("PricePerUnitBase", *unitPrice);
        b.money("PriceTotalBase", amount);
    }
    b.close();
}

void item(Builder& b, const GgeInput& in, size_t index, size_t number, size_t& ids) {
    const model::PositionResult& p = in.result.positions[index];
    const std::string& title = index < in.chargeTitles.size() ? in.chargeTitles[index] : std::string();
    const bool cur = p.currentDefined && in.params.indexOt.has_value();
    auto at = [cur](Money m) { return cur ? std::optional<Money>(m) : std::nullopt; };
    b.open("Item");
    b.leaf("SummaryType", summaryType(p.workType));
    b.leaf("WorkType", summaryType(p.workType));
    if (p.kind == model::PositionResult::Kind::Rate) {
        if (!p.nrRef.empty())
            charge(b, "Overheads", p.nrRef, title, p.nrNorm, p.nrFactor, p.nrPercent, p.base.nr, at(p.current.nr), "812/пр п. 26");
        if (!p.spRef.empty())
            charge(b, "Profits", p.spRef, title, p.spNorm, p.spFactor, p.spPercent, p.base.sp, at(p.current.sp), "774/пр");
        cost(b, in, p, number);
        if (!p.materials.empty()) {
            b.open("Resources");
            size_t line = 0;
            for (const model::PricedMaterial& m : p.materials)
                resource(b, "Material", in.rows[m.row], ++ids, ++line, m.perUnit, m.quantity,
                         m.priced ? std::optional<Money>(m.price) : std::nullopt, m.amount);
            b.close();
        }
    } else {
        const char* element = p.workType == WorkType::Equipment ? "Equipment" : "Material";
        resource(b, element, in.rows[p.row], ++ids, number, p.quantity, p.quantity, p.pz1, p.base.total);
    }
    b.open("Salary");
    b.money("Base", p.base.fot);
    if (cur) b.money("Current", p.current.fot);
    b.close();
    b.open("Totals");
    b.money("Base", p.base.total);
    b.close();
    b.close();
}

}  // namespace

void planSummary(Builder& b, const GgeInput& in, const char* element) {
    const model::BaseIndexResult& r = in.result;
    const std::string& letter = in.params.letter;
    b.open(element);
    workBlock(b, "Building", totalsOf(r, WorkType::Construction), letter);
    workBlock(b, "Mounting", totalsOf(r, WorkType::Mounting), letter);
    const model::WorkTypeTotals eq = totalsOf(r, WorkType::Equipment);
    const auto eqCur = eq.currentDefined ? std::optional<Money>(eq.current.total) : std::nullopt;
    b.open("Equipment");
    price(b, "Total", eq.base.total, eqCur);
    price(b, "Price", eq.base.total, eqCur, eq.indexM, letter);
    price(b, "External", Money(), Money());
    price(b, "Transport", Money(), Money());
    b.close();
    const model::WorkTypeTotals commissioning = totalsOf(r, WorkType::Commissioning);
    workBlock(b, "OtherWorks", commissioning, letter);
    const model::WorkTypeTotals other = totalsOf(r, WorkType::Other);
    const bool otherCur = other.currentDefined && commissioning.currentDefined;
    price(b, "Other", other.base.total, other.currentDefined ? std::optional<Money>(other.current.total) : std::nullopt);
    price(b, "OtherTransport", Money(), Money());
    price(b, "OtherTotal", commissioning.base.total + other.base.total,
          otherCur ? std::optional<Money>(commissioning.current.total + other.current.total) : std::nullopt);
    b.open("Commissioning");
    b.close();
    model::WorkTypeTotals total = r.total;
    total.currentDefined = r.currentComplete && r.total.currentDefined;
    total.indexEm = total.indexM = std::nullopt;  // the sum of blocks indexed each on its own
    workBlock(b, "Summary", total, letter);
    price(b, "Total", total.base.total, total.currentDefined ? std::optional<Money>(total.current.total) : std::nullopt);
    b.close();
}

size_t planItems(Builder& b, const GgeInput& in) {
    size_t number = 0, ids = 0;
    for (size_t i = 0; i < in.result.positions.size(); ++i) {
        if (!in.result.positions[i].computed) continue;
        item(b, in, i, ++number, ids);
    }
    return number;
}

}  // namespace talvira::gge
