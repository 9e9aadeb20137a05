#pragma once
/**
 * What the windows write of an estimate by the base-index method, without any widget: the line
 * that says at what price levels and indices the estimate stands, the line that says what the
 * current position keeps (its rows of НР and СП, type of work, coefficients; a material's
 * consumption), and the totals window's lines (per type of work and for the estimate, in base
 * and current prices with each index, then VAT marked as not part of a local estimate, then
 * what could not be computed).
 *
 *   for (const editing::TotalsLine& l : editing::baseIndexLines(*doc.baseIndex(), "20", ','))
 *       grid.addRow(l.caption, l.base, l.index, l.current);
 *
 * Caveats: amounts are written with two decimals and their thousands apart by no-break spaces
 * ("1 709,36"), `decimalSep` as separator; an amount that cannot be had (an index missing) is
 * "—".
 */
#include "editing/BaseIndexRules.h"
#include "model/BaseIndex.h"

#include <string>
#include <string_view>
#include <vector>

namespace talvira::editing {

/** "Цены базы на 01.01.2000; текущие: II кв. 2025, Московская область; индексы: ОТ 52,21, ЭМ
 *  16,64, М 8,49, оборудование —" with the territory and capital repair when they apply. */
std::string estimateSummary(const model::EstimateParams& params, char decimalSep);

/** What the position at `row` of `rows` keeps: "№ 7 · строительные · Пр/812-008.0-1 … 110 % ·
 *  Пр/774-008.0 69 % · К 1,15 (ОТ+ЗТ)", a material of a rate "№ 8 · материал расценки № 7,
 *  расход 2 на единицу", and why it could not be computed (`result`, may be nullptr). */
std::string positionSummary(const model::PositionRow& row, const model::PositionData& extra,
                            const model::PositionResult* result, const model::EstimateParams& params,
                            const model::NrSpTables& tables, char decimalSep);

struct TotalsLine {
    enum class Kind { Heading, Amount, Total, Note, Problem };
    Kind kind = Kind::Amount;
    std::string caption;
    std::string base, index, current;  // "" where the column says nothing
};

/** The totals window's lines for `result`; `vatPercent` as typed in the estimate window (a
 *  text that is no number gives a line saying so). */
std::vector<TotalsLine> baseIndexLines(const model::BaseIndexResult& result, std::string_view vatPercent, char decimalSep);

/** What the estimator is asked on opening an estimate whose kept НР or СП percentages are not
 *  the shipped tables' (`differences`, one line each, the first twelve and how many more). */
std::string tablePercentsQuestion(const std::vector<PercentDifference>& differences);

/** The type of work as the totals name it: "Строительные работы", "Монтажные работы",
 *  "Пусконаладочные работы", "Оборудование", "Прочие работы". */
std::string workTypeHeading(model::WorkType type);

}  // namespace talvira::editing
