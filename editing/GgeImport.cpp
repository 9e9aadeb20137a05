// The expertise file's estimate as the program's: rows and kept data, position by position.
#include "editing/GgeImport.h"

#include "model/NrSpTables.h"
#include "model/PositionData.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <map>

namespace talvira::editing {

namespace {

using exporting::GgeEstimate;
using exporting::GgeLine;
using exporting::GgePosition;
using model::WorkType;

model::WorkType workTypeOf(const GgePosition& p) {
    const std::string& s = p.summaryType;
    if (s == "Монтажные") return WorkType::Mounting;
    if (s == "Оборудование") return WorkType::Equipment;
    if (s == "Прочее")
        return model::workTypeOfBook(p.prefix) == WorkType::Commissioning ? WorkType::Commissioning : WorkType::Other;
    return WorkType::Construction;
}

/** The block of the file's totals a type of work is indexed in. */
const char* blockOf(WorkType t) {
    switch (t) {
    case WorkType::Construction: return "Building";
    case WorkType::Mounting: return "Mounting";
    case WorkType::Commissioning: return "OtherWorks";
    case WorkType::Equipment: return "Equipment";
    case WorkType::Other: return "Other";
    }
    return "Building";
}

std::optional<Dec7> totalsIndex(const GgeEstimate& e, const std::string& place) {
    const auto at = e.totals.find(place);
    return at == e.totals.end() ? std::nullopt : at->second.index;
}

/** The value most positions give (the estimate's), nothing when none gives one. */
std::optional<Dec7> mostCommon(const std::vector<std::optional<Dec7>>& values) {
    std::map<int64_t, int> counts;
    for (const std::optional<Dec7>& v : values)
        if (v && v->units() > 0) ++counts[v->units()];
    std::optional<Dec7> best;
    int most = 0;
    for (const auto& [units, n] : counts)
        if (n > most) most = n, best = Dec7::fromUnits(units);
    return best;
}

/** The index the file applies to the machines (em) or materials of a type of work on its totals. */
std::optional<Dec7> blockIndex(const GgeEstimate& e, WorkType t, bool machines) {
    const std::string block = blockOf(t);
    if (t == WorkType::Equipment) return machines ? std::nullopt : totalsIndex(e, "Equipment/Price");
    return totalsIndex(e, block + (machines ? "/Machines" : "/Materials/Price"));
}

model::Territory territoryOf(const std::string& text) {
    if (text == "МПРКС") return model::Territory::Mprks;
    if (text == "РКС") return model::Territory::Rks;
    return model::Territory::Ordinary;
}

model::EstimateParams paramsOf(const GgeEstimate& e) {
    model::EstimateParams p;
    p.method = model::Method::BaseIndex;
    p.territory = territoryOf(e.territory);
    p.region = e.regionName;
    p.level = e.priceLevelCur;
    p.baseLevel = e.priceLevelBase;
    for (const auto& [kind, name] : e.legal)
        if (kind == "Indexes") p.letter = name;
    std::vector<std::optional<Dec7>> ot, em, m;
    for (const GgePosition& pos : e.positions) {
        if (!pos.rate) continue;
        ot.push_back(pos.indices.ot);
        em.push_back(pos.indices.em ? pos.indices.em : blockIndex(e, workTypeOf(pos), true));
        m.push_back(pos.indices.m ? pos.indices.m : blockIndex(e, workTypeOf(pos), false));
    }
    p.indexOt = mostCommon(ot);
    p.indexEm = mostCommon(em);
    p.indexM = mostCommon(m);
    p.indexEq = totalsIndex(e, "Equipment/Price");
    if (!p.indexEm) p.indexEm = totalsIndex(e, "Summary/Machines");
    if (!p.indexM) p.indexM = totalsIndex(e, "Summary/Materials/Price");
    return p;
}

/** Set only where it differs from what the position would otherwise apply. */
void ownIfDifferent(std::optional<Dec7>& own, const std::optional<Dec7>& given, const std::optional<Dec7>& otherwise) {
    if (given && given->units() > 0 && given != otherwise) own = given;
}

std::optional<unsigned> targetOf(const std::string& t) {
    if (t == "ОТ") return model::OT;
    if (t == "ЭМ") return model::EM;
    if (t == "ОТМ") return model::OTM;
    if (t == "М" || t == "МАТ" || t == "ОБ") return model::M;
    if (t == "ЗТ") return model::ZT;
    if (t == "ЗТМ") return model::ZTM;
    return std::nullopt;  // Объем: in QuantityTotal already
}

/** One coefficient per distinct Final value with the targets it acts on; the reasons kept as text. */
std::vector<model::Coefficient> coefficientsOf(const GgePosition& p) {
    std::vector<model::Coefficient> out;
    for (const auto& final : p.finals) {
        const Dec7 value = final.second;
        const std::optional<unsigned> bit = targetOf(final.first);
        if (!bit || value == Dec7::fromInt(1) || value.units() <= 0) continue;
        auto same = std::find_if(out.begin(), out.end(), [&](const model::Coefficient& c) { return c.value == value; });
        if (same == out.end()) out.push_back({value, *bit, {}}), same = out.end() - 1;
        same->targets |= *bit;
    }
    for (model::Coefficient& c : out)
        for (const exporting::GgeCoefficient& doc : p.coefficients) {
            if (doc.reason.empty() || c.reason.find(doc.reason) != std::string::npos) continue;
            c.reason += (c.reason.empty() ? "" : "; ") + doc.reason;
        }
    return out;
}

/** The shortest factor k (up to seven decimals) with r(q × otm1 × k) = wanted, nothing when none. */
std::optional<Dec7> factorGiving(Dec7 q, Money otm1, Money wanted) {
    const __int128 base = static_cast<__int128>(q.units()) * otm1.kopecks();  // × 10⁻⁹
    if (base <= 0 || wanted.kopecks() < 0) return std::nullopt;
    const __int128 num = static_cast<__int128>(wanted.kopecks()) * Dec7::kScale;  // × 10⁻⁹
    __int128 scale = 1;
    for (int places = 0; places <= kDec7Places; ++places, scale *= 10) {
        const __int128 k = (num * scale * 2 + base) / (base * 2);  // rounded half up
        __int128 units = k;
        for (int i = places; i < kDec7Places; ++i) units *= 10;
        if (units > INT64_MAX) return std::nullopt;
        const Dec7 factor = Dec7::fromUnits(static_cast<int64_t>(units));
        if (roundMoney(q, factor, otm1) == wanted) return factor;
    }
    return std::nullopt;
}

/** The machinists' extra pay as the file gives it, where the computation's rule (K_ОТ − K_ОТМ)
 *  would give another amount: the factor that reproduces it. */
std::optional<Dec7> extraPayOf(const GgePosition& p, const model::PositionRow& r, const model::PositionData& d) {
    Money wanted;
    for (const GgeLine& l : p.lines)
        if (l.extraPay) wanted += l.totalBase.value_or(Money());
    Dec7 kOt = Dec7::fromInt(1), kOtm = Dec7::fromInt(1);
    for (const model::Coefficient& c : d.coefficients) {
        if (c.targets & model::OT) kOt = mul(kOt, c.value);
        if (c.targets & model::OTM) kOtm = mul(kOtm, c.value);
    }
    const Dec7 q = Dec7::fromDouble(r.quantity);
    const Money otm1 = Money::fromDouble(r.machineWages);
    const Money rule = kOt > kOtm ? roundMoney(q, kOt - kOtm, otm1) : Money();
    if (rule == wanted) return std::nullopt;
    if (wanted.isZero()) return Dec7();
    return factorGiving(q, otm1, wanted);
}

/** A rate's code joins its book's prefix as the base writes it («ФЕР» «11-01-011-01» →
 *  «ФЕР11-01-011-01»), a resource's with a hyphen («ФССЦ» «04.3.01.09-0012» → «ФССЦ-04.3.01.09-0012»). */
std::string codeOf(const std::string& prefix, const std::string& code, bool resource) {
    if (prefix.empty()) return code;
    const char last = prefix.back();
    return resource && last != '_' && last != '-' ? prefix + "-" + code : prefix + code;
}

/** A priced line as a row: quantity and price so that r(quantity × price) is the file's amount
 *  (the coefficient on the price in the price where it stays in kopecks, else in the quantity;
 *  cancelled freight as a negative price). */
model::PositionRow lineRow(const GgeLine& l) {
    model::PositionRow r;
    r.code = codeOf(l.prefix, l.code, true);
    r.name = l.name;
    r.unit = l.unit;
    Dec7 q = l.consumptionTotal;
    if (l.kConsumption) q = (Exact(q) * *l.kConsumption).dec7();
    Money price = l.priceBase.value_or(Money());
    if (l.kCost) {
        // kopecks × units of 10⁻⁷: whole kopecks when the last seven places are zero
        const int64_t exact = (Exact(price) * *l.kCost).rounded(kMoneyPlaces + kDec7Places);
        if (exact % Dec7::kScale == 0) price = Money::fromKopecks(exact / Dec7::kScale);
        else q = (Exact(q) * *l.kCost).dec7();
    }
    if (q.units() < 0) q = -q, price = -price;
    r.quantity = q.toDouble();
    r.cost = r.materials = price.toDouble();
    return r;
}

struct Builder {
    const GgeEstimate& e;
    GgePlan& plan;

