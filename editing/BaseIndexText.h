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
 * Each position's own amounts have their lines too: the panel's two rows (positionAmounts) and a
 * block of lines per position in the totals window (positionLines), which an estimate of ten
 * thousand positions asks for only where it is looked at (positionLineStarts).
 *
 * Caveats: amounts are written with two decimals and their thousands apart by no-break spaces
 * ("1 709,36"), `decimalSep` as separator; an amount that cannot be had (an index missing) is
 * "—". Labour is written as labourText says.
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

/** The lines of one position in the totals window, in the order of the official form: a heading
 *  ("№ 1 · ФЕР08-01-001-01 · кол-во 1 · строительные", its coefficients), then ОТ, ЭМ, в т.ч.
 *  ОТМ, М (each priced material of the rate under it), ПЗ, ФОТ, НР and СП with their rows and
 *  percentages, the position's total, and its labour. The index column holds the index of wages
 *  on ОТ and ОТМ, whose current prices the position has of its own; ЭМ, М, ПЗ and the total are
 *  brought into current prices per type of work, and their current column is "". A position
 *  that could not be computed has its heading and why. `rows` are the estimate's rows (the
 *  materials' codes). */
std::vector<TotalsLine> positionLines(const model::PositionResult& position, const std::vector<model::PositionRow>& rows,
                                      const model::EstimateParams& params, char decimalSep);

/** How many lines positionLines gives for `position`, without writing them. */
size_t positionLineCount(const model::PositionResult& position);

/** Where each position's lines start when all positions' lines follow one another, and after
 *  the last one the count of all lines (positions().size() + 1 entries). */
std::vector<size_t> positionLineStarts(const model::BaseIndexResult& result);

/** One element of a position's cost as the position panel shows it: its column's caption, the
 *  amount in base prices and in current prices ("" where the position has none of its own:
 *  ЭМ, М, ПЗ and the total go into current prices per type of work; "—" when the index of
 *  wages is missing). */
struct PositionAmount {
    std::string caption;   // "ОТ", "ЭМ", "в т.ч. ОТМ", ["в т.ч. Д",] "М", "ПЗ", "ФОТ", "НР", "СП", "Всего"
    std::string base, current;
};

/** The panel's columns for `position` (the same elements and amounts as its lines in the
 *  totals window); the captions with empty amounts for nullptr or a position not computed.
 *  The machinists' extra pay (Д) has a column, as a line, only where the position has it. */
std::vector<PositionAmount> positionAmounts(const model::PositionResult* position, char decimalSep);

/** Labour in man-hours as the windows write it: rounded half up to the hundredths that the norms
 *  give labour in, or to more decimals where a norm of it has more (`normDecimals`), trailing
 *  zeros left off, thousands apart by no-break spaces ("15 877,22", "3,94", "4"). */
std::string labourText(Dec7 labour, int normDecimals, char decimalSep);

/** The most decimals the labour norms (ЗТ and ЗТМ per unit) of the computed positions have. */
int labourDecimals(const model::BaseIndexResult& result);

/** Why the estimate window's control `control` ("NREdit", "KoefEdit" …) counts for nothing in an
 *  estimate by the base-index method, as its tooltip says; "" for a control that counts (the
 *  title block, VAT). */
std::string unusedByBaseIndex(std::string_view control);

/** What "Excel" asks of an estimate by the base-index method: the template's workbook computes by
 *  the rates as typed (`texts`) and its totals are not the estimate's; the official form is. */
std::string templateWorkbookQuestion(const model::EstimateTexts& texts);

/** What the estimator is asked on opening an estimate whose kept НР or СП percentages are not
 *  the shipped tables' (`differences`, one line each, the first twelve and how many more). */
std::string tablePercentsQuestion(const std::vector<PercentDifference>& differences);

/** The type of work as the totals name it: "Строительные работы", "Монтажные работы",
 *  "Пусконаладочные работы", "Оборудование", "Прочие работы". */
std::string workTypeHeading(model::WorkType type);

}  // namespace talvira::editing
