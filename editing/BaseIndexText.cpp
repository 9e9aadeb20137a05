#include "editing/BaseIndexText.h"

#include "common/Error.h"
#include "editing/EstimateForms.h"

#include <algorithm>
#include <iterator>

namespace talvira::editing {

namespace {

using talvira::Dec7;
using talvira::Money;

const std::string kNone = "—";
const char* const kDot = " · ";

std::string amount(Money m, char sep) { return m.grouped(sep); }

std::string indexText(const std::optional<Dec7>& i, char sep) { return i ? i->text(sep) : kNone; }

/** The decimals `v` has, trailing zeros left off. */
int decimalsOf(Dec7 v) {
    int64_t u = v.units() < 0 ? -v.units() : v.units();
    int d = 7;
    while (d > 0 && u % 10 == 0) {
        u /= 10;
        --d;
    }
    return d;
}

/** The decimals labour is written with: the hundredths norms give it in, or a norm's more. */
int labourPlaces(const model::PositionResult& p) {
    constexpr int64_t kHundredth = Dec7::kScale / 100;
    if (p.zt1.units() % kHundredth == 0 && p.ztm1.units() % kHundredth == 0) return 2;  // nearly every norm
    return std::max({2, decimalsOf(p.zt1), decimalsOf(p.ztm1)});
}

// ---------------------------------------------------------------------------------------------
// A position's elements
// ---------------------------------------------------------------------------------------------

/** Where an element of a position's cost goes into current prices. */
enum class Indexed {
    InPlace,     // by the index of wages, in the position itself (ОТ, ОТМ and what follows from them)
    ByWorkType,  // on the sums of its type of work (ЭМ, М, ПЗ, the total)
};

struct Element {
    const char* caption;       // the totals window's line
    const char* shortCaption;  // the panel's column
    Money model::Elements::*amount;
    Indexed indexed;
    bool indexOfWages;         // the index column shows the index of wages
    bool whenAny = false;      // shown only for a position that has it
};

/** A position's elements in the order of the official form; the machinists' extra pay, when the
 *  computation gives it, is one more row here after ОТМ. */
const Element kElements[] = {
    {"Оплата труда (ОТ)", "ОТ", &model::Elements::ot, Indexed::InPlace, true},
    {"Эксплуатация машин (ЭМ)", "ЭМ", &model::Elements::em, Indexed::ByWorkType, false},
    {"в т.ч. оплата труда машинистов (ОТМ)", "в т.ч. ОТМ", &model::Elements::otm, Indexed::InPlace, true},
    {"в т.ч. доплата к оплате труда машинистов (Д)", "в т.ч. Д", &model::Elements::otmExtra, Indexed::InPlace, true,
     true},
    {"Материалы (М)", "М", &model::Elements::m, Indexed::ByWorkType, false},
    {"Прямые затраты (ПЗ)", "ПЗ", &model::Elements::pz, Indexed::ByWorkType, false},
    {"Фонд оплаты труда (ФОТ)", "ФОТ", &model::Elements::fot, Indexed::InPlace, false},
    {"Накладные расходы (НР)", "НР", &model::Elements::nr, Indexed::InPlace, false},
    {"Сметная прибыль (СП)", "СП", &model::Elements::sp, Indexed::InPlace, false},
    {"Всего по позиции", "Всего", &model::Elements::total, Indexed::ByWorkType, false},
};

/** Whether position `p` shows element `e`. */
bool shows(const model::PositionResult* p, const Element& e) {
    return !e.whenAny || (p && p->computed && !(p->base.*e.amount).isZero());
}

/** The elements position `p` shows. */
size_t elementCount(const model::PositionResult* p) {
    size_t n = 0;
    for (const Element& e : kElements) n += shows(p, e) ? 1 : 0;
    return n;
}
constexpr size_t kLabourLines = 2;  // ЗТ, ЗТМ

/** The amount of element `e` of `p` in current prices, as the position has it. */
std::string currentOf(const model::PositionResult& p, const Element& e, char sep) {
    if (e.indexed == Indexed::ByWorkType) return {};
    return p.currentDefined ? amount(p.current.*e.amount, sep) : kNone;
}

std::string percentText(const std::string& ref, Dec7 percent, char sep) {
    return ref.empty() ? std::string() : ", " + ref + " " + percent.text(sep) + " %";
}

}  // namespace

std::string labourText(Dec7 labour, int normDecimals, char sep) {
    const int places = std::clamp(std::max(2, normDecimals), 0, 7);
    int64_t step = 1;
    for (int i = places; i < 7; ++i) step *= 10;
    const int64_t u = labour.units();
    const int64_t mag = u < 0 ? -u : u;
    int64_t kept = mag / step;
    if ((mag % step) * 2 >= step) ++kept;  // half up, away from zero
    std::string t = Dec7::fromUnits((u < 0 ? -kept : kept) * step).text(sep);
    const size_t first = t[0] == '-' ? 1 : 0;
    const size_t point = t.find(sep);
    const size_t digits = (point == std::string::npos ? t.size() : point) - first;
    for (size_t at = first + digits; at > first + 3; at -= 3) t.insert(at - 3, "\u00a0");
    return t;
}

int labourDecimals(const model::BaseIndexResult& r) {
    int most = 2;
    for (const model::PositionResult& p : r.positions)
        if (p.computed) most = std::max(most, labourPlaces(p));
    return most;
}

size_t positionLineCount(const model::PositionResult& p) {
    return p.computed ? 1 + elementCount(&p) + p.materials.size() + kLabourLines : 2;
}

std::vector<size_t> positionLineStarts(const model::BaseIndexResult& r) {
    std::vector<size_t> starts;
    starts.reserve(r.positions.size() + 1);
    size_t at = 0;
    for (const model::PositionResult& p : r.positions) {
        starts.push_back(at);
        at += positionLineCount(p);
    }
    starts.push_back(at);
    return starts;
}

std::vector<TotalsLine> positionLines(const model::PositionResult& p, const std::vector<model::PositionRow>& rows,
                                      const model::EstimateParams& params, char sep) {
    using Kind = TotalsLine::Kind;
    std::vector<TotalsLine> out;
    out.reserve(positionLineCount(p));
    std::string heading = "№ " + std::to_string(p.number);
    if (p.row < rows.size()) heading += kDot + rows[p.row].code;
    // A position left out keeps no quantity of its own: the row's, as far as it is a number.
    std::optional<Dec7> quantity = p.quantity;
    if (!p.computed) {
        quantity.reset();
        try {
            if (p.row < rows.size()) quantity = Dec7::fromDouble(rows[p.row].quantity);
        } catch (const Error&) {
        }
    }
    if (quantity) heading += kDot + std::string("кол-во ") + quantity->text(sep);
    heading += kDot + std::string(model::workTypeText(p.workType));
    for (const model::Coefficient& c : p.coefficients)
        heading += kDot + std::string("К ") + c.value.text(sep) + " (" + model::targetsText(c.targets) + ")";
    out.push_back({Kind::Heading, heading, {}, {}, {}});
    if (!p.computed) {
        const std::string why = p.problems.empty() ? std::string("не рассчитана") : p.problems.front().message;
        out.push_back({Kind::Problem, why, {}, {}, {}});
        return out;
    }
    const std::string wagesIndex = indexText(params.indexOt, sep);
    for (const Element& e : kElements) {
        if (!shows(&p, e)) continue;
        std::string caption = e.caption;
        if (e.amount == &model::Elements::nr) caption += percentText(p.nrRef, p.nrPercent, sep);
        if (e.amount == &model::Elements::sp) caption += percentText(p.spRef, p.spPercent, sep);
        out.push_back({e.amount == &model::Elements::total ? Kind::Total : Kind::Amount, caption,
                       amount(p.base.*e.amount, sep), e.indexOfWages ? wagesIndex : std::string(), currentOf(p, e, sep)});
        if (e.amount != &model::Elements::m) continue;
        for (const model::PricedMaterial& m : p.materials) {
            std::string what = "в т.ч. № " + std::to_string(m.row < rows.size() ? rows[m.row].count : 0);
            if (m.row < rows.size()) what += " " + rows[m.row].code;
            what += ", " + m.quantity.text(sep) + (m.priced ? "" : ", цена не указана");
            out.push_back({Kind::Amount, what, m.priced ? amount(m.amount, sep) : std::string(), {}, {}});
        }
    }
    const int places = labourPlaces(p);
    out.push_back({Kind::Amount, "Затраты труда рабочих (ЗТ), чел.-ч", labourText(p.base.zt, places, sep), {}, {}});
    out.push_back({Kind::Amount, "Затраты труда машинистов (ЗТМ), чел.-ч", labourText(p.base.ztm, places, sep), {}, {}});
    return out;
}

std::vector<PositionAmount> positionAmounts(const model::PositionResult* p, char sep) {
    std::vector<PositionAmount> out;
    out.reserve(elementCount(p));
    for (const Element& e : kElements) {
        if (!shows(p, e)) continue;
        PositionAmount a{e.shortCaption, {}, {}};
        if (p && p->computed) {
            a.base = amount(p->base.*e.amount, sep);
            a.current = currentOf(*p, e, sep);
        }
        out.push_back(std::move(a));
    }
    return out;
}

std::string unusedByBaseIndex(std::string_view control) {
    const std::string method = "Не применяется: смета рассчитывается базисно-индексным методом (421/пр). ";
    if (control == "NREdit" || control == "PNEdit")
        return method + "Накладные расходы и сметная прибыль начисляются по нормативам позиций (812/пр, 774/пр): "
                        "Смета → Данные позиции.";
    if (control == "SUEdit")
        return method + "Стесненные условия учитываются коэффициентами к позициям (приложение 10 к 421/пр): "
                        "Смета → Данные позиции.";
    if (control == "ZUEdit" || control == "VZSEdit")
        return method + "Зимнее удорожание и временные здания и сооружения в локальную смету не входят: они "
                        "начисляются в сводном сметном расчете.";
    if (control == "KoefEdit")
        return method + "Текущие цены получаются по индексам к элементам прямых затрат: Смета → Параметры сметы. "
                        "«-> 2000» делит цену на индекс материалов.";
    return {};
}

std::string templateWorkbookQuestion(const model::EstimateTexts& t) {
    return "Смета рассчитывается базисно-индексным методом (421/пр). Книга Excel по шаблону считает иначе: "
           "накладные расходы " + t.overheadsPercent + " %, плановые накопления " + t.savingsPercent +
           " %, коэффициент перехода " + t.currentPriceFactor +
           ", и её итоги не совпадут с итогами сметы.\n\nЗаписать официальную форму «Локальный сметный расчет "
           "(421/пр)» или книгу по шаблону?";
}

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
    const int places = labourDecimals(r);
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
        out.push_back({Kind::Amount, "Затраты труда рабочих (ЗТ), чел.-ч", labourText(b.zt, places, sep), {}, {}});
        out.push_back({Kind::Amount, "Затраты труда машинистов (ЗТМ), чел.-ч", labourText(b.ztm, places, sep), {}, {}});
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