    int32_t nextCount() const { return int32_t(plan.rows.size()) + 1; }

    void add(model::PositionRow row, model::PositionData data, size_t from, int line) {
        row.count = data.count = nextCount();
        data.code = row.code;
        plan.rows.push_back(std::move(row));
        plan.calc.positions.push_back(std::move(data));
        plan.source.emplace_back(from, line);
    }

    /** The position's M index (own or the estimate's): a line with another gets its own. */
    std::optional<Dec7> positionM(const model::PositionData& d, WorkType t) const {
        return model::indexFor(t == WorkType::Equipment ? model::IndexOf::Eq : model::IndexOf::M, plan.calc.params,
                               &d.indices);
    }

    void lines(const GgePosition& p, size_t from, int32_t owner, const model::PositionData& ownerData, size_t first) {
        for (size_t i = first; i < p.lines.size(); ++i) {
            const GgeLine& l = p.lines[i];
            if (l.extraPay) continue;  // the computation gives Д from the coefficients
            model::PositionData d = model::PositionData::ofMaterial(0, {}, owner, l.consumption);
            ownIfDifferent(d.indices.m, l.index, positionM(ownerData, workTypeOf(p)));
            add(lineRow(l), std::move(d), from, int(i));
        }
    }

    void rate(const GgePosition& p, size_t from) {
        model::PositionRow r;
        r.code = codeOf(p.prefix, p.code, false);
        r.name = p.name;
        r.unit = p.unit;
        r.quantity = (p.quantityTotal.isZero() ? p.quantity : p.quantityTotal).toDouble();
        r.cost = p.perUnit.direct.value_or(Money()).toDouble();
        r.baseWages = p.perUnit.ot.value_or(Money()).toDouble();
        r.materials = p.perUnit.m.value_or(Money()).toDouble();
        r.machines = p.perUnit.machines.value_or(Money()).toDouble();
        r.machineWages = p.perUnit.otm.value_or(Money()).toDouble();
        r.labour = p.zt1.toDouble();
        model::PositionData d;
        d.workType = workTypeOf(p);
        d.machinistLabour = p.ztm1;
        d.coefficients = coefficientsOf(p);
        if (!p.overheads.reason.empty()) d.nrRow = model::rowOfReference(p.overheads.reason);
        if (!p.profits.reason.empty()) d.spRow = model::rowOfReference(p.profits.reason);
        d.nrPercent = p.overheads.valueTotal ? p.overheads.valueTotal : p.overheads.value;
        d.spPercent = p.profits.valueTotal ? p.profits.valueTotal : p.profits.value;
        d.extraPayFactor = extraPayOf(p, r, d);
        const model::EstimateParams& params = plan.calc.params;
        ownIfDifferent(d.indices.ot, p.indices.ot, params.indexOt);
        ownIfDifferent(d.indices.otm, p.indices.otm, p.indices.ot ? p.indices.ot : params.indexOt);
        const WorkType t = *d.workType;
        ownIfDifferent(d.indices.em, p.indices.em ? p.indices.em : blockIndex(e, t, true), params.indexEm);
        ownIfDifferent(t == WorkType::Equipment ? d.indices.eq : d.indices.m,
                       p.indices.m ? p.indices.m : blockIndex(e, t, false),
                       t == WorkType::Equipment ? params.indexEq : params.indexM);
        const int32_t count = nextCount();
        const model::PositionData kept = d;
        add(std::move(r), std::move(d), from, -1);
        lines(p, from, count, kept, 0);
    }

