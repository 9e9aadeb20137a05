#include "editing/BaseIndexText.h"

#include "editing/EstimateForms.h"

namespace talvira::editing {

namespace {

using talvira::Dec7;
using talvira::Money;

const std::string kNone = "—";
const char* const kDot = " · ";

std::string amount(Money m, char sep) { return m.grouped(sep); }

std::string indexText(const std::optional<Dec7>& i, char sep) { return i ? i->text(sep) : kNone; }

}  // namespace

std::string tablePercentsQuestion(const std::vector<PercentDifference>& differences) {
    constexpr size_t kShown = 12;
    std::string s = "Проценты накладных расходов и сметной прибыли, сохраненные в смете, отличаются от таблиц "
                    "программы:\n";
    for (size_t i = 0; i < differences.size() && i < kShown; ++i) s += "\n" + differences[i].text();
    if (differences.size() > kShown) s += "\n… и еще " + std::to_string(differences.size() - kShown);
    return s + "\n\nВзять проценты из таблиц или оставить сохраненные в смете?";
}

std::string workTypeHeading(model::WorkType type) {
    switch (type) {
    case model::WorkType::Construction: return "Строительные работы";
    case model::WorkType::Mounting: return "Монтажные работы";
    case model::WorkType::Commissioning: return "Пусконаладочные работы";
    case model::WorkType::Equipment: return "Оборудование";
    case model::WorkType::Other: return "Прочие работы";
    }
    return {};
}

std::string estimateSummary(const model::EstimateParams& p, char sep) {
    std::string s = p.baseLevel.empty() ? "Уровень цен базы не указан" : "Цены базы на " + p.baseLevel;
    s += "; текущие: " + (p.level.empty() ? std::string("уровень не указан") : p.level);
    if (!p.region.empty()) s += ", " + p.region;
    if (p.territory != model::Territory::Ordinary) s += ", " + std::string(kTerritoryNames[size_t(int(p.territory) - 1)]);
    s += "; индексы: ОТ " + indexText(p.indexOt, sep) + ", ЭМ " + indexText(p.indexEm, sep) + ", М " +
         indexText(p.indexM, sep) + ", оборудование " + indexText(p.indexEq, sep);
    if (p.capitalRepair) s += "; капремонт: НР × 0,9, СП × 0,85";
    return s;
}

std::string positionSummary(const model::PositionRow& row, const model::PositionData& e,
                            const model::PositionResult* result, const model::EstimateParams& params,
                            const model::NrSpTables& tables, char sep) {
    std::string s = "№ " + std::to_string(row.count);
    const bool material = e.parent != 0 && result && result->number != row.count;
    if (material) {
        s += kDot + std::string("материал расценки № ") + std::to_string(e.parent) + ", расход " + e.perUnit.text(sep) +
             " на единицу";
    } else {
        const std::optional<model::WorkType> book = model::workTypeOfBook(row.code);
        const model::WorkType type = e.workType ? *e.workType : book.value_or(model::WorkType::Construction);
        s += kDot + std::string(model::workTypeText(type));
        const std::string nr = nrText(e, params.territory, tables, sep), sp = spText(e, tables, sep);
        if (nr.empty() && sp.empty()) {
            std::vector<std::string> named = e.nrChoices;
            s += kDot + std::string("НР и СП не выбраны");
            if (!named.empty()) {
                s += " (норма называет: ";
                for (size_t i = 0; i < named.size(); ++i) s += (i ? "; " : "") + named[i];
                s += ")";
            }
        } else {
            if (!nr.empty()) s += kDot + nr;
            if (!sp.empty()) s += kDot + sp;
        }
        for (const model::Coefficient& c : e.coefficients)
            s += kDot + std::string("К ") + c.value.text(sep) + " (" + model::targetsText(c.targets) + ")";
    }
    if (result && !result->computed && !result->problems.empty()) s += kDot + std::string("не рассчитана: ") + result->problems.front().message;
    return s;
}

std::vector<TotalsLine> baseIndexLines(const model::BaseIndexResult& r, std::string_view vatPercent, char sep) {
    using Kind = TotalsLine::Kind;
    std::vector<TotalsLine> out;
    auto block = [&](const std::string& heading, const model::WorkTypeTotals& w, bool withIndices, bool equipment) {
        out.push_back({Kind::Heading, heading, {}, {}, {}});
        const model::Elements& b = w.base;
        const model::Elements& c = w.current;
        const bool ot = w.indexOt.has_value(), em = w.indexEm.has_value(), m = w.indexM.has_value();
        auto cur = [&](Money v, bool defined) { return defined ? amount(v, sep) : kNone; };
        auto idx = [&](const std::optional<Dec7>& i) { return withIndices ? indexText(i, sep) : std::string(); };
        const bool wages = ot || (b.ot.isZero() && b.otm.isZero());
        out.push_back({Kind::Amount, "Оплата труда (ОТ)", amount(b.ot, sep), idx(w.indexOt), cur(c.ot, wages)});
        out.push_back({Kind::Amount, "Эксплуатация машин (ЭМ)", amount(b.em, sep), idx(w.indexEm), cur(c.em, em || b.em.isZero())});
        out.push_back({Kind::Amount, "в т.ч. оплата труда машинистов (ОТМ)", amount(b.otm, sep), idx(w.indexOt), cur(c.otm, wages)});
        out.push_back({Kind::Amount, equipment ? "Оборудование" : "Материалы (М)", amount(b.m, sep), idx(w.indexM),
                       cur(c.m, m || b.m.isZero())});
        out.push_back({Kind::Amount, "Прямые затраты (ПЗ)", amount(b.pz, sep), {}, cur(c.pz, w.currentDefined)});
        out.push_back({Kind::Amount, "Фонд оплаты труда (ФОТ)", amount(b.fot, sep), {}, cur(c.fot, wages)});
        out.push_back({Kind::Amount, "Накладные расходы (НР)", amount(b.nr, sep), {}, cur(c.nr, wages)});
        out.push_back({Kind::Amount, "Сметная прибыль (СП)", amount(b.sp, sep), {}, cur(c.sp, wages)});
        out.push_back({Kind::Total, "Итого", amount(b.total, sep), {}, cur(c.total, w.currentDefined)});
        out.push_back({Kind::Amount, "Затраты труда рабочих (ЗТ), чел.-ч", b.zt.text(sep), {}, {}});
        out.push_back({Kind::Amount, "Затраты труда машинистов (ЗТМ), чел.-ч", b.ztm.text(sep), {}, {}});
    };
    for (const model::WorkTypeTotals& w : r.workTypes)
        block(workTypeHeading(w.type), w, true, w.type == model::WorkType::Equipment);
    block("Всего по смете", r.total, false, false);

    // VAT belongs to the summary documents, not to a local estimate: shown after its total.
    out.push_back({Kind::Note, "Справочно, в локальную смету не входит:", {}, {}, {}});
    const std::optional<Dec7> vat = Dec7::tryParse(vatPercent);
    if (!vat) {
        out.push_back({Kind::Note, "НДС: «" + std::string(vatPercent) + "» — не число", {}, {}, {}});
    } else {
        const bool defined = r.total.currentDefined;
        const Money tax = percentOf(r.total.current.total, *vat);
        out.push_back({Kind::Amount, "НДС " + vat->text(sep) + " %", {}, {}, defined ? amount(tax, sep) : kNone});
        out.push_back({Kind::Total, "Всего с НДС", {}, {}, defined ? amount(r.total.current.total + tax, sep) : kNone});
    }
    if (!r.problems.empty()) {
        out.push_back({Kind::Note, "Не рассчитано:", {}, {}, {}});
        for (const model::Problem& p : r.problems) out.push_back({Kind::Problem, p.message, {}, {}, {}});
    }
    return out;
}

}  // namespace talvira::editing
