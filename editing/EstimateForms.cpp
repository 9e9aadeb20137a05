#include "editing/EstimateForms.h"

#include "common/Error.h"

#include <algorithm>

namespace talvira::editing {

namespace {

std::string shown(const std::optional<Dec7>& v, char sep) { return v ? v->text(sep) : std::string(); }

bool blank(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return c == ' ' || c == '\t'; });
}

/** A positive number or nothing (an empty text); talvira::Error naming `what` otherwise. */
std::optional<Dec7> positiveOrNone(const std::string& text, std::string_view what) {
    if (blank(text)) return std::nullopt;
    const std::optional<Dec7> v = Dec7::tryParse(text);
    if (!v) throw Error(std::string(what) + ": «" + text + "» — не число.");
    if (v->units() <= 0) throw Error(std::string(what) + ": «" + text + "» — должен быть больше нуля.");
    return v;
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
    return f;
}

model::EstimateParams readParamsForm(const ParamsForm& f, const model::EstimateParams& kept) {
    model::EstimateParams p = kept;
    // Every index is read before anything is taken.
    p.indexOt = positiveOrNone(f.indexOt, "Индекс ОТ");
    p.indexEm = positiveOrNone(f.indexEm, "Индекс ЭМ");
    p.indexM = positiveOrNone(f.indexM, "Индекс М");
    p.indexEq = positiveOrNone(f.indexEq, "Индекс оборудования");
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
    } else if (f.row.empty()) {
        e.nrRow.clear();
        e.spRow.clear();
        e.nrPercent.reset();
        e.spPercent.reset();
    } else {
        const model::NrSpRow* row = tables.find(f.row);
        if (!row) throw Error("Норматив НР и СП «" + f.row + "»: такой строки нет в таблицах приказов 812/пр и 774/пр.");
        e.nrRow = e.spRow = row->ref;
        // The percentages of the moment are kept with the row: a later change of the tables
        // is told, never taken silently.
        e.nrPercent = row->nrPercent[size_t(int(territory) - 1)];
        e.spPercent = row->spPercent;
    }
    if (f.workType < -1 || f.workType >= model::kWorkTypes) throw Error("Вид работ: такого вида нет.");
    e.workType = f.workType < 0 ? std::nullopt : std::optional(model::WorkType(f.workType));

    e.coefficients.clear();
    for (size_t i = 0; i < f.coefficients.size(); ++i) {
        const CoefficientForm& c = f.coefficients[i];
        const std::string what = "Коэффициент " + std::to_string(i + 1);
        const std::optional<Dec7> v = Dec7::tryParse(c.value);
        if (!v) throw Error(what + ": «" + c.value + "» — не число.");
        if (v->isZero()) throw Error(what + ": значение не может быть равно 0.");
        if (v->units() < 0) throw Error(what + ": «" + c.value + "» — должен быть больше нуля.");
        if ((c.targets & 63u) == 0) throw Error(what + ": не указано, к чему он применяется (ОТ, ЭМ, ОТМ, М, ЗТ, ЗТМ).");
        e.coefficients.push_back({*v, c.targets & 63u, c.reason});
    }

    if (kept.parent != 0) {
        const std::optional<Dec7> v = Dec7::tryParse(f.perUnit);
        if (!v) throw Error("Расход на единицу расценки: «" + f.perUnit + "» — не число.");
        if (v->units() < 0) throw Error("Расход на единицу расценки: «" + f.perUnit + "» — не может быть отрицательным.");
        e.perUnit = *v;
    }
    return e;
}

std::string nrText(const model::PositionData& e, model::Territory territory, const model::NrSpTables& tables,
                   char sep) {
    if (e.nrRow.empty()) return {};
    const std::string ref = model::nrReference(e.nrRow, territory);
    const model::NrSpRow* row = tables.find(e.nrRow);
    if (!row) return ref + " (нет в таблицах)";
    const Dec7 percent = e.nrPercent ? *e.nrPercent : row->nrPercent[size_t(int(territory) - 1)];
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
    return row.ref + " " + row.title() + " — НР " + row.nrPercent[size_t(int(territory) - 1)].text(sep) + " %, СП " +
           row.spPercent.text(sep) + " %";
}

}  // namespace talvira::editing
