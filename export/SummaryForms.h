#pragma once
/**
 * The printed forms of a construction's summary estimate (ССР) and object estimates (ОСР),
 * planned line by line from the computation: the header, the eight numbered columns, chapter
 * headings, lines, chapter totals and the running subtotals, the reserve, VAT, «ВСЕГО» and the
 * signatures. Amounts are live formulas carrying the computation's own results: five hidden
 * columns (I…M) hold each row in rubles — lines as values, totals as SUM, percentage lines, the
 * reserve and VAT as ROUND(…*p/100;2) of the rows they are taken of — and the form's columns 4–8
 * show ROUND(rubles/1000;2), each printed figure converted once from its own kopecks, so the
 * sheet reads the same before and after a spreadsheet recalculates.
 *
 *   const sheet::SheetPlan plan = ssr::planSsr(construction, result);
 *   int all = plan.row("ВСЕГО");                      // «ВСЕГО ПО СВОДНОМУ СМЕТНОМУ РАСЧЕТУ»
 *
 * Rows are named for the tests and the header's references: "глава N" (a chapter's heading),
 * "строка N" (the line numbered N in гр. 1), "итого главы N", "итого 1-K", "резерв",
 * "с резервом", "НДС", "ВСЕГО"; the object estimate's "строка N", "итого", "ВСЕГО".
 *
 * Caveats: chapters without lines are left out; «Итого по главам 1–K» is printed after chapters
 * 7, 8, 9 and 12, and after 10 or 11 only when a percentage line is taken of it.
 */
#include "export/SheetPlan.h"
#include "model/Construction.h"
#include "model/Summary.h"

#include <string>

namespace talvira::ssr {

/** What the forms' lines are (sheet::Line::kind). */
enum FormLine : uint16_t { Header = 1, Head, Heading, Row, ChapterTotal, Subtotal, Reserve, WithReserve, Vat, Total, Detail, Signature };

/** The columns: гр. 1–8 are A…H, the rubles of гр. 4–8 the hidden I…M. */
enum Col : int { C1, C2, C3, C4, C5, C6, C7, C8, R4, R5, R6, R7, R8 };

/** The summary estimate of `c` as computed in `r`. */
sheet::SheetPlan planSsr(const model::Construction& c, const model::SummaryResult& r);

/** The object estimate of the object numbered `objectNumber`; talvira::Error when there is none. */
sheet::SheetPlan planOsr(const model::Construction& c, const std::string& objectNumber);

}  // namespace talvira::ssr
