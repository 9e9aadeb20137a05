#include "editing/EstimateForms.h"

#include "common/Error.h"
#include "model/TypedNumber.h"

#include <algorithm>

namespace talvira::editing {

namespace {

std::string shown(const std::optional<Dec7>& v, char sep) { return v ? v->text(sep) : std::string(); }

/** An index of the form read into `to` by the one rule of the parameters; talvira::Error
 *  naming the field as the dialog names it. */
void readIndex(model::EstimateParams& p, const char* key, const std::string& text) {
    bool known = true;
    if (const std::string fault = model::setParam(p, key, text, known); !fault.empty())
        throw Error(model::typedFaultMessage(model::paramCaption(key), text, fault));
}

template <size_t N>
int clampedIndex(int i) {
    return std::clamp(i, 0, int(N) - 1);
}

}  // namespace

// ---- parameters ------------------------------------------------------------------------------

ParamsForm paramsForm(const model::EstimateParams& p, char sep) {
    ParamsForm f;
    f.method = p.method == model::Method::BaseIndex ? 1 : 0;
    f.territory = int(p.territory) - 1;
    f.capitalRepair = p.capitalRepair;
    f.region = p.region;
    f.level = p.level;
    f.letter = p.letter;
    f.indexOt = shown(p.indexOt, sep);
    f.indexEm = shown(p.indexEm, sep);
    f.indexM = shown(p.indexM, sep);
    f.indexEq = shown(p.indexEq, sep);
    for (size_t i = 0; i < f.expertise.size(); ++i) f.expertise[i] = p.gge.*model::kExpertiseKeys[i].member;
    return f;
}

model::EstimateParams readParamsForm(const ParamsForm& f, const model::EstimateParams& kept) {
    model::EstimateParams p = kept;
    // Every index is read before anything is taken.
    readIndex(p, "index.ot", f.indexOt);
    readIndex(p, "index.em", f.indexEm);
    readIndex(p, "index.m", f.indexM);
    readIndex(p, "index.eq", f.indexEq);
    for (size_t i = 0; i < f.expertise.size() && i < std::size(model::kExpertiseKeys); ++i)
        readIndex(p, model::kExpertiseKeys[i].key, f.expertise[i]);
    p.method = clampedIndex<2>(f.method) == 1 ? model::Method::BaseIndex : model::Method::Template;
    p.territory = model::Territory(clampedIndex<3>(f.territory) + 1);
    p.capitalRepair = f.capitalRepair;
    p.region = f.region;
    p.level = f.level;
    p.letter = f.letter;
    return p;
}

std::string baseLevelText(const model::EstimateParams& p) {
    if (p.baseLevel.empty()) return "Уровень цен нормативной базы не указан";
    return "Цены нормативной базы на " + p.baseLevel;
}

// ---- one position ----------------------------------------------------------------------------

PositionForm positionForm(const model::PositionData& e, char sep) {
    PositionForm f;
    f.row = !e.nrRow.empty() ? e.nrRow : e.spRow;
    f.workType = e.workType ? int(*e.workType) : -1;
    for (const model::Coefficient& c : e.coefficients) f.coefficients.push_back({c.value.text(sep), c.targets, c.reason});
    if (e.parent != 0) f.perUnit = e.perUnit.text(sep);
    return f;
}

model::PositionData readPositionForm(const PositionForm& f, const model::PositionData& kept,
                                      const model::NrSpTables& tables, model::Territory territory) {
    model::PositionData e = kept;
    const std::string shownRow = !kept.nrRow.empty() ? kept.nrRow : kept.spRow;
    if (f.row == shownRow) {
        // Unchanged: the rows stay as they are, also where НР and СП name different ones.
    } else if (!e.chooseRow(f.row, territory, tables)) {
        throw Error(model::unknownRowMessage("Норматив НР и СП", f.row));
    }
    if (f.workType < -1 || f.workType >= model::kWorkTypes) throw Error("Вид работ: такого вида нет.");
    e.workType = f.workType < 0 ? std::nullopt : std::optional(model::WorkType(f.workType));

    e.coefficients.clear();
    for (size_t i = 0; i < f.coefficients.size(); ++i) {
        const CoefficientForm& c = f.coefficients[i];
        e.addCoefficient(c.value, c.targets, c.reason, "Коэффициент " + std::to_string(i + 1));
    }
    if (kept.parent != 0) e.setPerUnit(f.perUnit);
    return e;
}

std::string nrText(const model::PositionData& e, model::Territory territory, const model::NrSpTables& tables,
                   char sep) {
    if (e.nrRow.empty()) return {};
    const std::string ref = model::nrReference(e.nrRow, territory);
    const model::NrSpRow* row = tables.find(e.nrRow);
    if (!row) return ref + " (нет в таблицах)";
    const Dec7 percent = e.nrPercent ? *e.nrPercent : row->nrPercentIn(territory);
    return ref + " " + row->title() + " " + percent.text(sep) + " %";
}

std::string spText(const model::PositionData& e, const model::NrSpTables& tables, char sep) {
    if (e.spRow.empty()) return {};
    const std::string ref = model::spReference(e.spRow);
    const model::NrSpRow* row = tables.find(e.spRow);
    if (!row) return ref + " (нет в таблицах)";
    return ref + " " + (e.spPercent ? *e.spPercent : row->spPercent).text(sep) + " %";
}

std::string rowChoiceText(const model::NrSpRow& row, model::Territory territory, char sep) {
    return row.ref + " " + row.title() + " — НР " + row.nrPercentIn(territory).text(sep) + " %, СП " +
           row.spPercent.text(sep) + " %";
}

}  // namespace talvira::editing
