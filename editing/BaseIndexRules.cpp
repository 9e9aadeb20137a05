#include "editing/BaseIndexRules.h"

#include "common/Error.h"
#include "estimate/EstimateFields.h"


namespace talvira::editing {

using talvira::Dec7;

// ---------------------------------------------------------------------------------------------
// Materials follow their rate
// ---------------------------------------------------------------------------------------------

std::optional<double> materialQuantity(Dec7 perUnit, double rateQuantity) {
    Dec7 q;
    try {
        q = Dec7::fromDouble(rateQuantity);
    } catch (const Error&) {
        return std::nullopt;
    }
    if (q.isZero()) return std::nullopt;
    return mul(perUnit, q).toDouble();
}

namespace {

/** Material `row` of rate `rateRow` when its quantity is not the one it is to hold. */
void follow(const std::vector<model::PositionRow>& rows, const model::BaseIndexState& state, size_t rateRow, size_t row,
            std::vector<QuantityChange>& out) {
    const std::optional<double> want = materialQuantity(state.dataOf(row)->perUnit, rows[rateRow].quantity);
    // An empty quantity reads as 0: a material at 0 while its rate has none is as it should be.
    if (want ? rows[row].quantity != *want : rows[row].quantity != 0) out.push_back({row, want});
}

}  // namespace

std::vector<QuantityChange> followingQuantities(const std::vector<model::PositionRow>& rows,
                                                const model::BaseIndexState& state, const model::EstimateParams& params,
                                                size_t rateRow) {
    std::vector<QuantityChange> out;
    if (params.method != model::Method::BaseIndex || rateRow >= rows.size() || rateRow >= state.rowCount() ||
        state.ownerOf(rateRow) != rateRow)
        return out;
    for (size_t i : state.materialsOf(rateRow)) follow(rows, state, rateRow, i, out);
    return out;
}

std::vector<QuantityChange> followingQuantities(const std::vector<model::PositionRow>& rows,
                                                const model::BaseIndexState& state) {
    std::vector<QuantityChange> out;
    for (size_t i = 0; i < rows.size() && i < state.rowCount(); ++i)
        if (state.ownerOf(i) != i) follow(rows, state, state.ownerOf(i), i, out);
    return out;
}

void applyQuantities(storage::TableHandle& smeta, const std::vector<QuantityChange>& changes) {
    if (changes.empty()) return;
    storage::PositionKept position(smeta);
    for (const QuantityChange& c : changes) {
        smeta.moveTo(static_cast<int>(c.row));
        smeta.edit();
        smeta.setFieldValue(estimate::fld::KOLVO, c.quantity ? storage::Value::real(*c.quantity) : storage::Value());
        smeta.post();
    }
}

// ---------------------------------------------------------------------------------------------
// What the estimator types
// ---------------------------------------------------------------------------------------------

bool isRatePrice(const model::PositionRow& row, std::string_view field) {
    namespace f = estimate::fld;
    const bool price = field == f::STOIM || field == f::OSNZP || field == f::MATER || field == f::EXPLMASH ||
                       field == f::ZPMASH;
    if (!price) return false;
    // As the computation tells a rate from a priced material: by wages, machines and labour as
    // it reads them (a value beyond its range leaves the row open, to be mended).
    try {
        return !(Money::fromDouble(row.baseWages).isZero() && Money::fromDouble(row.machines).isZero() &&
                 Money::fromDouble(row.machineWages).isZero() && Dec7::fromDouble(row.labour).isZero());
    } catch (const Error&) {
        return false;
    }
}

// ---------------------------------------------------------------------------------------------
// A new estimate
// ---------------------------------------------------------------------------------------------

EstimateStart estimateStart(const normbase::BaseInfo& base, char decimalSep) {
    EstimateStart s;
    s.texts = model::EstimateTexts::defaults(decimalSep);
    if (!base.imported) return s;
    s.params.method = model::Method::BaseIndex;
    s.params.baseLevel = base.priceLevel;
    // The template's texts, should the estimator switch to it: prices already current take no
    // factor, and VAT is 20 % since 2019.
    s.texts.currentPriceFactor = "1";
    s.texts.vatPercent = "20";
    s.writeCalc = true;
    return s;
}

// ---------------------------------------------------------------------------------------------
// Kept percentages and the shipped tables
// ---------------------------------------------------------------------------------------------

std::string PercentDifference::text() const {
    std::string s = "Позиция " + std::to_string(number) + ": " + (overhead ? "НР" : "СП") + " по " + reference +
                    " — в смете " + kept.text(',') + " %, ";
    return s + (table ? "в таблицах " + table->text(',') + " %" : "в таблицах такой строки нет");
}

std::vector<PercentDifference> percentDifferences(const std::vector<model::PositionRow>& rows, const KeptCalc& calc,
                                                  const model::NrSpTables& tables) {
    std::vector<PercentDifference> out;
    const std::vector<const model::PositionData*> extras = model::dataByRow(rows, calc.positions);
    for (size_t i = 0; i < rows.size(); ++i) {
        const model::PositionData* e = extras[i];
        if (!e) continue;
        for (bool nr : {true, false}) {
            const std::string& row = nr ? e->nrRow : e->spRow;
            const std::optional<Dec7>& kept = nr ? e->nrPercent : e->spPercent;
            if (row.empty() || !kept) continue;
            PercentDifference d;
            d.row = i;
            d.number = rows[i].count;
            d.overhead = nr;
            d.reference = nr ? model::nrReference(row, calc.params.territory) : model::spReference(row);
            d.kept = *kept;
            if (const model::NrSpRow* t = tables.find(row)) d.table = nr ? t->nrPercentIn(calc.params.territory) : t->spPercent;
            if (!d.table || *d.table != *kept) out.push_back(d);
        }
    }
    return out;
}

void takeTablePercents(KeptCalc& calc, const std::vector<PercentDifference>& accepted) {
    for (const PercentDifference& d : accepted) {
        if (!d.table) continue;
        model::PositionData& e = calc.entry(d.number);
        (d.overhead ? e.nrPercent : e.spPercent) = *d.table;
    }
}

void setTerritory(KeptCalc& calc, model::Territory territory, const model::NrSpTables& tables) {
    for (model::PositionData& e : calc.positions) {
        const model::NrSpRow* t = e.nrRow.empty() ? nullptr : tables.find(e.nrRow);
        if (t && e.nrPercent && *e.nrPercent == t->nrPercentIn(calc.params.territory)) e.nrPercent = t->nrPercentIn(territory);
    }
    calc.params.territory = territory;
}

// ---------------------------------------------------------------------------------------------
// An estimate made by the template
// ---------------------------------------------------------------------------------------------

namespace {

/** Only a price, as Add writes a material: no wages, machines or labour, STOIM equal to MATER. */
bool materialShaped(const model::PositionRow& r) {
    return r.baseWages == 0 && r.machines == 0 && r.machineWages == 0 && r.labour == 0 && r.cost == r.materials;
}

bool rateShaped(const model::PositionRow& r) {
    return r.baseWages != 0 || r.machines != 0 || r.machineWages != 0 || r.labour != 0;
}

Dec7 exactly(double v) {
    try {
        return Dec7::fromDouble(v);
    } catch (const Error&) {
        return Dec7::fromInt(-1);  // matches no consumption
    }
}

}  // namespace

DerivedCalc deriveCalc(const std::vector<model::PositionRow>& rows, const KeptCalc& calc, const estimate::RateLookup& lookup,
                       const model::NrSpTables& tables) {
    DerivedCalc out;
    const std::vector<const model::PositionData*> extras = model::dataByRow(rows, calc.positions);
    std::optional<size_t> rate;       // the rate the materials that follow belong to
    std::optional<model::RateFacts> facts;  // what the base says of it
    std::vector<bool> lineTaken;      // its materials already recognised
    for (size_t i = 0; i < rows.size(); ++i) {
        const model::PositionRow& r = rows[i];
        if (rateShaped(r)) {
            rate = i;
            facts = lookup ? lookup(r.code) : std::nullopt;
            lineTaken.assign(facts ? facts->materials.size() : 0, false);
            if (extras[i]) continue;
            model::RateFacts known = facts.value_or(model::RateFacts{});
            known.code = r.code;
            out.positions.push_back(model::PositionData::ofRate(r.count, known, calc.params.territory, tables));
            continue;
        }
        if (extras[i] && extras[i]->parent != 0) {
            // Kept by the template's Add: per unit of its rate, unless the estimator typed another
            // quantity; then it is a position of its own, with that quantity.
            if (exactly(r.quantity) != extras[i]->perUnit) {
                model::PositionData own = *extras[i];
                own.parent = 0;
                out.positions.push_back(std::move(own));
            }
            continue;
        }
        if (extras[i] || !rate || !materialShaped(r)) continue;
        const Dec7 kolvo = exactly(r.quantity);
        std::optional<Dec7> perUnit;
        if (!facts) {
            perUnit = kolvo;  // no base to tell: taken as Add writes it, per unit of the rate
        } else {
            for (size_t k = 0; k < facts->materials.size() && !perUnit; ++k)
                if (!lineTaken[k] && facts->materials[k].first == r.code && facts->materials[k].second == kolvo) {
                    lineTaken[k] = true;
                    perUnit = kolvo;
                }
        }
        if (!perUnit) continue;  // changed by the estimator, or not the rate's: a position of its own
        out.positions.push_back(model::PositionData::ofMaterial(r.count, r.code, rows[*rate].count, *perUnit));
        const std::optional<double> want = materialQuantity(*perUnit, rows[*rate].quantity);
        if (want ? r.quantity != *want : r.quantity != 0) out.quantities.push_back({i, want});
    }
    return out;
}

}  // namespace talvira::editing