    /** A resource that is a position: its price, its freight as its lines. */
    void resource(const GgePosition& p, size_t from) {
        const GgeLine& l = p.lines.front();
        model::PositionData d;
        d.workType = workTypeOf(p);
        const WorkType t = *d.workType;
        const model::EstimateParams& params = plan.calc.params;
        const std::optional<Dec7> block = blockIndex(e, t, false);
        const std::optional<Dec7> given = l.index ? l.index : block;
        ownIfDifferent(t == WorkType::Equipment ? d.indices.eq : d.indices.m, given,
                       t == WorkType::Equipment ? params.indexEq : params.indexM);
        const int32_t count = nextCount();
        const model::PositionData kept = d;
        add(lineRow(l), std::move(d), from, 0);
        lines(p, from, count, kept, 1);
    }
};

void noteOnce(GgePlan& plan, const std::string& note) {
    if (std::find(plan.notes.begin(), plan.notes.end(), note) == plan.notes.end()) plan.notes.push_back(note);
}

/** What the file says for the expertise file written again (acts, region, construction, object,
 *  numbers, signatures), each checked as the parameters dialog checks it: a value it refuses is
 *  left out and noted. */
void takeFacts(const GgeEstimate& e, GgePlan& plan) {
    std::string norms;
    for (const auto& [kind, name] : e.legal)
        if (kind == "Main") norms = name;
    const std::pair<const char*, std::string> facts[] = {
        {"gge.norms", norms},
        {"gge.norms.orders", e.normsOrders},
        {"gge.norms.date", e.normsDate.text()},
        {"gge.norms.num", e.normsNum},
        {"gge.wage_act", e.salaryAct},
        {"gge.index_object", e.indexObjectType},
        {"gge.kind", e.estimateType},
        {"gge.guid", e.guid},
        {"region.code", e.regionCode},
        {"construction", e.constructionName},
        {"construction.num", e.constructionNum},
        {"object", e.objectName},
        {"object.num", e.objectNum},
        {"object.address", e.objectAddress},
        {"estimate.num", e.num},
        {"estimate.name", e.name},
        {"estimate.date", e.estimateDate.text()},
        {"signature.composed", e.composer},
        {"signature.checked", e.verifier},
    };
    for (const auto& [key, value] : facts) {
        if (value.empty()) continue;
        bool known = true;
        const std::string fault = model::setParam(plan.calc.params, key, value, known, false);
        if (!fault.empty())
            noteOnce(plan, "«" + model::paramCaption(key) + "» из файла («" + value + "») не взят" + fault + ".");
    }
}

}  // namespace

GgePlan planGgeImport(const GgeEstimate& file, char decimalSep) {
    GgePlan plan;
    plan.calc.params = paramsOf(file);
    takeFacts(file, plan);
    plan.texts = model::EstimateTexts::defaults(decimalSep);
    plan.texts.title = file.num.empty() ? file.name : file.num + " " + file.name;
    Builder b{file, plan};
    plan.rows.reserve(file.positions.size() * 2);
    for (size_t i = 0; i < file.positions.size(); ++i) {
        const GgePosition& p = file.positions[i];
        if (p.rate) b.rate(p, i);
        else b.resource(p, i);
    }
    noteOnce(plan, "Разделы сметы не хранятся: позиции идут подряд в порядке файла (разделов в файле: " +
                       std::to_string(file.sections.size()) + ").");
    for (const GgePosition& p : file.positions)
        for (const GgeLine& l : p.lines)
            if (l.extraPay)
                noteOnce(plan, "Доплаты к оплате труда машинистов не строка сметы: программа считает их из "
                               "коэффициентов к ОТ и ОТМ.");
    noteOnce(plan, "Ресурсы расценок и неучтенные материалы без цены не хранятся: в сумму они не входят.");
    return plan;
}

}  // namespace talvira::editing
