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

/** The file's Summary: the works (строительные, монтажные, пусконаладочные), without equipment and
 *  other costs, each indexed on its own. */
model::WorkTypeTotals works(const model::BaseIndexResult& r) {
    model::WorkTypeTotals sum;
    sum.currentDefined = r.currentComplete;
    for (WorkType t : {WorkType::Construction, WorkType::Mounting, WorkType::Commissioning}) {
        const model::WorkTypeTotals w = totalsOf(r, t);
        model::addElements(sum.base, w.base);
        model::addElements(sum.current, w.current);
        sum.currentDefined = sum.currentDefined && w.currentDefined;
    }
    return sum;
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

/** The indices the position applies, as the file's «Индексы … в позиции»: to the wages of workers
 *  and of machinists always, to machines and materials where they are its own (else they stand
 *  on the totals of its type of work). */
void positionIndex(Builder& b, const GgeInput& in, const model::PositionResult& p) {
    b.open("Index");
    b.leaf("Name", in.params.letter);
    b.leaf("Reason", "Минстрой");
    b.leaf("Num", "1");
    b.open("Values");
    const std::pair<const char*, std::optional<Dec7>> values[] = {
        {"ОТ", p.indexOt},
        {"ОТМ", p.indexOtm},
        {"ЭМ", p.ownEm ? p.indexEm : std::nullopt},
        {"М", p.ownM ? p.indexM : std::nullopt},
    };
    for (const auto& [target, value] : values) {
        if (!value) continue;
        b.open("Value");
        b.number("Final", *value);
        b.number("Value", *value);
        b.leaf("Target", target);
        b.close();
    }
    b.close();
    b.close();
}

/** The rate's elements in base prices, without the materials priced as its lines and without Д
 *  (a line of its own, in ФОТ still). */
void rateBase(Builder& b, const model::PositionResult& p, Money materials) {
    b.open("Base");
    b.money("Direct", p.base.pz - materials - p.base.otmExtra);
    b.money("Machines", p.base.em - p.base.otmExtra);
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
    if (p.currentDefined && p.indexOt) {
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
    if (p.indexOt) positionIndex(b, in, p);
    b.close();
}

/** A line's own index (TResIndex). */
void lineIndex(Builder& b, const GgeInput& in, Dec7 index) {
    b.open("Index");
    b.leaf("Name", in.params.letter);
    b.leaf("Num", "1");
    b.open("Value");
    b.number("Final", index);
    b.number("Value", index);
    b.close();
    b.close();
}

/** What a resource line says: the row it comes from, its consumption and its base price. */
struct Line {
    const model::PositionRow& row;
    Dec7 perUnit, quantity;
    std::optional<Money> unitPrice;  // none: no price yet
    Money amount;
    std::optional<Dec7> index;       // its own
};

/** A resource line (a priced material of a rate, or a position of its own, or freight inside
 *  it: `id` 0, no IDResource) up to its index; the caller closes it. */
void openResource(Builder& b, const GgeInput& in, const char* element, const Line& l, size_t id, size_t number) {
    const auto [prefix, code] = prefixAndCode(l.row.code);
    b.open(element);
    if (id > 0) b.leaf("IDResource", std::to_string(id));
    b.leaf("Num", std::to_string(number));
    if (!prefix.empty()) b.leaf("Prefix", prefix);
    b.leaf("Code", code);
    b.leaf("Name", l.row.name);
    b.number("Consumption", l.perUnit);
    b.leaf("Unit", l.row.unit);
    b.number("ConsumptionTotal", l.quantity);
    if (l.unitPrice) {
        b.money("PricePerUnitBase", *l.unitPrice);
        b.money("PriceTotalBase", l.amount);
    }
    if (l.index) lineIndex(b, in, *l.index);
}

Line lineOf(const GgeInput& in, const model::PricedMaterial& m) {
    return {in.rows[m.row], m.perUnit, m.quantity, m.priced ? std::optional<Money>(m.price) : std::nullopt, m.amount,
            m.index};
}

/** Д as a line of machines with its machinist (the file's way of giving it), so that it is read
 *  back whatever coefficients gave it. */
void extraPay(Builder& b, const model::PositionResult& p, const model::PositionRow& row, size_t id, size_t number) {
    const Money perUnit = roundMoney(p.kExtra, p.otm1);
    b.open("Machine");
    b.leaf("IDResource", std::to_string(id));
    b.leaf("Num", std::to_string(number));
    // the machine line and its machinist carry the same figures
    auto figures = [&] {
        b.leaf("Code", "421/пр_2020_п.60.1");
        b.leaf("Name", "Доплаты к оплате труда машинистов");
        b.number("Consumption", Dec7::fromInt(1));
        b.leaf("Unit", row.unit);
        b.number("ConsumptionTotal", p.quantity);
        b.money("PricePerUnitBase", perUnit);
        b.money("PriceTotalBase", p.base.otmExtra);
    };
    figures();
    b.open("Machinist");
    figures();
    b.close();
    b.close();
}

/** The coefficients on the price of a position of its own, as the file gives a resource's. */
void priceFactor(Builder& b, const model::PositionResult& p) {
    auto value = [&b](Dec7 k) {
        b.open("Values");
        b.open("Value");
        b.leaf("Target", "Стоимость");
        b.number("CoefValue", k);
        b.close();
        b.close();
    };
    b.open("Coefficients");
    b.open("Final");
    value(p.kM);
    b.close();
    for (const model::Coefficient& c : p.coefficients) {
        if (!(c.targets & model::M)) continue;
        b.open("Coefficient");
        value(c.value);
        b.leaf("Name", c.reason.empty() ? std::string("Коэффициент") : c.reason);
        b.leaf("Reason", c.reason);
        b.close();
    }
    b.close();
}

/** A position of its own: its resource with its price and index, the lines under it as its
 *  freight. */
void standalone(Builder& b, const GgeInput& in, const model::PositionResult& p, size_t number, size_t& ids) {
    const char* element = p.workType == WorkType::Equipment ? "Equipment" : "Material";
    Money lines;
    for (const model::PricedMaterial& m : p.materials) lines += m.amount;
    openResource(b, in, element, {in.rows[p.row], p.quantity, p.quantity, p.m1, p.base.m - lines, p.indexM}, ++ids,
                 number);
    if (p.kM != Dec7::fromInt(1)) priceFactor(b, p);
    size_t line = 0;
    for (const model::PricedMaterial& m : p.materials) {
        openResource(b, in, "Transport", lineOf(in, m), 0, ++line);
        b.close();
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
        if (!p.materials.empty() || !p.base.otmExtra.isZero()) {
            b.open("Resources");
            size_t line = 0;
            for (const model::PricedMaterial& m : p.materials) {
                openResource(b, in, "Material", lineOf(in, m), ++ids, ++line);
                b.close();
            }
            if (!p.base.otmExtra.isZero()) extraPay(b, p, in.rows[p.row], ++ids, ++line);
            b.close();
        }
    } else {
        standalone(b, in, p, number, ids);
    }
    b.open("Salary");
    b.money("Base", p.base.fot);
    if (cur) b.money("Current", p.current.fot);
    b.close();
    b.open("Totals");
    b.money("Base", p.base.total);
    if (cur && p.currentFull) b.money("Current", p.current.total);
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
    workBlock(b, "Summary", works(r), letter);
    const bool cur = r.currentComplete && r.total.currentDefined;
    price(b, "Total", r.total.base.total, cur ? std::optional<Money>(r.total.current.total) : std::nullopt);
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
