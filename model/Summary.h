#pragma once
/**
 * The summary estimate of construction cost (ССР) computed from a construction: every line in the
 * eight columns, each chapter's total, «Итого по главам 1–K» after chapters 7 to 12, the reserve
 * for unforeseen costs, the total with reserve, VAT at the rate of its date and the grand total.
 * Exact: amounts in kopecks, one rounding half up per amount a percentage makes.
 *
 *   model::SummaryResult r = model::computeSummary(construction);
 *   show(r.total.total());                                 // «ВСЕГО ПО СВОДНОМУ СМЕТНОМУ РАСЧЕТУ», гр. 8
 *   print(model::thousandsText(r.total[model::CostColumn::Building]));   // "29419.27"
 *
 * The rules, per money column c (гр. 4–7); гр. 8 is always the sum of a row's four columns:
 *   percentage line   line_c = r(subtotal_c × p / 100), for each column it is taken of; of гр. 8:
 *                     r(subtotal_8 × p / 100) in гр. 7
 *   reserve           reserve_c = r(subtotal(1–12)_c × reserve% / 100)
 *   with reserve      subtotal(1–12)_c + reserve_c
 *   VAT               vat_c = r((withReserve_c − exempt_c) × rate / 100), exempt_c the amounts of
 *                     the lines (and linked estimates) marked «не облагается НДС»
 *   rate              18 % to 31.12.2018, 20 % from 01.01.2019, 22 % from 01.01.2026, by the date
 *                     the construction names (its price level's first day, else the day it was made)
 * Printed and written figures are thousands of rubles with two decimals, each converted once
 * from its own kopecks (thousandsText): rows and columns may then miss footing by 0.01–0.02.
 *
 * Caveats: computeSummary refuses (talvira::Error, the line named) a percentage of a subtotal that
 * is not above its line, a reserve over its cap, columns that are no columns.
 */
#include "common/Decimal.h"
#include "model/BaseIndexResult.h"
#include "model/Construction.h"

#include <array>
#include <string>
#include <vector>

namespace talvira::model {

/** One line as the summary estimate shows it. */
struct SummaryLineResult {
    int num = 0;             // гр. 1: running through the summary estimate
    int chapter = 0;         // 1–12
    size_t index = 0;        // in its chapter
    LineKind kind = LineKind::Calculation;
    std::string reason;      // гр. 2: «ОСР 02-01», «ЛСР 06-01-01», «СР-1», or as typed
    std::string name;        // гр. 3
    CostColumns amounts;     // гр. 4–7 (8: amounts.total())
    CostColumns exempt;      // the part left out of what VAT is charged on
    /** Linked estimates whose amounts are the last known ones, with why (file named). */
    std::vector<std::string> problems;
};

struct ChapterResult {
    int n = 0;
    std::vector<SummaryLineResult> lines;
    CostColumns total;       // «Итого по главе N»
};

struct SummaryResult {
    std::array<ChapterResult, kChapters> chapters;
    /** «Итого по главам 1–K» for K = 7 … 12. */
    std::array<CostColumns, kChapters - kFirstSubtotal + 1> subtotals;
    const CostColumns& subtotal(int k) const { return subtotals.at(size_t(k - kFirstSubtotal)); }
    Dec7 reservePercent;
    CostColumns reserve, withReserve;
    CalendarDate vatDate;
    Dec7 vatRate;
    CostColumns exempt;      // all exempt amounts
    CostColumns vat;
    CostColumns total;       // «ВСЕГО ПО СВОДНОМУ СМЕТНОМУ РАСЧЕТУ»
};

/** Computes the summary estimate; talvira::Error (checkConstruction's) for a construction it
 *  cannot be computed for. */
SummaryResult computeSummary(const Construction& c);

/** talvira::Error naming what makes the construction impossible to compute (a reserve over its
 *  cap, a line checkLine refuses). */
void checkConstruction(const Construction& c);

/** talvira::Error naming what is wrong with `line` in chapter `chapter`: a percentage of a
 *  subtotal that is not above it, its columns, its percent (above 0, at most 100, three decimals
 *  at most); an object without a number or estimates. */
void checkLine(int chapter, const SummaryLine& line);

/** The reserve percent as typed ("2", "1,5"): at least 0, at most the purpose's cap, three
 *  decimals at most; talvira::Error naming the cap otherwise. */
Dec7 reservePercent(std::string_view text, Purpose purpose);

/** VAT in % on the date: 18 to 2018, 20 from 2019, 22 from 2026. */
Dec7 vatRate(CalendarDate d);
/** The date the construction takes VAT at: its own, else its price level's first day, else the
 *  day it was made; talvira::Error when it has none of them. */
CalendarDate vatDateOf(const Construction& c);

/** A local estimate's totals by type of work in current prices as the four columns: строительные
 *  to гр. 4, монтажные to гр. 5, оборудование to гр. 6, прочие and пусконаладочные to гр. 7. */
CostColumns columnsOfEstimate(const BaseIndexResult& r);
/** Its totals by type of work and element of cost in current prices, labour from its base (a type
 *  it lacks is all 0). */
std::array<Elements, kWorkTypes> detailsOfEstimate(const BaseIndexResult& r);

/** The amount in thousands of rubles, two decimals: r(kopecks / 100 000) half up, away from zero,
 *  in hundredths of a thousand (1 845 679 for 18 456 789.37 rubles). */
int64_t thousandths(Money m);
/** The same as text: "18456.79", "-0.01", "0.00", with `sep` as the decimal separator. */
std::string thousandsText(Money m, char sep = '.');

/** The columns parsed from "4+5", "7", "8" (bits 1 << 4 … 1 << 8; 8 only alone); nothing for
 *  other text. */
std::optional<unsigned> columnsFromText(std::string_view text);
/** "4+5", "8". */
std::string columnsText(unsigned columns);

}  // namespace talvira::model
